// The QAM parameter set towards the hardware: the start-up send of the whole
// table, the RF DAC switch, the single-carrier test mode, the channel rates of
// the last status poll, and the thin wrappers over the 160T link that the web
// application's engineering pages use.
//
// Callers: start-up (main thread), the web application and the SNMP agent
// (their threads; neither is built yet, so the single-carrier mode, the total
// rate and the wrappers have no other caller until then). Applying an edit is in platform/qam_apply.h, the status
// poll thread in platform/qam_poll.h; this header brings both in. The tables
// are read and written under the QAM apply lock; each 160T exchange holds the
// link's lock (platform/z160t_uart.h).
#pragma once

#include "core/types.h"
#include "platform/qam_apply.h"
#include "platform/qam_poll.h"

namespace hx {

// 160T registers the start-up send sets to 0xFF00 after the table.
constexpr U32 kQam160TStartRegister = 272;
constexpr U32 kQam160TStartRegisterCount = 4;
constexpr U32 kQam160TStartRegisterValue = 0xFF00;
// The wait between the IP0 set-up and the send.
constexpr std::uint64_t kQamStartupWaitMicros = 5'000'000;

// Start-up step 18: FPGA_Set_IP0, 5 s, the first 197 pairs of the live table
// as one burst ("ChangeParamNum = 197"), the rate words in their start-up
// form (0 and a log line when group 0 has none), then 160T registers 272-275
// = 0xFF00. 0; 2 when the 160T did not take everything (logged).
U32 UartComm_ConfigQAM160T();

// Start-up step 24: RF DAC on (WRITE9119 {1, 8}) when any of channels 0-15 is
// enabled, else off (CLOSE9119 {1, 72}). 0, or the link's code.
U32 IsChannelenableConfig9119();

// Stores SingleMode in the live table and saves it; nothing goes to the 160T.
// 0, or 1 when the file could not be written (the live table keeps the mode).
U32 QAM_SetSingleMode(U8 mode);

// A channel's rates from the last status poll, kbit/s: the total rate in
// status word 16 + channel / 2, the effective one in word 32 + channel / 2,
// the high half for an odd channel and the low half for an even one, × 1504
// / 1000. 0; 4 for a null pointer or a channel above 15.
U32 GetChannel_BiteRate(U8 u8Channel, U32* pu32TotalBitRate, U32* pu32EffectiveBitRate);
U32 GetChannel_TotalBiteRate(U8 u8Channel, U32* pu32TotalBitRate);

// Wrappers over the link. The writes give 0 on success, else the link's code;
// the reads give the link's code (10000 on success).
U32 QAM160TComm_WriteFPGA(U32 reg, U32 value);
U32 QAM160TComm_ReadFPGA(U32 reg, U32* value);
U32 QAM160TComm_Write9119(U32 reg, U32 value);
U32 QAM160TComm_Read9119(U32 reg, U32* value);

// The 160T's PID continuity counter: 160T register 80 = channel, 81 = PID,
// then register 83's low 8 bits. 0 with *pu16CcNum set; the link's code (the
// count untouched) when an exchange failed; 4 for a null pointer.
constexpr U32 kQam160TPidChannelRegister = 80;
constexpr U32 kQam160TPidRegister = 81;
constexpr U32 kQam160TPidClearRegister = 82;
constexpr U32 kQam160TPidCountRegister = 83;
U32 QAM160TComm_Get160TPIDCc(U8 u8Channel, U16 u16Pid, U16* pu16CcNum);
// 160T register 82 written 0, 1, 0: 0, or the first failing write's code.
U32 QAM160TComm_Clear160TPIDCc();

}  // namespace hx
