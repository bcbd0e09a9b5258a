#include "platform/serial_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/common_fun.h"

namespace hx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<U8> Concat(std::vector<U8> a, const std::vector<U8>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The CRC closes each frame little-endian: the MPEG-2 polynomial over slot,
// command, length and data, started from the polynomial itself (as the back
// board computes it), not from all ones.
TEST(SerialFrame, RequestBytes) {
    EXPECT_THAT(SerialFrame_Serialize({3, UART_CMD_GET_NETWORK, {}}),
                ElementsAre(0x47, 0x47, 0x47, 0x47, 3, 1, 0, 0, 0x64, 0x79, 0xA2, 0x28));
}

TEST(SerialFrame, NetworkAnswerBytes) {
    const SerialNetworkSettings settings{0x7F000010, 0x7F000001, 0xFF000000, 0x7F0000FE, 0x69553B80};
    const std::vector<U8> payload = SerialNetworkSettings_Serialize(settings);
    EXPECT_THAT(payload, ElementsAre(0x10, 0, 0, 0x7F, 0x01, 0, 0, 0x7F, 0, 0, 0, 0xFF, 0xFE, 0, 0, 0x7F, 0x80, 0x3B,
                                     0x55, 0x69));
    const std::vector<U8> frame = SerialFrame_Serialize({7, UART_CMD_NETWORK, payload});
    ASSERT_EQ(frame.size(), 32u);
    EXPECT_THAT(std::vector<U8>(frame.begin(), frame.begin() + 8), ElementsAre(0x47, 0x47, 0x47, 0x47, 7, 2, 20, 0));
    EXPECT_THAT(std::vector<U8>(frame.begin() + 8, frame.begin() + 28), ElementsAreArray(payload));
    EXPECT_EQ(GetLe32(&frame[28]), 0xA76ABA10u);

    const auto parsed = SerialNetworkSettings_Parse(payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->ownIP, 0x7F000001u);
    EXPECT_EQ(parsed->utcSeconds, 0x69553B80u);
    EXPECT_FALSE(SerialNetworkSettings_Parse(std::span(payload).first(19)));
}

TEST(SerialFrame, DataLengthLimit) {
    EXPECT_EQ(SerialFrame_Serialize({1, 8, std::vector<U8>(64, 0xAB)}).size(), 76u);
    EXPECT_TRUE(SerialFrame_Serialize({1, 8, std::vector<U8>(65, 0xAB)}).empty());
}

TEST(SerialFrame, ParsesAfterNoiseAndReportsWhatItConsumed) {
    const std::vector<U8> frame = SerialFrame_Serialize({2, UART_CMD_ERROR_CODE, SerialErrorCode_Serialize(1540)});
    const std::vector<U8> input = Concat({0x00, 0x47, 0x47, 0x12}, frame);
    const SerialParseResult result = SerialFrame_Parse(input);
    ASSERT_EQ(result.status, SerialParseStatus::Frame);
    EXPECT_EQ(result.consumed, input.size());
    EXPECT_EQ(result.frame.slot, 2);
    EXPECT_EQ(result.frame.command, UART_CMD_ERROR_CODE);
    EXPECT_EQ(SerialErrorCode_Parse(result.frame.data), 1540u);
}

TEST(SerialFrame, WaitsForTheRestOfAFrame) {
    const std::vector<U8> frame = SerialFrame_Serialize({2, UART_CMD_NETWORK, std::vector<U8>(20, 1)});
    for (std::size_t cut = 0; cut < frame.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::vector<U8> input = Concat({0x01, 0x02}, std::vector<U8>(frame.begin(), frame.begin() + cut));
        const SerialParseResult result = SerialFrame_Parse(input);
        EXPECT_EQ(result.status, SerialParseStatus::NeedMore);
        // The noise goes; anything that may still be the header stays.
        EXPECT_EQ(result.consumed, 2u);
    }
}

TEST(SerialFrame, NoiseWithoutHeaderIsDroppedExceptAPossibleHeaderStart) {
    EXPECT_EQ(SerialFrame_Parse(std::vector<U8>{1, 2, 3, 4, 5}).consumed, 5u);
    EXPECT_EQ(SerialFrame_Parse(std::vector<U8>{1, 2, 0x47, 0x47}).consumed, 2u);
    EXPECT_EQ(SerialFrame_Parse(std::vector<U8>{0x47, 0x47, 0x47}).consumed, 0u);
}

TEST(SerialFrame, BrokenFramesResynchroniseOnTheNextHeader) {
    std::vector<U8> badCrc = SerialFrame_Serialize({2, UART_CMD_ERROR_ACK, SerialErrorCode_Serialize(9)});
    badCrc[9] ^= 0x01;
    std::vector<U8> tooLong = SerialFrame_Serialize({2, UART_CMD_ERROR_ACK, {}});
    tooLong[6] = 65;
    const std::vector<U8> good = SerialFrame_Serialize({4, UART_CMD_ERROR_ACK, SerialErrorCode_Serialize(7)});

    struct Case {
        const char* name;
        std::vector<U8> broken;
        SerialParseStatus status;
    };
    for (const Case& c : {Case{"bad CRC", badCrc, SerialParseStatus::BadCrc},
                          Case{"length above 64", tooLong, SerialParseStatus::BadLength}}) {
        SCOPED_TRACE(c.name);
        std::vector<U8> input = Concat(c.broken, good);
        SerialParseResult result = SerialFrame_Parse(input);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.consumed, 1u);
        while (result.status != SerialParseStatus::Frame && result.consumed > 0) {
            input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(result.consumed));
            result = SerialFrame_Parse(input);
        }
        ASSERT_EQ(result.status, SerialParseStatus::Frame);
        EXPECT_EQ(result.frame.slot, 4);
        EXPECT_EQ(SerialErrorCode_Parse(result.frame.data), 7u);
    }
}

TEST(SerialFrame, BackToBackFramesComeOneAtATime) {
    const std::vector<U8> first = SerialFrame_Serialize({1, UART_CMD_GET_NETWORK, {}});
    const std::vector<U8> second = SerialFrame_Serialize({1, UART_CMD_ERROR_CODE, SerialErrorCode_Serialize(5)});
    const std::vector<U8> input = Concat(first, second);
    const SerialParseResult one = SerialFrame_Parse(input);
    ASSERT_EQ(one.status, SerialParseStatus::Frame);
    EXPECT_EQ(one.consumed, first.size());
    EXPECT_EQ(one.frame.command, UART_CMD_GET_NETWORK);
    const SerialParseResult two = SerialFrame_Parse(std::span(input).subspan(one.consumed));
    ASSERT_EQ(two.status, SerialParseStatus::Frame);
    EXPECT_EQ(two.frame.command, UART_CMD_ERROR_CODE);
}

}  // namespace
}  // namespace hx::test
