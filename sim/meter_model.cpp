#include "sim/meter_model.h"

#include <array>

#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 9> kRegisters = {
    kRegPidMeterChannel,     kRegRateMeterGate,           kRegPidCcClear,
    kRegPidMeterPid,         kRegPidMeterCount,       kRegPidMeterCc,
    kRegChannelMeterChannel, kRegChannelMeterConfigured, kRegChannelMeterEffective,
};
}

std::span<const U32> MeterModel::Registers() const { return kRegisters; }

void MeterModel::Write(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegPidMeterChannel:
            pidChannel_ = value;
            break;
        case kRegRateMeterGate:
            gate_ = value;
            break;
        case kRegPidMeterPid:
            pid_ = value;
            break;
        case kRegChannelMeterChannel:
            rateChannel_ = value;
            break;
        case kRegPidCcClear:
            if (clearStrobe_.Rises(value)) {
                ++clears_;
                for (auto& entry : pids_) {
                    entry.second.continuity = 0;
                }
            }
            break;
        default:
            break;
    }
}

std::optional<U32> MeterModel::Read(U32 index) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegPidMeterCount:
        case kRegPidMeterCc: {
            const auto it = pids_.find({pidChannel_, pid_});
            const PidCounts counts = it == pids_.end() ? PidCounts{} : it->second;
            return index == kRegPidMeterCount ? counts.packets : counts.continuity;
        }
        case kRegChannelMeterConfigured:
        case kRegChannelMeterEffective: {
            const auto it = channels_.find(rateChannel_);
            const ChannelCounts counts = it == channels_.end() ? ChannelCounts{} : it->second;
            return index == kRegChannelMeterConfigured ? counts.configured : counts.effective;
        }
        default:
            return std::nullopt;
    }
}

void MeterModel::SetChannelCounts(U32 channel, U32 configured, U32 effective) {
    std::lock_guard lock(mutex_);
    channels_[channel] = ChannelCounts{configured, effective};
}

void MeterModel::SetPidCounts(U32 channel, U32 pid, U32 packets, U32 continuityWord) {
    std::lock_guard lock(mutex_);
    pids_[{channel, pid}] = PidCounts{packets, continuityWord};
}

U32 MeterModel::Gate() {
    std::lock_guard lock(mutex_);
    return gate_;
}

U32 MeterModel::ContinuityClears() {
    std::lock_guard lock(mutex_);
    return clears_;
}

}  // namespace hx::sim
