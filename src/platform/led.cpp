#include "platform/led.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "chassis/ipcomm.h"
#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "core/thread_util.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "platform/board.h"
#include "platform/fpga_reg.h"
#include "platform/gpio.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U8 kLedRed = 0;
constexpr U8 kLedGreen = 1;
constexpr U8 kLedGreenHardware2 = 2;
constexpr U8 kLedOff = 3;
constexpr std::uint64_t kBlinkMicros = 1'000'000;
constexpr std::uint64_t kMonitorPeriodMicros = 5'000'000;
constexpr U16 kNoStream = 0xFFFF;

std::atomic<U8> s_LEDfresh_flag{0};

// Threads that have been counted as running and not yet ended, so a waiter
// can tell when the last of them is gone.
class RunningThreads {
public:
    void Started() {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    void Ended() {
        std::lock_guard lock(mutex_);
        --running_;
        ended_.notify_all();
    }
    void WaitNone() {
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [this] { return running_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int running_ = 0;
};

// Never destroyed: the detached threads may still wait on them while the
// process exits, and destroying a condition variable with a waiter hangs.
RunningThreads& Blinkers() {
    static auto* blinkers = new RunningThreads();
    return *blinkers;
}
RunningThreads& Monitors() {
    static auto* monitors = new RunningThreads();
    return *monitors;
}
std::atomic<bool> s_monitorStop{false};

void* Blink(void (*light)(), const char* endText) {
    do {
        light();
        TheClock().SleepMicros(kBlinkMicros);
        FPGA_LEDOut();
        TheClock().SleepMicros(kBlinkMicros);
    } while (s_LEDfresh_flag.load() != 0);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "%s", endText);
    Blinkers().Ended();
    return nullptr;
}

U32 StartBlinker(ThreadEntry entry, const char* name) {
    s_LEDfresh_flag.store(1);
    Blinkers().Started();
    if (const int error = Thread_StartDetached(entry, nullptr); error != 0) {
        Blinkers().Ended();
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "%s thread create error :%s(errno: %d)\n", name, std::strerror(error), error);
        return VK_ERR_PIN_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "%s create successfully!\n", name);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "%s thread detach successfully!\n", name);
    return VK_SUCCESS;
}

void Report(U8 report) { IPComm_SendData2Slot(kBackBoardSlot, IPCOMM_SEND_INDSTATUS, &report, 1); }

}  // namespace

void FPGA_Control_LED(U8 u8LedStatus) { REG_Write(kRegLed, u8LedStatus); }

void FPGA_LEDRedLight() { FPGA_Control_LED(kLedRed); }

void FPGA_LEDGreenLight() { FPGA_Control_LED(PIN_GetHWVerSion() == 2 ? kLedGreenHardware2 : kLedGreen); }

void FPGA_LEDOut() { FPGA_Control_LED(kLedOff); }

void* FPGA_LEDRedfresh(void*) { return Blink(FPGA_LEDRedLight, "Web Star! Stop Red LED Fresh and Set LED Green \n"); }

U32 FPGA_LEDRedfresh_Start() { return StartBlinker(FPGA_LEDRedfresh, "LEDRedfresh"); }

void FPGA_LEDfresh_Stop() { s_LEDfresh_flag.store(0); }

void FPGA_LEDfresh_WaitEnded() { Blinkers().WaitNone(); }

bool FPGA_LEDfresh_IsSet() { return s_LEDfresh_flag.load() != 0; }

LedPassDecision LED_DecidePass(std::span<const Output_WebTSInfo* const> views) {
    LedPassDecision decision;
    for (std::size_t channel = 0; channel < views.size(); ++channel) {
        const Output_WebTSInfo* view = views[channel];
        if (view == nullptr) {
            continue;
        }
        if (view->u32TotalBitRate != 0 && view->u32EffectiveBitRate <= kLedNoEffectiveRate) {
            decision.redChannels.push_back({static_cast<U16>(channel), LedAlarm::NoEffectiveRate});
        } else if (view->bOverFlow != 0) {
            decision.redChannels.push_back({static_cast<U16>(channel), LedAlarm::Overflow});
        }
    }
    decision.allNormal = decision.redChannels.empty();
    return decision;
}

bool LED_MonitorPass() {
    const U32 channels = BMN_GetOutputChannelNum();
    std::vector<Output_WebTSInfo> filled(channels);
    std::vector<const Output_WebTSInfo*> views(channels, nullptr);
    {
        // The views are filled under the model lock; the decision and the
        // report to the back board come after it is released.
        TSP_ModelLock lock;
        Output_TSInfo* model = TSP_GetTSParam();
        for (U32 channel = 0; channel < channels; ++channel) {
            U16 streamIndex = kNoStream;
            if (TSP_GetOutputTSIndexByTS(static_cast<U16>(channel), &streamIndex) != 0) {
                HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_TSPROCESS, "TSP_GetOutputTSIndexByTS return error\r\n\n");
                return false;
            }
            if (streamIndex == kNoStream) {
                continue;
            }
            if (TSP_SendTSInfoToWeb(static_cast<U16>(channel), &filled[channel], model) != 0) {
                HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_TSPROCESS, "TSP_SendTSInfoToWeb return error\r\n\n");
            }
            views[channel] = &filled[channel];
        }
    }

    const LedPassDecision decision = LED_DecidePass(views);
    for (const LedRedChannel& red : decision.redChannels) {
        FPGA_LEDOut();
        FPGA_LEDRedLight();
        Report(kLedReportAlarm);
        if (red.enAlarm == LedAlarm::NoEffectiveRate) {
            HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS,
                   "RF Output Channel[%d] has TotalBitRate but not EffectiveBitRate, Set Status LED Red!!!\n", red.u16Channel);
        } else {
            HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "RF Channel[%d] OverFlow, Set Status LED Red!!!\n", red.u16Channel);
        }
    }
    if (decision.allNormal) {
        FPGA_LEDOut();
        FPGA_LEDGreenLight();
        Report(kLedReportNormal);
        HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "Input Channel normal\n");
    }
    return true;
}

void* LED_CtrlParamsRefresh(void*) {
    FPGA_LEDfresh_Stop();
    FPGA_LEDfresh_WaitEnded();
    while (LED_MonitorPass()) {
        TheClock().SleepMicros(kMonitorPeriodMicros);
        if (s_monitorStop.load()) {
            break;
        }
    }
    Monitors().Ended();
    return nullptr;
}

U32 LED_TaskMonitoring() {
    s_monitorStop.store(false);
    Monitors().Started();
    if (Thread_StartDetached(LED_CtrlParamsRefresh, nullptr) != 0) {
        Monitors().Ended();
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "LED control thread create error\n\n");
        return VK_ERR_PIN_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "LED control create successfully!\n\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "LED control pthread detach successfully!\n\n");
    return VK_SUCCESS;
}

void LED_MonitorRequestStop() { s_monitorStop.store(true); }

void LED_MonitorWaitEnded() { Monitors().WaitNone(); }

}  // namespace hx
