// The front-panel status LED (main-FPGA register 18): the red blinker that
// shows "starting", and the monitor that follows the output channels once
// start-up is done.
//
// Threads: the blinker `FPGA_LEDRedfresh` (started by start-up step 5, 1 s red,
// 1 s off, until the monitor stops it) and the monitor `LED_CtrlParamsRefresh`
// (started last by start-up, one pass every 5 s, for ever). Both are detached.
// s_LEDfresh_flag (atomic) is the blinkers' run flag. The monitor stops the
// blinker and waits until it has ended before it sets its first colour, so no
// late "off" of the blinker overwrites the monitor's colour.
//
// A monitor pass is split in two: gathering the views of the output streams
// (output model and web report builders, read without a lock as the rest of
// the system does) and a pure decision over them (LED_DecidePass), then the
// LED writes and the reports to the back board.
#pragma once

#include <span>
#include <vector>

#include "chassis/ipcomm_packet.h"
#include "core/types.h"
#include "engine/web_report.h"

namespace hx {

struct Output_TSInfo;

// Register 18: 0 red, 1 green, 2 green on hardware version 2, 3 off.
void FPGA_Control_LED(U8 u8LedStatus);
void FPGA_LEDRedLight();
// 2 when PIN_GetHWVerSion() is 2, else 1.
void FPGA_LEDGreenLight();
void FPGA_LEDOut();

// Sets the run flag and starts the red blinker thread: 0, or 1537 when the
// thread could not be started.
U32 FPGA_LEDRedfresh_Start();
// Clears the run flag; each blinker ends after its current cycle.
void FPGA_LEDfresh_Stop();
// Blocks until every blinker started so far has ended.
void FPGA_LEDfresh_WaitEnded();
// The run flag as it stands.
bool FPGA_LEDfresh_IsSet();

// Starts the monitor thread: 0, or 1537.
U32 LED_TaskMonitoring();

// Bodies of the threads.
void* FPGA_LEDRedfresh(void* argument);
void* LED_CtrlParamsRefresh(void* argument);

// Report byte sent to the back board with IPCOMM_SEND_INDSTATUS.
constexpr U8 kLedReportNormal = 1;
constexpr U8 kLedReportAlarm = 2;
// A stream with a configured rate counts as carrying nothing at or below this
// effective rate (kbit/s).
constexpr U32 kLedNoEffectiveRate = 199;

enum class LedAlarm : U8 { NoEffectiveRate, Overflow };

struct LedRedChannel {
    U16 u16Channel;
    LedAlarm enAlarm;
    bool operator==(const LedRedChannel&) const = default;
};

struct LedPassDecision {
    // Channels that turn the LED red, in channel order; each is one red
    // action and one alarm report.
    std::vector<LedRedChannel> redChannels;
    // Every channel normal: the LED turns green and "normal" is reported.
    bool allNormal = false;
};

// The decision of one pass. views[ch] is the filled view of channel ch's
// output stream, or null when the channel has no stream (counted normal).
// A stream is red when its total rate is non-zero and its effective rate is
// 199 or less, else when it overflows.
LedPassDecision LED_DecidePass(std::span<const Output_WebTSInfo* const> views);

// One pass of the monitor over the live model: gathers the views, decides,
// sets the LED and reports to the back board (slot 16). False when the output
// stream lookup failed, which ends the monitor.
bool LED_MonitorPass();

// For tests (the card never stops the monitor): ask the monitor to end after
// its current wait, and wait until it has.
void LED_MonitorRequestStop();
void LED_MonitorWaitEnded();

}  // namespace hx
