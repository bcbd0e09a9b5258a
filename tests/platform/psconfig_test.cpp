#include <gtest/gtest.h>

#include <vector>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"
#include "platform/psconfig.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

class BitstreamLoadTest : public ::testing::Test {
protected:
    void SetUp() override { env.clock().SetAutoAdvance(true); }

    test::TestEnvironment env;
};

TEST_F(BitstreamLoadTest, TheEmbeddedBitstreamLoadsAndThePortSeesEveryByte) {
    test::SimBoard board;
    const std::uint64_t start = env.clock().MonotonicMicros();
    EXPECT_EQ(0u, PSConf_FWConfigGeneralFPGA32Bit(qam_data_array, kQamBitstreamSize, 1));
    sim::ConfigPortModel& port = board.fpga().configPort();
    EXPECT_TRUE(port.Loaded());
    EXPECT_EQ(kQamBitstreamSize, port.Length());
    EXPECT_EQ(kQamBitstreamSize / 4, port.WordsPushed());
    EXPECT_EQ(Common_CRC_Calculate(qam_data_array, kQamBitstreamSize, kCrcInitMpeg2), port.Crc());
    EXPECT_EQ(0u, board.fpga().Peek(kRegConfigControl)) << "the port is released";
    EXPECT_EQ(start, env.clock().MonotonicMicros()) << "a port that answers at once costs no waiting";
}

// Lengths that are not whole words: the last word carries the remaining
// bytes from bit 31 down, zero-padded.
TEST_F(BitstreamLoadTest, ShortLengthsPadTheLastWord) {
    test::SimBoard board;
    const std::vector<U8> data = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    for (U32 length = 1; length <= data.size(); ++length) {
        board.fpga().StartWriteLog();
        EXPECT_EQ(0u, PSConf_FWConfigGeneralFPGA32Bit(data.data(), length, 1)) << length;
        board.fpga().StopWriteLog();
        std::vector<U32> words;
        for (const sim::RegisterWrite& write : board.fpga().TakeWriteLog()) {
            if (write.index == kRegConfigData) {
                words.push_back(write.value);
            }
        }
        std::vector<U8> padded(data.begin(), data.begin() + length);
        padded.resize((length + 3) / 4 * 4, 0);
        std::vector<U32> expected;
        for (std::size_t i = 0; i < padded.size(); i += 4) {
            expected.push_back(GetBe32(padded.data() + i));
        }
        EXPECT_EQ(expected, words) << length;
        EXPECT_EQ(Common_CRC_Calculate(data.data(), length, kCrcInitMpeg2), board.fpga().configPort().Crc()) << length;
    }
}

TEST_F(BitstreamLoadTest, FailuresGiveTheirCodesAndReleaseThePort) {
    struct Case {
        const char* name;
        sim::ConfigPortFaults faults;
        U32 expected;
        std::uint64_t waitedMicros;
    };
    const U8 data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const Case& c : {Case{"port error", {.failLoads = true}, 1, 0},
                          Case{"never ready", {.neverReady = true}, 2, 100'000},
                          Case{"never done", {.neverDone = true}, 2, 1'000'000}}) {
        test::SimBoard board;
        board.fpga().configPort().SetFaults(c.faults);
        board.fpga().StartWriteLog();
        const std::uint64_t start = env.clock().MonotonicMicros();
        EXPECT_EQ(c.expected, PSConf_FWConfigGeneralFPGA32Bit(data, sizeof data, 1)) << c.name;
        EXPECT_EQ(c.waitedMicros, env.clock().MonotonicMicros() - start) << c.name;
        EXPECT_FALSE(board.fpga().configPort().Loaded()) << c.name;
        const std::vector<sim::RegisterWrite> writes = board.fpga().TakeWriteLog();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ((sim::RegisterWrite{kRegConfigControl, 0, writes.back().micros}), writes.back()) << c.name;
        if (c.faults.neverReady) {
            EXPECT_EQ(2u, writes.size()) << "no length or data without ready";
        }
    }
}

TEST_F(BitstreamLoadTest, TheRunProfileKnobMakesTheSimulatedPortFail) {
    RunProfile profile = Profile();
    profile.simBitstreamFails = true;
    SetProfile(profile);
    test::SimBoard board;
    EXPECT_EQ(1u, PSConf_FWConfigGeneralFPGA32Bit(qam_data_array, kQamBitstreamSize, 1));
}

TEST_F(BitstreamLoadTest, BadInputTouchesNoRegister) {
    test::SimBoard board;
    const U8 data[4] = {1, 2, 3, 4};
    struct Case {
        const U8* data;
        U32 length;
        U32 target;
    };
    board.fpga().StartWriteLog();
    for (const Case& c : {Case{nullptr, 4, 1}, Case{data, 0, 1}, Case{data, 4, 0}, Case{data, 4, 2}}) {
        EXPECT_EQ(4u, PSConf_FWConfigGeneralFPGA32Bit(c.data, c.length, c.target));
    }
    EXPECT_TRUE(board.fpga().TakeWriteLog().empty());
}

TEST_F(BitstreamLoadTest, WithoutTheWindowTheLoadTimesOut) {
    REG_AttachBus(nullptr);
    const U8 data[4] = {1, 2, 3, 4};
    EXPECT_EQ(2u, PSConf_FWConfigGeneralFPGA32Bit(data, sizeof data, 1));
}

}  // namespace
}  // namespace hx
