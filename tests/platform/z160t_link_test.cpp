#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "platform/fpga_reg.h"
#include "platform/qam.h"
#include "platform/z160t_frame.h"
#include "platform/z160t_link.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"
#include "support/sim_160t.h"
#include "support/test_env.h"

namespace hx {
namespace {

using Bytes = std::vector<U8>;
using Fault = sim::ReplyFault::Kind;

Bytes ToBytes(const Z160TFrameBytes& frame) { return Bytes(frame.Span().begin(), frame.Span().end()); }

// The logged line holding `text`, as "[LEVEL][MODULE] " and the message from
// `text` on, without the "thread:function:line" part; "" when none.
std::string LevelAndText(const std::string& console, const std::string& text) {
    const std::size_t at = console.find(text);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t previousEnd = console.rfind('\n', at);
    const std::size_t begin = previousEnd == std::string::npos ? 0 : previousEnd + 1;
    const std::size_t prefixEnd = console.find(']', console.find(']', begin) + 1) + 1;
    const std::size_t lineEnd = console.find("\n\n", at);
    return console.substr(begin, prefixEnd - begin) + " " +
           console.substr(at, lineEnd == std::string::npos ? std::string::npos : lineEnd + 2 - at);
}

class LinkTest : public ::testing::Test {
protected:
    // Bytes the card pushed into the transmit FIFO, from the write log.
    Bytes Transmitted() {
        Bytes bytes;
        for (const sim::RegisterWrite& write : board.fpga().TakeWriteLog()) {
            if (write.index == kRegUartTransmitByte) {
                bytes.push_back(static_cast<U8>(write.value));
            }
        }
        return bytes;
    }

    std::uint64_t Now() { return env.clock().MonotonicMicros(); }

    // Log lines appear in this order (each after the one before).
    void ExpectLinesInOrder(const std::vector<std::string>& lines, const std::string& console, const std::string& label) {
        std::size_t at = 0;
        for (const std::string& line : lines) {
            const std::size_t found = console.find(line, at);
            ASSERT_NE(std::string::npos, found) << label << ": missing or out of order: " << line << "\n" << console;
            at = found + line.size();
        }
    }

    test::TestEnvironment env;
    test::Sim160TBoard board;
    sim::Fpga160T& fpga160t = board.fpga160t();
};

TEST_F(LinkTest, FramesByteForByte) {
    const Bytes parameters = {0x47, 0x47, 0x47, 0x47, 0x01, 0x03, 0x08, 0x00, 0x00, 0x01,
                              0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x82, 0x7B, 0x59, 0x53};
    const Bytes status = {0x47, 0x47, 0x47, 0x47, 0x00, 0x04, 0x00, 0x00, 0x91, 0xD5, 0x6F, 0x4E};
    const Bytes ack = {0x47, 0x47, 0x47, 0x47, 0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xCB, 0xBB, 0x0F, 0xA5};

    EXPECT_EQ(parameters, ToBytes(Z160T_UART_SerializePair(1, UART160T_CMD_PARAMETERS, 256, 32)));
    EXPECT_EQ(status, ToBytes(Z160T_UART_Serialize(0, UART160T_CMD_STATUS, {})));

    // On the wire: the first command after set-up carries sequence 1, and the
    // simulated 160T's acknowledgement of it is the fixture.
    board.fpga().StartWriteLog();
    ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UART_SendData(UART160T_CMD_PARAMETERS, 256, 32));
    EXPECT_EQ(parameters, Transmitted());
    ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UART_SendStateCmd(UART160T_CMD_STATUS));
    EXPECT_EQ(status, Transmitted());

    UART_Clear();
    ASSERT_EQ(VK_160TUART_SUCCESS, UART_WriteData(parameters));
    std::array<U8, kZ160TMaxFrameBytes> reply{};
    U32 length = 0;
    ASSERT_EQ(VK_160TUART_SUCCESS, UART_ReadData(reply, &length));
    EXPECT_EQ(ack, Bytes(reply.begin(), reply.begin() + length));

