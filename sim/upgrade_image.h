// Made-up firmware images for the tests, the fuzz seeds and the README's
// walk-through (program make-upgrade-image): a 256-byte header from chosen
// fields and a version text, then a payload tar of chosen members
// (tar_writer.h). Every field that a check reads can be set wrong on purpose:
// sync word, board and machine type, version text, DataLength, CRC, and a
// file cut short of the length its header claims.
//
// Stateless.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "chassis/upgrade.h"
#include "core/types.h"
#include "sim/tar_writer.h"

namespace hx::sim {

struct SimUpgradeImage {
    U32 syncFlag = kUpgradeSyncFlag;
    U32 boardType = kUpgradeBoardType;
    U32 machineType = kUpgradeMachineType;
    // Copied into the 20-byte field; a longer text fills it without a NUL.
    std::string softwareVersion = "V1.2.0";
    std::vector<SimTarMember> members;
    std::optional<U32> dataLength;  // default: the payload's size
    std::optional<U32> dataCrc;     // default: the payload's CRC-32/MPEG-2
    std::size_t missingBytes = 0;   // payload bytes left out at the end of the file
};

// Header, then the payload (the members' archive).
std::vector<U8> SimUpgradeImage_Build(const SimUpgradeImage& image);

// What a working image carries: the marker "zz.zz" and an install script
// "run.sh" (which the simulated board records and never runs).
std::vector<SimTarMember> SimUpgradeImage_InstallableMembers();

}  // namespace hx::sim
