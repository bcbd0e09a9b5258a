// Conflict resolution: programs and PIDs of several input cards land in one
// output stream, so their output service IDs, PIDs and (ATSC) major/minor
// channel numbers can clash. Resolution renumbers the output values of each
// stream until none clash; the input values (u16OldServiceID, u16OldPMTPID,
// u16OldPCRPID, u16OldPID) never change. Also the operator's PID check, which
// the web edits of the temporary model use.
//
// Callers: the apply pipeline (TSP_MuxProcess, its first step) on the live
// model, and the web edits through TSP_CheckOutputPidConflict. Runs in the
// caller's thread under the model lock; the functions that use the PID-use
// map s_aru8PidUseFlag take the lock themselves, so two uses never overlap.
//
// Rules (each stream apart, in pool order, skipping records not in use and
// pass-through streams):
//   - service IDs: programs in chain order; the first holder of a value keeps
//     it, a later one takes the lowest free value from 1. 0 marks the NIT in
//     a PAT, so it is never an output value: a program with 0 is renumbered.
//   - PIDs, visited program by program in chain order (PMT, PCR, per ES its
//     ES-level ECMs then the ES, then the program ECMs), then the EMM PIDs,
//     then the other PIDs. A record keeps its PID unless a record of another
//     stream of packets that it sees holds it; it then takes the first free
//     PID from 0x33 up to 0x1FFE (none: 0xC0009). A record sees every program
//     up to and including its own (so inside a program the record visited
//     earlier gives way), EMM and other PIDs see all programs, EMMs before
//     them, and other PIDs also the other PIDs before them.
//   - a stream of packets is one source slot, source channel and input PID;
//     its records, whatever their kinds, never clash with each other (so a
//     second run changes nothing), and a renumbered record takes along the
//     records of its stream that move with it: a PCR or ES the PCRs and ESs,
//     an ECM, EMM or other PID those of its own kind.
//   - program and EMM records never keep 0x0000-0x001F or 0x1FFF, which carry
//     the PSI/SI tables and null packets; other PIDs keep such values (they
//     carry passed-through tables) unless another record holds them. A PCR
//     of 0x1FFF means the program has none: it never clashes and never moves
//     with an ES. In ATSC mode 0x1FFB (the PSIP base PID) is always taken.
//   - a program's PCR PID is where its PCR record is routed: before the PID
//     pass each program with a PCR record takes that record's output PID, so
//     the PMT never names a PCR PID that carries nothing.
//   - ATSC channel numbers: programs last to first; one whose pair is above
//     1023 or held by another program takes the first pair no program holds
//     (none: 0xC0019); each program's u16ChannelTSID becomes its stream's
//     transport stream ID. So the program earliest in the chain keeps a pair.
// Changes made before a failure stay.
//
// Codes: 0xC0000 bad input, 0xC0009 no free PID, 0xC0019 no free channel
// pair, the walkers' codes (0xC0008 for a chain over 300).
#pragma once

#include <vector>

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

constexpr U32 kTspErrNoFreePid = 0xC0009;
// The PID-use map functions need a buffer of one byte per PID, 0 to 0x1FFF.
constexpr U16 kPidUseListSize = 8192;

// The one record under test.
typedef struct PidMuxInfo_S {
    PIDTYPE_E ePidType;
    U16 u16OutPutOffest;     // program index for a PMT or PCR, else the PID record's index
    U16 u16ProgramOffest;    // owning program, 0xFFFF for EMM and other PIDs
    U8 u8SourceSlotID;
    U16 u16SourceChannelID;
    U16 u16InputPid;         // u16OldPMTPID, u16OldPCRPID or u16OldPID
    U16 u16NewOutPutPid;     // u16PMTPID, u16PCRPID or u16PID
    U32 u32Rvd;
} PidMuxInfo_t;

// Resolution of the live model (takes the model lock). 0 or the first failing
// step's code; streams not yet visited stay as they are.
U32 TSP_ConflictProcess();

// The output values resolution may change (per program its service ID, PMT
// and PCR PIDs, channel pair and channel TSID; per PID record its PID), taken
// before resolution so an apply refused after it can put them all back.
class ConflictSnapshot {
public:
    // Throws std::bad_alloc when the copy cannot be made.
    explicit ConflictSnapshot(const Output_TSInfo& model);
    // Puts the values back into the pools they were taken from (pools only
    // ever grow; records added since keep theirs).
    void Restore(Output_TSInfo* model) const;

private:
    struct ProgramValues {
        U16 serviceId, pmtPid, pcrPid, major, minor, channelTsId;
    };
    std::vector<ProgramValues> programs_;
    std::vector<U16> pids_;
};

