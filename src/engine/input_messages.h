// Input-card configuration messages: the entry the inter-board dispatcher hands
// each (reassembled) configuration message to, and its handlers, which build
// the live output model from the records the input cards send.
//
// Caller: the inter-board dispatcher, in the inter-board server thread. A
// whole message runs under the model lock (every handler takes it too), so no
// reader ever sees half of one. Nothing reaches the FPGA here: routing and
// PSI/SI change only when the apply command that follows runs TSP_MuxProcess.
//
// Payload: byte 0 the record count N, then N raw records of the command's
// fixed size (model records as in model_records.h, delete records as in
// input_records.h); the monitor message (275) is one MonitorPID_t without a
// count byte. Records arrive unaligned and are copied into zeroed local
// records. Before anything changes every message is checked whole:
//   - 1 + N x size <= length, in 32 bits (0xC0006), N = 0 (0xC0000);
//   - the fields later readers trust, in every record: name lengths <= 32,
//     program-info, SDT-info, ES-info and monitor loop lengths <= 1,024, a
//     descriptor record's u32Length <= 1,024, source slots <= 16, source
//     streams <= 1,023, input PIDs <= 0x1FFF (0xC0000, with an ERROR line
//     naming record and field);
//   - for programs, that none is already in the model (0xC0017).
// A failure after that ends the message with its code; what was placed before
// stays, each record on its chain: a record is stored only once it is linked,
// and an append that would make a chain longer than its walkers accept (300
// programs or PIDs, 299 descriptors or ES-level ECMs) is refused with 0xC0008.
//
// Codes: 0xC0000 input error, 0xC0006 payload shorter than its records,
// 0xC0008 chain full, 0xC0017 repeated program, 0xC0018 pass-through record
// missing, 0xC001F unknown command or PID type, 2054 monitor target missing
// or of another type; lookup and pool-growth codes pass up unchanged.
#pragma once

#include "chassis/ipcomm_packet.h"
#include "core/types.h"

namespace hx {

constexpr U32 kTspErrLength = 0xC0006;
constexpr U32 kTspErrCommand = 0xC001F;

// Applies one message to the live model: 0 or the handler's code; 0xC0000 for
// a null buffer or length 0; 0xC001F for an unknown command; 267 changes
// nothing and gives 0.
U32 TSP_ConstructOutputTS(U8* u8Buffer, IPCOMM_CMD eDataType, U16 u16Length);

// Counted handlers: the records after the count byte, N, and their length.
// 259: a stream per record whose channel has none (an existing one is kept).
U32 TSP_ConstructOutputTSByAddTS(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 260: programs appended to the streams of their channels (created when missing).
U32 TSP_ConstructOutputTSByAddPrograms(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 261: PIDs hung on their owners by type; a record whose owner is missing is
// skipped (ERROR line, its bytes on the console) and the message goes on.
U32 TSP_ConstructOutputTSByAddPIDs(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 262: delete-stream orders, stopping at the first failure.
U32 TSP_ConstructOutputTSByDelTS(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 263, 274, 289: delete orders; a failing order is logged and the rest run. 0.
U32 TSP_ConstructOutputTSByDelProgram(U8* u8Buffer, U16 u16Number, U16 u16Length);
U32 TSP_ConstructOutputTSByDelPID(U8* u8Buffer, U16 u16Number, U16 u16Length);
U32 TSP_ConstructOutputTSByDelDescriptors(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 268: the CAM source (u16CISrcPID, u16SrcCIStreamID) of every PID of the
// record's source and input PID. 0 after the entry checks.
U32 TSP_ConstructOutputTSBySetSCRPIDInfo(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 269 / 270: descrambling on (u8CIFlag 1) or off (255) and the CAM index for
// every program of the record's source and input service ID. 0 after the
// entry checks.
U32 TSP_ConstructOutputTSBySetSCR(U8* u8Buffer, U16 u16Number, U16 u16Length);
U32 TSP_ConstructOutputTSByDelSCRInfo(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 288: a program-info loop longer than 188 bytes, as a descriptor record on
// its program's stream.
U32 TSP_ConstructOutputTSByAddDescriptors(U8* u8Buffer, U16 u16Number, U16 u16Length);
// 275: one MonitorPID_t from byte 0 (no count byte).
U32 TSP_ConstructOutputTSByMonitorPID(U8* u8Buffer, U16 u16Length);

// Pass-through streams, bound to no command code: the first Passthrough_TSStream
// of the records. Add stores a new source or ORs the record's destination
// words into the existing one; delete clears them in the existing one (0xC0018
// when there is none).
U32 TSP_ConstructOutputTSByAddBypassTs(U8* u8Buffer, U16 u16Number, U16 u16Length);
U32 TSP_ConstructOutputTSByDelBypassTS(U8* u8Buffer, U16 u16Number, U16 u16Length);

// Whether the live model holds the program of that input key. 0; 0xC0000 for
// a source slot above 16 or a null out-pointer.
U32 TSP_IsProgramRepeated(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID,
                          BOOL* pbRepeated);

}  // namespace hx
