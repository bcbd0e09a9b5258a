// The member list of a tar archive, read from its bytes without extracting
// anything: the firmware upgrade reads a payload's list before it lets `tar`
// unpack it, so an archive that would write outside its folder, or that
// lacks what the install needs, is refused before a single file exists.
//
// Reads ustar headers (name with its prefix), GNU long names and long link
// targets ('L', 'K') and the pax extended header's "path" and "linkpath"
// ('x'), the way GNU tar applies them to the member that follows. Only
// regular files, hard links, symbolic links and folders are members; any
// other kind, a header whose checksum is wrong, a size that is not octal, a
// member whose data runs past the archive or a global pax header that names a
// path makes the whole archive unreadable: what tar would do with it cannot be
// told from here.
//
// Stateless; called from the inter-board server thread (the upgrade) and the
// fuzz target.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace hx {

enum class TarMemberKind { File, HardLink, SymbolicLink, Folder };

struct TarMember {
    std::string name;        // as stored, leading "./" kept
    TarMemberKind kind = TarMemberKind::File;
    std::string linkTarget;  // for the two kinds of link
    std::uint64_t size = 0;  // data bytes (files)
};

// The members in archive order; nullopt when the archive cannot be read whole.
// The archive ends at its first all-zero block or at the end of the bytes.
std::optional<std::vector<TarMember>> Tar_ListMembers(std::span<const U8> archive);

// A name's path with every leading "./" and any trailing "/" taken away
// ("./run.sh" and "run.sh" are one file of the top folder).
std::string Tar_PlainName(std::string_view name);

// True when a path, extracted or followed below a folder, could reach outside
// it: an absolute path, or one with a ".." component.
bool Tar_PathLeavesFolder(std::string_view path);

}  // namespace hx
