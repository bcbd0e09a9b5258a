// Writes the code tables of the DVB text character sets (si/charset_tables.h)
// as a C++ source file, from the C library's iconv:
//   make_charset_tables OUTPUT.cpp
// GB2312 both ways, Big5 to UCS-2 and ISO/IEC 8859-1..15 to UCS-2. A code that
// iconv does not convert to exactly one character of the Basic Multilingual
// Plane is left 0 (undefined). The build fails when a character set is missing
// or a few well-known codes come out wrong, rather than carry empty tables.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace {

// One character of `from` (the given bytes, all of which must be used) as a
// BMP code point, or 0.
class Decoder {
public:
    explicit Decoder(const char* from) : from_(from), handle_(iconv_open("UCS-4BE", from)) {}
    ~Decoder() {
        if (ok()) {
            iconv_close(handle_);
        }
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    const char* name() const { return from_; }

    std::uint16_t Decode(std::initializer_list<unsigned char> bytes) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char in[4];
        std::size_t inLeft = 0;
        for (unsigned char byte : bytes) {
            in[inLeft++] = static_cast<char>(byte);
        }
        unsigned char out[16];
        char* inAt = in;
        char* outAt = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        if (iconv(handle_, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
            sizeof out - outLeft != 4) {
            return 0;
        }
        const std::uint32_t code = static_cast<std::uint32_t>(out[0]) << 24 | static_cast<std::uint32_t>(out[1]) << 16 |
                                   static_cast<std::uint32_t>(out[2]) << 8 | out[3];
        // Surrogates and anything past the BMP have no UCS-2 form.
        if (code == 0 || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return 0;
        }
        return static_cast<std::uint16_t>(code);
    }

private:
    const char* from_;
    iconv_t handle_;
};

void WriteTable(std::FILE* out, const std::vector<std::uint16_t>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::fprintf(out, "%s0x%04X,", i % 12 == 0 ? "\n    " : " ", values[i]);
    }
    std::fprintf(out, "\n");
}

bool Check(const char* what, unsigned got, unsigned expected) {
    if (got != expected) {
        std::fprintf(stderr, "make_charset_tables: %s gives U+%04X, expected U+%04X\n", what, got, expected);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }

    Decoder gb("GB2312");
    Decoder big5("BIG5");
    if (!gb.ok() || !big5.ok()) {
        std::fprintf(stderr, "make_charset_tables: iconv lacks GB2312 or BIG5\n");
        return 1;
    }

    std::vector<std::uint16_t> gbTable;
    std::map<std::uint16_t, std::uint16_t> toGb;
    for (unsigned first = 0xA1; first <= 0xFE; ++first) {
        for (unsigned second = 0xA1; second <= 0xFE; ++second) {
            const std::uint16_t code = gb.Decode({static_cast<unsigned char>(first), static_cast<unsigned char>(second)});
            gbTable.push_back(code);
            if (code != 0) {
                toGb.emplace(code, static_cast<std::uint16_t>(first << 8 | second));
            }
        }
    }

    std::vector<std::uint16_t> big5Table;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail > 0x7E && trail < 0xA1) {
                continue;
            }
            big5Table.push_back(big5.Decode({static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)}));
        }
    }

    std::vector<std::uint16_t> latinTables(16 * 128, 0);
    for (int part = 1; part <= 15; ++part) {
        if (part == 12) {
            continue;  // never published
        }
        const std::string name = "ISO-8859-" + std::to_string(part);
        Decoder latin(name.c_str());
        if (!latin.ok()) {
            std::fprintf(stderr, "make_charset_tables: iconv lacks %s\n", name.c_str());
            return 1;
        }
        for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
            latinTables[part * 128 + (byte - 0x80)] = latin.Decode({static_cast<unsigned char>(byte)});
        }
    }

    // Codes any correct table has: 中 and 文 in GB2312 and Big5, the ideographic
    // space, Cyrillic А in 8859-5, the euro sign of 8859-15.
    const bool good = Check("GB2312 D6D0", gbTable[(0xD6 - 0xA1) * 94 + (0xD0 - 0xA1)], 0x4E2D) &&
                      Check("GB2312 CEC4", gbTable[(0xCE - 0xA1) * 94 + (0xC4 - 0xA1)], 0x6587) &&
                      Check("GB2312 A1A1", gbTable[0], 0x3000) &&
                      Check("Big5 A4A4", big5Table[(0xA4 - 0x81) * 157 + (0xA4 - 0xA1 + 63)], 0x4E2D) &&
                      Check("Big5 A4E5", big5Table[(0xA4 - 0x81) * 157 + (0xE5 - 0xA1 + 63)], 0x6587) &&
                      Check("8859-5 B0", latinTables[5 * 128 + 0x30], 0x0410) &&
                      Check("8859-15 A4", latinTables[15 * 128 + 0x24], 0x20AC);
    if (!good || toGb.size() < 7000) {
        std::fprintf(stderr, "make_charset_tables: iconv's tables look wrong (%zu GB2312 characters)\n", toGb.size());
        return 1;
    }

    const std::string temporary = std::string(argv[1]) + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "w");
    if (out == nullptr) {
        std::perror(temporary.c_str());
        return 1;
    }
    std::fprintf(out, "// Generated by tools/make_charset_tables.cpp from the C library's iconv. Do not edit.\n");
    std::fprintf(out, "#include \"si/charset_tables.h\"\n\nnamespace hx::charset {\n\n");
    std::fprintf(out, "const std::array<U16, kGbSpan * kGbSpan> kGb2312ToUcs2 = {");
    WriteTable(out, gbTable);
    std::fprintf(out, "};\n\nnamespace {\nconstexpr GbCode kUcs2ToGb2312Codes[] = {");
    std::size_t i = 0;
    for (const auto& [unicode, code] : toGb) {
        std::fprintf(out, "%s{0x%04X, 0x%04X},", i++ % 6 == 0 ? "\n    " : " ", unicode, code);
    }
    std::fprintf(out, "\n};\n}  // namespace\nconst std::span<const GbCode> kUcs2ToGb2312 = kUcs2ToGb2312Codes;\n\n");
    std::fprintf(out,
                 "const std::array<U16, (kBig5LeadLast - kBig5LeadFirst + 1) * kBig5TrailSpan> kBig5ToUcs2 = {");
    WriteTable(out, big5Table);
    std::fprintf(out, "};\n\nconst std::array<std::array<U16, 128>, kIso8859Parts> kIso8859ToUcs2 = {{\n");
    for (int part = 0; part < 16; ++part) {
        std::fprintf(out, "    // part %d\n    {{", part);
        WriteTable(out, std::vector<std::uint16_t>(latinTables.begin() + part * 128,
                                                   latinTables.begin() + (part + 1) * 128));
        std::fprintf(out, "    }},\n");
    }
    std::fprintf(out, "}};\n\n}  // namespace hx::charset\n");
    if (std::ferror(out) != 0 || std::fclose(out) != 0 || std::rename(temporary.c_str(), argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