    Z160T_UART_CMD decoded;
    ASSERT_EQ(Z160TParseError::None, Z160T_UART_Parse(ack, decoded));
    EXPECT_EQ(1, decoded.u8CmdIndex);
    EXPECT_EQ(UART160T_CMD_PARAMETERS, decoded.u8CMD);
    EXPECT_EQ((Bytes{0x00, 0x00, 0x00, 0xFF}), Bytes(decoded.Data().begin(), decoded.Data().end()));
}

TEST(FrameParseTest, RefusesEveryMalformedFrame) {
    const Bytes good = ToBytes(Z160T_UART_SerializePair(7, UART160T_CMD_WRITEFPGA, 21, 1));
    struct Case {
        const char* name;
        Bytes bytes;
        Z160TParseError error;
    };
    Bytes badHeader = good;
    badHeader[3] = 0x46;
    Bytes badCrc = good;
    badCrc.back() ^= 1;
    Bytes overRange = good;
    PutLe16(overRange.data() + 6, 245);
    Bytes longer = good;
    longer.push_back(0);
    const std::vector<Case> cases = {
        {"good", good, Z160TParseError::None},
        {"11 bytes", Bytes(good.begin(), good.begin() + 11), Z160TParseError::Short},
        {"header", badHeader, Z160TParseError::Header},
        {"length 245", overRange, Z160TParseError::LengthOverRange},
        {"a byte more than declared", longer, Z160TParseError::LengthMismatch},
        {"a byte less than declared", Bytes(good.begin(), good.end() - 1), Z160TParseError::LengthMismatch},
        {"crc", badCrc, Z160TParseError::Crc},
    };
    for (const Case& c : cases) {
        Z160T_UART_CMD frame;
        EXPECT_EQ(c.error, Z160T_UART_Parse(c.bytes, frame)) << c.name;
    }
}

TEST_F(LinkTest, SequenceRunsOneTo254ThenZeroAndNever255) {
    u8CommOrder.store(252);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_WriteFPGA(100, static_cast<U32>(i)));
    }
    std::vector<int> sequences;
    for (const sim::Received160TFrame& frame : fpga160t.Frames()) {
        sequences.push_back(frame.sequence);
    }
    EXPECT_EQ((std::vector<int>{253, 254, 0, 1}), sequences);
}

