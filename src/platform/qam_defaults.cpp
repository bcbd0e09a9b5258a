#include "platform/qam_defaults.h"

#include <array>

#include "core/err.h"
#include "core/log.h"
#include "platform/gpio.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr std::array<U32, 16> kUsFrequencyPlanKHz = {57000,  63000,  69000,  79000,  85000,  177000, 183000, 189000,
                                                     195000, 201000, 207000, 213000, 123000, 129000, 135000, 141000};

}  // namespace

U32 QAM160T_Init_Parmeter(TParameter_QAM* pstQAMParams) {
    if (pstQAMParams == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Input Parameter Error.\n\n");
        return VK_ERR_PARAMS;
    }
    TParameter_QAM& table = *pstQAMParams;
    U32 mode = table.Mode[0].value;
    if (mode > MODE_QAMC) {
        mode = MODE_QAMA;
    }
    table = TParameter_QAM{};

    table.StructVersion = {0, 0};
    table.MaxChannel = {256, 32};
    table.PortEnable = {258, 0};
    table.PowerLevel = {257, PIN_GetHWVerSion() > 1 ? 102u : 90u};
    table.RFTemplate = {259, 0};
    table.BoostDUC = {260, 0};
    table.Attenuation = {261, 3};
    for (U32 group = 0; group < kQamGroups; ++group) {
        table.Mode[group] = {272 + group, mode};
        table.Constellation[group] = {304 + group, mode == MODE_QAMA ? 2u : 1u};
        table.SymbolRate[group] = {336 + group, mode == MODE_QAMB ? 5360537u : 6875000u};
        table.Bandwidth[group] = {368 + group, mode == MODE_QAMB ? 0u : 2u};
        table.MaxRate[group] = {400 + group, 0};
    }
    for (U32 channel = 0; channel < kQamChannelSlots; ++channel) {
        table.ChannelEnable[channel] = {512 + channel, 0};
        table.Frequency[channel] = {768 + channel, channel < 16 ? 200000 + 8000 * channel : 2000};
        table.Interleaver[channel] = {1024 + channel, 9};
        table.Scale[channel] = {1280 + channel, 70};
        table.InsertPSIEnable[channel] = {2133 + channel, 1};
    }
    table.ChannelTable = {0, 0};
    table.NewPowerLevel = {0, 0};
    table.CheckBitrateEnable = {1792, 0};
    table.BitrateThreshold = {1793, 66};
    table.RDAValue = {2048, 11};
    table.ATSCChannelMode = {2128, 1};
    table.ReferPowerLevel = {2129, 108};
    table.rflevelunittype = {2130, 0};
    table.SingleMode = {2131, 0};
    table.Standard = {2132, Resource_GetHandle(kBackBoardSlot)->u8Standard};

    // The SI mode as the rest of the board reads it: the low byte of the live
    // table's Standard.
    const U32 siMode = GetQAMPara_Handle()->Standard.value & 0xFF;
    if (mode == MODE_QAMB || siMode == kSiModeAtsc) {
        for (U32 channel = 0; channel < kUsFrequencyPlanKHz.size(); ++channel) {
            table.Frequency[channel].value = kUsFrequencyPlanKHz[channel];
        }
    }
    table.Res[0].address = 0xFFFFFFFF;
    return VK_SUCCESS;
}

}  // namespace hx
