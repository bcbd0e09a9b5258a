// A small tar (ustar) writer for the simulated board and the test tools: the
// placeholder archives of the board image (board_image.h) and the payloads of
// made-up firmware images (upgrade_image.h), whose members tests choose freely,
// hostile names included.
//
// Deterministic: owner 0, modification time 0, so the same members give the
// same bytes on every build. Stateless.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/types.h"

namespace hx::sim {

enum class SimTarKind { File, Folder, SymbolicLink, HardLink };

struct SimTarMember {
    SimTarMember(std::string memberName, std::vector<U8> memberContent = {}, U32 memberMode = 0644,
                 SimTarKind memberKind = SimTarKind::File, std::string memberLinkTarget = {})
        : name(std::move(memberName)),
          content(std::move(memberContent)),
          mode(memberMode),
          kind(memberKind),
          linkTarget(std::move(memberLinkTarget)) {}

    std::string name;  // written as given ("../x", "/abs" too)
    std::vector<U8> content;
    U32 mode = 0644;
    SimTarKind kind = SimTarKind::File;
    std::string linkTarget;  // for the two kinds of link (at most 100 bytes)
};

// The archive: each member's header (a GNU long-name record first when its
// name fits neither the name field nor a prefix split), its content padded to
// whole 512-byte blocks, then the two empty blocks that end an archive.
std::vector<U8> SimTar_Write(std::span<const SimTarMember> members);

}  // namespace hx::sim