// One stream of any model (the caller holds the lock for a shared one).
U32 TSP_AddOutputTSHandleServID(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS);
U32 TSP_AddOutputTSHandlePid(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS);
U32 TSP_AddOutTSHandleChannelNum(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);

// The same PID pass record by record, rebuilding the whole use map for each
// record as TSP_GetPidUseListByIndex defines it. TSP_AddOutputTSHandlePid
// keeps the map up to date instead and gives exactly the same result.
U32 TSP_AddOutputTSHandlePidPerRecord(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS);
// One program's records (PMT, PCR, ES-level ECMs and ESs, program ECMs) and
// one record, each with a freshly built map.
U32 TSP_AddOutputProgramHandlePid(U16 u16OutputTSIndex, U16 u16ProgramOffset, Output_TSInfo* pstParamTS);
U32 TSP_AddOutputPidHandlePid(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16ProgramOffset, U16 u16PidOffset,
                              Output_TSInfo* pstParamTS);
// One program's ATSC pair, against the pairs a walk of its stream finds; the
// stream pass above keeps the pairs in a map instead and gives what calling
// this for every program, last to first, gives.
U32 TSP_AddOutProgHandleChannelNum(U16 u16OutTSIndex, U16 u16ProgramOffset, Output_TSInfo* pstParamTS);

// Fills the description of a record: from the program at u16PidOffset for a
// PMT or PCR, else from the PID record there, whose type must be ePidType
// (0xC0000 otherwise, as for an index out of range).
U32 TSP_GetPidMuxInfo(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16PidOffset, const Output_TSInfo* pstParamTS,
                      PidMuxInfo_t* pstPidMuxInfo);
// The index against the program count (PMT, PCR) or the PID count. 0 / 0xC0000.
U32 TSP_CheckOutPidInfo(PIDTYPE_E ePidType, U16 u16PidOffset, const Output_TSInfo* pstParamTS);

// PID-use maps into aru8PidList (1 = in use), cleared first; a buffer shorter
// than 8,192 bytes gives 0xC0000. ByIndex: what the record sees during
// resolution. ByOutputTsIdex: every PID of the stream but those of the
// record's own stream of packets.
U32 TSP_GetPidUseListByIndex(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutTSIndex, U16 u16BuffLen,
                             const Output_TSInfo* pstParamTS, U8* aru8PidList);
U32 TSP_GetPidUseListByOutputTsIdex(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutTSIndex, U16 u16BuffLen,
                                    const Output_TSInfo* pstParamTS, U8* aru8PidList);

// Writes a new output PID to the record and to every record of its stream of
// packets that moves with it (a PCR or ES: the PCRs and ESs of that stream;
// an ECM, EMM or other PID: the records of its own kind). 0; 0xC0000 for a
// PID above 0x1FFE.
U32 TSP_ModifyOutputTSNewPid(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutTSIndex, U16 u16NewPid,
                             Output_TSInfo* pstParamTS);
U32 TSP_ModifyBroadcastPid(U16 u16OutTSIndex, const PidMuxInfo_t* pstPidMuxInfo, U16 u16NewPid,
                           Output_TSInfo* pstParamTS);

// *pbIsConflict = 1 when another stream of packets of the stream holds u16NewPid.
U32 TSP_CheckPidConflict(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutputTSIndex, U16 u16NewPid,
                         const Output_TSInfo* pstParamTS, BOOL* pbIsConflict);

// The operator's PID change of one record (the PMT or PCR of the program at
// u16PidOffset, else the PID record there). Held by another stream of packets:
// *pu8Flag = 2, nothing changes, 0. Else the PID is written as
// TSP_ModifyBroadcastPid does and its result returned (*pu8Flag untouched).
// 0xC0000 for a PID above 0x1FFE, a program or EMM PID of 0x0000-0x001F, or a
// bad index or type.
U32 TSP_CheckOutputPidConflict(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16PidOffset, U16 u16NewPid,
                               Output_TSInfo* pstParamTS, U8* pu8Flag);

}  // namespace hx
