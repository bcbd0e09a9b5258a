// QAM parameter set and IP-monitor settings: the records the 160T, the
// parameter store, the web pages and the SNMP agent share.
//
// TParameter_QAM is 795 {address, value} pairs in a fixed order; the order and
// the addresses are a contract with the 160T and with the parameter file, so
// the struct's bytes are the file layout (checked below). The live records
// live for the whole process and are reached through the getters.
//
// The tables have no lock of their own: whoever copies, edits and applies
// them holds the QAM apply lock (platform/qam_apply.h) across the whole edit.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "core/types.h"

namespace hx {

struct Parameter_Common {
    U32 address;
    U32 value;
};

constexpr U32 kQamChannelSlots = 32;   // per-channel arrays; channels 0-15 are used
constexpr U32 kQamGroups = 4;          // per-group arrays; group = channel / 8
constexpr U32 kQamUsedPairs = 197;
constexpr U32 kQamPairs = 795;

struct TParameter_QAM {
    Parameter_Common StructVersion;
    Parameter_Common MaxChannel;
    Parameter_Common PortEnable;
    Parameter_Common PowerLevel;
    Parameter_Common RFTemplate;
    Parameter_Common BoostDUC;
    Parameter_Common Attenuation;
    Parameter_Common Mode[kQamGroups];
    Parameter_Common Constellation[kQamGroups];
    Parameter_Common SymbolRate[kQamGroups];
    Parameter_Common Bandwidth[kQamGroups];
    Parameter_Common MaxRate[kQamGroups];
    Parameter_Common ChannelEnable[kQamChannelSlots];
    Parameter_Common Frequency[kQamChannelSlots];
    Parameter_Common Interleaver[kQamChannelSlots];
    Parameter_Common Scale[kQamChannelSlots];
    Parameter_Common ChannelTable;
    Parameter_Common NewPowerLevel;
    Parameter_Common CheckBitrateEnable;
    Parameter_Common BitrateThreshold;
    Parameter_Common RDAValue;
    Parameter_Common ATSCChannelMode;
    Parameter_Common ReferPowerLevel;
    Parameter_Common rflevelunittype;
    Parameter_Common SingleMode;
    Parameter_Common Standard;
    Parameter_Common InsertPSIEnable[kQamChannelSlots];
    Parameter_Common Res[598];
};
static_assert(sizeof(Parameter_Common) == 8);
static_assert(sizeof(TParameter_QAM) == 6360 && sizeof(TParameter_QAM) == kQamPairs * sizeof(Parameter_Common));
static_assert(std::is_trivially_copyable_v<TParameter_QAM>);
static_assert(offsetof(TParameter_QAM, MaxChannel) == 1 * 8);
static_assert(offsetof(TParameter_QAM, PowerLevel) == 3 * 8);
static_assert(offsetof(TParameter_QAM, Attenuation) == 6 * 8);
static_assert(offsetof(TParameter_QAM, Mode) == 7 * 8);
static_assert(offsetof(TParameter_QAM, Constellation) == 11 * 8);
static_assert(offsetof(TParameter_QAM, SymbolRate) == 15 * 8);
static_assert(offsetof(TParameter_QAM, Bandwidth) == 19 * 8);
static_assert(offsetof(TParameter_QAM, MaxRate) == 23 * 8);
static_assert(offsetof(TParameter_QAM, ChannelEnable) == 27 * 8);
static_assert(offsetof(TParameter_QAM, Frequency) == 59 * 8);
static_assert(offsetof(TParameter_QAM, Interleaver) == 91 * 8);
static_assert(offsetof(TParameter_QAM, Scale) == 123 * 8);
static_assert(offsetof(TParameter_QAM, ChannelTable) == 155 * 8);
static_assert(offsetof(TParameter_QAM, CheckBitrateEnable) == 157 * 8);
static_assert(offsetof(TParameter_QAM, SingleMode) == 163 * 8);
static_assert(offsetof(TParameter_QAM, Standard) == 164 * 8);
static_assert(offsetof(TParameter_QAM, InsertPSIEnable) == 165 * 8);
static_assert(offsetof(TParameter_QAM, Res) == kQamUsedPairs * 8);

// The table as its 795 pairs in table order (the order the 160T and the
// parameter file know).
using QamPairs = std::array<Parameter_Common, kQamPairs>;
inline QamPairs QAM_PairsOf(const TParameter_QAM& table) {
    QamPairs pairs;
    std::memcpy(pairs.data(), &table, sizeof table);
    return pairs;
}

enum QamMode : U32 { MODE_QAMA = 0, MODE_QAMB = 1, MODE_QAMC = 2 };

// IP monitor output settings; 44 bytes as stored in the parameter file.
struct QAM_IPMonitorPara {
    U8 u8Enable;
    U8 u8Channel;
    U16 u16DestPort;
    U32 u32DestIPAddr;
    U16 u16IP1MaxRate;
    U8 u8Mac1LicFlag;
    U8 u8Padding;
    U16 u16PSIInterval;
    U8 aru8Mac1[6];
    U32 u32IP1;
    U8 u8Res[17];
    U8 u8Tail[3];
};
static_assert(sizeof(QAM_IPMonitorPara) == 44);
static_assert(offsetof(QAM_IPMonitorPara, u16PSIInterval) == 12);
static_assert(offsetof(QAM_IPMonitorPara, aru8Mac1) == 14);
static_assert(offsetof(QAM_IPMonitorPara, u32IP1) == 20);
static_assert(offsetof(QAM_IPMonitorPara, u8Res) == 24);

// The live table, the scratch table (previous values) and the live IP monitor
// record; never null. The scratch table is for the web and SNMP setters (not
// built yet).
TParameter_QAM* GetQAMPara_Handle();
TParameter_QAM* GetQAMParaTmp_Handle();
QAM_IPMonitorPara* GetQAMIPMonitor_Handle();

}  // namespace hx
