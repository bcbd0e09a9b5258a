#include "sim/uart160t_hook.h"

#include <array>

#include "core/clock.h"
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
                if (pushStrobe_.Rises(value) && peer_ && Loaded() && !transmitFull_) {
                    peer = peer_;
                    byte = static_cast<U8>(transmitByte_);
                }
                break;
            case kRegUartReceivePop:
                if (popStrobe_.Rises(value) && !toCard_.empty() &&
                    toCard_.front().visibleAtMicros <= TheClock().MonotonicMicros()) {
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
    if (index != kRegUartReceiveEmpty && index != kRegUartReceiveByte && index != kRegUartTransmitFull) {
        return std::nullopt;
    }
    const std::uint64_t now = TheClock().MonotonicMicros();
    std::lock_guard lock(mutex_);
    const bool visible = !toCard_.empty() && toCard_.front().visibleAtMicros <= now;
    switch (index) {
        case kRegUartReceiveEmpty:
            return visible ? 0u : 1u;
        case kRegUartReceiveByte:
            return visible ? toCard_.front().byte : 0u;
        case kRegUartTransmitFull:
            return transmitFull_ ? 1u : 0u;
        default:
            return std::nullopt;
    }
}

void Uart160THook::AttachPeer(Peer peer) {
    std::lock_guard lock(mutex_);
    peer_ = std::move(peer);
}

void Uart160THook::SendToCard(std::span<const U8> bytes, std::uint64_t visibleAtMicros) {
    if (!Loaded()) {
        return;
    }
    std::lock_guard lock(mutex_);
    for (U8 byte : bytes) {
        toCard_.push_back(QueuedByte{byte, visibleAtMicros});
    }
}

void Uart160THook::HoldTransmitFull(bool full) {
    std::lock_guard lock(mutex_);
    transmitFull_ = full;
}

std::size_t Uart160THook::PendingToCard() {
    std::lock_guard lock(mutex_);
    return toCard_.size();
}

}  // namespace hx::sim
