#include "sim/config_port_model.h"

#include <algorithm>
#include <array>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 5> kRegisters = {kRegConfigControl, kRegConfigStatus, kRegConfigLength, kRegConfigData, kRegConfigEnd};
// Memory set aside up front for a load; longer ones grow as words arrive.
constexpr std::size_t kReserveLimit = 8u << 20;
}  // namespace

std::span<const U32> ConfigPortModel::Registers() const { return kRegisters; }

void ConfigPortModel::Write(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegConfigControl:
            if (value == 1) {
                ready_ = !faults_.neverReady;
                done_ = error_ = loaded_ = false;
                length_ = words_ = 0;
                bytes_.clear();
            } else if (value == 0) {
                ready_ = false;
                bytes_.clear();
                bytes_.shrink_to_fit();
            }
            break;
        case kRegConfigLength:
            if (ready_) {
                length_ = value;
                bytes_.reserve(std::min<std::size_t>(value, kReserveLimit));
            }
            break;
        case kRegConfigData:
            if (ready_) {
                ++words_;
                for (int shift = 24; shift >= 0 && bytes_.size() < length_; shift -= 8) {
                    bytes_.push_back(static_cast<U8>(value >> shift));
                }
            }
            break;
        case kRegConfigEnd:
            if (endStrobe_.Rises(value) && ready_) {
                End();
            }
            break;
        default:
            break;
    }
}

void ConfigPortModel::End() {
    ready_ = false;
    if (faults_.neverDone) {
        return;
    }
    const std::uint64_t wordsNeeded = (static_cast<std::uint64_t>(length_) + 3) / 4;
    if (faults_.failLoads || length_ == 0 || words_ != wordsNeeded) {
        error_ = true;
        return;
    }
    crc_ = Common_CRC_Calculate(bytes_.data(), static_cast<U32>(bytes_.size()), kCrcInitMpeg2);
    done_ = loaded_ = true;
    ++loadsDone_;
}

std::optional<U32> ConfigPortModel::Read(U32 index) {
    if (index != kRegConfigStatus) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    return (ready_ ? kConfigStatusReady : 0) | (done_ ? kConfigStatusDone : 0) | (error_ ? kConfigStatusError : 0);
}

void ConfigPortModel::SetFaults(ConfigPortFaults faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

bool ConfigPortModel::Loaded() {
    std::lock_guard lock(mutex_);
    return loaded_;
}

U32 ConfigPortModel::Crc() {
    std::lock_guard lock(mutex_);
    return crc_;
}

U32 ConfigPortModel::Length() {
    std::lock_guard lock(mutex_);
    return length_;
}

U32 ConfigPortModel::WordsPushed() {
    std::lock_guard lock(mutex_);
    return words_;
}

U32 ConfigPortModel::LoadsDone() {
    std::lock_guard lock(mutex_);
    return loadsDone_;
}

}  // namespace hx::sim
