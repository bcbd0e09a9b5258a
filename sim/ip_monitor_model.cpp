#include "sim/ip_monitor_model.h"

#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 8> kRegisters = {kRegMonitorSourceIp, kRegMonitorSourcePort, kRegMonitorStrobe, kRegMonitorMode,
                                           kRegMonitorMac,      kRegMonitorData,       kRegMonitorStop,   kRegMonitorMaxRate};
}  // namespace

std::span<const U32> IpMonitorModel::Registers() const { return kRegisters; }

void IpMonitorModel::Write(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegMonitorSourceIp:
            output_.sourceAddress = value;
            break;
        case kRegMonitorSourcePort:
            output_.sourcePort = value;
            break;
        case kRegMonitorMode:
            mode_ = value;
            break;
        case kRegMonitorMac:
            mac_ = value;
            break;
        case kRegMonitorData:
            data_ = value;
            break;
        case kRegMonitorStop:
            output_.stopped = value != 0;
            break;
        case kRegMonitorMaxRate:
            output_.rateWord = value;
            break;
        case kRegMonitorStrobe:
            if (!strobe_.Rises(value)) {
                break;
            }
            if (mode_ == kMonitorModeDestination) {
                output_.destinationAddress = data_;
            } else if (mode_ == kMonitorModeMacAndPort) {
                output_.destinationMac = {static_cast<U8>(mac_ >> 24), static_cast<U8>(mac_ >> 16), static_cast<U8>(mac_ >> 8),
                                          static_cast<U8>(mac_),       static_cast<U8>(data_ >> 24), static_cast<U8>(data_ >> 16)};
                output_.destinationPort = static_cast<U16>(data_);
            } else {
                ++output_.unknownModes;
                break;
            }
            ++output_.strobes;
            break;
        default:
            break;
    }
}

IpMonitorOutput IpMonitorModel::Output() {
    std::lock_guard lock(mutex_);
    return output_;
}

}  // namespace hx::sim
