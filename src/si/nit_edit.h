// NIT editing on the temporary model, for the web NIT pages: network
// descriptors, transport-stream entries and their descriptors, and storing a
// channel's NIT from given sections.
//
// Every edit goes through one routine (NIT_EditTemporary): gather the
// channel's stored sections, merge them into one section, change only that
// section, check what the 12-bit length fields and the parsed record can hold,
// split it into sections of at most 1,024 bytes and store them as the
// channel's chain, marked changed by the user. A refused edit stores nothing,
// so the channel keeps its NIT as it was.
//
// Entry and descriptor indices are 0-based, in the order TSP_GetNITTableInfo
// lists them. Callers: the web application (HTTP thread) and the NIT storage;
// each operation takes the model lock. Failures are logged at ERROR in module
// TSPROCESS.
//
// Codes: 0xC0000 unknown stream or bad input; 0xC0008 no room (a merged
// section_length over 4,095, more than 96 entries, a loop over 1,000 bytes)
// or a failed edit; 0xC001E nothing to delete or a replacement too long; 2310
// when a NIT cannot be created.
#pragma once

#include <functional>
#include <vector>

#include "core/types.h"
#include "si/section_codec.h"

namespace hx {

// Changes the merged section in place (its length fields kept consistent);
// returns 0 or the code that refuses the edit.
using NitSectionEdit = std::function<U32(std::vector<U8>& section)>;

// How an edit treats a channel whose stream has no NIT: refuse with a code,
// or start from the empty NIT of a network.
struct NitWhenMissing {
    bool create;
    U32 code;        // when not created
    U16 networkId;   // when created
};

// The one gather, merge, edit, split and store routine.
U32 NIT_EditTemporary(const char* function, U16 u16Channel, const NitWhenMissing& missing, const NitSectionEdit& edit);

// Replaces the channel's NIT chain in the temporary model by the given
// back-to-back sections (each table_id 0x40, at most 1,024 bytes), marked
// changed by the user. 0xC0000 unknown channel or bad sections.
U32 TSP_AddNIT(U16 u16Channel, const U8* pu8Sections, U16 u16Length);

U32 TSP_AddNetworkDescriptor(U16 u16Channel, dvbpsi_descriptor_t stDescriptor);
U32 TSP_DeleteNetworkDesc(U16 u16Channel, U32 u32NetworkDescIndex);
U32 TSP_AddNIT_TS(U16 u16Channel, U16 u16TransportStreamID, U16 u16OriginalNetworkID);
U32 TSP_DelOneTSOfNIT(U16 u16Channel, U32 u32NITTSIndex);
U32 TSP_AddDescriptor2NIT_Ts(U16 u16Channel, U32 u32NITTSIndex, const dvbpsi_descriptor_t* pstDescriptor);
// An empty descriptor (length 0) is refused with 0xC0000; a missing entry or
// descriptor with 0xC0008; an entry loop that would pass 1,000 bytes with 0xC001E.
U32 TSP_EditOneTSDescOfNIT(U16 u16Channel, U32 u32NITTSIndex, U32 u32NITTSDescIndex,
                           const dvbpsi_descriptor_t* pstDescriptor);
U32 TSP_DeleteOneTSDescOfNIT(U16 u16Channel, U32 u32NITTSIndex, U32 u32NITTSDescIndex);

// The channel's NIT parsed: 0 with the table untouched when the stream has no
// NIT; 0xC0000 for an unknown stream; a gather or parse code otherwise.
U32 TSP_GetNITTableInfo(U16 u16Channel, NITTable_t* pstNitTable);
// One descriptor of one entry, for the web NIT pages; always 0, the output
// unchanged when absent.
U32 TSP_GetOneTsDescInfo(U16 u16Channel, U32 u32NITTSIndex, U32 u32NITTSDescIndex, dvbpsi_descriptor_t* pstDescriptor);

}  // namespace hx
