#include "platform/qam.h"

#include <algorithm>

#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "platform/board.h"
#include "platform/fpga_net.h"
#include "platform/z160t_link.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"

namespace hx {

namespace {

constexpr U32 kDacRegister = 1;
constexpr U32 kDacOn = 8;
constexpr U32 kDacOff = 72;

// 0 for the link's success, else its code.
U32 ZeroOnSuccess(U32 link) { return link == VK_160TUART_SUCCESS ? VK_SUCCESS : link; }

U32 RateKbps(U32 word, U8 channel) {
    const U32 half = channel % 2 == 1 ? word >> 16 : word & 0xFFFF;
    return half * 1504 / 1000;
}

}  // namespace

U32 UartComm_ConfigQAM160T() {
    FPGA_Set_IP0();
    TParameter_QAM* table = GetQAMPara_Handle();
    if (table == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "QamParams Handle is Null.\n\n");
        return VK_ERR_PARAMS;
    }
    TheClock().SleepMicros(kQamStartupWaitMicros);

    QamApplyGuard apply(QAM_ApplyLock());
    g_isSetQamPara.store(1);
    const QamPairs pairs = QAM_PairsOf(*table);
    std::copy_n(pairs.begin(), kQamUsedPairs, g_u32ParamsBuf.begin());
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "ChangeParamNum = %d\n\n", static_cast<int>(kQamUsedPairs));
    const U32 link = UartComm_WriteMulti(g_u32ParamsBuf.data(), kQamUsedPairs);
    g_isSetQamPara.store(0);
    if (link != VK_160TUART_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Send Parameters To 160T Fail (%u).\n\n", link);
    }

    std::optional<U32> rateWord = QAM160T_RateWord(*table, QamRateWordForm::Startup);
    if (!rateWord) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Rate Word Out Of Range: Mode %u Constellation %u SymbolRate %u, 0 written.\n\n",
               table->Mode[0].value, table->Constellation[0].value, table->SymbolRate[0].value);
        rateWord = 0;
    }
    QAM160T_ProgramChannels(*table, *rateWord);

    U32 registers = VK_160TUART_SUCCESS;
    for (U32 i = 0; i < kQam160TStartRegisterCount; ++i) {
        const U32 written = Z160T_UartComm_WriteFPGA(kQam160TStartRegister + i, kQam160TStartRegisterValue);
        registers = registers == VK_160TUART_SUCCESS ? written : registers;
    }
    return link == VK_160TUART_SUCCESS && registers == VK_160TUART_SUCCESS ? VK_SUCCESS : VK_ERR_CONFIG_TIMEOUOT;
}

U32 IsChannelenableConfig9119() {
    bool anyEnabled = false;
    {
        QamApplyGuard apply(QAM_ApplyLock());
        const TParameter_QAM* table = GetQAMPara_Handle();
        for (U32 channel = 0; channel < BMN_GetOutputChannelNum(); ++channel) {
            anyEnabled = anyEnabled || table->ChannelEnable[channel].value == 1;
        }
    }
    return ZeroOnSuccess(anyEnabled ? Z160T_UART_SendData(UART160T_CMD_WRITE9119, kDacRegister, kDacOn)
                                    : Z160T_UART_SendData(UART160T_CMD_CLOSE9119, kDacRegister, kDacOff));
}

U32 QAM_SetSingleMode(U8 mode) {
    QamApplyGuard apply(QAM_ApplyLock());
    GetQAMPara_Handle()->SingleMode.value = mode;
    return QAM_SaveParams();
}

U32 GetChannel_BiteRate(U8 u8Channel, U32* pu32TotalBitRate, U32* pu32EffectiveBitRate) {
    if (pu32TotalBitRate == nullptr || pu32EffectiveBitRate == nullptr || u8Channel >= BMN_GetOutputChannelNum()) {
        return VK_ERR_PARAMS;
    }
    *pu32TotalBitRate = RateKbps(g_u32State_Value[kZ160TTotalRateWord + u8Channel / 2].load(), u8Channel);
    *pu32EffectiveBitRate = RateKbps(g_u32State_Value[kZ160TEffectiveRateWord + u8Channel / 2].load(), u8Channel);
    return VK_SUCCESS;
}

U32 GetChannel_TotalBiteRate(U8 u8Channel, U32* pu32TotalBitRate) {
    if (pu32TotalBitRate == nullptr || u8Channel >= BMN_GetOutputChannelNum()) {
        return VK_ERR_PARAMS;
    }
    *pu32TotalBitRate = RateKbps(g_u32State_Value[kZ160TTotalRateWord + u8Channel / 2].load(), u8Channel);
    return VK_SUCCESS;
}

U32 QAM160TComm_WriteFPGA(U32 reg, U32 value) { return ZeroOnSuccess(Z160T_UartComm_WriteFPGA(reg, value)); }

U32 QAM160TComm_ReadFPGA(U32 reg, U32* value) { return Z160T_UartComm_ReadFPGA(reg, value); }

U32 QAM160TComm_Write9119(U32 reg, U32 value) { return ZeroOnSuccess(Z160T_UartComm_Write9119(reg, value)); }

U32 QAM160TComm_Read9119(U32 reg, U32* value) { return Z160T_UartComm_Read9119(reg, value); }

U32 QAM160TComm_Get160TPIDCc(U8 u8Channel, U16 u16Pid, U16* pu16CcNum) {
    if (pu16CcNum == nullptr) {
        return VK_ERR_PARAMS;
    }
    // One thread's selection and read, with no other frame in between.
    Z160TLinkGuard link(Z160T_LinkMutex());
    if (const U32 written = Z160T_UartComm_WriteFPGA(kQam160TPidChannelRegister, u8Channel); written != VK_160TUART_SUCCESS) {
        return written;
    }
    if (const U32 written = Z160T_UartComm_WriteFPGA(kQam160TPidRegister, u16Pid); written != VK_160TUART_SUCCESS) {
        return written;
    }
    U32 count = 0;
    if (const U32 read = Z160T_UartComm_ReadFPGA(kQam160TPidCountRegister, &count); read != VK_160TUART_SUCCESS) {
        return read;
    }
    *pu16CcNum = static_cast<U16>(count & 0xFF);
    return VK_SUCCESS;
}

U32 QAM160TComm_Clear160TPIDCc() {
    Z160TLinkGuard link(Z160T_LinkMutex());
    U32 result = VK_160TUART_SUCCESS;
    for (U32 level : {0u, 1u, 0u}) {
        const U32 written = Z160T_UartComm_WriteFPGA(kQam160TPidClearRegister, level);
        result = result == VK_160TUART_SUCCESS ? written : result;
    }
    return ZeroOnSuccess(result);
}

}  // namespace hx
