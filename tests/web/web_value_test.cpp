#include <gtest/gtest.h>

#include <cJSON.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/log.h"
#include "support/test_env.h"
#include "web/web_text.h"
#include "web/web_value.h"

namespace hx {
namespace {

// A text in a heap buffer of exactly its length and NUL, so AddressSanitizer
// sees a read past it.
std::unique_ptr<char[]> ExactText(const std::string& text) {
    auto buffer = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    return buffer;
}

// ---- BCD and hexadecimal digits ----------------------------------------------

TEST(Bcd2HexTest, PacksDecimalDigitsLeastSignificantFirst) {
    const std::pair<U32, U32> cases[] = {
        {0, 0},
        {7, 0x7},
        {6875, 0x6875},
        {474000, 0x474000},     // a frequency in kHz
        {68750, 0x68750},       // 6,875,000 symbol/s in units of 100
        {99999999, 0x99999999},
        {123456789, 0x23456789},  // eight digits at most
    };
    for (const auto& [binary, bcd] : cases) {
        EXPECT_EQ(bcd, Bcd2Hex(binary)) << binary;
    }
}

TEST(Hex2BcdTest, CountsEachNibbleAtItsDecimalWeight) {
    const std::pair<U32, U32> cases[] = {
        {0, 0},
        {0x1234, 1234},
        {0x1A, 20},                 // a nibble above 9 is taken at its value
        {0xFF, 165},
        {0x99999999, 99999999},
        {0x03460000, 3460000},
        {0xFFFFFFFF, 166666665},    // every nibble 15: no overflow of 32 bits
    };
    for (const auto& [bcd, binary] : cases) {
        EXPECT_EQ(binary, Hex2Bcd(bcd)) << std::hex << bcd;
    }
    for (U32 value : {0u, 1u, 9u, 10u, 6875u, 12345678u, 99999999u}) {
        EXPECT_EQ(value, Hex2Bcd(Bcd2Hex(value))) << value;
    }
}

TEST(X2cTest, TwoHexadecimalCharactersInEitherCase) {
    struct Case {
        const char* text;
        U8 byte;
    };
    const Case cases[] = {
        {"4a", 0x4A}, {"4A", 0x4A}, {"ff", 0xFF}, {"00", 0x00}, {"9f", 0x9F},
        {"7", 0x07},                // one character: that digit alone
        {"a", 0x0A},
        {"4a5", 0x4A},              // only two characters are read
        {"", 0x00},
        {nullptr, 0x00},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.byte, x2c(c.text)) << (c.text ? c.text : "(null)");
    }
}

// ---- descriptor loops ---------------------------------------------------------

std::string Listed(const std::vector<U8>& loop) {
    // The loop alone on the heap, so a read past its end is caught.
    auto bytes = std::make_unique<U8[]>(loop.size());
    std::memcpy(bytes.get(), loop.data(), loop.size());
    cJSON* array = cJSON_CreateArray();
    EXPECT_EQ(0u, _web_parseDescriptor(bytes.get(), static_cast<U32>(loop.size()), array));
    char* printed = cJSON_PrintUnformatted(array);
    std::string text = printed;
    cJSON_free(printed);
    cJSON_Delete(array);
    return text;
}

TEST(ParseDescriptorTest, ListsEachDescriptorOfTheLoop) {
    struct Case {
        const char* name;
        std::vector<U8> loop;
        std::string json;
    };
    std::vector<U8> longest = {0x80, 0xFF};
    longest.resize(2 + 255, 0xC3);
    std::string longestHex;
    for (int i = 0; i < 255; ++i) {
        longestHex += "c3";
    }
    const Case cases[] = {
        {"other tag as lower-case hexadecimal", {0x5A, 0x03, 0xAB, 0x0C, 0xEF},
         R"([{"tag":"5a","data":"ab0cef","length":3}])"},
        {"cable delivery",
         {0x44, 0x0B, 0x03, 0x46, 0x00, 0x00, 0xFF, 0xF2, 0x03, 0x00, 0x68, 0x75, 0x0F},
         R"([{"tag":"44","data":"03460000fff2030068750f","length":11,"frequency":346000,"symbolrate":6875}])"},
        {"satellite delivery",
         {0x43, 0x0B, 0x01, 0x17, 0x50, 0x00, 0x01, 0x92, 0x81, 0x02, 0x75, 0x00, 0x03},
         R"([{"tag":"43","data":"0117500001928102750003","length":11,"frequency":11750,"orbitalposition":19.2,)"
         R"("symbolrate":27500}])"},
        {"delivery descriptor too short for its numbers",
         {0x44, 0x0A, 0x03, 0x46, 0x00, 0x00, 0xFF, 0xF2, 0x03, 0x00, 0x68, 0x75},
         R"([{"tag":"44","data":"03460000fff203006875","length":10}])"},
        {"several in order", {0x5A, 0x01, 0x01, 0x41, 0x02, 0x00, 0x01},
         R"([{"tag":"5a","data":"01","length":1},{"tag":"41","data":"0001","length":2}])"},
        {"five empty descriptors: four listed",
         {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x01, 0xAA},
         R"([{"tag":"01","data":"","length":0},{"tag":"02","data":"","length":0},)"
         R"({"tag":"03","data":"","length":0},{"tag":"04","data":"","length":0}])"},
        {"empty descriptors apart still count", {0x01, 0x00, 0x5A, 0x01, 0x07, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00,
                                                 0x05, 0x00, 0x06, 0x00},
         R"([{"tag":"01","data":"","length":0},{"tag":"5a","data":"07","length":1},)"
         R"({"tag":"02","data":"","length":0},{"tag":"03","data":"","length":0},{"tag":"04","data":"","length":0}])"},
        {"a descriptor running past the loop ends it", {0x5A, 0x01, 0x01, 0x41, 0x05, 0x00, 0x01},
         R"([{"tag":"5a","data":"01","length":1}])"},
        {"a lone tag byte at the end is no header", {0x5A, 0x01, 0x01, 0x41},
         R"([{"tag":"5a","data":"01","length":1}])"},
        {"a single byte", {0x41}, "[]"},
        {"the longest descriptor", longest, R"([{"tag":"80","data":")" + longestHex + R"(","length":255}])"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.json, Listed(c.loop)) << c.name;
    }
}

TEST(ParseDescriptorTest, NetworkNameGoesThroughTheTextConverter) {
    const std::vector<U8> name = {0x15, 'N', 'e', 't', 0xC3, 0xA9};
    const std::string converted = web_StringConvertToUTF8(name.data(), static_cast<U32>(name.size()));
    std::vector<U8> loop = {0x40, static_cast<U8>(name.size())};
    loop.insert(loop.end(), name.begin(), name.end());
    loop.insert(loop.end(), {0x5A, 0x01, 0x09});
    EXPECT_EQ(R"([{"tag":"40","data":")" + converted + R"(","length":)" + std::to_string(converted.size()) +
                  R"(},{"tag":"5a","data":"09","length":1}])",
              Listed(loop));
}

TEST(ParseDescriptorTest, RefusesAbsentBytesAbsentOrNonArrayTargetAndEmptyLoop) {
    const U8 loop[] = {0x5A, 0x01, 0x01};
    cJSON* array = cJSON_CreateArray();
    cJSON* object = cJSON_CreateObject();
    EXPECT_EQ(775u, _web_parseDescriptor(nullptr, 3, array));
    EXPECT_EQ(775u, _web_parseDescriptor(loop, 3, nullptr));
    EXPECT_EQ(775u, _web_parseDescriptor(loop, 3, object));
    EXPECT_EQ(775u, _web_parseDescriptor(loop, 0, array));
    EXPECT_EQ(0, cJSON_GetArraySize(array));
    EXPECT_EQ(nullptr, object->child);
    // An array that already holds entries is appended to.
    cJSON_AddItemToArray(array, cJSON_CreateNumber(1));
    EXPECT_EQ(0u, _web_parseDescriptor(loop, 3, array));
    EXPECT_EQ(2, cJSON_GetArraySize(array));
    cJSON_Delete(array);
    cJSON_Delete(object);
}

// ---- channel mapping ------------------------------------------------------------

TEST(ChannelMappingTest, OnePortOfSixteenChannels) {
    EXPECT_EQ(1u, _web_GetOutPortNum());
    EXPECT_EQ(16u, _web_GetOutChannelNum());
    EXPECT_EQ(16u, _web_GetOutChannelNumbyPort());
    struct Case {
        U32 real;
        U32 result;
        U32 port;
        U32 channel;
    };
    constexpr U32 kUntouched = 0xDEAD;
    for (const Case& c : {Case{0, 1, 0, 0}, Case{7, 1, 0, 7}, Case{15, 1, 0, 15}, Case{16, 0, kUntouched, kUntouched},
                          Case{255, 0, kUntouched, kUntouched}, Case{0xFFFFFFFF, 0, kUntouched, kUntouched}}) {
        U32 port = kUntouched;
        U32 channel = kUntouched;
        EXPECT_EQ(c.result, _web_GetOutPortAndChannelByRealChannel(c.real, &port, &channel)) << c.real;
        EXPECT_EQ(c.port, port) << c.real;
        EXPECT_EQ(c.channel, channel) << c.real;
    }
    for (U32 real = 0; real < 16; ++real) {
        U32 port = 0;
        U32 channel = 0;
        ASSERT_EQ(1u, _web_GetOutPortAndChannelByRealChannel(real, &port, &channel));
        EXPECT_EQ(real, _web_GetOutRealChannel(port, channel));
    }
    EXPECT_EQ(21u, _web_GetOutRealChannel(1, 5)) << "no range check: the callers check";
}

// ---- country code, time offset and TOT time texts -----------------------------

class WebValueTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors({"Param is NULL!", "Web_StringReplace Input error!"});
        log_Init(kMainLogPath);
    }
    // The number of ERROR lines naming `text` since the last call.
    size_t TakeErrors(const std::string& text) {
        const std::string console = env.TakeConsole();
        size_t count = 0;
        for (size_t at = console.find(text); at != std::string::npos; at = console.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    test::TestEnvironment env;
};

TEST_F(WebValueTextTest, CountryCodeWritesHexadecimalDigitsAndReadsCharacters) {
    char text[kWebValueTextBytes] = {};
    EXPECT_EQ(0u, Web_CountryCodeHex2W(0x474252, text));
    EXPECT_STREQ("474252", text);
    EXPECT_EQ(0u, Web_CountryCodeHex2W(0xFF0A0B01, text)) << "bits above 23 are not part of the code";
    EXPECT_STREQ("0a0b01", text);
    EXPECT_EQ(4u, Web_CountryCodeHex2W(0x474252, nullptr));
    EXPECT_EQ(1u, TakeErrors("Param is NULL!"));

    struct Case {
        const char* text;
        U32 code;
    };
    for (const Case& c : {Case{"GBR", 0x474252}, Case{"gbr", 0x676272}, Case{"DEUX", 0x444555},
                          Case{"\xC3\xA9x", 0xC3A978}}) {
        EXPECT_EQ(c.code, Web_CountryCodeW2Hex(ExactText(c.text).get())) << c.text;
    }
    EXPECT_EQ(0u, TakeErrors("Param is NULL!"));
    // A text too short for three characters counts as absent.
    for (const char* shortText : {"", "G", "GB"}) {
        EXPECT_EQ(4u, Web_CountryCodeW2Hex(ExactText(shortText).get())) << shortText;
    }
    EXPECT_EQ(4u, Web_CountryCodeW2Hex(nullptr));
    EXPECT_EQ(4u, TakeErrors("Param is NULL!"));
}

TEST_F(WebValueTextTest, TimeOffsetBothWays) {
    struct Case {
        const char* text;
        U16 offset;
    };
    for (const Case& c : {Case{"05:30", 0x0530}, Case{"00:00", 0x0000}, Case{"12:45", 0x1245}, Case{"23:59", 0x2359}}) {
        EXPECT_EQ(c.offset, Web_TimeOffsetW2Hex(ExactText(c.text).get())) << c.text;
        char text[kWebValueTextBytes] = {};
        Web_TimeOffsetHex2W(c.offset, text);
        EXPECT_STREQ(c.text, text);
    }
    EXPECT_EQ(0x0530, Web_TimeOffsetW2Hex(ExactText("05:30:99").get())) << "characters past five are not read";
    EXPECT_EQ(0x0530, Web_TimeOffsetW2Hex(ExactText("05h30").get())) << "the separator is not checked";
    EXPECT_EQ(0u, TakeErrors("Param is NULL!"));
    for (const char* shortText : {"", "05", "05:3"}) {
        EXPECT_EQ(0, Web_TimeOffsetW2Hex(ExactText(shortText).get())) << shortText;
    }
    EXPECT_EQ(0, Web_TimeOffsetW2Hex(nullptr));
    EXPECT_EQ(4u, TakeErrors("Param is NULL!"));
}

TEST_F(WebValueTextTest, TotTimeBothWays) {
    struct Case {
        const char* text;
        std::vector<U8> utc;
    };
    const Case cases[] = {
        {"1993/10/13 12:45:00", {0xC0, 0x79, 0x12, 0x45, 0x00}},  // MJD 49273
        {"1999/12/31 23:59:59", {0xC9, 0x57, 0x23, 0x59, 0x59}},  // MJD 51543
        {"2000/01/01 00:00:00", {0xC9, 0x58, 0x00, 0x00, 0x00}},  // January: the year before's leap rule
        {"2024/02/29 08:05:09", {0xEB, 0xD1, 0x08, 0x05, 0x09}},  // MJD 60369, a leap day
        {"2024/03/01 00:00:01", {0xEB, 0xD2, 0x00, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        char text[kWebValueTextBytes] = {};
        Web_TOTTimeHex2W(text, c.utc.data());
        EXPECT_STREQ(c.text, text);
        std::vector<U8> utc(kUtcTimeBytes, 0xEE);
        Web_TOTTimeW2Hex(ExactText(c.text).get(), utc.data());
        EXPECT_EQ(c.utc, utc) << c.text;
    }
    EXPECT_EQ(0u, TakeErrors("Param is NULL!"));

    // Too short to hold the seconds: counts as absent, nothing written.
    std::vector<U8> utc(kUtcTimeBytes, 0xEE);
    for (const char* shortText : {"", "1993/10/13", "1993/10/13 12:45:0"}) {
        Web_TOTTimeW2Hex(ExactText(shortText).get(), utc.data());
    }
    Web_TOTTimeW2Hex(nullptr, utc.data());
    Web_TOTTimeW2Hex("1993/10/13 12:45:00", nullptr);
    EXPECT_EQ(std::vector<U8>(kUtcTimeBytes, 0xEE), utc);
    EXPECT_EQ(5u, TakeErrors("Param is NULL!"));
}

// ---- character replacement --------------------------------------------------------

TEST_F(WebValueTextTest, CharacterReplaceWithinTheDestination) {
    struct Case {
        const char* name;
        const char* source;
        U32 size;
        U8 oldByte;
        U8 newByte;
        U32 result;
        const char* destination;  // null: left as it was
    };
    const Case cases[] = {
        {"board description", "A/B", 16, '/', '-', 0, "A-B"},
        {"every occurrence", "/a//b/", 16, '/', '_', 0, "_a__b_"},
        {"nothing to replace", "plain", 16, '/', '-', 0, "plain"},
        {"non-ASCII bytes pass", "\xC3\xA9/x", 16, '/', '-', 0, "\xC3\xA9-x"},
        {"exact fit", "A/B", 4, '/', '-', 0, "A-B"},
        {"cut to the destination", "A/B/C/D", 4, '/', '-', 0, "A-B"},
        {"a destination of one byte", "A/B", 1, '/', '-', 0, ""},
        {"empty source", "", 4, '/', '-', 0, ""},
        {"new byte 0x80", "A/B", 16, '/', 0x80, 1, nullptr},
        {"old byte 0xFF", "A/B", 16, 0xFF, '-', 1, nullptr},
        {"no room at all", "A/B", 0, '/', '-', 1, nullptr},
    };
    size_t refused = 0;
    for (const Case& c : cases) {
        // The destination exactly as large as stated (one byte when 0).
        const size_t bytes = c.size == 0 ? 1 : c.size;
        auto destination = std::make_unique<char[]>(bytes);
        std::memset(destination.get(), '#', bytes);
        EXPECT_EQ(c.result, Web_CharacterReplace(ExactText(c.source).get(), destination.get(), c.size, c.oldByte,
                                                 c.newByte))
            << c.name;
        if (c.destination != nullptr) {
            EXPECT_STREQ(c.destination, destination.get()) << c.name;
        } else {
            ++refused;
            EXPECT_EQ(std::string(bytes, '#'), std::string(destination.get(), bytes)) << c.name;
        }
    }
    char destination[8];
    EXPECT_EQ(1u, Web_CharacterReplace(nullptr, destination, sizeof destination, '/', '-'));
    EXPECT_EQ(1u, Web_CharacterReplace("A/B", nullptr, 8, '/', '-'));
    EXPECT_EQ(refused + 2, TakeErrors("Web_StringReplace Input error!"));
}

// ---- display names ------------------------------------------------------------------

TEST(DisplayNameTest, StreamTypesAndPidTypes) {
    struct Table {
        const char* name;
        void (*describe)(U8, char*);
        std::vector<std::pair<U8, const char*>> cases;
    };
    const Table tables[] = {
        {"stream types", Web_GetStreamTypeDesc,
         {{1, "Video(MPEG2)"}, {2, "Video(MPEG2)"}, {3, "Audio"}, {4, "Audio"}, {5, "Private Data"},
          {6, "Private Data/AC3"}, {9, "ECM"}, {15, "Audio(MPEG2_AAC)"}, {16, "Video(MPEG4)"},
          {17, "Audio(MPEG4_AAC)"}, {27, "Video(H264)"}, {36, "Video(H265)"}, {66, "Video(AVS)"},
          {128, "Video(Digicipher2)"}, {129, "Audio(AC3)"}, {0, "User Private"}, {7, "User Private"},
          {37, "User Private"}, {255, "User Private"}}},
        {"PID types", Web_GetPIDTypeDesc,
         {{0, "Video"}, {1, "Audio"}, {2, "PCR"}, {3, "EMM"}, {4, "PSECM"}, {5, "ESECM"}, {6, "Other"},
          {7, "PAT"}, {8, "PMT"}, {9, "SDT"}, {10, "CAT"}, {15, "EIT"}, {16, "MGT"}, {11, "Unknown"},
          {14, "Unknown"}, {17, "Unknown"}, {255, "Unknown"}}},
    };
    for (const Table& table : tables) {
        for (const auto& [type, name] : table.cases) {
            char text[kWebValueTextBytes];
            std::memset(text, '#', sizeof text);
            table.describe(type, text);
            EXPECT_STREQ(name, text) << table.name << " " << int{type};
        }
    }
}

}  // namespace
}  // namespace hx
