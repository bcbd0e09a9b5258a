#include "platform/qam_defaults.h"

#include <array>
#include <cstring>

#include "platform/resource.h"

namespace hx {

namespace {

// The 160T knows each parameter by these addresses; per-group and
// per-channel parameters add the group or channel number.
constexpr U32 kAddrMaxChannel = 256;
constexpr U32 kAddrPowerLevel = 257;
constexpr U32 kAddrPortEnable = 258;
constexpr U32 kAddrRFTemplate = 259;
constexpr U32 kAddrBoostDUC = 260;
constexpr U32 kAddrAttenuation = 261;
constexpr U32 kAddrMode = 272;
constexpr U32 kAddrConstellation = 304;
constexpr U32 kAddrSymbolRate = 336;
constexpr U32 kAddrBandwidth = 368;
constexpr U32 kAddrMaxRate = 400;
constexpr U32 kAddrChannelEnable = 512;
constexpr U32 kAddrFrequency = 768;
constexpr U32 kAddrInterleaver = 1024;
constexpr U32 kAddrScale = 1280;
constexpr U32 kAddrCheckBitrateEnable = 1792;
constexpr U32 kAddrBitrateThreshold = 1793;
constexpr U32 kAddrRDAValue = 2048;
constexpr U32 kAddrATSCChannelMode = 2128;
constexpr U32 kAddrReferPowerLevel = 2129;
constexpr U32 kAddrRfLevelUnitType = 2130;
constexpr U32 kAddrSingleMode = 2131;
constexpr U32 kAddrStandard = 2132;
constexpr U32 kAddrInsertPSIEnable = 2133;
// Ends the used pairs of the table.
constexpr U32 kAddrEndOfTable = 0xFFFFFFFF;

constexpr U32 kUsedChannels = 16;
constexpr U32 kSiModeAtsc = 1;

constexpr std::array<U32, kUsedChannels> kUsFrequencyPlanKHz = {
    57000, 63000, 69000, 79000, 85000, 177000, 183000, 189000,
    195000, 201000, 207000, 213000, 123000, 129000, 135000, 141000,
};

// The board's hardware-version pins are read by the platform's GPIO module,
// which this build does not have yet; version 0 gives the older boards' level.
U32 HardwareVersion() { return 0; }

void Set(Parameter_Common& pair, U32 address, U32 value) {
    pair.address = address;
    pair.value = value;
}

}  // namespace

void QAM160T_Init_Parmeter(TParameter_QAM* pstQAMParams) {
    if (pstQAMParams == nullptr) {
        return;
    }
    TParameter_QAM& table = *pstQAMParams;
    U32 mode = table.Mode[0].value;
    if (mode > MODE_QAMC) {
        mode = MODE_QAMA;
    }
    const TResource_TS* backBoard = Resource_GetHandle(kBackBoardSlot);
    const U32 standard = backBoard != nullptr ? backBoard->u8Standard : 0;

    std::memset(&table, 0, sizeof table);
    Set(table.MaxChannel, kAddrMaxChannel, 32);
    Set(table.PortEnable, kAddrPortEnable, 0);
    Set(table.PowerLevel, kAddrPowerLevel, HardwareVersion() > 1 ? 102 : 90);
    Set(table.RFTemplate, kAddrRFTemplate, 0);
    Set(table.BoostDUC, kAddrBoostDUC, 0);
    Set(table.Attenuation, kAddrAttenuation, 3);
    for (U32 group = 0; group < kQamGroups; ++group) {
        Set(table.Mode[group], kAddrMode + group, mode);
        Set(table.Constellation[group], kAddrConstellation + group, mode == MODE_QAMA ? 2 : 1);
        Set(table.SymbolRate[group], kAddrSymbolRate + group, mode == MODE_QAMB ? 5360537 : 6875000);
        Set(table.Bandwidth[group], kAddrBandwidth + group, mode == MODE_QAMB ? 0 : 2);
        Set(table.MaxRate[group], kAddrMaxRate + group, 0);
    }
    for (U32 channel = 0; channel < kQamChannelSlots; ++channel) {
        Set(table.ChannelEnable[channel], kAddrChannelEnable + channel, 0);
        Set(table.Frequency[channel], kAddrFrequency + channel, channel < kUsedChannels ? 200000 + 8000 * channel : 2000);
        Set(table.Interleaver[channel], kAddrInterleaver + channel, 9);
        Set(table.Scale[channel], kAddrScale + channel, 70);
        Set(table.InsertPSIEnable[channel], kAddrInsertPSIEnable + channel, 1);
    }
    Set(table.CheckBitrateEnable, kAddrCheckBitrateEnable, 0);
    Set(table.BitrateThreshold, kAddrBitrateThreshold, 66);
    Set(table.RDAValue, kAddrRDAValue, 11);
    Set(table.ATSCChannelMode, kAddrATSCChannelMode, 1);
    Set(table.ReferPowerLevel, kAddrReferPowerLevel, 108);
    Set(table.rflevelunittype, kAddrRfLevelUnitType, 0);
    Set(table.SingleMode, kAddrSingleMode, 0);
    Set(table.Standard, kAddrStandard, standard);

    // The SI mode is the low byte of the standard the back board announced,
    // which the table has just taken over.
    const bool atsc = (table.Standard.value & 0xFF) == kSiModeAtsc;
    if (mode == MODE_QAMB || atsc) {
        for (U32 channel = 0; channel < kUsedChannels; ++channel) {
            table.Frequency[channel].value = kUsFrequencyPlanKHz[channel];
        }
    }
    table.Res[0].address = kAddrEndOfTable;
}

}  // namespace hx
