#include "snmp/qam_mib_values.h"

#include <cstdio>

#include "core/log.h"
#include "platform/board.h"
#include "platform/qam_apply.h"
#include "snmp/channel_plan.h"
#include "web/web_accessors.h"
#include "web/web_status.h"

namespace hx {

namespace {

constexpr U32 kAnnexA = MODE_QAMA;
constexpr U32 kAnnexB = MODE_QAMB;
constexpr std::size_t kBaseInfoTextSize = 128;
// Column 5 in the Annex B modes: the fixed symbol rates, ksym/s.
constexpr long kAnnexBSymbolRate256K = 5361;
constexpr long kAnnexBSymbolRate64K = 5056;

U32 Group(U32 channel) { return channel / 8; }

bool InRange(long value, long low, long high) { return value >= low && value <= high; }

// The highest frequency a channel may take: 806,000 kHz for the last one,
// 7,000 kHz less for each channel below it.
long FrequencyCeiling(U32 channel) {
    return kFrequencyCeilingKHz - kChannelSpacingKHz * (static_cast<long>(QamMib_Rows()) - static_cast<long>(channel));
}

// A neighbour closer than the channel spacing, on either side; the distance is
// signed, so a value just below the lower neighbour is caught too.
bool CrowdsNeighbour(const TParameter_QAM& table, U32 channel, long frequency) {
    const auto tooClose = [&](U32 neighbour) {
        const long distance = frequency - static_cast<long>(table.Frequency[neighbour].value);
        return distance > -kChannelSpacingKHz && distance < kChannelSpacingKHz;
    };
    if (channel > 0 && tooClose(channel - 1)) {
        return true;
    }
    return channel + 1 < QamMib_Rows() && tooClose(channel + 1);
}

MibError CheckParamColumn(const TParameter_QAM& table, const MibSet& set) {
    if (set.row < 1 || set.row > QamMib_Rows()) {
        return MibError::NoCreation;
    }
    const U32 annex = QamMib_AnnexMode(table);
    const U32 channel = QamMib_RealChannel(set.row);
    const long value = set.integer;
    switch (set.column) {
        case kParamEnable:
            return InRange(value, 0, 1) ? MibError::NoError : MibError::WrongValue;
        case kParamFrequency:
            if (!InRange(value, kFrequencyMinKHz, FrequencyCeiling(channel))) {
                return MibError::WrongValue;
            }
            return annex != kAnnexA || CrowdsNeighbour(table, channel, value) ? MibError::InconsistentValue
                                                                                 : MibError::NoError;
        case kParamBandwidth:
            if (!InRange(value, 6, 8)) {
                return MibError::WrongValue;
            }
            return annex == kAnnexA || (annex == kAnnexB && value == 6) ? MibError::NoError
                                                                         : MibError::InconsistentValue;
        case kParamSymbolRate:
            if (!InRange(value, kSymbolRateMinK, kSymbolRateMaxK)) {
                return MibError::WrongValue;
            }
            return annex == kAnnexA ? MibError::NoError : MibError::InconsistentValue;
        case kParamConstellation:
            if (!InRange(value, 0, 4)) {
                return MibError::WrongValue;
            }
            return annex == kAnnexA ? MibError::NoError : MibError::InconsistentValue;
        case kParamAnnexBConstellation:
            if (!InRange(value, 0, 1)) {
                return MibError::WrongValue;
            }
            return annex == kAnnexB ? MibError::NoError : MibError::InconsistentValue;
        case kParamChannelName:
            return annex == kAnnexB && ChannelPlan_FrequencyOfName(table.ATSCChannelMode.value, set.text)
                       ? MibError::NoError
                       : MibError::InconsistentValue;
        default:
            return MibError::NotWritable;
    }
}

MibError CheckSet(const TParameter_QAM& table, const MibSet& set) {
    switch (set.target) {
        case MibTarget::RfLevel:
            return InRange(set.integer, kRfLevelMin, kRfLevelMax) ? MibError::NoError : MibError::WrongValue;
        case MibTarget::PSIInterval:
            return InRange(set.integer, kPSIIntervalMin, kPSIIntervalMax) ? MibError::NoError : MibError::WrongValue;
        case MibTarget::ChannelStandard:
            if (!InRange(set.integer, 0, kChannelPlanCount - 1)) {
                return MibError::WrongValue;
            }
            return QamMib_AnnexMode(table) == kAnnexB ? MibError::NoError : MibError::InconsistentValue;
        case MibTarget::ParamColumn:
            return CheckParamColumn(table, set);
    }
    return MibError::GenErr;
}

// The edit of one checked varbind. PSIInterval lives outside the table.
void EditTable(TParameter_QAM& table, const MibSet& set) {
    const U32 value = static_cast<U32>(set.integer);
    switch (set.target) {
        case MibTarget::RfLevel:
            table.PowerLevel.value = value + kRfLevelOffset;
            return;
        case MibTarget::PSIInterval:
            return;
        case MibTarget::ChannelStandard: {
            table.ATSCChannelMode.value = value;
            const std::span<const ChannelPlanEntry> plan = ChannelPlan_Entries(value);
            for (U32 channel = 0; channel < QamMib_Rows() && channel < plan.size(); ++channel) {
                table.Frequency[channel].value = plan[channel].frequencyKHz;
            }
            return;
        }
        case MibTarget::ParamColumn:
            break;
    }
    const U32 channel = QamMib_RealChannel(set.row);
    const U32 group = Group(channel);
    switch (set.column) {
        case kParamEnable:
            table.ChannelEnable[channel].value = value;
            break;
        case kParamFrequency:
            table.Frequency[channel].value = value;
            break;
        case kParamBandwidth:
            table.Bandwidth[group].value = value - 6;
            break;
        case kParamSymbolRate:
            table.SymbolRate[group].value = value * 1000;
            break;
        case kParamConstellation:
            table.Constellation[group].value = value;
            break;
        case kParamAnnexBConstellation:
            table.Constellation[group].value = value;
            table.SymbolRate[group].value = value == 1 ? kAnnexBSymbolRate256 : kAnnexBSymbolRate64;
            break;
        case kParamChannelName:
            table.Frequency[channel].value = *ChannelPlan_FrequencyOfName(table.ATSCChannelMode.value, set.text);
            break;
        default:
            break;
    }
}

}  // namespace

U32 QamMib_AnnexMode(const TParameter_QAM& table) { return table.Mode[0].value; }

U32 QamMib_Rows() {
    static const U32 rows = BMN_GetOutputChannelNum();
    return rows;
}

U32 QamMib_RealChannel(U32 row) { return row - 1; }

long QamMib_RfLevel(const TParameter_QAM& table) {
    return static_cast<long>(table.PowerLevel.value) - static_cast<long>(kRfLevelOffset);
}

std::optional<long> QamMib_ChannelStandard(const TParameter_QAM& table) {
    if (QamMib_AnnexMode(table) != kAnnexB) {
        return std::nullopt;
    }
    return static_cast<long>(table.ATSCChannelMode.value);
}

std::string QamMib_BaseInfoText(U32 row) {
    U32 total = 0;
    U32 effective = 0;
    U32 overflow = 0;
    Snmp_GetTSStatus(row - 1, &total, &effective, &overflow);
    char text[kBaseInfoTextSize];
    const int length = std::snprintf(text, sizeof text, "TotalBitRate:%4.3f | EffectiveBitRate:%4.3f | status:%s",
                                     static_cast<double>(static_cast<float>(total) / 1000.0f),
                                     static_cast<double>(static_cast<float>(effective) / 1000.0f),
                                     overflow != 0 ? "abnormal" : "normal");
    if (length < 0) {
        return {};
    }
    return std::string(text, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

std::optional<MibCell> QamMib_ParamCell(const TParameter_QAM& table, U32 row, U32 column) {
    if (row < 1 || row > QamMib_Rows()) {
        return std::nullopt;
    }
    const U32 annex = QamMib_AnnexMode(table);
    const U32 channel = QamMib_RealChannel(row);
    const U32 group = Group(channel);
    switch (column) {
        case kParamIndex:
            return MibCell{static_cast<long>(row), {}};
        case kParamEnable:
            return MibCell{static_cast<long>(table.ChannelEnable[channel].value), {}};
        case kParamFrequency:
            if (annex != kAnnexA) {
                return std::nullopt;
            }
            return MibCell{static_cast<long>(table.Frequency[channel].value), {}};
        case kParamBandwidth:
            return MibCell{static_cast<long>(table.Bandwidth[group].value) + 6, {}};
        case kParamSymbolRate:
            if (table.Mode[group].value == kAnnexA) {
                return MibCell{static_cast<long>(table.SymbolRate[group].value / 1000), {}};
            }
            return MibCell{table.Constellation[group].value != 0 ? kAnnexBSymbolRate256K : kAnnexBSymbolRate64K, {}};
        case kParamConstellation:
            if (annex != kAnnexA) {
                return std::nullopt;
            }
            return MibCell{static_cast<long>(table.Constellation[group].value), {}};
        case kParamAnnexBConstellation:
            if (annex != kAnnexB) {
                return std::nullopt;
            }
            return MibCell{static_cast<long>(table.Constellation[group].value), {}};
        case kParamChannelName: {
            const std::span<const ChannelPlanEntry> plan = ChannelPlan_Entries(table.ATSCChannelMode.value);
            if (annex != kAnnexB || plan.empty()) {
                return std::nullopt;
            }
            const std::optional<U32> entry = ChannelPlan_FindFrequency(table.ATSCChannelMode.value,
                                                                       table.Frequency[channel].value);
            return MibCell{0, plan[entry.value_or(channel)].name};
        }
        default:
            return std::nullopt;
    }
}

std::optional<MibSetFailure> QamMib_CheckSets(TParameter_QAM& table, std::span<const MibSet> sets) {
    for (std::size_t position = 0; position < sets.size(); ++position) {
        if (const MibError error = CheckSet(table, sets[position]); error != MibError::NoError) {
            return MibSetFailure{position, error};
        }
        EditTable(table, sets[position]);
    }
    return std::nullopt;
}

MibSetOutcome QamMib_ApplySets(std::span<const MibSet> sets) {
    MibSetOutcome outcome;
    TParameter_QAM* live = GetQAMPara_Handle();
    TParameter_QAM* previous = GetQAMParaTmp_Handle();
    QamApplyGuard apply(QAM_ApplyLock());
    TParameter_QAM trial = *live;
    outcome.refused = QamMib_CheckSets(trial, sets);
    if (outcome.refused) {
        return outcome;
    }
    for (std::size_t position = 0; position < sets.size(); ++position) {
        const MibSet& set = sets[position];
        if (set.target == MibTarget::PSIInterval) {
            Web_SetPSIInterval(static_cast<U32>(set.integer));
            continue;
        }
        *previous = *live;
        EditTable(*live, set);
        if (const U32 result = QAM160T_ParamsProcess(previous, live); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SNMP, "QAM160T_ParamsProcess failed (%u)\n", result);
            outcome.failedApplies.push_back(position);
        }
    }
    return outcome;
}

}  // namespace hx
