#include "sim/tar_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace hx::sim {

namespace {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kNameWidth = 100;
constexpr std::size_t kPrefixWidth = 155;

// A ustar number field: octal digits, zero-padded, NUL-terminated.
void PutOctal(std::vector<U8>& header, std::size_t offset, std::size_t width, std::uint64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
    std::copy_n(digits, width - 1, header.begin() + static_cast<std::ptrdiff_t>(offset));
    header[offset + width - 1] = 0;
}

void PutText(std::vector<U8>& header, std::size_t offset, std::size_t width, std::string_view text) {
    text = text.substr(0, width);
    std::copy(text.begin(), text.end(), header.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::vector<U8> Header(std::string_view name, std::string_view prefix, char kind, U32 mode, std::uint64_t size,
                       std::string_view link) {
    std::vector<U8> header(kBlock, 0);
    PutText(header, 0, kNameWidth, name);
    PutOctal(header, 100, 8, mode & 07777);
    PutOctal(header, 108, 8, 0);  // uid
    PutOctal(header, 116, 8, 0);  // gid
    PutOctal(header, 124, 12, size);
    PutOctal(header, 136, 12, 0);  // modification time: the epoch, so every build is alike
    header[156] = static_cast<U8>(kind);
    PutText(header, 157, 100, link);
    PutText(header, 257, 6, std::string_view("ustar\0", 6));
    PutText(header, 263, 2, "00");
    PutText(header, 345, kPrefixWidth, prefix);
    // The checksum is taken with its own field read as spaces.
    std::fill_n(header.begin() + 148, 8, ' ');
    unsigned sum = 0;
    for (U8 byte : header) {
        sum += byte;
    }
    PutOctal(header, 148, 7, sum);
    header[155] = ' ';
    return header;
}

void Append(std::vector<U8>& archive, const std::vector<U8>& header, std::span<const U8> content) {
    archive.insert(archive.end(), header.begin(), header.end());
    archive.insert(archive.end(), content.begin(), content.end());
    archive.resize((archive.size() + kBlock - 1) / kBlock * kBlock, 0);
}

char KindByte(SimTarKind kind) {
    switch (kind) {
        case SimTarKind::Folder: return '5';
        case SimTarKind::SymbolicLink: return '2';
        case SimTarKind::HardLink: return '1';
        case SimTarKind::File: break;
    }
    return '0';
}

}  // namespace

std::vector<U8> SimTar_Write(std::span<const SimTarMember> members) {
    std::vector<U8> archive;
    for (const SimTarMember& member : members) {
        std::string_view name = member.name;
        std::string_view prefix;
        if (name.size() > kNameWidth) {
            // Split at a '/' so that both parts fit; else a long-name record.
            const std::size_t slash = name.rfind('/', kPrefixWidth);
            if (slash != std::string_view::npos && slash > 0 && name.size() - slash - 1 <= kNameWidth &&
                name.size() - slash - 1 > 0) {
                prefix = name.substr(0, slash);
                name = name.substr(slash + 1);
            } else {
                std::vector<U8> longName(member.name.begin(), member.name.end());
                longName.push_back(0);
                Append(archive, Header("././@LongLink", {}, 'L', 0644, longName.size(), {}), longName);
                name = name.substr(0, kNameWidth);
            }
        }
        const bool file = member.kind == SimTarKind::File;
        const std::span<const U8> content = file ? std::span<const U8>(member.content) : std::span<const U8>();
        Append(archive, Header(name, prefix, KindByte(member.kind), member.mode, content.size(), member.linkTarget),
               content);
    }
    archive.resize(archive.size() + 2 * kBlock, 0);
    return archive;
}

}  // namespace hx::sim
