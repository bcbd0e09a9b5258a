// The web's two DVB text converters. Every input is a heap buffer of exactly
// its length, so AddressSanitizer catches a read past a truncated name; every
// result must be NUL-terminated inside the 257-byte service-name buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ffprobe.h"
#include "support/psi_decoder.h"
#include "support/psi_generators.h"
#include "support/test_env.h"
#include "web/web_text.h"

namespace hx {
namespace {

using Bytes = std::vector<U8>;

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

Bytes RepeatBytes(const Bytes& head, const Bytes& unit, int times) {
    Bytes out = head;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

std::string ToUtf8(const Bytes& dvb) {
    const Bytes exact = dvb;  // exactly its size on the heap
    const char* result = web_StringConvertToUTF8(exact.empty() ? nullptr : exact.data(), static_cast<U32>(exact.size()));
    const std::size_t length = strnlen(result, kServiceNameBytes);
    EXPECT_LT(length, kServiceNameBytes) << "the result is NUL-terminated in its buffer";
    return std::string(result, length);
}

Bytes ToServiceName(const std::string& utf8) {
    const std::vector<char> exact(utf8.begin(), utf8.end());
    const U8* result = web_UTF8ToServiceName(exact.empty() ? nullptr : exact.data(), static_cast<U32>(exact.size()));
    const std::size_t length = strnlen(reinterpret_cast<const char*>(result), kServiceNameBytes);
    EXPECT_LT(length, kServiceNameBytes) << "the result is NUL-terminated in its buffer";
    return Bytes(result, result + length);
}

// Whole UTF-8 characters only: no sequence cut short at the end.
bool EndsOnWholeCharacter(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const U8 lead = static_cast<U8>(text[at]);
        at += lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    }
    return at == text.size();
}

struct DvbCase {
    const char* what;
    Bytes dvb;
    std::string utf8;
};

TEST(WebStringConvertToUtf8Test, ReadsEverySelector) {
    const DvbCase cases[] = {
        {"empty", {}, ""},
        {"plain ASCII", {'C', 'C', 'T', 'V', '-', '1'}, "CCTV-1"},
        {"a line feed between two words is a blank", {'N', 'e', 'w', 's', '\n', 'N', 'o', 'w'}, "News Now"},
        {"0x01 8859-5", {0x01, 0xBF, 0xD5, 0xE0, 0xD2, 0xEB, 0xD9}, "Первый"},
        {"0x02 8859-6", {0x02, 0xC7}, "ا"},
        {"0x03 8859-7", {0x03, 0xC1}, "Α"},
        {"0x04 8859-8", {0x04, 0xE0}, "א"},
        {"0x05 8859-9", {0x05, 0xD0}, "Ğ"},
        {"0x06 8859-10", {0x06, 0xA1}, "Ą"},
        {"0x07 8859-11", {0x07, 0xA1}, "ก"},
        {"0x08 reserved", {0x08, 'A', 0xE0}, "A\uFFFD"},
        {"0x09 8859-13", {0x09, 0xA1}, "”"},
        {"0x0A 8859-14", {0x0A, 0xA1}, "Ḃ"},
        {"0x0B 8859-15", {0x0B, 0xA4}, "€"},
        {"0x10 00 01 8859-1", {0x10, 0x00, 0x01, 'C', 'a', 'f', 0xE9}, "Café"},
        {"0x10 00 02 8859-2", {0x10, 0x00, 0x02, 0xA3, 0xF3, 'd', 0xBC}, "Łódź"},
        {"0x10 00 0C reserved", {0x10, 0x00, 0x0C, 0xE0}, "\uFFFD"},
        {"0x11 UCS-2", {0x11, 0x4E, 0x2D, 0x65, 0x87}, "中文"},
        {"0x11 surrogate", {0x11, 0xD8, 0x3D}, "\uFFFD"},
        {"0x13 GB2312", {0x13, 0xD6, 0xD0, 0xCE, 0xC4}, "中文"},
        {"0x14 Big5", {0x14, 0xA4, 0xA4, 0xA4, 0xE5}, "中文"},
        {"0x15 UTF-8", {0x15, 0xE4, 0xB8, 0xAD, 'a'}, "中a"},
        {"0x15 control byte blanked", {0x15, 'a', '\t', 'b'}, "a b"},
        {"GB2312 without a selector", {0xD6, 0xD0, 0xCE, 0xC4}, "中文"},
        {"another selector: taken as it is, blanked", {0x12, 'A'}, " A"},
        // Truncated names: nothing is read past the given length.
        {"0x10 alone", {0x10}, ""},
        {"0x10 with one table byte", {0x10, 0x00}, ""},
        {"0x11 with an odd byte", {0x11, 0x00, 'A', 0x4E}, "A"},
        {"0x11 with one byte", {0x11, 0x4E}, ""},
        {"0x13 trailing lead byte", {0x13, 0xD6, 0xD0, 0xCE}, "中"},
        {"0x13 lone lead byte", {0x13, 0xD6}, ""},
        {"0x14 trailing lead byte", {0x14, 'a', 0xA4}, "a"},
        {"0x15 cut inside a character", {0x15, 'a', 0xE4, 0xB8}, "a"},
        {"selector only", {0x13}, ""},
    };
    for (const DvbCase& c : cases) {
        EXPECT_EQ(ToUtf8(c.dvb), c.utf8) << c.what;
    }
}

struct NameCase {
    const char* what;
    std::string utf8;
    Bytes dvb;
};

TEST(WebUtf8ToServiceNameTest, ChoosesTheSelectorThatSuitsTheName) {
    const NameCase cases[] = {
        {"empty", "", {}},
        {"plain ASCII: no selector", "CCTV-1", {'C', 'C', 'T', 'V', '-', '1'}},
        {"Cyrillic: 8859-5", "Первый 1", {0x01, 0xBF, 0xD5, 0xE0, 0xD2, 0xEB, 0xD9, ' ', '1'}},
        {"Chinese: GB2312", "中文", {0x13, 0xD6, 0xD0, 0xCE, 0xC4}},
        {"Chinese with an accented letter GB2312 has", "中é", {0x13, 0xD6, 0xD0, 0xA8, 0xA6}},
        {"an ideograph GB2312 lacks becomes ?", "體育", {0x13, '?', 0xD3, 0xFD}},
        {"accented Latin: UTF-8", "Télé", {0x15, 'T', 0xC3, 0xA9, 'l', 0xC3, 0xA9}},
        {"Greek: UTF-8", "Ωmega", {0x15, 0xCE, 0xA9, 'm', 'e', 'g', 'a'}},
        {"nothing decodes: UTF-8 as it is", "\xFE" "a", {0x15, 0xFE, 'a'}},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(ToServiceName(c.utf8), c.dvb) << c.what;
    }
}

TEST(WebTextRoundTripTest, NamesComeBackUnchanged) {
    for (const std::string name : {"CCTV-1 HD", "Первый канал", "Télé Café Ñandú", "中文频道", "湖南卫视 HD"}) {
        EXPECT_EQ(ToUtf8(ToServiceName(name)), name);
    }
    // A Big5 name as the pages show it, saved back as GB2312.
    EXPECT_EQ(ToServiceName(ToUtf8({0x14, 0xA4, 0xA4, 0xA4, 0xE5})), (Bytes{0x13, 0xD6, 0xD0, 0xCE, 0xC4}));
}

// Names longer than the buffer keep whole characters and their NUL.
TEST(WebTextLengthTest, LongNamesAreCutAtAWholeCharacter) {
    const std::string chinese300 = Repeat("中", 300);
    const Bytes gb = ToServiceName(chinese300);
    EXPECT_EQ(gb, RepeatBytes({0x13}, {0xD6, 0xD0}, 127)) << "254 bytes of GB2312 after the selector";
    const std::string back = ToUtf8(gb);
    EXPECT_EQ(back, Repeat("中", 85)) << "255 bytes: the 86th character would not fit";

    EXPECT_EQ(ToServiceName(Repeat("Ж", 300)), RepeatBytes({0x01}, {0xB6}, 255));
    EXPECT_EQ(ToServiceName("a" + Repeat("é", 300)), RepeatBytes({0x15, 'a'}, {0xC3, 0xA9}, 126));
    EXPECT_EQ(ToServiceName(Repeat("x", 300)), Bytes(255, 'x'));

    const struct {
        const char* what;
        Bytes dvb;
        std::string utf8;
    } reads[] = {
        {"GB2312, 256 bytes read", RepeatBytes({0x13}, {0xD6, 0xD0}, 150), Repeat("中", 85)},
        {"UTF-8", RepeatBytes({0x15}, {0xE4, 0xB8, 0xAD}, 300), Repeat("中", 85)},
        {"UCS-2", RepeatBytes({0x11}, {0x00, 0xE9}, 300), Repeat("é", 128)},
        {"8859-5", RepeatBytes({0x01}, {0xB6}, 300), Repeat("Ж", 128)},
        {"no selector", Bytes(300, 'x'), std::string(256, 'x')},
    };
    for (const auto& r : reads) {
        const std::string text = ToUtf8(r.dvb);
        EXPECT_EQ(text, r.utf8) << r.what;
        EXPECT_TRUE(EndsOnWholeCharacter(text)) << r.what;
    }
}

// The names the converter writes, carried in the service descriptors of an
// SDT and read back by ffprobe (Debian ffmpeg), which decodes the selectors
// with its own converters.
TEST(WebTextSdtTest, FfprobeReadsTheNamesBack) {
    test::TestEnvironment env;
    const std::vector<std::string> names = {"中文频道", "Первый канал", "Télé Café", "CCTV-1"};
    std::vector<test::PsiStreamTables> model = test::MakePsiModel(1, static_cast<U16>(names.size()));
    ASSERT_EQ(model[0].sdt.vecServices.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Bytes name = ToServiceName(names[i]);
        const std::string provider = "HX";
        Bytes descriptor = {0x48, static_cast<U8>(3 + provider.size() + name.size()), 0x01,
                            static_cast<U8>(provider.size())};
        descriptor.insert(descriptor.end(), provider.begin(), provider.end());
        descriptor.push_back(static_cast<U8>(name.size()));
        descriptor.insert(descriptor.end(), name.begin(), name.end());
        model[0].sdt.vecServices[i].vecDescriptors = descriptor;
    }
    std::vector<U8> stream;
    std::vector<U8> buffer(64 * 1024);
    for (U8 repeat = 0; repeat < 3; ++repeat) {
        ASSERT_TRUE(test::BuildOwnPsi(model, buffer, [&](U16 pid, std::span<const U8> sections) {
            const std::vector<U8> packets = test::Packetize(pid, sections, repeat);
            stream.insert(stream.end(), packets.begin(), packets.end());
        }));
    }
    env.WriteText("/sim/names.ts", std::string(stream.begin(), stream.end()));

    std::string report;
    const std::vector<test::ProbedProgram> probed = test::ProbePrograms(env.Path("/sim/names.ts"), &report);
    ASSERT_EQ(probed.size(), names.size()) << report;
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(probed[i].serviceName, names[i]) << report;
    }
}

}  // namespace
}  // namespace hx
