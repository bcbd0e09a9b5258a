// SI packet carousel: the queued PSI/SI tables of every output stream kept as
// ready-made 196-byte insertion records, sent to the main FPGA on every tick
// of the PSI interval by the SI packet sender thread, with the time tables
// (ATSC STT, DVB TDT and TOT) on their own periods.
//
// Threads: the table builders queue in the caller's thread (inter-board
// server, HTTP, start-up); the sender thread (SIPacket_Service) sends.
//
// SIMutex guards the carousel and the continuity counters. It is statically
// initialised: start-up's first apply queues before SIP_Init starts the
// sender. The sender holds it for a whole tick. Order: model lock, then
// SIMutex, then g_reg_mutex; SSD_AddBroadcastSI takes the model lock (to find
// the stream's channel) before SIMutex. The time slots belong to the sender
// thread alone.
//
// Continuity counters run per output channel and PID: every packet sent on a
// (channel, PID) takes the next value, whichever table it belongs to (two PMTs
// on one PID, the STT on 0x1FFB, TDT and TOT on PID 20), and the count carries
// on when the carousel is emptied, so a receiver never sees a jump or a repeat.
//
// Codes: 0xE0000 bad input, 0xE0001 sections that do not add up, 0xE0002 a
// limit of the carousel.
#pragma once

#include <mutex>

#include "core/ts_pids.h"
#include "core/types.h"
#include "platform/fpga_reg.h"

namespace hx {

extern std::mutex SIMutex;

constexpr U32 kSiErrInput = 0xE0000;
constexpr U32 kSiErrData = 0xE0001;
constexpr U32 kSiErrFull = 0xE0002;

constexpr U16 kSiRecords = 3000;          // insertion records of all queued tables
constexpr U16 kSiTables = 3000;           // queued tables
constexpr U16 kSiStreamHeads = 800;       // one chain per output stream index
constexpr U16 kSiTimeSlots = 800;
constexpr U16 kSiRecordBytes = 196;
constexpr U8 kSiTableMaxRecords = 30;
constexpr U8 kSiTableMaxOtherSections = 199;
constexpr U16 kSiEnd = 0xFFFF;
constexpr U16 kSiPidCount = 8192;
constexpr U8 kSiChannels = 16;

constexpr U16 kPsiIntervalDefaultMs = 100;

// Head of both pool entries.
struct SIList_t {
    U8 u8ValidFlag;
    U8 aru8Res[3];
    U16 u16Index;
    U16 u16NextIndex;
};

// One insertion record: the 196 bytes as big-endian words.
struct TSPacketInfo_t {
    SIList_t stList;
    U32 aru32TSPacket[kSiRecordWords];
};

// One queued table.
struct SIPacketInfo_t {
    SIList_t stList;
    U16 u16OutTSIndex;
    U16 u16TSPacketIndex;           // its first record
    U16 u16PID;
    U16 u16SISendSection;           // rotation counter
    U8 u8TotalSectionNum;
    U8 u8OverOneSectionTotalNum;    // sections whose section_number is not 0
    U8 u8PacketNum;                 // records of the whole table
    U8 u8SendFlag;
    U8 u8TSContinueCount;
    U8 u8Res;
};

struct SIPacket_t {
    U8 u8SendInterval;
    U16 u16TSPacketNum;   // records in use
    U16 u16SIInfoNum;     // tables in use
    TSPacketInfo_t arstTSPacket[kSiRecords];
    SIPacketInfo_t arstSIInfo[kSiTables];
    U16 aru16OutTSSIInfo[kSiStreamHeads];
};

// Starts the tick timer at the PSI interval and the sender thread. 0, or 1282
// when the thread cannot be created or detached.
U32 SIP_Init();

// Empties the carousel (under SIMutex); the continuity counters carry on.
void SSD_InitBroadcastSI();
// Queues a buffer of sections laid back to back as one table of a stream on a
// PID. An empty buffer queues nothing. A refused table leaves the carousel as
// it was. 0; 0xE0000 no model, null buffer, a stream index not below the
// stream count or 800, a PID above 0x1FFF; the destination lookup's code;
// 0xE0001 a section running past the buffer; 0xE0002 more than 199 sections
// numbered above 0, 3,000 tables or records in use, more than 30 records.
U32 SSD_AddBroadcastSI(const U8* pu8Section, U16 u16BuffLength, U16 u16OutTSIndex, U16 u16PID);
// One tick of sending; the caller holds SIMutex. A table whose records carry
// sections numbered above 0 sends one section per tick in turn (0, 1, 2, 0 ...).
void SSD_SendBroadcastSI();
// The carousel, for reading under SIMutex (tests, debug).
const SIPacket_t& SSD_GetBroadcastSI();
// Back to the power-on state: carousel empty, continuity counters, time slots
// and the versions of the tables sent (si/table_versions.h) cleared (tests).
void SSD_ResetForTest();

// For the web settings page.
// The PSI interval in ms (a stored 0 reads as 100). Setting 0 keeps the
// current interval (logged, 4); otherwise the tick timer takes the new period.
// Nothing is saved.
U32 TSP_GetPSIInterval(U16* pu16Interval);
U32 TSP_SetPSIInterval(U16 u16Interval);

// Time slots, rebuilt on every time-table send (sender thread).
// Puts one section of at most 183 bytes into a free slot as a record of its
// channel. 0; 0xE0000 bad input; 0xE0002 no free slot.
U32 SSD_AddTimeSection(U8 u8Channel, U16 u16PID, const U8* pu8Section, U16 u16Length);
// STT of every channel (ATSC mode only), built and sent.
U32 SSD_SendTimeSITable();
// TDT and TOT of every channel (DVB mode only), built and sent.
U32 SSD_SendTimeSITableTDTAndTOT();

// The sender's own state across iterations.
struct SIPacketSenderState {
    U32 u32LastTick = 0;
    U32 u32SttTicks = 0;   // ticks since the last STT
    U32 u32TdtTicks = 0;   // ticks since the last TDT and TOT
};
// One iteration of the sender: when the tick counter has changed, send one
// tick under SIMutex, then, when due, the STT (every max(1, 900 / I) ticks)
// and the TDT and TOT (every max(1, 15,000 / I) ticks). The time tables need
// the model lock and only try it: when it is busy they go out on the next
// tick. True when the tick changed.
bool SIPacket_ServiceStep(SIPacketSenderState& state);
// Thread entry: waits for the tick counter to move (Timer_WaitTick), then
// the step, for ever.
void* SIPacket_Service(void* argument);

}  // namespace hx
