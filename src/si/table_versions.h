// Versions of the generated PSI/SI tables on air.
//
// A receiver reads a table again only when its version_number changes, so a
// table whose bytes change must go out with a new version, also when no change
// flag was raised (a PMT PID moved by a monitor order, numbers given by
// conflict resolution, an ES or EMM added or removed, ATSC channel numbers)
// and also when the record it came from was freed and made again (its version
// fields then start again at 0).
//
// One entry per output channel and table (table_id and table_id_extension of
// its first section): the version last sent and a digest of the body last sent
// (every section with its version bits masked and its CRC left out). A built
// table is settled against its entry: a body that differs moves the version on
// from the one last sent, an equal body keeps it, whatever the model's
// version and change flag say (a second apply from one temporary copy, a
// record made again with its version at 0). Without an entry (the first build
// since start-up, or a table never sent on that channel) the change flags
// decide as the engine raised them: the model's version, moved once by a
// raised flag, so versions carry on across a restart through the model file.
// An entry changes only when the table was queued (SIVersion_Sent), so a table
// the carousel refused leaves it as it was. Past 8,192 entries the least
// recently sent is forgotten, so tables gone for good do not pile up.
//
// Callers: the SI regeneration (si/si_regeneration.cpp), under the model lock.
// The entries have a mutex of their own, taken last (nothing is called under
// it). They outlive the carousel's refills and the model's re-initialisation:
// tables still on air keep their versions. SSD_ResetForTest empties them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/types.h"

namespace hx {

constexpr std::size_t kSIVersionMaxEntries = 8192;

// A table settled for one output channel: its key, the version written into
// its sections and the digest of its body.
struct SettledTable {
    U16 u16Channel = 0;
    U8 u8TableId = 0;
    U16 u16Extension = 0;
    U8 u8Version = 0;
    std::uint64_t u64Digest = 0;
};

// Settles the version of one table built into pu8Sections (u32Length bytes of
// whole long-form sections back to back, all of that table) for output channel
// u16Channel, and writes it into every section, CRC recomputed. u8ModelVersion
// is the version the model holds, bChangeFlag whether its change flag is
// raised. nullopt, the sections untouched, when they are not whole long-form
// sections. Nothing is remembered until SIVersion_Sent.
std::optional<SettledTable> SIVersion_Settle(U16 u16Channel, U8* pu8Sections, U32 u32Length, U8 u8ModelVersion,
                                             bool bChangeFlag);
// Remembers a settled table as the one on air on its channel.
void SIVersion_Sent(const SettledTable& table);
// Forgets every table (tests).
void SIVersion_Reset();

}  // namespace hx
