#include "platform/qam_apply.h"

#include <cmath>
#include <cstdio>

#include "chassis/param_store.h"
#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "platform/board.h"
#include "platform/fpga_reg.h"
#include "platform/z160t_link.h"
#include "platform/z160t_uart.h"

namespace hx {

std::atomic<U32> g_isSetQamPara{0};
std::array<Parameter_Common, kQamParamsBufPairs> g_u32ParamsBuf{};

namespace {

constexpr std::uint64_t kModeBRateConstellation1 = 38810;
constexpr std::uint64_t kModeBRateOther = 26970;

std::mutex& SaveObserverMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

std::function<void(const TParameter_QAM&)>& SaveObserver() {
    static auto* observer = new std::function<void(const TParameter_QAM&)>();
    return *observer;
}

void WriteEchoed(U32 index, U32 value) {
    REG_Write(index, value);
    std::printf("addr[0x%x],data[0x%x]\n", index, value);
    std::fflush(stdout);
}

void Pulse(U32 index) {
    REG_Write(index, 0);
    REG_Write(index, 1);
    REG_Write(index, 0);
}

// A word the rate register can hold: finite, positive, below 2^27.
std::optional<U32> Programmable(double word) {
    if (!std::isfinite(word) || word <= 0.0 || word >= static_cast<double>(kQamRateWordLimit)) {
        return std::nullopt;
    }
    return static_cast<U32>(word);
}

}  // namespace

std::recursive_mutex& QAM_ApplyLock() {
    // Never destroyed: a setter thread may hold it while the process exits.
    static auto* mutex = new std::recursive_mutex();
    return *mutex;
}

std::optional<std::uint64_t> QAM160T_PayloadRate(const TParameter_QAM& table) {
    const U32 mode = table.Mode[0].value;
    const std::uint64_t constellation = table.Constellation[0].value;
    const std::uint64_t symbolRate = table.SymbolRate[0].value;
    switch (mode) {
        case MODE_QAMA:
        case MODE_QAMC:
            return (188 * constellation + 752) * (symbolRate / 1000) / 204;
        case MODE_QAMB:
            return constellation == 1 ? kModeBRateConstellation1 : kModeBRateOther;
        default:
            return std::nullopt;
    }
}

std::optional<U32> QAM160T_RateWord(const TParameter_QAM& table, QamRateWordForm form) {
    const std::optional<std::uint64_t> rate = QAM160T_PayloadRate(table);
    if (!rate) {
        return std::nullopt;
    }
    const double x = static_cast<double>(*rate) / 1000.0 - 0.05;
    const double quotient = 40608.0 / x;
    if (form == QamRateWordForm::Apply) {
        return Programmable(quotient * 5 * 7);
    }
    // The start-up form truncates before multiplying.
    if (!Programmable(quotient)) {
        return std::nullopt;
    }
    return Programmable(35.0 * static_cast<double>(static_cast<U32>(quotient)));
}

void QAM160T_ProgramChannels(const TParameter_QAM& table, U32 u32RateWord) {
    for (U32 channel = 0; channel < BMN_GetOutputChannelNum(); ++channel) {
        WriteEchoed(kRegRateWordChannel, channel);
        if (table.ChannelEnable[channel].value != 1) {
            WriteEchoed(kRegRateWord, 0);
            Pulse(kRegRateWordStrobe);
            continue;
        }
        WriteEchoed(kRegRateWord, u32RateWord | kQamRateWordEnable);
        Pulse(kRegRateWordStrobe);
        REG_Write(kRegRateRestartChannel, channel);
        Pulse(kRegRateRestartStrobe);
        TheClock().SleepMicros(kQamChannelRestartMicros);
    }
}

U32 QAM_SaveParams() {
    const TParameter_QAM* live = GetQAMPara_Handle();
    const U32 result = PARAMS_SetQAMParams(live);
    std::lock_guard lock(SaveObserverMutex());
    if (SaveObserver()) {
        SaveObserver()(*live);
    }
    return result;
}

void QAM_SetSaveObserver(std::function<void(const TParameter_QAM&)> observer) {
    std::lock_guard lock(SaveObserverMutex());
    SaveObserver() = std::move(observer);
}

U32 QAM160T_ParamsProcess(TParameter_QAM* pstOldQAMParams, TParameter_QAM* pstNewQAMParams) {
    if (pstOldQAMParams == nullptr || pstNewQAMParams == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Input Parameter Error.\n\n");
        return VK_ERR_PARAMS;
    }
    QamApplyGuard apply(QAM_ApplyLock());
    TParameter_QAM& oldTable = *pstOldQAMParams;
    TParameter_QAM& newTable = *pstNewQAMParams;

    const std::optional<U32> rateWord = QAM160T_RateWord(newTable, QamRateWordForm::Apply);
    if (!rateWord) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Rate Word Out Of Range: Mode %u Constellation %u SymbolRate %u.\n\n",
               newTable.Mode[0].value, newTable.Constellation[0].value, newTable.SymbolRate[0].value);
        newTable = oldTable;
        return VK_ERR_PARAMS;
    }

    g_isSetQamPara.store(1);
    g_u32ParamsBuf.fill(Parameter_Common{0, 0});
    const QamPairs oldPairs = QAM_PairsOf(oldTable);
    const QamPairs newPairs = QAM_PairsOf(newTable);
    U32 changed = 0;
    for (U32 index = 0; index < kQamPairs; ++index) {
        if (oldPairs[index].value == newPairs[index].value) {
            continue;
        }
        if (changed >= kQamMaxChangedPairs) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "QAM Parameter Over Flow.\n\n");
            newTable = oldTable;
            g_isSetQamPara.store(0);
            return kQamParamsOverflow;
        }
        g_u32ParamsBuf[changed++] = newPairs[index];
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "ChangeParamNum = %d\n\n", static_cast<int>(changed));
    U32 link = VK_160TUART_SUCCESS;
    if (changed > 0) {
        link = UartComm_WriteMulti(g_u32ParamsBuf.data(), changed);
    }
    g_isSetQamPara.store(0);

    QAM160T_ProgramChannels(newTable, *rateWord);
    const U32 saved = QAM_SaveParams();
    if (link != VK_160TUART_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Send Parameters To 160T Fail (%u).\n\n", link);
        return VK_ERR_CONFIG_TIMEOUOT;
    }
    return saved;
}

}  // namespace hx
