#include "chassis/tar_listing.h"

#include <algorithm>
#include <optional>

namespace hx {

namespace {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kNameWidth = 100;
constexpr std::size_t kSizeOffset = 124;
constexpr std::size_t kSizeWidth = 12;
constexpr std::size_t kChecksumOffset = 148;
constexpr std::size_t kChecksumWidth = 8;
constexpr std::size_t kKindOffset = 156;
constexpr std::size_t kLinkOffset = 157;
constexpr std::size_t kLinkWidth = 100;
constexpr std::size_t kMagicOffset = 257;
constexpr std::size_t kPrefixOffset = 345;
constexpr std::size_t kPrefixWidth = 155;
// Long names and pax records larger than this are no payload of ours.
constexpr std::uint64_t kMetadataLimit = 65536;

// A NUL-padded text field.
std::string Field(const U8* block, std::size_t offset, std::size_t width) {
    const char* start = reinterpret_cast<const char*>(block + offset);
    return std::string(start, std::find(start, start + width, '\0'));
}

// An octal number field: optional spaces, digits, then spaces or NULs.
std::optional<std::uint64_t> Octal(const U8* block, std::size_t offset, std::size_t width) {
    std::size_t i = 0;
    while (i < width && block[offset + i] == ' ') {
        ++i;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < width && block[offset + i] >= '0' && block[offset + i] <= '7'; ++i, ++digits) {
        if (value >> 60 != 0) {
            return std::nullopt;
        }
        value = value * 8 + static_cast<std::uint64_t>(block[offset + i] - '0');
    }
    for (; i < width; ++i) {
        if (block[offset + i] != ' ' && block[offset + i] != '\0') {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return value;
}

bool ChecksumHolds(const U8* block) {
    const std::optional<std::uint64_t> stored = Octal(block, kChecksumOffset, kChecksumWidth);
    if (!stored) {
        return false;
    }
    // Taken with the checksum field read as spaces; old writers summed signed bytes.
    std::uint64_t unsignedSum = 0;
    std::int64_t signedSum = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const bool inField = i >= kChecksumOffset && i < kChecksumOffset + kChecksumWidth;
        const U8 byte = inField ? U8{' '} : block[i];
        unsignedSum += byte;
        signedSum += static_cast<signed char>(byte);
    }
    return *stored == unsignedSum || static_cast<std::int64_t>(*stored) == signedSum;
}

bool AllZero(const U8* block) { return std::all_of(block, block + kBlock, [](U8 byte) { return byte == 0; }); }

// The "path" and "linkpath" of pax records ("<length> <key>=<value>\n" each).
// False when a record is malformed.
bool ReadPaxRecords(std::string_view records, std::optional<std::string>* path, std::optional<std::string>* link) {
    while (!records.empty()) {
        const std::size_t space = records.find(' ');
        if (space == std::string_view::npos || space == 0 || space > 10) {
            return false;
        }
        std::size_t length = 0;
        for (char c : records.substr(0, space)) {
            if (c < '0' || c > '9') {
                return false;
            }
            length = length * 10 + static_cast<std::size_t>(c - '0');
        }
        if (length <= space + 1 || length > records.size() || records[length - 1] != '\n') {
            return false;
        }
        const std::string_view record = records.substr(space + 1, length - space - 2);
        const std::size_t equals = record.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        const std::string_view key = record.substr(0, equals);
        const std::string value(record.substr(equals + 1));
        if (key == "path") {
            *path = value;
        } else if (key == "linkpath") {
            *link = value;
        }
        records.remove_prefix(length);
    }
    return true;
}

}  // namespace

std::optional<std::vector<TarMember>> Tar_ListMembers(std::span<const U8> archive) {
    std::vector<TarMember> members;
    std::optional<std::string> longName;
    std::optional<std::string> longLink;
    std::size_t position = 0;
    while (position < archive.size()) {
        if (archive.size() - position < kBlock) {
            return std::nullopt;  // a cut header
        }
        const U8* block = archive.data() + position;
        if (AllZero(block)) {
            break;
        }
        if (!ChecksumHolds(block)) {
            return std::nullopt;
        }
        const std::optional<std::uint64_t> size = Octal(block, kSizeOffset, kSizeWidth);
        if (!size) {
            return std::nullopt;
        }
        const char kind = static_cast<char>(block[kKindOffset]);
        // Links and folders carry no data whatever their size field says.
        const bool hasData = kind == '0' || kind == '\0' || kind == '7' || kind == 'L' || kind == 'K' || kind == 'x' ||
                             kind == 'g';
        const std::uint64_t dataBytes = hasData ? *size : 0;
        const std::uint64_t available = archive.size() - position - kBlock;
        if (dataBytes > available) {
            return std::nullopt;
        }
        const std::string_view data(reinterpret_cast<const char*>(block + kBlock), static_cast<std::size_t>(dataBytes));
        const std::uint64_t padded = (dataBytes + kBlock - 1) / kBlock * kBlock;
        position += kBlock + static_cast<std::size_t>(std::min(padded, available));

        if (kind == 'L' || kind == 'K' || kind == 'x' || kind == 'g') {
            if (dataBytes > kMetadataLimit) {
                return std::nullopt;
            }
            if (kind == 'L') {
                longName = std::string(data.substr(0, data.find('\0')));
            } else if (kind == 'K') {
                longLink = std::string(data.substr(0, data.find('\0')));
            } else {
                std::optional<std::string> path;
                std::optional<std::string> link;
                if (!ReadPaxRecords(data, &path, &link)) {
                    return std::nullopt;
                }
                if (kind == 'g') {
                    if (path || link) {
                        return std::nullopt;
                    }
                    continue;
                }
                if (path) {
                    longName = path;
                }
                if (link) {
                    longLink = link;
                }
            }
            continue;
        }

        TarMember member;
        switch (kind) {
            case '0': case '\0': case '7': member.kind = TarMemberKind::File; break;
            case '1': member.kind = TarMemberKind::HardLink; break;
            case '2': member.kind = TarMemberKind::SymbolicLink; break;
            case '5': member.kind = TarMemberKind::Folder; break;
            default: return std::nullopt;
        }
        std::string name = Field(block, kNameOffset, kNameWidth);
        const bool ustar = std::equal(block + kMagicOffset, block + kMagicOffset + 5, "ustar");
        if (ustar) {
            const std::string prefix = Field(block, kPrefixOffset, kPrefixWidth);
            if (!prefix.empty()) {
                name = prefix + "/" + name;
            }
        }
        member.name = longName.value_or(name);
        member.linkTarget = longLink.value_or(Field(block, kLinkOffset, kLinkWidth));
        member.size = dataBytes;
        longName.reset();
        longLink.reset();
        if (member.name.empty()) {
            return std::nullopt;
        }
        members.push_back(std::move(member));
    }
    if (longName || longLink) {
        return std::nullopt;  // a long name that names nothing
    }
    return members;
}

std::string Tar_PlainName(std::string_view name) {
    while (name.starts_with("./")) {
        name.remove_prefix(2);
        while (name.starts_with('/')) {
            name.remove_prefix(1);
        }
    }
    while (name.size() > 1 && name.ends_with('/')) {
        name.remove_suffix(1);
    }
    return std::string(name);
}

bool Tar_PathLeavesFolder(std::string_view path) {
    if (path.starts_with('/')) {
        return true;
    }
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        if (component == "..") {
            return true;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        path.remove_prefix(slash + 1);
    }
    return false;
}

}  // namespace hx
