// NIT table files as the export writes them and the pages upload them, built
// independently of the code under test: the 28-byte head, the data, and the
// multipart form a browser wraps a file in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/types.h"
#include "web/web_si_tables.h"

namespace hx::test {

// Head (the data's CRC unless `crc` is given) and data.
inline std::vector<U8> SiTableFile(const std::vector<U8>& data, std::optional<U32> crc = std::nullopt) {
    DeviceConfigureSaveFileHeader_t head;
    head.dwSignature = kSiTableFileSignature;
    head.dwDeviceType = kSiTableFileDeviceType;
    head.dwDataLength = static_cast<U32>(data.size());
    head.dwDataCRC = crc.value_or(Common_CRCCalculate(data.data(), static_cast<U32>(data.size()), 0));
    const auto bytes = SiTableHeader_Serialize(head);
    std::vector<U8> file(bytes.begin(), bytes.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// The multipart body a browser sends for the file.
inline std::string SiTableMultipart(const std::vector<U8>& file) {
    const std::string boundary = "----WebKitFormBoundaryx7Yq";
    return boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"TS1_NIT.table\"\r\n" +
           "Content-Type: application/octet-stream\r\n\r\n" + std::string(file.begin(), file.end()) + "\r\n" +
           boundary + "--\r\n";
}

}  // namespace hx::test
