// Applying the QAM parameter set: the changed pairs to the 160T as one burst,
// the per-channel rate words to the main FPGA (registers 864-870), and the
// save of the table.
//
// Callers: the web application and the SNMP agent (their own threads; neither
// is built yet) through QAM160T_ParamsProcess, start-up through
// UartComm_ConfigQAM160T (platform/qam.h).
//
// Locks: the apply lock (QAM_ApplyLock) makes applies run one after another,
// each with g_u32ParamsBuf and the scratch table to itself. It is recursive:
// a setter holds it across copying the live table into the scratch one,
// editing the live one and calling QAM160T_ParamsProcess, which takes it
// again. It is taken before the 160T link's lock, never after it.
// g_isSetQamPara is 1 while a burst is under way; the status poll skips its
// turn then.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "core/types.h"
#include "platform/qam_params.h"

namespace hx {

constexpr U32 kQamParamsBufPairs = 1100;
// An edit may change at most this many pairs.
constexpr U32 kQamMaxChangedPairs = kQamParamsBufPairs - 1;
constexpr U32 kQamParamsOverflow = 0x90004;
// Set on a channel's rate word when the channel is enabled.
constexpr U32 kQamRateWordEnable = 0xF8000000;
// A rate word lives in the bits under kQamRateWordEnable.
constexpr U32 kQamRateWordLimit = 1u << 27;
// Pause after restarting an enabled channel.
constexpr std::uint64_t kQamChannelRestartMicros = 60'000;

extern std::atomic<U32> g_isSetQamPara;
// The pairs of one burst; guarded by the apply lock.
extern std::array<Parameter_Common, kQamParamsBufPairs> g_u32ParamsBuf;

std::recursive_mutex& QAM_ApplyLock();
using QamApplyGuard = std::lock_guard<std::recursive_mutex>;

// Payload rate of group 0 in kbit/s, in 64 bits. Mode A and mode C (whose
// Annex C framing is the same 204/188 as Annex A's): (188 × constellation +
// 752) × (symbol rate / 1000) / 204, truncating at each division; mode B:
// 38,810 for constellation 1, else 26,970. nullopt for a mode above 2.
std::optional<std::uint64_t> QAM160T_PayloadRate(const TParameter_QAM& table);

// The channel rate word of group 0, with x = rate / 1000.0 − 0.05: the apply
// computes 40608.0 / x × 5 × 7 in double; the start-up send 35 × (40608.0 / x
// truncated). nullopt when the word would not be finite, positive and below
// 2^27 (a mode above 2, or a payload of 60 kbit/s or less): such a setting
// cannot be programmed.
enum class QamRateWordForm { Apply, Startup };
std::optional<U32> QAM160T_RateWord(const TParameter_QAM& table, QamRateWordForm form);

// Programs channels 0-15 in order: a channel whose ChannelEnable is not 1
// gets 869 = channel, 870 = 0, 868 pulsed; an enabled one 869 = channel, 870
// = word | 0xF8000000, 868 pulsed, 865 = channel, 864 pulsed, then 60 ms.
// Each write of 869 and 870 is echoed on standard output as
// "addr[0x%x],data[0x%x]\n".
void QAM160T_ProgramChannels(const TParameter_QAM& table, U32 u32RateWord);

// Applies an edit: pstNew is the edited live table, pstOld its values before.
// The pairs whose value changed go to the 160T in one burst, the rate words
// of all 16 channels are rewritten and the live table is saved. Results:
//   0        applied and saved;
//   1        applied, but the parameter file could not be written (a full
//            or read-only data partition); the live table keeps the edit;
//   2        the 160T did not take the whole burst ("Config timeout!"); the
//            rate words were still written and the table saved;
//   4        a null argument; or a group-0 setting without a rate word, in
//            which case the new table is restored from the old one and
//            nothing is sent or saved;
//   0x90004  more than 1,099 changed pairs: the same restore, nothing sent
//            or saved.
U32 QAM160T_ParamsProcess(TParameter_QAM* pstOldQAMParams, TParameter_QAM* pstNewQAMParams);

// Saves the live table through the parameter store (PARAMS_SetQAMParams) and
// returns its result.
U32 QAM_SaveParams();

// Tests watch the saves of this module through this (empty: none). The card
// never sets it.
void QAM_SetSaveObserver(std::function<void(const TParameter_QAM&)> observer);

}  // namespace hx
