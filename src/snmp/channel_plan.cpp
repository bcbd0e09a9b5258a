#include "snmp/channel_plan.h"

#include <array>
#include <cstdio>
#include <vector>

namespace hx {

namespace {

// A run of channels whose centres are 6 MHz apart.
struct Run {
    U32 count;
    U32 firstKHz;
};
constexpr U32 kStepKHz = 6000;

// "57", "55.75", "79.25": MHz without trailing zeros.
std::string MegaHertz(U32 kiloHertz) {
    std::string text = std::to_string(kiloHertz / 1000);
    U32 fraction = kiloHertz % 1000;
    if (fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, ".%03u", fraction);
        std::string decimals(digits);
        while (decimals.back() == '0') {
            decimals.pop_back();
        }
        text += decimals;
    }
    return text;
}

std::vector<ChannelPlanEntry> Build(std::initializer_list<Run> runs) {
    std::vector<ChannelPlanEntry> entries;
    for (const Run& run : runs) {
        for (U32 i = 0; i < run.count; ++i) {
            const U32 frequency = run.firstKHz + i * kStepKHz;
            const U32 channel = kChannelPlanFirstChannel + static_cast<U32>(entries.size());
            entries.push_back({frequency, "CH" + std::to_string(channel) + "-" + MegaHertz(frequency) + "MHz"});
        }
    }
    return entries;
}

// STD, IRC and HRC share their runs except channels 5 and 6; HRC sits 1.25 MHz lower.
std::vector<ChannelPlanEntry> BuildCable(U32 channel5KHz, U32 offsetDownKHz) {
    return Build({{3, 57000 - offsetDownKHz},
                  {2, channel5KHz},
                  {7, 177000 - offsetDownKHz},
                  {9, 123000 - offsetDownKHz},
                  {72, 219000 - offsetDownKHz},
                  {5, 93000 - offsetDownKHz},
                  {36, 651000 - offsetDownKHz}});
}

const std::array<std::vector<ChannelPlanEntry>, kChannelPlanCount>& Plans() {
    static const std::array<std::vector<ChannelPlanEntry>, kChannelPlanCount> plans = {
        Build({{3, 57000}, {2, 79000}, {7, 177000}, {56, 473000}}),
        BuildCable(79000, 0),
        BuildCable(79250, 0),
        BuildCable(78000, 1250),
    };
    return plans;
}

// The frequency part of a plan name: between the first "-" and the following "M".
std::string FrequencyPart(const std::string& name) {
    std::string text = name;
    std::string before;
    if (GetFreq(text, "-", before) == 0) {
        return {};
    }
    std::string part;
    GetFreq(text, "M", part);
    return part;
}

}  // namespace

std::span<const ChannelPlanEntry> ChannelPlan_Entries(U32 plan) {
    if (plan >= kChannelPlanCount) {
        return {};
    }
    return Plans()[plan];
}

std::optional<U32> ChannelPlan_FindFrequency(U32 plan, U32 frequencyKHz) {
    const std::span<const ChannelPlanEntry> entries = ChannelPlan_Entries(plan);
    for (U32 i = 0; i < entries.size(); ++i) {
        if (entries[i].frequencyKHz == frequencyKHz) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<U32> ChannelPlan_FrequencyOfName(U32 plan, std::string_view name) {
    for (const ChannelPlanEntry& entry : ChannelPlan_Entries(plan)) {
        if (name == entry.name || (plan != kChannelPlanAir && name == FrequencyPart(entry.name))) {
            return entry.frequencyKHz;
        }
    }
    return std::nullopt;
}

int GetFreq(std::string& text, std::string_view separator, std::string& out) {
    const std::size_t at = text.find(separator);
    if (at == std::string::npos || separator.empty()) {
        out = text;
        text.clear();
        return 0;
    }
    out = text.substr(0, at);
    text.erase(0, at + separator.size());
    return 1;
}

}  // namespace hx
