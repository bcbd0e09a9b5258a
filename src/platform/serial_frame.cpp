#include "platform/serial_frame.h"

#include <algorithm>

#include "core/common_fun.h"

namespace hx {

namespace {

constexpr U8 kHeaderByte = 0x47;
constexpr std::size_t kHeaderWordSize = 4;

// The CRC covers slot, command, length and data: everything after the header word.
U32 FrameCrc(std::span<const U8> frameStart, std::size_t dataLength) {
    return Common_CRC(frameStart.subspan(kHeaderWordSize, kSerialHeaderSize - kHeaderWordSize + dataLength),
                      kCrcInitLinks);
}

bool HeaderAt(std::span<const U8> bytes, std::size_t offset) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + kHeaderWordSize),
                       [](U8 byte) { return byte == kHeaderByte; });
}

}  // namespace

std::vector<U8> SerialFrame_Serialize(const SerialFrame& frame) {
    if (frame.data.size() > kSerialMaxData) {
        return {};
    }
    std::vector<U8> out(kSerialHeaderSize + frame.data.size() + kSerialCrcSize);
    PutLe32(&out[0], kSerialHeader);
    out[4] = frame.slot;
    out[5] = frame.command;
    PutLe16(&out[6], static_cast<U16>(frame.data.size()));
    std::copy(frame.data.begin(), frame.data.end(), out.begin() + kSerialHeaderSize);
    PutLe32(&out[kSerialHeaderSize + frame.data.size()], FrameCrc(out, frame.data.size()));
    return out;
}

SerialParseResult SerialFrame_Parse(std::span<const U8> bytes) {
    SerialParseResult result;
    std::size_t start = 0;
    while (start + kHeaderWordSize <= bytes.size() && !HeaderAt(bytes, start)) {
        ++start;
    }
    if (start + kHeaderWordSize > bytes.size()) {
        // Keep a tail that could still become a header.
        std::size_t keep = 0;
        while (keep < kHeaderWordSize - 1 && keep < bytes.size() && bytes[bytes.size() - 1 - keep] == kHeaderByte) {
            ++keep;
        }
        result.consumed = bytes.size() - keep;
        return result;
    }
    result.consumed = start;
    const std::span<const U8> frame = bytes.subspan(start);
    if (frame.size() < kSerialHeaderSize) {
        return result;
    }
    const std::size_t dataLength = GetLe16(&frame[6]);
    if (dataLength > kSerialMaxData) {
        result.status = SerialParseStatus::BadLength;
        result.consumed = start + 1;
        return result;
    }
    const std::size_t total = kSerialHeaderSize + dataLength + kSerialCrcSize;
    if (frame.size() < total) {
        return result;
    }
    if (GetLe32(&frame[kSerialHeaderSize + dataLength]) != FrameCrc(frame, dataLength)) {
        result.status = SerialParseStatus::BadCrc;
        result.consumed = start + 1;
        return result;
    }
    result.status = SerialParseStatus::Frame;
    result.consumed = start + total;
    result.frame.slot = frame[4];
    result.frame.command = frame[5];
    result.frame.data.assign(frame.begin() + kSerialHeaderSize,
                             frame.begin() + static_cast<std::ptrdiff_t>(kSerialHeaderSize + dataLength));
    return result;
}

std::vector<U8> SerialNetworkSettings_Serialize(const SerialNetworkSettings& settings) {
    std::vector<U8> out(kSerialNetworkSettingsSize);
    PutLe32(&out[0], settings.backBoardIP);
    PutLe32(&out[4], settings.ownIP);
    PutLe32(&out[8], settings.netmask);
    PutLe32(&out[12], settings.gateway);
    PutLe32(&out[16], settings.utcSeconds);
    return out;
}

std::optional<SerialNetworkSettings> SerialNetworkSettings_Parse(std::span<const U8> data) {
    if (data.size() != kSerialNetworkSettingsSize) {
        return std::nullopt;
    }
    return SerialNetworkSettings{GetLe32(&data[0]), GetLe32(&data[4]), GetLe32(&data[8]), GetLe32(&data[12]),
                                 GetLe32(&data[16])};
}

std::vector<U8> SerialErrorCode_Serialize(U32 code) {
    std::vector<U8> out(4);
    PutLe32(out.data(), code);
    return out;
}

std::optional<U32> SerialErrorCode_Parse(std::span<const U8> data) {
    if (data.size() != 4) {
        return std::nullopt;
    }
    return GetLe32(data.data());
}

}  // namespace hx
