#include "sim/rate_word_model.h"

#include <array>

#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 5> kRegisters = {kRegRateRestartStrobe, kRegRateRestartChannel, kRegRateWordStrobe,
                                           kRegRateWordChannel, kRegRateWord};
}

std::span<const U32> RateWordModel::Registers() const { return kRegisters; }

void RateWordModel::Write(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegRateWordChannel:
            wordChannel_ = value;
            break;
        case kRegRateWord:
            word_ = value;
            break;
        case kRegRateRestartChannel:
            restartChannel_ = value;
            break;
        case kRegRateWordStrobe:
            if (wordStrobe_.Rises(value)) {
                words_[wordChannel_] = word_;
            }
            break;
        case kRegRateRestartStrobe:
            if (restartStrobe_.Rises(value)) {
                ++restarts_[restartChannel_];
            }
            break;
        default:
            break;
    }
}

std::optional<U32> RateWordModel::Word(U32 channel) {
    std::lock_guard lock(mutex_);
    const auto it = words_.find(channel);
    return it == words_.end() ? std::nullopt : std::optional<U32>(it->second);
}

U32 RateWordModel::Restarts(U32 channel) {
    std::lock_guard lock(mutex_);
    const auto it = restarts_.find(channel);
    return it == restarts_.end() ? 0 : it->second;
}

}  // namespace hx::sim
