#include "sim/uart160t_hook.h"

#include <array>

#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 12> kRegisters = {32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43};
static_assert(kRegisters.front() == kRegUartReset && kRegisters.back() == kRegUartTransmitFull);
}  // namespace

std::span<const U32> Uart160THook::Registers() const { return kRegisters; }

void Uart160THook::Write(U32 index, U32 value) {
    Peer peer;
    U8 byte = 0;
    {
        std::lock_guard lock(mutex_);
        switch (index) {
            case kRegUartTransmitByte:
                transmitByte_ = value;
                break;
            case kRegUartTransmitPush:
                if (pushStrobe_.Rises(value) && peer_ && Loaded()) {
                    peer = peer_;
                    byte = static_cast<U8>(transmitByte_);
                }
                break;
            case kRegUartReceivePop:
                if (popStrobe_.Rises(value) && !toCard_.empty()) {
                    toCard_.pop_front();
                }
                break;
            case kRegUartReceiveReset:
                if (resetStrobe_.Rises(value)) {
                    toCard_.clear();
                }
                break;
            default:
                break;
        }
    }
    if (peer) {
        peer(byte);
    }
}

std::optional<U32> Uart160THook::Read(U32 index) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegUartReceiveEmpty:
            return toCard_.empty() ? 1u : 0u;
        case kRegUartReceiveByte:
            return toCard_.empty() ? 0u : toCard_.front();
        case kRegUartTransmitFull:
            return 0u;
        default:
            return std::nullopt;
    }
}

void Uart160THook::AttachPeer(Peer peer) {
    std::lock_guard lock(mutex_);
    peer_ = std::move(peer);
}

void Uart160THook::SendToCard(std::span<const U8> bytes) {
    if (!Loaded()) {
        return;
    }
    std::lock_guard lock(mutex_);
    toCard_.insert(toCard_.end(), bytes.begin(), bytes.end());
}

std::size_t Uart160THook::PendingToCard() {
    std::lock_guard lock(mutex_);
    return toCard_.size();
}

}  // namespace hx::sim
