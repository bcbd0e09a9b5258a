// The four ATSC channel plans the board MIB offers (AIR, STD, IRC, HRC): the
// centre frequency and the name of every channel, the lookups of a name and of
// a frequency, and GetFreq, which splits a name at a separator.
//
// Callers: the board MIB module on the SNMP thread, and tests. The plans are
// constant tables built once; nothing here takes a lock.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/types.h"

namespace hx {

// ATSCChannelMode values; a value above kChannelPlanHrc indexes no plan.
enum ChannelPlan : U32 { kChannelPlanAir = 0, kChannelPlanStd = 1, kChannelPlanIrc = 2, kChannelPlanHrc = 3 };
constexpr U32 kChannelPlanCount = 4;
// A plan's first entry is channel 2.
constexpr U32 kChannelPlanFirstChannel = 2;
// The name field the MIB carries: 20 bytes, with no terminator when full.
constexpr std::size_t kChannelNameSize = 20;

struct ChannelPlanEntry {
    U32 frequencyKHz;
    std::string name;  // "CH2-57MHz", "CH2-55.75MHz"
};

// The entries of a plan in channel order; empty for a value that is no plan.
std::span<const ChannelPlanEntry> ChannelPlan_Entries(U32 plan);

// The index of the first entry with this frequency.
std::optional<U32> ChannelPlan_FindFrequency(U32 plan, U32 frequencyKHz);

// The frequency a name selects, the first entry in plan order winning. AIR
// takes only an exact name; the other plans also the frequency part of a name
// (the text between its first "-" and the following "M": "57", "55.75").
// Exact and case-sensitive; nullopt when nothing matches.
std::optional<U32> ChannelPlan_FrequencyOfName(U32 plan, std::string_view name);

// Splits `text` at the first occurrence of `separator`: `out` receives the
// part before it, `text` keeps the part after it, result 1. Without the
// separator `out` receives the whole text, `text` becomes empty, result 0.
int GetFreq(std::string& text, std::string_view separator, std::string& out);

}  // namespace hx
