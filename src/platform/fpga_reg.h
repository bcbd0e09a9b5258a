// Main-FPGA register window: register i at byte offset 16·i of a 1 MiB window,
// and the named register operations that do not belong to a bigger block (slot
// number, logic version, the second-FPGA UART set-up, the SI insertion buffer).
//
// Callers: every module that touches the main FPGA, from any thread. REG_Map
// (through FPGA_Init, first thing at start-up) attaches the back end: the
// card's physical mapping, unless the program's start-up handed in another
// source (the simulated board does, sim/sim_board.h), so nothing here knows the
// simulator.
//
// Lock: g_reg_mutex is held around every single word read or written, and
// around attaching a back end. Sequences of writes (strobes, the SI record,
// meter set-up) are not atomic as a whole; the meter sequences have their own
// lock (platform/fpga_meter.h).
#pragma once

#include <memory>
#include <mutex>

#include "core/types.h"
#include "platform/register_bus.h"

namespace hx {

// The register map as this application uses it.
constexpr U32 kRegFpgaVersion = 0;      // read: logic (FPGA image) version word
constexpr U32 kRegSlotNumber = 16;       // read: this board's chassis slot
constexpr U32 kRegLed = 18;              // write: 0 red, 1 green, 2 green on hardware 2, 3 off

// Byte UART towards the 160T (32-43).
constexpr U32 kRegUartReset = 32;
constexpr U32 kRegUartReceiveReset = 33;
constexpr U32 kRegUartReceivePop = 34;   // 1 then 0 pops the received byte
constexpr U32 kRegUartReceiveByte = 35;
constexpr U32 kRegUartReceiveEmpty = 37; // bit 0: receive FIFO empty
constexpr U32 kRegUartTransmitReset = 40;
constexpr U32 kRegUartTransmitPush = 41; // pulse 0, 1, 0 sends register 42
constexpr U32 kRegUartTransmitByte = 42;
constexpr U32 kRegUartTransmitFull = 43; // bit 0: transmit FIFO full

// Configuration port of the 160T (192-196).
constexpr U32 kRegConfigControl = 192;   // 1 starts a load, 0 releases the port
constexpr U32 kRegConfigStatus = 193;    // bit 0 ready, bit 1 done, bit 2 error
constexpr U32 kRegConfigLength = 194;    // bitstream length in bytes
constexpr U32 kRegConfigData = 195;      // four bytes per write, first in bits 31-24
constexpr U32 kRegConfigEnd = 196;       // end strobe 0, 1, 0
constexpr U32 kConfigStatusReady = 1u << 0;
constexpr U32 kConfigStatusDone = 1u << 1;
constexpr U32 kConfigStatusError = 1u << 2;

// Network block.
constexpr U32 kRegEthPhyReset = 256;
constexpr U32 kRegMac0High = 265;
constexpr U32 kRegMac0Low = 266;
constexpr U32 kRegOwnIpFilter = 269;
constexpr U32 kRegIp0Restart = 288;
constexpr U32 kRegIp0Stream289 = 289;
constexpr U32 kRegIp0Port = 290;
constexpr U32 kRegIp0Address = 291;
constexpr U32 kRegIp0Stream305 = 305;
constexpr U32 kRegIp0Stream308 = 308;
constexpr U32 kRegGateway = 358;         // write: default gateway of eth0
constexpr U32 kRegMac1High = 521;
constexpr U32 kRegMac1Low = 522;

// IP monitor output (port 1).
constexpr U32 kRegMonitorSourceIp = 523;
constexpr U32 kRegMonitorSourcePort = 524;
constexpr U32 kRegMonitorStrobe = 544;
constexpr U32 kRegMonitorMode = 545;     // what the next strobe of 544 loads:
constexpr U32 kMonitorModeDestination = 0x200;  //   the destination address from 547
constexpr U32 kMonitorModeMacAndPort = 0x300;   //   the MAC from 546 and 547's top half, the port from its low half
constexpr U32 kRegMonitorMac = 546;
constexpr U32 kRegMonitorData = 547;
constexpr U32 kRegMonitorStop = 565;
constexpr U32 kRegMonitorMaxRate = 845;

// SI insertion buffer (801-804): one 49-word record per commit.
constexpr U32 kRegSiCommit = 801;
constexpr U32 kRegSiWordStrobe = 802;
constexpr U32 kRegSiWordIndex = 803;
constexpr U32 kRegSiWordData = 804;
constexpr U32 kSiRecordWords = 49;

// Rate meters (832-848).
constexpr U32 kRegMeterEnable = 832;
constexpr U32 kRegPidMeterChannel = 833;
constexpr U32 kRegRateMeterGate = 834;
constexpr U32 kRegPidCcClear = 835;
constexpr U32 kRegPidMeterPid = 836;
constexpr U32 kRegPidMeterCount = 837;
constexpr U32 kRegPidMeterCc = 838;
constexpr U32 kRegChannelMeterChannel = 839;
constexpr U32 kRegChannelMeterConfigured = 840;
constexpr U32 kRegChannelMeterEffective = 841;
constexpr U32 kRegMeterMode = 848;

// Per-channel rate words (864-870).
constexpr U32 kRegRateRestartStrobe = 864;
constexpr U32 kRegRateRestartChannel = 865;
constexpr U32 kRegRateWordStrobe = 868;
constexpr U32 kRegRateWordChannel = 869;
constexpr U32 kRegRateWord = 870;

// Statically initialised, so a register access before any thread starts is safe.
extern std::mutex g_reg_mutex;

// Attaches a back end: what the source handed in gives (the simulated board
// powers on a fresh main FPGA for each call), else, on the card profile, the
// physical window of Profile().registerDevice ("Can't open /dev/mem." / "Can't
// map the memory to user space." on failure, the window staying unmapped). Off
// the card, with no source, the window stays unmapped and no device is opened.
void REG_Map();
bool REG_IsMapped();

// The seam for the program's start-up, which sets it before FPGA_Init: a
// source of register back ends that REG_Map uses instead of the card's window.
// nullptr gives the card's window back.
using RegisterBusSource = std::shared_ptr<RegisterBus> (*)();
void REG_SetBusSource(RegisterBusSource source);

// One register word under g_reg_mutex. Before a back end is attached they log
// "Reg Must Map Success" and do nothing (a read leaves *pu32Value as it was);
// an index of 65,536 or more is refused and logged. 0, or VK_ERR_PARAMS /
// VK_ERR_FAILURE when nothing was accessed.
U32 REG_Write(U32 u32Index, U32 u32Value);
U32 REG_Read(U32 u32Index, U32* pu32Value);

// The seam itself: attach a back end (nullptr: unmapped again) and get the one
// attached. Tests use them to reach the simulated board or to start clean.
void REG_AttachBus(std::shared_ptr<RegisterBus> bus);
std::shared_ptr<RegisterBus> REG_GetBus();

// Maps the window, sets the LED off (18 = 3), 848 = 2, 832 = 1.
void FPGA_Init();

U32 FPGA_GetSlotID();
// Reads register 0 into *pu32value; a null pointer is logged and ignored.
void FPGA_GetLOGVerSion(U32* pu32value);
// Serial FIFO set-up of the 160T link: 32 = 0, 33 pulsed 1, 0, 40 pulsed 1, 0.
void FPGA_UART_Init();
// Loads one SI record into the insertion buffer and commits it: for each word
// i, 803 = i, 804 = word, 802 pulsed 0, 1, 0; then 801 pulsed 0, 1, 0.
// 0; 1 for a null pointer (nothing written).
U32 FPGA_Comm_SendData(const U32* pu32Data, U32 u32DataLen);

}  // namespace hx
