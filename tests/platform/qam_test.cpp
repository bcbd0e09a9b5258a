#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"
#include "platform/qam.h"
#include "platform/qam_defaults.h"
#include "platform/resource.h"
#include "platform/z160t_frame.h"
#include "platform/z160t_link.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"
#include "platform/qam_fixture.h"
#include "support/sim_160t.h"
#include "support/test_env.h"

namespace hx {
namespace {

using Fault = sim::ReplyFault::Kind;
constexpr std::uint64_t kSecond = 1'000'000;

TParameter_QAM Table(U32 mode, U32 constellation, U32 symbolRate) {
    TParameter_QAM table{};
    table.Mode[0].value = mode;
    table.Constellation[0].value = constellation;
    table.SymbolRate[0].value = symbolRate;
    return table;
}

TEST(RateWordTest, BothFormsOverModesConstellationsAndSymbolRates) {
    struct Case {
        const char* name;
        U32 mode;
        U32 constellation;
        U32 symbolRate;
        std::optional<U32> apply;
        std::optional<U32> startup;
    };
    const std::vector<Case> cases = {
        {"A, 64-QAM", MODE_QAMA, 2, 6'875'000, 37'437, 37'415},
        {"A, 256-QAM", MODE_QAMA, 4, 6'875'000, 28'068, 28'035},
        {"B, constellation 1", MODE_QAMB, 1, 0, 36'668, 36'645},
        {"B, another constellation", MODE_QAMB, 3, 5'360'537, 52'796, 52'780},
        {"C takes A's framing", MODE_QAMC, 2, 5'274'000, 48'821, 48'790},
        // 1504 × 4,294,967 passes 32 bits: the rate is computed in 64.
        {"A, largest symbol rate", MODE_QAMA, 4, 0xFFFFFFFF, 44, 35},
        {"mode 3", 3, 2, 6'875'000, std::nullopt, std::nullopt},
        {"symbol rate 999 carries nothing", MODE_QAMA, 2, 999, std::nullopt, std::nullopt},
        // 60 kbit/s and less would need a word of 2^27 or more (or divide by 0).
        {"payload 60 kbit/s", MODE_QAMA, 2, 11'000, std::nullopt, std::nullopt},
        {"payload 50 kbit/s", MODE_QAMA, 51, 1'000, std::nullopt, std::nullopt},
        {"payload 61 kbit/s", MODE_QAMA, 63, 1'000, 129'207'272, 129'207'260},
    };
    for (const Case& c : cases) {
        const TParameter_QAM table = Table(c.mode, c.constellation, c.symbolRate);
        EXPECT_EQ(c.apply, QAM160T_RateWord(table, QamRateWordForm::Apply)) << c.name;
        EXPECT_EQ(c.startup, QAM160T_RateWord(table, QamRateWordForm::Startup)) << c.name;
    }
    EXPECT_EQ(std::optional<std::uint64_t>(38'014), QAM160T_PayloadRate(Table(MODE_QAMA, 2, 6'875'000)));
    EXPECT_EQ(std::optional<std::uint64_t>(60), QAM160T_PayloadRate(Table(MODE_QAMA, 2, 11'000)));
}

using test::QamTest;

TEST_F(QamTest, StartupSendsTheUsedPairsThenSetsRegisters272To275) {
    live->ChannelEnable[2].value = 1;
    const std::uint64_t start = env.clock().MonotonicMicros();
    testing::internal::CaptureStdout();
    EXPECT_EQ(0u, UartComm_ConfigQAM160T());
    const std::string echoed = testing::internal::GetCapturedStdout();

    ASSERT_EQ(1u, fpga160t.Bursts().size());
    const sim::Burst160T burst = fpga160t.Bursts()[0];
    ASSERT_EQ(kQamUsedPairs, burst.pairs.size());
    const QamPairs pairs = QAM_PairsOf(*live);
    for (U32 i = 0; i < kQamUsedPairs; ++i) {
        EXPECT_EQ((sim::Parameter160T{pairs[i].address, pairs[i].value}), burst.pairs[i]) << i;
    }
    EXPECT_EQ((sim::Parameter160T{2164, 1}), burst.end) << "END carries the last pair, InsertPSIEnable[31]";
    EXPECT_FALSE(burst.interrupted);
    EXPECT_NE(std::string::npos, env.Console().find("ChangeParamNum = 197\n\n"));

    const std::vector<sim::Received160TFrame> frames = fpga160t.Frames();
    ASSERT_EQ(kQamUsedPairs + 2 + 4, frames.size());
    EXPECT_GE(frames.front().micros - start, 6 * kSecond) << "IP0 set-up (1 s) and 5 s before the burst";
    for (U32 i = 0; i < 4; ++i) {
        const sim::Received160TFrame& frame = frames[kQamUsedPairs + 2 + i];
        EXPECT_EQ(UART160T_CMD_WRITEFPGA, frame.command);
        EXPECT_EQ(0xFF00u, fpga160t.Register(272 + i));
    }
    // The start-up form of the word, on the enabled channel only.
    EXPECT_EQ(0xF8000000u | 37'415, board.fpga().rateWords().Word(2));
    EXPECT_EQ(0u, board.fpga().rateWords().Word(3));
    EXPECT_NE(std::string::npos, echoed.find("addr[0x365],data[0x2]\naddr[0x366],data[0xf8009227]\n"));
    EXPECT_TRUE(saved.empty()) << "the start-up send saves nothing";
    ExpectSimulatorMapHoldsUsedPairs();
}

TEST_F(QamTest, StartupWritesWordZeroForASettingWithoutOne) {
    live->Mode[0].value = 3;
    live->ChannelEnable[0].value = 1;
    testing::internal::CaptureStdout();
    UartComm_ConfigQAM160T();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(kQamRateWordEnable, board.fpga().rateWords().Word(0));
    EXPECT_NE(std::string::npos, env.Console().find("Rate Word Out Of Range: Mode 3"));
}

TEST_F(QamTest, StartupLogsALinkFailure) {
    fpga160t.FailNext({Fault::NoAnswer}, 1, /*after=*/10);
    testing::internal::CaptureStdout();
    EXPECT_EQ(2u, UartComm_ConfigQAM160T());
    testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, env.Console().find("Send Parameters To 160T Fail (10003)"));
    EXPECT_EQ(0xFF00u, fpga160t.Register(275)) << "the send goes on to the end";
}

TEST_F(QamTest, ApplySendsOnlyTheChangedPairs) {
    testing::internal::CaptureStdout();
    UartComm_ConfigQAM160T();
    fpga160t.TakeFrames();
    EXPECT_EQ(0u, ApplyEdit([](TParameter_QAM& table) {
                  table.ChannelEnable[0].value = 1;
                  table.Frequency[3].value = 474'000;
                  table.Scale[20].value = 64;  // channels 16-31 go when they change
              }));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(2u, fpga160t.Bursts().size());
    const sim::Burst160T burst = fpga160t.Bursts()[1];
    EXPECT_EQ((std::vector<sim::Parameter160T>{{512, 1}, {771, 474'000}, {1300, 64}}), burst.pairs);
    EXPECT_EQ((sim::Parameter160T{1300, 64}), burst.end);
    EXPECT_NE(std::string::npos, env.Console().find("ChangeParamNum = 3\n\n"));
    ExpectSimulatorMapHoldsUsedPairs();
    ASSERT_EQ(1u, saved.size());
    EXPECT_EQ(0, std::memcmp(&saved[0], live, sizeof *live));
    EXPECT_EQ(0xF8000000u | 37'437, board.fpga().rateWords().Word(0)) << "the apply's form of the word";
}

TEST_F(QamTest, ApplyWithoutChangesSendsNothingYetReprogramsAndSaves) {
    board.fpga().StartWriteLog();
    testing::internal::CaptureStdout();
    EXPECT_EQ(0u, QAM160T_ParamsProcess(scratch, live));
    const std::string echoed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fpga160t.Frames().empty());
    EXPECT_NE(std::string::npos, env.Console().find("ChangeParamNum = 0\n\n"));
    std::vector<U32> channels;
    for (const sim::RegisterWrite& write : board.fpga().TakeWriteLog()) {
        if (write.index == kRegRateWordChannel) {
            channels.push_back(write.value);
        }
    }
    EXPECT_EQ((std::vector<U32>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), channels);
    std::string expectedEcho;
    for (U32 channel = 0; channel < 16; ++channel) {
        expectedEcho += "addr[0x365],data[0x" + std::string(1, "0123456789abcdef"[channel]) + "]\naddr[0x366],data[0x0]\n";
    }
    EXPECT_EQ(expectedEcho, echoed);
    EXPECT_EQ(1u, saved.size());
}

TEST_F(QamTest, RegisterSequenceOfAnEnabledAndADisabledChannel) {
    live->ChannelEnable[0].value = 1;
    *scratch = *live;
    board.fpga().StartWriteLog();
    testing::internal::CaptureStdout();
    ASSERT_EQ(0u, QAM160T_ParamsProcess(scratch, live));
    testing::internal::GetCapturedStdout();
    std::vector<sim::RegisterWrite> writes;
    for (const sim::RegisterWrite& write : board.fpga().TakeWriteLog()) {
        if (write.index >= 864 && write.index <= 870) {
            writes.push_back(write);
        }
    }
    ASSERT_GE(writes.size(), 15u);
    const std::uint64_t t0 = writes[0].micros;
    const U32 word = 0xF8000000u | 37'437;
    const std::vector<std::tuple<U32, U32, std::uint64_t>> expected = {
        {869, 0, 0}, {870, word, 0}, {868, 0, 0}, {868, 1, 0}, {868, 0, 0}, {865, 0, 0}, {864, 0, 0}, {864, 1, 0}, {864, 0, 0},
        // 60 ms later, channel 1 is off.
        {869, 1, 60'000}, {870, 0, 60'000}, {868, 0, 60'000}, {868, 1, 60'000}, {868, 0, 60'000},
        {869, 2, 60'000}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [index, value, at] = expected[i];
        EXPECT_EQ(index, writes[i].index) << i;
        EXPECT_EQ(value, writes[i].value) << i;
        EXPECT_EQ(at, writes[i].micros - t0) << i;
    }
    EXPECT_EQ(1u, board.fpga().rateWords().Restarts(0));
    EXPECT_EQ(0u, board.fpga().rateWords().Restarts(1));
}

TEST_F(QamTest, AnUnacknowledgedPairStillSendsTheRestAndSaves) {
    // START and the first pair pass; the second pair is not acknowledged.
    fpga160t.FailNext({Fault::NoAnswer}, 1, /*after=*/2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(2u, ApplyEdit([](TParameter_QAM& table) {
                  table.Frequency[0].value = 306'000;
                  table.Frequency[1].value = 314'000;
                  table.Frequency[2].value = 322'000;
              }));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, fpga160t.Bursts().size());
    EXPECT_EQ(3u, fpga160t.Bursts()[0].pairs.size());
    EXPECT_TRUE(fpga160t.Bursts()[0].end.has_value());
    EXPECT_NE(std::string::npos, env.Console().find("u32Index = 1 u32ParamNum = 3"));
    EXPECT_NE(std::string::npos, env.Console().find("Send Parameters To 160T Fail (10003)"));
    EXPECT_EQ(1u, saved.size());
    EXPECT_EQ(306'000u, live->Frequency[0].value) << "the edit stays";
    EXPECT_EQ(0u, board.fpga().rateWords().Word(0)) << "the rate words are written all the same";
}

TEST_F(QamTest, ASettingWithoutARateWordIsRefusedAndUndone) {
    struct Case {
        const char* name;
        U32 mode;
        U32 symbolRate;
    };
    for (const Case& c : {Case{"mode 3", 3, 6'875'000}, Case{"symbol rate 999", MODE_QAMA, 999}}) {
        const TParameter_QAM before = *live;
        board.fpga().StartWriteLog();
        EXPECT_EQ(4u, ApplyEdit([&](TParameter_QAM& table) {
                      table.Mode[0].value = c.mode;
                      table.SymbolRate[0].value = c.symbolRate;
                      table.Frequency[5].value = 1;
                  }))
            << c.name;
        EXPECT_EQ(0, std::memcmp(&before, live, sizeof before)) << c.name << ": the live table is restored";
        EXPECT_TRUE(fpga160t.Frames().empty()) << c.name;
        EXPECT_TRUE(board.fpga().TakeWriteLog().empty()) << c.name << ": no rate word";
        EXPECT_TRUE(saved.empty()) << c.name;
        EXPECT_EQ(0u, g_isSetQamPara.load());
    }
    EXPECT_EQ(4u, QAM160T_ParamsProcess(nullptr, live));
    EXPECT_EQ(4u, QAM160T_ParamsProcess(scratch, nullptr));
    EXPECT_NE(std::string::npos, env.Console().find("Input Parameter Error.\n\n"));
}

TEST_F(QamTest, DacFollowsTheEnabledChannels) {
    EXPECT_EQ(0u, IsChannelenableConfig9119());
    live->ChannelEnable[16].value = 1;  // not an output channel
    EXPECT_EQ(0u, IsChannelenableConfig9119());
    live->ChannelEnable[15].value = 1;
    EXPECT_EQ(0u, IsChannelenableConfig9119());
    const std::vector<sim::Received160TFrame> frames = fpga160t.Frames();
    ASSERT_EQ(3u, frames.size());
    std::array<U8, 8> off{};
    PutLe32(off.data(), 1);
    PutLe32(off.data() + 4, 72);
    std::array<U8, 8> on{};
    PutLe32(on.data(), 1);
    PutLe32(on.data() + 4, 8);
    EXPECT_EQ(UART160T_CMD_CLOSE9119, frames[0].command);
    EXPECT_EQ(std::vector<U8>(off.begin(), off.end()), frames[0].data);
    EXPECT_EQ(UART160T_CMD_CLOSE9119, frames[1].command);
    EXPECT_EQ(UART160T_CMD_WRITE9119, frames[2].command);
    EXPECT_EQ(std::vector<U8>(on.begin(), on.end()), frames[2].data);
    EXPECT_EQ(8u, fpga160t.DacRegister(1));

    fpga160t.FailNext({Fault::NoAnswer});
    EXPECT_EQ(VK_160TUART_TIME_OUT, IsChannelenableConfig9119());
}

TEST_F(QamTest, SingleModeIsStoredAndSavedButNotSent) {
    EXPECT_EQ(0u, QAM_SetSingleMode(1));
    EXPECT_EQ(1u, live->SingleMode.value);
    ASSERT_EQ(1u, saved.size());
    EXPECT_EQ(1u, saved[0].SingleMode.value);
    EXPECT_TRUE(fpga160t.Frames().empty());
}

TEST_F(QamTest, WrappersReportTheLinkAndLeaveTheCountOnFailure) {
    EXPECT_EQ(0u, QAM160TComm_WriteFPGA(300, 7));
    EXPECT_EQ(7u, fpga160t.Register(300));
    EXPECT_EQ(0u, QAM160TComm_Write9119(2, 9));
    EXPECT_EQ(9u, fpga160t.DacRegister(2));
    U32 value = 0;
    EXPECT_EQ(VK_160TUART_SUCCESS, QAM160TComm_ReadFPGA(300, &value));
    EXPECT_EQ(7u, value);
    EXPECT_EQ(VK_160TUART_SUCCESS, QAM160TComm_Read9119(2, &value));
    EXPECT_EQ(9u, value);
    fpga160t.FailNext({Fault::NoAnswer});
    EXPECT_EQ(VK_160TUART_TIME_OUT, QAM160TComm_WriteFPGA(300, 8));
    fpga160t.FailNext({Fault::AckNotFF});
    EXPECT_EQ(VK_160TUART_TIME_OUT, QAM160TComm_Write9119(2, 8));

    fpga160t.SetRegister(83, 0x1234);
    U16 count = 0xBEEF;
    EXPECT_EQ(0u, QAM160TComm_Get160TPIDCc(5, 0x1FFB, &count));
    EXPECT_EQ(0x34u, count);
    EXPECT_EQ(5u, fpga160t.Register(80));
    EXPECT_EQ(0x1FFBu, fpga160t.Register(81));
    struct Case {
        const char* name;
        U32 after;  // frames of the three that pass before the failing one
        U32 code;
    };
    for (const Case& c : {Case{"channel write", 0, VK_160TUART_TIME_OUT}, Case{"PID write", 1, VK_160TUART_TIME_OUT},
                          Case{"count read", 2, VK_160TUART_ERROR_DATA}}) {
        fpga160t.FailNext({Fault::NoAnswer}, 1, c.after);
        count = 0xBEEF;
        EXPECT_EQ(c.code, QAM160TComm_Get160TPIDCc(5, 0x100, &count)) << c.name;
        EXPECT_EQ(0xBEEFu, count) << c.name;
    }
    EXPECT_EQ(4u, QAM160TComm_Get160TPIDCc(5, 0x100, nullptr));

    fpga160t.TakeFrames();
    EXPECT_EQ(0u, QAM160TComm_Clear160TPIDCc());
    std::vector<U32> levels;
    for (const sim::Received160TFrame& frame : fpga160t.Frames()) {
        EXPECT_EQ(82u, GetLe32(frame.data.data()));
        levels.push_back(GetLe32(frame.data.data() + 4));
    }
    EXPECT_EQ((std::vector<U32>{0, 1, 0}), levels);
    fpga160t.FailNext({Fault::NoAnswer}, 1, 1);
    EXPECT_EQ(VK_160TUART_TIME_OUT, QAM160TComm_Clear160TPIDCc());
    EXPECT_EQ(0u, fpga160t.Register(82)) << "all three written all the same";
}

TEST(PollCounterTest, WrapsAfter0xFFFFFFFE) {
    EXPECT_EQ(1u, QAM160TComm_NextPollCount(0));
    EXPECT_EQ(0xFFFFFFFEu, QAM160TComm_NextPollCount(0xFFFFFFFD));
    EXPECT_EQ(0u, QAM160TComm_NextPollCount(0xFFFFFFFE));
}

TEST_F(QamTest, PollTurnSkipsDuringABurstAndLogsEveryFifth) {
    U32 polls = 0;
    g_isSetQamPara.store(1);
    EXPECT_FALSE(QAM160TComm_PollTurn(polls));
    EXPECT_EQ(0u, polls);
    EXPECT_TRUE(fpga160t.Frames().empty());
    g_isSetQamPara.store(0);
    std::size_t logged = 0;
    for (int turn = 1; turn <= 10; ++turn) {
        env.TakeConsole();
        EXPECT_TRUE(QAM160TComm_PollTurn(polls));
        const bool line = env.Console().find("[DEBUG][QAM]") != std::string::npos &&
                          env.Console().find("Communication With 160T Sucess.....\n\n") != std::string::npos;
        EXPECT_EQ(turn % 5 == 0, line) << turn;
        logged += line ? 1 : 0;
    }
    EXPECT_EQ(10u, polls);
    EXPECT_EQ(2u, logged);
    EXPECT_EQ(10u, fpga160t.Frames().size());
}

}  // namespace
}  // namespace hx
