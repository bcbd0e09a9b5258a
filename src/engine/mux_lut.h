// Routing tables of the main FPGA: the mux table (2,048 entries, one input
// PID of one input stream of one slot to one PID of one output channel) and
// the bypass table (256 entries, a whole input stream to an output channel),
// built from the live model, ordered by source, cleared of duplicates, given
// their same-source words and downloaded through registers 768-772.
//
// A build fills a table aside; the download copies it into the shadow tables
// (kept for the debug print) and writes every entry, then pulses the commit
// register. So the apply pipeline can build both tables, check them, and only
// then download either: the hardware never holds half an apply.
//
// Callers: the apply pipeline, under the model lock (every function that
// reads the model takes it again). Failures are logged at ERROR in module
// TSPROCESS. Codes: 0xC0000 bad input, 0xC0015 a table longer than 2,048,
// 0xC0016 no memory for the work buffers, 0xC0017 more than 256 bypass
// streams, and a failed register write's own code (platform/fpga_reg.h).
#pragma once

#include <array>
#include <vector>

#include "core/ts_pids.h"
#include "core/types.h"

namespace hx {

constexpr U32 kMuxLutEntries = 2048;
constexpr U32 kBypassLutEntries = 256;
constexpr U32 kTspErrLutFull = 0xC0015;
constexpr U32 kRegLutCommit = 768;
constexpr U32 kRegLutStrobe = 769;
constexpr U32 kRegLutIndex = 770;
constexpr U32 kRegLutHigh = 771;
constexpr U32 kRegLutLow = 772;
constexpr U32 kLutMuxSelect = 0x800;
constexpr U16 kLutDropped = 0xFFFF;
// Slot 16 (the back board) as the routing words name it.
constexpr U32 kLutBackBoardSlot = 63;

// A built mux table: destination, source and same-source words, and the PID
// records the build found on a channel without a stream (routed nowhere).
struct MuxLutTable {
    std::array<U32, kMuxLutEntries> dest{};
    std::array<U32, kMuxLutEntries> src{};
    std::array<U32, kMuxLutEntries> same{};
    U32 count = 0;
    std::vector<U32> unrouted;
};
// A built bypass table: bypass and same-source words.
struct BypassLutTable {
    std::array<U32, kBypassLutEntries> word{};
    std::array<U32, kBypassLutEntries> same{};
    U32 count = 0;
};

// The shadow tables: what was last downloaded.
extern U32 aru32slotBuffer0[kMuxLutEntries];
extern U32 aru32slotBuffer1[kMuxLutEntries];
extern U32 aru32slotBuffer2[kMuxLutEntries];
extern U32 aru32slotBypassBuffer0[kBypassLutEntries];
extern U32 aru32slotBypassBuffer1[kBypassLutEntries];

// Build and download (the mux build's unrouted PID records freed in between);
// 0 or the first failing sub-step's code (nothing downloaded when a build
// fails).
U32 TSP_WriteOutputLUTInfo();
U32 TSP_WriteByPassOutputLUTInfo();

// The builds alone: they read the live model and change nothing in it, so a
// caller can refuse the apply after either without a trace.
U32 TSP_BuildOutputLUT(MuxLutTable* pstTable);
U32 TSP_BuildByPassOutputLUT(BypassLutTable* pstTable);
// Frees the PID records a mux build found on a channel without a stream.
void TSP_FreeUnroutedPids(const MuxLutTable& stTable);
// The downloads of a built table: shadows, entries, commit. 0, or the code of
// the first register write that failed (the writes stop there).
U32 TSP_DownloadOutputLUT(const MuxLutTable& stTable);
U32 TSP_DownloadByPassOutputLUT(const BypassLutTable& stTable);

// Sorts the words ascending, stably, the positions moving with them.
// 0xC0000 null; 0 for length 0; 0xC0016 no memory.
U32 TSP_SortSrcInfo(U32* pu32SrcInfo, U16* pu16SrcIndex, U16 u16Length);
// Orders each run of equal source words by destination (positions and
// destinations moving along) and marks with position 0xFFFF every entry whose
// destination equals the next entry's.
U32 TSP_DelSameSrcInfo(U32* pu32DestInfo, U32* pu32SrcInfo, U16* pu16SrcIndex, U16 u16Length);
// 0x100 | (n - 1) for each entry of a run of n equal source words.
U32 TSP_WriteSameSrcNum(U32* pu32SlotBuffer, const U32* pu32SrcInfo, U16 u16Length);
// Download the shadows as they stand. 0 or the failed write's code.
U32 TSP_SendOutputLUT();
U32 TSP_SendByPassOutputLUT();
// Log every non-zero shadow entry, decoded (web debug page).
void TSP_PrintMuxLUT();
void TSP_PrintBypassLUT();

}  // namespace hx