// Every way a reply can go wrong, on an acknowledged command (WRITEFPGA) and
// on a register read (READFPGA): the code, the lines logged in order and the
// virtual time from the call to its return. An acknowledgement waits 100 ms
// before it reads; a read 10 ms. The header phase gives up after 500 ms, the
// payload phase after 50 ms; a clear takes 100 µs a byte.
TEST_F(LinkTest, TableOfReplyFaults) {
    enum class Exchange { Command, Read };
    struct Case {
        const char* name;
        Exchange exchange;
        sim::ReplyFault fault;
        bool holdTransmitFull;
        U32 code;
        std::vector<std::string> lines;
        std::uint64_t micros;
    };
    const std::vector<std::string> kAckFailure = {"160T Uart Recv Ack Error", "160T Uart Send Para Time Out"};
    auto withAckFailure = [&](std::vector<std::string> first) {
        first.insert(first.end(), kAckFailure.begin(), kAckFailure.end());
        return first;
    };
    using enum Exchange;
    const std::vector<Case> cases = {
        {"acknowledged", Command, {}, false, VK_160TUART_SUCCESS, {}, 101'000},
        {"no answer", Command, {Fault::NoAnswer}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"160T Uart Read Header Time Out"}), 600'100},
        // An acknowledgement is judged by header, command, sequence and byte
        // 11; its CRC is not checked.
        {"bad crc", Command, {Fault::BadCrc}, false, VK_160TUART_SUCCESS, {}, 101'000},
        {"wrong sequence", Command, {Fault::WrongSequence}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"u8CommOrder = 1 ReadOrder = 2  ACK Fail...."}), 100'100},
        {"wrong command", Command, {Fault::WrongCommand}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"u8CommOrder = 1 ReadOrder = 1  ACK Fail...."}), 100'100},
        {"ack byte not 0xFF", Command, {Fault::AckNotFF}, false, VK_160TUART_TIME_OUT, withAckFailure({"ACK Fail"}),
         100'100},
        {"partial reply then silence", Command, {Fault::PartialThenSilence}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"u32Index = 2 u16Length = 4  160T Uart Read Playload Time Out"}), 150'100},
        {"length 245", Command, {Fault::Length245}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"160T Uart Read data Length is Over Rang"}), 100'900},
        {"wrong header", Command, {Fault::WrongHeader}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"u32ReadHeader = 0x47474748 160T Uart Read Header Format Error"}), 100'900},
        {"delayed inside the window", Command, {Fault::Delayed, 300'000}, false, VK_160TUART_SUCCESS, {}, 301'000},
        {"delayed past the window", Command, {Fault::Delayed, 700'000}, false, VK_160TUART_TIME_OUT,
         withAckFailure({"160T Uart Read Header Time Out"}), 600'100},
        {"transmit FIFO held full", Command, {}, true, VK_160TUART_TIME_OUT,
         withAckFailure({"Write Data Time Out. ", "160T Uart Read Header Time Out"}), 1'100'100},

        {"read answered", Read, {}, false, VK_160TUART_SUCCESS, {"*pu32Value = 0x5a5a "}, 10'000},
        {"read unanswered", Read, {Fault::NoAnswer}, false, VK_160TUART_ERROR_DATA, {"160T Uart Read Header Time Out"},
         510'000},
        {"read bad crc", Read, {Fault::BadCrc}, false, VK_160TUART_ERROR_DATA, {"Receive Uart CRC Error..."}, 10'000},
        {"read of another command", Read, {Fault::WrongCommand}, false, VK_160TUART_ERROR_DATA,
         {"u8CMD = 13 u16Length = 4 Receive Uart Reply Error"}, 10'000},
        // Reads carry sequence 0 and are not matched by it.
        {"read with a wrong sequence", Read, {Fault::WrongSequence}, false, VK_160TUART_SUCCESS, {"*pu32Value = 0x5a5a "},
         10'000},
        {"read partial", Read, {Fault::PartialThenSilence}, false, VK_160TUART_ERROR_DATA, {"Playload Time Out"}, 60'000},
        {"read length 245", Read, {Fault::Length245}, false, VK_160TUART_ERROR_DATA, {"Length is Over Rang"}, 10'800},
        {"read delayed inside the window", Read, {Fault::Delayed, 200'000}, false, VK_160TUART_SUCCESS,
         {"*pu32Value = 0x5a5a "}, 200'000},
    };
    const std::vector<std::string> kFailureMarks = {"Time Out", "Error", "ACK Fail", "Over Rang"};
    fpga160t.SetRegister(40, 0x5A5A);
    for (const Case& c : cases) {
        Z160T_UART_Init();  // sequence 1 for every row
        fpga160t.ClearFaults();
        fpga160t.FailNext(c.fault);
        fpga160t.HoldTransmitFull(c.holdTransmitFull);
        env.TakeConsole();
        const std::uint64_t start = Now();
        U32 value = 0xDEAD;
        const U32 code = c.exchange == Command ? Z160T_UartComm_WriteFPGA(40, 0x5A5A) : Z160T_UartComm_ReadFPGA(40, &value);
        const std::uint64_t elapsed = Now() - start;
        const std::string console = env.TakeConsole();
        EXPECT_EQ(c.code, code) << c.name;
        EXPECT_EQ(c.micros, elapsed) << c.name;
        ExpectLinesInOrder(c.lines, console, c.name);
        if (c.code == VK_160TUART_SUCCESS) {
            for (const std::string& mark : kFailureMarks) {
                EXPECT_EQ(std::string::npos, console.find(mark)) << c.name << "\n" << console;
            }
        }
        if (c.exchange == Read) {
            EXPECT_EQ(c.code == VK_160TUART_SUCCESS ? 0x5A5Au : 0xDEADu, value) << c.name << ": a failed read leaves it";
        }
        fpga160t.HoldTransmitFull(false);
        // Let any late reply land, then start the next row clean.
        env.clock().Advance(1'000'000);
        UART_Clear();
    }
}

TEST_F(LinkTest, ALateAckNeverAcknowledgesTheNextCommand) {
    fpga160t.FailNext({Fault::Delayed, 700'000});
    EXPECT_EQ(VK_160TUART_TIME_OUT, Z160T_UartComm_WriteFPGA(1, 1));
    // Its acknowledgement arrives while the next command waits for its own,
    // which never comes: the stale one (sequence 1) must not count for it.
    fpga160t.FailNext({Fault::NoAnswer});
    env.TakeConsole();
    EXPECT_EQ(VK_160TUART_TIME_OUT, Z160T_UartComm_WriteFPGA(2, 2));
    EXPECT_NE(std::string::npos, env.Console().find("u8CommOrder = 2 ReadOrder = 1  ACK Fail...."));
    EXPECT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_WriteFPGA(3, 3)) << "the failure cleared the FIFO";
}

TEST_F(LinkTest, ALateAckLeftInTheFifoDoesNotFailTheNextCommand) {
    fpga160t.FailNext({Fault::Delayed, 700'000});
    EXPECT_EQ(VK_160TUART_TIME_OUT, Z160T_UartComm_WriteFPGA(1, 1));
    // The acknowledgement (sequence 1) lands after the command gave up and
    // waits in the receive FIFO until the next command.
    env.clock().Advance(200'000);
    env.TakeConsole();
    EXPECT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_WriteFPGA(2, 2));
    EXPECT_EQ(std::string::npos, env.Console().find("ACK Fail")) << env.Console();
    EXPECT_EQ(2u, fpga160t.Register(2));
}

TEST_F(LinkTest, EachFailureOfTheByteLevelIsALineOfItsOwn) {
    const std::vector<std::pair<sim::ReplyFault, std::string>> failures = {
        {{Fault::NoAnswer}, "160T Uart Read Header Time Out"},
        {{Fault::WrongHeader}, "u32ReadHeader = 0x47474748 160T Uart Read Header Format Error"},
        {{Fault::Length245}, "160T Uart Read data Length is Over Rang"},
        {{Fault::PartialThenSilence}, "u32Index = 2 u16Length = 4  160T Uart Read Playload Time Out"},
    };
    log_Init(kMainLogPath);
    env.TakeConsole();
    for (const auto& [fault, text] : failures) {
        fpga160t.FailNext(fault);
        U32 value = 0;
        EXPECT_EQ(VK_160TUART_ERROR_DATA, Z160T_UartComm_ReadFPGA(40, &value)) << text;
    }
    std::vector<std::string> lines;
    std::string console = env.TakeConsole();
    for (std::size_t end = console.find('\n'); end != std::string::npos; end = console.find('\n')) {
        lines.push_back(console.substr(0, end));
        console.erase(0, end + 1);
    }
    EXPECT_EQ("", console) << "the last line is ended";
    ASSERT_EQ(failures.size(), lines.size()) << ::testing::PrintToString(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].starts_with("[ERROR][QAM]")) << lines[i];
        EXPECT_TRUE(lines[i].ends_with(failures[i].second)) << lines[i];
    }
}

TEST(LinkLoadTest, CommandsTimeOutBeforeTheLoadAndSucceedAfterIt) {
    test::TestEnvironment env;
    test::Sim160TBoard board(/*load=*/false);
    EXPECT_EQ(VK_160TUART_TIME_OUT, Z160T_UartComm_WriteFPGA(5, 6));
    U32 value = 0;
    EXPECT_EQ(VK_160TUART_ERROR_DATA, Z160T_UartComm_ReadFPGA(5, &value));
    EXPECT_EQ(VK_160TUART_TIME_OUT, Z160T_UartComm_GetState());
    EXPECT_TRUE(board.fpga160t().Frames().empty()) << "an unconfigured 160T takes nothing";

    ASSERT_TRUE(test::Load160T());
    EXPECT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_WriteFPGA(5, 6));
    EXPECT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_ReadFPGA(5, &value));
    EXPECT_EQ(6u, value);
    EXPECT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_GetState());
    EXPECT_EQ(45u, Z160T_Get_Status()->u32Temperature.load());
    const std::string log = env.ReadText("/sim/160t.log");
    EXPECT_NE(std::string::npos, log.find("seq   2  WRITEFPGA  {5, 6}\n")) << log;
    EXPECT_NE(std::string::npos, log.find("seq   0  STATUS\n")) << log;
}

TEST_F(LinkTest, AReadReplyWithoutADataWordFails) {
    // The 160T stays silent; a reply with no data word shows up in its place
    // once the request has been written.
    fpga160t.FailNext({Fault::NoAnswer});
    board.fpga().uart().SendToCard(ToBytes(Z160T_UART_Serialize(0, UART160T_CMD_READFPGA, {})), Now() + 5'000);
    U32 value = 0xDEAD;
    EXPECT_EQ(VK_160TUART_ERROR_DATA, Z160T_UartComm_ReadFPGA(40, &value));
    EXPECT_EQ(0xDEADu, value);
    EXPECT_NE(std::string::npos, env.Console().find("u8CMD = 12 u16Length = 0 Receive Uart Reply Error"));
    EXPECT_EQ(VK_160TUART_DATA_NULL, Z160T_UartComm_Read9119(1, nullptr));
}

TEST_F(LinkTest, BurstSendsEverythingAndReportsTheFirstFailure) {
    const std::array<Parameter_Common, 3> pairs = {{{512, 1}, {768, 474000}, {1280, 60}}};
    // The first pair goes unacknowledged: the burst goes on to the end.
    fpga160t.FailNext({Fault::NoAnswer}, 1, /*after=*/1);
    EXPECT_EQ(VK_160TUART_TIME_OUT, UartComm_WriteMulti(pairs.data(), pairs.size()));
    EXPECT_NE(std::string::npos, env.Console().find("u32Index = 0 u32ParamNum = 3"));
    ASSERT_EQ(1u, fpga160t.Bursts().size());
    const sim::Burst160T burst = fpga160t.Bursts()[0];
    EXPECT_EQ((std::vector<sim::Parameter160T>{{512, 1}, {768, 474000}, {1280, 60}}), burst.pairs);
    EXPECT_EQ((sim::Parameter160T{1280, 60}), burst.end);
    EXPECT_FALSE(burst.interrupted);

    // START and END failing count the same.
    for (U32 after : {0u, 4u}) {
        fpga160t.FailNext({Fault::WrongSequence}, 1, after);
        EXPECT_EQ(VK_160TUART_TIME_OUT, UartComm_WriteMulti(pairs.data(), pairs.size())) << after;
    }
    EXPECT_EQ(VK_160TUART_SUCCESS, UartComm_WriteMulti(pairs.data(), pairs.size()));
    EXPECT_EQ(4u, fpga160t.Bursts().size());
}

TEST_F(LinkTest, AnEmptyBurstEndsWithZeroPair) {
    const std::array<Parameter_Common, 1> unused = {{{9, 9}}};
    EXPECT_EQ(VK_160TUART_SUCCESS, UartComm_WriteMulti(unused.data(), 0));
    ASSERT_EQ(1u, fpga160t.Bursts().size());
    EXPECT_TRUE(fpga160t.Bursts()[0].pairs.empty());
    EXPECT_EQ((sim::Parameter160T{0, 0}), fpga160t.Bursts()[0].end);

    fpga160t.TakeFrames();
    EXPECT_EQ(VK_160TUART_DATA_NULL, UartComm_WriteMulti(nullptr, 3));
    EXPECT_NE(std::string::npos, env.Console().find("Input Parameter is NULL. "));
    EXPECT_TRUE(fpga160t.Frames().empty());
}

TEST_F(LinkTest, DisableRfWritesRegister21ThenResetsTheDac) {
    EXPECT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_DisableRF());
    const std::vector<sim::Received160TFrame> frames = fpga160t.Frames();
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(UART160T_CMD_WRITEFPGA, frames[0].command);
    EXPECT_EQ(1u, fpga160t.Register(21));
    EXPECT_EQ(UART160T_CMD_RESET9119, frames[1].command);
    EXPECT_EQ(Bytes(8, 0), frames[1].data);
}

class StatusTest : public LinkTest {
protected:
    void SetUp() override {
        for (U32 i = 0; i < kZ160TStateWords; ++i) {
            g_u32State_Value[i].store(0xC0DE0000 + i);
        }
    }
    bool Untouched() {
        for (U32 i = 0; i < kZ160TStateWords; ++i) {
            if (g_u32State_Value[i].load() != 0xC0DE0000 + i) {
                return false;
            }
        }
        return Z160T_Get_Status()->u32Temperature.load() == 0;
    }
};

TEST_F(StatusTest, RepliesThatFailOrAreForeignChangeNothing) {
    struct Case {
        const char* name;
        Fault fault;
        U32 code;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"bad crc", Fault::BadCrc, VK_160TUART_ERROR_DATA, "Receive Uart CRC Error..."},
        {"length 245", Fault::Length245, VK_160TUART_ERROR_DATA, "160T Uart Read data Length is Over Rang"},
        {"partial", Fault::PartialThenSilence, VK_160TUART_TIME_OUT, "Playload Time Out"},
        {"no answer", Fault::NoAnswer, VK_160TUART_TIME_OUT, "160T Uart Read Header Time Out"},
        {"another command byte", Fault::WrongCommand, VK_160TUART_SUCCESS, ""},
    };
    for (const Case& c : cases) {
        fpga160t.FailNext({c.fault});
        env.TakeConsole();
        EXPECT_EQ(c.code, Z160T_UartComm_GetState()) << c.name;
        EXPECT_TRUE(Untouched()) << c.name;
        EXPECT_NE(std::string::npos, env.Console().find(c.line)) << c.name;
    }
    EXPECT_TRUE(fpga160t.DroppedFrames() == 0);
}

TEST_F(StatusTest, AGoodReplyFillsTheWordsAndTheRates) {
    fpga160t.SetTemperature(52);
    fpga160t.SetStatusWord(16, 0x80001234);  // channel 0 low half, channel 1 high half (bit 31 set)
    fpga160t.SetStatusWord(32, 0xFFFF0001);
    fpga160t.SetChannelRates(14, 1000, 900);
    fpga160t.SetChannelRates(15, 2000, 1800);
    ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_GetState());
    EXPECT_EQ(52u, g_u32State_Value[kZ160TTemperatureWord].load());
    EXPECT_EQ(0xC0DE0000u + 49, g_u32State_Value[49].load()) << "only the 49 words that came";
    EXPECT_EQ(52u, Z160T_Get_Status()->u32Temperature.load());
    EXPECT_EQ(0u, Z160T_Get_Status()->u32TemperatureFlag.load());

    struct Case {
        U8 channel;
        U32 total;
        U32 effective;
    };
    for (const Case& c : {Case{0, 0x1234 * 1504 / 1000, 1}, Case{1, 49283, 98564}, Case{14, 1504, 1353},
                          Case{15, 3008, 2707}}) {
        U32 total = 0;
        U32 effective = 0;
        ASSERT_EQ(0u, GetChannel_BiteRate(c.channel, &total, &effective));
        EXPECT_EQ(c.total, total) << static_cast<int>(c.channel);
        EXPECT_EQ(c.effective, effective) << static_cast<int>(c.channel);
        U32 totalOnly = 0;
        ASSERT_EQ(0u, GetChannel_TotalBiteRate(c.channel, &totalOnly));
        EXPECT_EQ(c.total, totalOnly);
    }
    U32 rate = 0;
    EXPECT_EQ(4u, GetChannel_BiteRate(0, nullptr, &rate));
    EXPECT_EQ(4u, GetChannel_BiteRate(0, &rate, nullptr));
    EXPECT_EQ(4u, GetChannel_TotalBiteRate(0, nullptr));
    EXPECT_EQ(4u, GetChannel_BiteRate(16, &rate, &rate)) << "no channel 16: no read past the status words";
    EXPECT_EQ(4u, GetChannel_TotalBiteRate(255, &rate));
}

TEST_F(LinkTest, TemperatureGuardOverThresholds) {
    struct Case {
        U32 degrees;
        U32 flag;
        std::string line;  // level and text of the guard's line; empty for none
        bool rfOff;
    };
    const std::vector<Case> cases = {
        {0, 0, "[INFO][QAM] Temperature is 0\r\n\n", false},
        {69, 0, "", false},
        {70, 1, "[INFO][QAM] Temperature is over 70 degree (70)\r\n\n", false},
        {73, 1, "[INFO][QAM] Temperature is over 70 degree (73)\r\n\n", false},
        {74, 1, "[WARNING][QAM] Temperature is over 74 degree (74)\r\n\n", true},
    };
    for (const Case& c : cases) {
        Z160T_ResetStatus();
        fpga160t.SetTemperature(c.degrees);
        fpga160t.TakeFrames();
        env.TakeConsole();
        ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_GetState()) << c.degrees;
        EXPECT_EQ(c.flag, Z160T_Get_Status()->u32TemperatureFlag.load()) << c.degrees;
        EXPECT_EQ(c.degrees, Z160T_Get_Status()->u32Temperature.load());

        const std::string console = env.Console();
        const std::string guardLine = LevelAndText(console, "Temperature is");
        EXPECT_EQ(c.line, guardLine) << c.degrees << "\n" << console;

        std::vector<int> commands;
        for (const sim::Received160TFrame& frame : fpga160t.Frames()) {
            commands.push_back(frame.command);
        }
        const std::vector<int> expected = c.rfOff ? std::vector<int>{UART160T_CMD_STATUS, UART160T_CMD_WRITEFPGA,
                                                                     UART160T_CMD_RESET9119}
                                                  : std::vector<int>{UART160T_CMD_STATUS};
        EXPECT_EQ(expected, commands) << c.degrees;
        if (c.rfOff) {
            EXPECT_EQ(1u, fpga160t.Register(21));
            EXPECT_EQ(1u, fpga160t.DacResets());
        }
    }
}

TEST_F(LinkTest, WarmWarningOnTheFirstAndEveryHundredthWarmPoll) {
    for (int poll = 1; poll <= 201; ++poll) {
        Z160T_TemperatureGuard(poll % 2 == 0 ? 70 : 73);
    }
    const std::string console = env.Console();
    std::size_t lines = 0;
    for (std::size_t at = console.find("Temperature is over 70 degree"); at != std::string::npos;
         at = console.find("Temperature is over 70 degree", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(3u, lines) << "polls 1, 101 and 201";
    EXPECT_NE(std::string::npos, console.find("Temperature is over 70 degree (73)"));
}

}  // namespace
}  // namespace hx
