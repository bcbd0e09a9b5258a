// NIT storage: each output stream's NIT kept as raw sections (at most 1,024
// bytes each) in TSTable records chained from u16NITIndex of its stream, and
// the operations around that chain: taking a NIT an input card sends (data
// type 273), queueing it for broadcast on PID 16, version and network_id, the
// board's network descriptor, the cable delivery system descriptor and the
// automatic NIT, deletion, and the export and import buffers of the web
// application's NIT file.
//
// Callers: the input-card messages (inter-board server thread, live model),
// the SI regeneration (apply pipeline), the routing tables, the web NIT pages
// (HTTP thread, temporary model). Every operation takes the model lock itself
// (it is recursive); the functions handed a model expect it held. Failures are
// logged at ERROR in module TSPROCESS.
//
// A failed store leaves the stream's previous chain as it was: the new
// records are reserved and checked before the old chain is released.
#pragma once

#include <span>
#include <vector>

#include "core/ts_pids.h"
#include "core/types.h"
#include "engine/model_records.h"
#include "si/section_codec.h"

namespace hx {

constexpr U8 kNitTableType = 2;
constexpr U32 kTspTableRecordSize = sizeof(TSTable);

// Result codes beside the engine's (engine/model_records.h).
constexpr U32 kNitErrLength = 0xC0006;       // message shorter than its records
constexpr U32 kNitErrNothingDone = 0xC001E;  // nothing to delete or edit, or too long
constexpr U32 kNitErrNoStream = 0xC001F;     // a record's channel has no output stream

// The chains a stored table can head.
enum class TableChainHead { Nit, Tot };

// A fresh table record: version 0, in use, 0xFFFF in its own and next index,
// PID, table ID and section numbers; type and user flag untouched. 0, or
// 0xC0000 for a null record.
U32 TSP_InitOneOutputTable(TSTable* pstTable);

// Makes `records` the stream's chain (in order; none: no chain): reserves the
// free records, releases the old chain, writes each record as fresh with its
// own and next index. Nothing changes when reserving or releasing fails.
U32 TSP_ReplaceTableChain(Output_TSInfo* pstParamTS, U16 u16OutTSIndex, TableChainHead enHead,
                          std::span<const TSTable> records);

// Table records for back-to-back sections, each of the given type and user
// flag, on a channel and stream; false when a section starts with another
// table_id, is longer than 1,024 bytes or runs past the buffer.
bool TSP_SectionsToRecords(const U8* pu8Sections, U32 u32Length, U8 u8TableId, U8 u8TableType, U8 u8ChangedByUser,
                           U16 u16Channel, U16 u16OutTSIndex, std::vector<TSTable>& records);

// Appends the chain's sections to the buffer. 1 when the stream has no NIT or
// its first byte is not 0x40; 0xC0008 past 40,000 bytes or a section longer
// than a record holds; 0xC0017 a record not of type NIT; 0xC0000 bad input.
U32 TSP_GetOutputNITTable(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, NITBuf_t* pstNitBuf);

// Input-card data type 273 (live model): u16Number raw 1,184-byte TSTable
// records become, in message order, the NIT chain of the stream of their
// u16ChannelID. 0xC0000 no buffer, a count of 0 or records naming different
// channels; 0xC0006 length below u16Number × 1,184; 0xC0008 a section_length
// over 1,021; 0xC001F no stream on the channel. The old NIT stays on failure.
U32 TSP_ConstructOutputTSByAddNITTable(U8* u8Buffer, U16 u16Number, U16 u16Length);

// Queues one stream's stored NIT on PID 16 (live model). Nothing is queued in
// ATSC mode, without a NIT, with u8NITGenerate off, or when the input passes
// PID 16 through and no NIT record is user-changed. 0 unless gathering fails.
U32 TSP_ConstructNIT(U32 u32OutputTsIndex);

// True when a record of the stream's NIT chain in the live model was set by
// the user (web or import), so the routing tables do not pass the input's.
BOOL TSP_IsNITTableChangedByUser(U16 u16OutTSIndex);
// The same for the stream's NIT or TOT chain.
BOOL TSP_IsTableChainChangedByUser(TableChainHead enHead, U16 u16OutTSIndex);

// Version and network_id of a channel's NIT in the temporary model (an empty
// NIT with that network_id is created first when there is none); the stream's
// u8NITVersionNumber follows. 4 for a version of 32 or more or an unknown
// channel; 2310 when a NIT cannot be created.
U32 TSP_EditNITVersionNum(U16 u16Channel, U16 u16VersionNum, U16 u16NetworkID);

// The board's network descriptor for the generated NITs, empty at start. The
// setter stores only on the customer variant (IsQuenlorCustom); 0xC0000 for
// null. HTTP thread (the web application), under the model lock.
dvbpsi_descriptor_t* TSP_GetNetworkDescriptor_Handle();
U32 TSP_SetNetworkDescriptor(const dvbpsi_descriptor_t* pstDescriptor);

// Appends a cable delivery system descriptor (tag 0x44) for QAM channel
// u32EnableChannel to entry u32OutNITIndex of the channel's NIT (temporary
// model); the append's result is logged, not returned. 0, or 0xC0000 when the
// QAM set is missing or the QAM channel is out of range.
U32 TSP_ConstructCableDeliverySystemDescriptor(U32 u32OutTSChannel, U32 u32OutNITIndex, U32 u32EnableChannel);
// For the web NIT pages, as are the deletion, export and import below.
// Replaces the channel's NIT by a generated one (network_id 0, the board's
// network descriptor when set, one entry per valid stream of the temporary
// model with its cable delivery descriptor), then copies the temporary model
// over the live one. 0, the empty NIT's error, or the copy's (the live model
// then as it was, the new NIT only in the temporary one).
U32 TSP_AutoAddCableDeliverySystemDescriptor2NIT(U32 u32OutTSChannel);

// Frees the NIT chain of the stream record with that index in the temporary model.
U32 TSP_DelOneNITInfo(U16 u16OutTsIndex);

// The live NIT of a channel as sections back to back: its byte count, and the
// bytes into a buffer of u16BufLen (0xC0008 when they do not fit). 2310 when
// the channel has no stream or no NIT or its first byte is not 0x40 (length
// 0); 0xC0008 when a section is longer than a record or the total passes
// 40,000 bytes.
U32 TSP_GetExportNITLength(U32 nChannel, U16* pu16Length);
U32 TSP_GetExportNITBuf(U32 nChannel, U8* pOutBuf, U16 u16BufLen);

// Whole sections at the start of an imported buffer: counted while the byte
// there is 0x40 and the section, of at most 1,024 bytes, lies inside the buffer.
U32 TSP_GetImportNITSectionCnt(const U8* pNITBuf, U32 u32Length);
// The buffer's sections become the channel's NIT in the temporary model,
// marked user-changed; a buffer not starting with 0x40 leaves no NIT. 0xC0000
// unknown channel or null; 0xC0008 a section_length over 1,021 or a section
// running past the buffer (the NIT then as it was).
U32 TSP_AddNITByImport(U32 nChannel, const U8* pNITBuf, U32 u32Length);

}  // namespace hx
