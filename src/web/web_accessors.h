// Board state as the web application reads and sets it: one-line wrappers
// over the platform, engine and chassis operations, so the web handlers, the
// JSON settings file and the board MIB reach the board through one place.
// The register and debug wrappers of the engineering pages are in
// web/web_debug.h; the MIB's per-channel rate status is in web/web_status.h.
//
// Callers and threads: the HTTP server thread (web handlers), the SNMP agent
// thread (Web_GetStatus, Web_GetPSIInterval, Web_SetPSIInterval) and the
// thread that writes the JSON settings file. The wrappers take no lock of
// their own: the operations they call take what they need for themselves
// (the bit report the model lock, the single-carrier mode the QAM apply lock,
// the parameter store its semaphore), so a wrapper never locks twice.
#pragma once

#include "core/types.h"

namespace hx {

struct TQAM_Status;
struct TResource_TS;
struct Output_WebTSBitInfo;

// The 160T's last status (temperature and its flag); never null.
TQAM_Status* Web_GetStatus();

// The bit report of one output channel (channel taken to 16 bits); the
// report's code (engine/web_report.h).
U32 Web_GetTSStatus(U32 u32Channel, Output_WebTSBitInfo* pstBitInfo);

// Factory settings from the web: the output model and the QAM settings reset
// and saved. The parameter store's code.
U32 Web_SetFactory();

// The second port's MAC (6 bytes) from the IP monitor settings: 0, or 1 when
// there are none or `pu8Mac` is null.
U32 Web_GetMac1Address(U8* pu8Mac);

// The board reboot from the web (back board asked first); its code.
U32 Web_Reboot();

// The SI carousel's PSI interval in milliseconds. The setter takes it to 16
// bits; 0 keeps the current interval. Nothing is saved.
void Web_GetPSIInterval(U16* pu16Interval);
void Web_SetPSIInterval(U32 u32Interval);

// The board's own resource record; never null.
TResource_TS* Web_GetResourceHandle();

// The board's output channel count (16).
U8 Web_GetOutputChannelNum();

// The board's 20-byte description from its own slot's resource record; the
// resource module's code.
U32 web_GetSelfBoardDescriptor(U8* pu8Descriptor);

// 0 DVB, 1 ATSC.
U8 Web_GetSIMode();

// 1 when the hardware version is above 1 (the newer RF level scale), else 0.
U8 Web_GetPowerLevelType();

// The single-carrier test mode stored and saved (nothing goes to the 160T).
void Web_SetSingleMode(U32 u32Mode);

// 1 when every input board in the chassis can delete a channel's programs.
U8 web_IsAllBoardSupportDelChannelProg();

}  // namespace hx
