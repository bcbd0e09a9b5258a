#include "sim/upgrade_image.h"

#include <algorithm>

#include "core/common_fun.h"

namespace hx::sim {

std::vector<U8> SimUpgradeImage_Build(const SimUpgradeImage& image) {
    const std::vector<U8> payload = SimTar_Write(image.members);
    ImageHeader_t header{};
    header.SyncFlag = image.syncFlag;
    header.HeaderLength = static_cast<U32>(kImageHeaderSize);
    header.BoardType = image.boardType;
    header.MachineType = image.machineType;
    header.DataLength = image.dataLength.value_or(static_cast<U32>(payload.size()));
    header.DataCRC32 = image.dataCrc.value_or(Common_CRC(payload, kCrcInitMpeg2));
    const std::size_t versionBytes = std::min(image.softwareVersion.size(), header.ucSoftwareVersion.size());
    std::copy_n(image.softwareVersion.begin(), versionBytes, header.ucSoftwareVersion.begin());
    header.SoftwareLength = static_cast<U32>(versionBytes);
    const ImageHeaderBytes headerBytes = ImageHeader_Serialize(header);
    const std::size_t kept = payload.size() - std::min(image.missingBytes, payload.size());
    std::vector<U8> file(kImageHeaderSize + kept);
    std::copy(headerBytes.begin(), headerBytes.end(), file.begin());
    std::copy_n(payload.begin(), kept, file.begin() + static_cast<std::ptrdiff_t>(kImageHeaderSize));
    return file;
}

std::vector<SimTarMember> SimUpgradeImage_InstallableMembers() {
    const std::string script = "#!/bin/sh\necho \"install script of a made-up image\"\n";
    return {SimTarMember{"zz.zz", {}, 0644},
            SimTarMember{"run.sh", std::vector<U8>(script.begin(), script.end()), 0755}};
}

}  // namespace hx::sim
