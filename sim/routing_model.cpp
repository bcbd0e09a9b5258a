#include "sim/routing_model.h"

#include <cstdio>
#include <string>

#include "core/file_util.h"

namespace hx::sim {

namespace {
constexpr U32 kCommit = 768;
constexpr U32 kStrobe = 769;
constexpr U32 kIndex = 770;
constexpr U32 kHigh = 771;
constexpr U32 kLow = 772;
constexpr U32 kMuxSelect = 0x800;
constexpr std::array<U32, 5> kRegisters = {kCommit, kStrobe, kIndex, kHigh, kLow};
}  // namespace

RoutingModel::RoutingModel(std::string path) : path_(std::move(path)) {}

std::span<const U32> RoutingModel::Registers() const { return kRegisters; }

void RoutingModel::Write(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kIndex: index_ = value; break;
        case kHigh: high_ = value; break;
        case kLow: low_ = value; break;
        case kStrobe:
            if (strobe_.Rises(value)) {
                const std::uint64_t entry = (static_cast<std::uint64_t>(high_) << 32) | low_;
                if ((index_ & kMuxSelect) != 0) {
                    pendingMux_[index_ & 0x7FF] = entry;
                    ++strobes_;
                } else if (index_ < kSimBypassEntries) {
                    pendingBypass_[index_] = entry;
                    ++strobes_;
                }
            }
            break;
        case kCommit:
            if (commit_.Rises(value)) {
                activeMux_ = pendingMux_;
                activeBypass_ = pendingBypass_;
                ++commits_;
                WriteFile();
            }
            break;
        default: break;
    }
}

void RoutingModel::WriteFile() {
    if (path_.empty()) {
        return;
    }
    std::string text;
    char line[160];
    std::snprintf(line, sizeof line, "commit %u\n", commits_);
    text += line;
    for (U32 i = 0; i < kSimMuxEntries; ++i) {
        const std::uint64_t entry = activeMux_[i];
        if (entry == 0) {
            continue;
        }
        const U32 dest = static_cast<U32>(entry & 0x7FFFFF);
        const U32 src = static_cast<U32>((entry >> 23) & 0x1FFFFFFF);
        std::snprintf(line, sizeof line,
                      "Mux LUT Num[%u],SrcSlot[%u],SrcChannel[0x%x],SrcPID[%u],DestChannel[%u],NewPID[%u],Same[0x%x]\n", i,
                      (src >> 23) & 0x3F, (src >> 13) & 0x3FF, src & 0x1FFF, dest >> 13, dest & 0x1FFF,
                      static_cast<U32>(entry >> 52) & 0x1FF);
        text += line;
    }
    for (U32 i = 0; i < kSimBypassEntries; ++i) {
        const std::uint64_t entry = activeBypass_[i];
        if (entry == 0) {
            continue;
        }
        const U32 word = static_cast<U32>(entry & 0x3FFFFFF);
        std::snprintf(line, sizeof line, "Bypass LUT Num[%u],SrcSlot[%u],SrcChannel[0x%x],DestChannel[%u],Same[0x%x]\n",
                      i, (word >> 20) & 0x3F, (word >> 10) & 0x3FF, word & 0x3FF, static_cast<U32>(entry >> 26));
        text += line;
    }
    File_WriteAtomic(path_, std::span<const U8>(reinterpret_cast<const U8*>(text.data()), text.size()));
}

std::array<std::uint64_t, kSimMuxEntries> RoutingModel::ActiveMux() {
    std::lock_guard lock(mutex_);
    return activeMux_;
}
std::array<std::uint64_t, kSimBypassEntries> RoutingModel::ActiveBypass() {
    std::lock_guard lock(mutex_);
    return activeBypass_;
}
U32 RoutingModel::Strobes() {
    std::lock_guard lock(mutex_);
    return strobes_;
}
U32 RoutingModel::Commits() {
    std::lock_guard lock(mutex_);
    return commits_;
}

}  // namespace hx::sim
