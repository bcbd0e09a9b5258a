// The board MIB's objects as values, apart from the SNMP library: what a GET
// of each object reads from the QAM parameter set, and the check and the
// apply of a SET request's varbinds.
//
// Caller: the board MIB module (snmp/qam_mib.h) on the SNMP thread; tests.
// The readers here take a table the caller copied under the QAM apply lock
// (QAM_ApplyLock, platform/qam_apply.h); QamMib_ApplySets takes that lock
// itself and holds it across the check, every edit of the live set and every
// QAM160T_ParamsProcess, so a web edit never lands between a check and the
// edit it allowed, nor between two varbinds of one request.
//
// Rows are 1..N, N the output channels of the web port; row i addresses real
// channel r = _web_GetOutRealChannel(0, i - 1) and its group g = r / 8. The
// board-wide annex mode is Mode of group 0: 0 (Annex A) and 1 (Annex B, where
// the channel plans apply) are the modes whose objects are served.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/types.h"
#include "platform/qam_params.h"

namespace hx {

// The error statuses of a SET (and the exceptions of a GET) the module gives,
// numbered as SNMP numbers them.
enum class MibError : int {
    NoError = 0,
    GenErr = 5,
    WrongValue = 10,
    NoCreation = 11,
    InconsistentValue = 12,
    NotWritable = 17,
};

// The writable objects.
enum class MibTarget { RfLevel, PSIInterval, ChannelStandard, ParamColumn };

// paramTable columns.
enum ParamColumn : U32 {
    kParamIndex = 1,
    kParamEnable = 2,
    kParamFrequency = 3,      // kHz, annex mode 0
    kParamBandwidth = 4,      // MHz
    kParamSymbolRate = 5,     // ksym/s
    kParamConstellation = 6,  // annex mode 0
    kParamAnnexBConstellation = 7,
    kParamChannelName = 8,    // annex mode 1
    kParamColumns = 8,
};

// One varbind of a SET, its type and length already checked.
struct MibSet {
    MibTarget target = MibTarget::RfLevel;
    U32 row = 0;        // paramTable
    U32 column = 0;     // paramTable
    long integer = 0;   // every object but column 8
    std::string text;   // column 8, at most 20 bytes
};

// Where a check stopped: the varbind's position in the request and why.
struct MibSetFailure {
    std::size_t position;
    MibError error;
};

// What the SETs of one request did: a failed check applies nothing; else each
// varbind whose apply failed (QAM160T_ParamsProcess non-zero) is listed with
// genErr, the live set keeping its value.
struct MibSetOutcome {
    std::optional<MibSetFailure> refused;
    std::vector<std::size_t> failedApplies;
};

// Range and annex limits of the writable objects.
constexpr long kRfLevelMin = 15;
constexpr long kRfLevelMax = 45;
constexpr U32 kRfLevelOffset = 66;  // PowerLevel = rfLevel + 66
constexpr long kPSIIntervalMin = 50;
constexpr long kPSIIntervalMax = 10000;
constexpr long kFrequencyMinKHz = 47000;
// The last channel's ceiling; each channel below it 7 MHz less.
constexpr long kFrequencyCeilingKHz = 813000;
constexpr long kChannelSpacingKHz = 7000;
constexpr long kSymbolRateMinK = 4400;
constexpr long kSymbolRateMaxK = 6956;
constexpr U32 kAnnexBSymbolRate64 = 5056941;
constexpr U32 kAnnexBSymbolRate256 = 5360537;

// The annex mode the objects follow.
U32 QamMib_AnnexMode(const TParameter_QAM& table);
// N, fixed when the module starts.
U32 QamMib_Rows();
// The real channel of a row 1..N.
U32 QamMib_RealChannel(U32 row);

// GETs. nullopt: the object is not served now (noSuchInstance).
long QamMib_RfLevel(const TParameter_QAM& table);
std::optional<long> QamMib_ChannelStandard(const TParameter_QAM& table);
// Column 2 of baseInfoTable: "TotalBitRate:%4.3f | EffectiveBitRate:%4.3f |
// status:%s" in Mbit/s, "abnormal" on overflow, cut to 127 bytes.
std::string QamMib_BaseInfoText(U32 row);
// A paramTable cell: an integer for columns 1-7, the plan name for column 8.
struct MibCell {
    long integer = 0;
    std::optional<std::string> text;
};
std::optional<MibCell> QamMib_ParamCell(const TParameter_QAM& table, U32 row, U32 column);

// Checks the varbinds in order, each against `table` as the earlier ones
// leave it; nullopt when all pass. `table` is a copy the caller may discard.
std::optional<MibSetFailure> QamMib_CheckSets(TParameter_QAM& table, std::span<const MibSet> sets);

// Under the apply lock: checks the request again against the live set and,
// when it passes, applies each varbind in order (copy into the previous-values
// table, edit the live one, QAM160T_ParamsProcess; PSIInterval goes to the SI
// sender and is not saved).
MibSetOutcome QamMib_ApplySets(std::span<const MibSet> sets);

}  // namespace hx
