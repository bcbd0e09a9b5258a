// Requests of the NIT pages: version and network ID, network descriptors,
// transport-stream entries with their descriptors (logical channel numbers,
// delivery-system descriptors, raw bytes) of one stream's NIT in the temporary
// copy, and, on the customer variant, every stream's NIT generated anew and
// applied. The edits go on air with the next apply.
//
// Caller: the HTTP server thread (the request table), one request at a time.
// A handler holds the model lock from its first access to either model to its
// last, so other threads see each request as one step; the automatic NIT
// releases it before its apply sends to other boards.
//
// The Web_TSP_* wrappers pass each PSI/SI operation's code up unchanged.
#pragma once

#include "core/types.h"
#include "http/http_base.h"
#include "si/section_codec.h"

namespace hx {

U32 web_processSetNITVersion(buffer* reply);
U32 web_processGetNIT(buffer* reply);
U32 web_processAddNITNetwork(buffer* reply);
U32 web_processDelNITNetwork(buffer* reply);
U32 web_processAddNITTS(buffer* reply);
U32 web_processDelNITTS(buffer* reply);
U32 web_processDelLCN(buffer* reply);
U32 web_processSetLCN(buffer* reply);
U32 web_processAddDescriptor(buffer* reply);
U32 web_processAutoGenerateNITDescriptor(buffer* reply);

U32 Web_TSP_GetNITTableInfo(U16 nChannel, NITTable_t* pstNitTable);
U32 Web_TSP_AddNetworkDescriptor(U16 nChannel, dvbpsi_descriptor_t stDescriptor);
U32 Web_TSP_DeleteNetworkDesc(U16 nChannel, U32 nNetworkDescIndex);
U32 Web_TSP_AddNIT_TS(U16 nChannel, U16 u16TransportStreamID, U16 u16OriginalNetworkID);
U32 Web_TSP_DelOneTSOfNIT(U16 nChannel, U32 nNITTSIndex);
U32 Web_TSP_DeleteOneTSDescOfNIT(U16 nChannel, U32 nNITTSIndex, U32 nNITTSDescIndex);
U32 Web_TSP_AddDescriptor2NIT_Ts(U16 nChannel, U32 nNITTSIndex, const dvbpsi_descriptor_t* pstDescriptor);
U32 Web_TSP_EditOneTSDescOfNIT(U16 nChannel, U32 u32NITTSIndex, U32 u32NITTSDescIndex,
                               const dvbpsi_descriptor_t* pstDescriptor);
// No request reads a single descriptor; kept for the pages that may.
U32 Web_TSP_GetOneTsDescInfo(U16 nSelectOutTSIndex, U32 u32NITTSIndex, U32 u32NITTSDescIndex,
                             dvbpsi_descriptor_t* pstDescriptor);
U32 Web_TSP_EditNITVersionNum(U16 u16Channel, U16 u16VersionNum, U16 u16NetworkID);
U32 Web_TSP_AutoAddCableDeliverySystemDescriptor2NIT(U16 nChannel);
// Takes the index of an output-stream record of the temporary copy, not a channel.
U32 Web_TSP_DelOneNITInfo(U16 u16OutTSIndex);
U32 Web_TSP_SetNetworkDescriptor(const dvbpsi_descriptor_t* pstDescriptor);

}  // namespace hx
