#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
// GCC 12 warns inside its own std::regex at -O1 with sanitizers (a known false
// positive in std::function); the pattern below is plain.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

const std::vector<std::string> kExpectedOrder = {
    "log_Init",
    "Compile_HeadInfo",
    "Iperf3SoftwareInit",
    "FPGA_Init",
    "FPGA_LEDRedfresh_Start",
    "PHY_Init",
    "PARAMS_Init",
    "UartComm_init",
    "Z160T_UART_Init",
    "Status_Init",
    "Resource_Init",
    "FTP_UpgradeProfileInit",
    "UartComm_GetIpAddr",
    "PSConf_FWConfigGeneralFPGA32Bit",
    "SIP_Init",
    "NMS_SocketServerTask_Start",
    "IPServer_Start",
    "UartComm_ConfigQAM160T",
    "Web_Start",
    "IPComm_SendResourceToBb",
    "QAM160TComm_Start",
    "REG_Write",
    "snmp_Start",
    "IsChannelenableConfig9119",
    "LED_TaskMonitoring",
};

TEST(StartupTest, StepsRunInTheirFixedOrder) {
    std::vector<std::string> names;
    for (const StartupStep& step : Startup_Steps()) {
        names.emplace_back(step.name);
    }
    EXPECT_EQ(kExpectedOrder, names);
}

TEST(StartupTest, AFailedBitstreamLoadStillRunsEveryLaterStep) {
    test::TestEnvironment env;
    RunProfile profile = Profile();
    profile.simBitstreamFails = true;
    SetProfile(profile);
    log_Init(kMainLogPath);

    // Every step but the load only records that it ran; the load is the real one.
    std::vector<std::string> ran;
    std::vector<StartupStep> steps = Startup_Steps();
    for (StartupStep& step : steps) {
        if (std::string(step.name) != "PSConf_FWConfigGeneralFPGA32Bit") {
            step.run = [&ran, name = step.name] { ran.emplace_back(name); };
        }
    }
    std::vector<std::string> trace;
    Startup_Run(steps, &trace);
    EXPECT_EQ(kExpectedOrder, trace);
    EXPECT_EQ(kExpectedOrder.size() - 1, ran.size());
    EXPECT_EQ("LED_TaskMonitoring", ran.back());
    EXPECT_NE(std::string::npos, env.Console().find("[ERROR][SYS]"));
    EXPECT_NE(std::string::npos, env.Console().find("PSCONFIG Download 160T Firmware Fail.\n\n"));
}

TEST(StartupTest, BannerLinesCarryTheProgramPrefix) {
    test::TestEnvironment env;
    log_Init(kMainLogPath);
    env.TakeConsole();
    Compile_HeadInfo();
    const std::string console = env.Console();
    const std::regex banner(
        "\\[INFO\\]\\[SYS\\][0-9]+:Compile_HeadInfo:[0-9]+ \\*\\*\\* \\*\\*\\* \\*\\*\\*\\* \\*\\*\\* \\*\\*\\* \\*\\*\\*\\* \\*\\*\\* \\*\\*\\*\n\n"
        "\\[INFO\\]\\[SYS\\][0-9]+:Compile_HeadInfo:[0-9]+ DTV-HX \\(product Ltd\\.\\) \n\n"
        "\\[INFO\\]\\[SYS\\][0-9]+:Compile_HeadInfo:[0-9]+ QAM Board\n\n"
        "\\[INFO\\]\\[SYS\\][0-9]+:Compile_HeadInfo:[0-9]+ COMPILE TIME :[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} \n\n"
        "\\[INFO\\]\\[SYS\\][0-9]+:Compile_HeadInfo:[0-9]+ \\*\\*\\* .*\n\n");
    EXPECT_TRUE(std::regex_match(console, banner)) << console;
}

// The start-up's spine over the real modules: the program on a fresh data
// root (its fixed waits sped up, a simulated back board answering its
// announcement), every step's own line in the order of the table. A step the
// table maps to no line logs nothing of its own; what shows it ran is checked
// in the simulated hardware's records below, where the outside can see it.
TEST(StartupTest, EveryStepLogsItsOwnLineInTheOrderOfTheTable) {
    struct StepLine {
        const char* step;
        const char* line;  // nullptr: the step logs nothing of its own
    };
    const std::vector<StepLine> kSpine = {
        {"log_Init", "pu8LogSavepath = /vandik_data/log/KESTRA.log  u8LogSavedir = /vandik_data/log"},
        {"Compile_HeadInfo", "DTV-HX (product Ltd.) "},
        {"Iperf3SoftwareInit", "iperf3 unpacked to /tmp/iperf3/"},
        {"FPGA_Init", nullptr},
        {"FPGA_LEDRedfresh_Start", "LEDRedfresh thread detach successfully!"},
        {"PHY_Init", "PHY 1 set to 1000M full duplex, auto-negotiation restarted"},
        {"PARAMS_Init", "start recovery all parameters!"},
        {"UartComm_init", "Serial link to the back board on /sim/ttyPS1"},
        {"Z160T_UART_Init", nullptr},
        {"Status_Init", "Slot ID 3"},
        {"Resource_Init", "Resource of slot 3: software 0x"},
        {"FTP_UpgradeProfileInit", nullptr},
        {"UartComm_GetIpAddr", "Network from back board 127.0.0.16: own 127.0.0.1 mask 255.0.0.0 gateway 127.0.0.254"},
        {"PSConf_FWConfigGeneralFPGA32Bit", "PSCONFIG Download 160T Firmware Sucess."},
        {"SIP_Init", "SIPacket pthread detach successfully!"},
        {"NMS_SocketServerTask_Start", "NMGServer communication pthread detach successfully!"},
        {"IPServer_Start", "IP communication pthread detach successfully!"},
        {"UartComm_ConfigQAM160T", "Send End Parameter Cmd"},
        {"Web_Start", "Web thread create successfully!"},
        {"IPComm_SendResourceToBb", "Send Resource To BackBoard:0x7f000010\n"},
        {"QAM160TComm_Start", "QAM160T thread create successfully!"},
        {"REG_Write", nullptr},
        {"snmp_Start", "snmp thread create successfully!"},
        {"IsChannelenableConfig9119", nullptr},
        {"LED_TaskMonitoring", "LED control pthread detach successfully!"},
    };
    std::vector<std::string> tableOrder;
    for (const StepLine& entry : kSpine) {
        tableOrder.emplace_back(entry.step);
    }
    ASSERT_EQ(kExpectedOrder, tableOrder);

    test::TestEnvironment env(false);
    int status = -1;
    const std::string output = test::RunProgramOnce(HX_QAM_BINARY, env, status);
    ASSERT_EQ(0, status) << output;
    std::size_t at = 0;
    for (const StepLine& entry : kSpine) {
        if (entry.line == nullptr) {
            continue;
        }
        const std::size_t found = output.find(entry.line, at);
        ASSERT_NE(std::string::npos, found) << entry.step << ": missing or out of order: " << entry.line << "\n"
                                            << output;
        at = found;
    }
    EXPECT_EQ(std::string::npos, output.find("Send Resource To BackBoard:0x7f000010 Fail")) << output;

    // FPGA_Init puts the LED off before the blinker's first red.
    const std::string leds = env.ReadText("/sim/led.log");
    EXPECT_NE(std::string::npos, leds.substr(0, leds.find('\n')).find("off   (3)")) << leds;
    // IsChannelenableConfig9119 after the parameter set and its rate words:
    // no channel enabled on a fresh card, so the DAC goes off.
    const std::string frames = env.ReadText("/sim/160t.log");
    const std::size_t burstEnd = frames.find("END");
    const std::size_t dacOff = frames.find("CLOSE9119  {1, 72}");
    EXPECT_NE(std::string::npos, burstEnd) << frames;
    EXPECT_NE(std::string::npos, dacOff) << frames;
    EXPECT_LT(frames.rfind("WRITEFPGA"), dacOff) << frames;
    EXPECT_LT(burstEnd, dacOff) << frames;
}

// The real program, as a user starts it on a fresh data root: every step
// runs, the 160T is loaded and sent its parameter set, the poll thread starts,
// the host is left alone (only recorded commands). A failed load is covered
// above without the 160T's time-outs. Like a freshly flashed card, it finds
// the board image's files and takes the simulated back board's loopback
// settings. This is the one run that takes the card's own waits in real time
// (some 27 s): every other program run speeds them up.
TEST(StartupTest, TheProgramStartsOnTheSimulatedBoardAndRunsEveryStep) {
    test::TestEnvironment env(false);
    int status = -1;
    const std::string output = test::RunProgramOnce(HX_QAM_BINARY, env, status, {}, 1);
    EXPECT_EQ(0, status) << output;

    std::size_t at = 0;
    for (const char* milestone : {"DTV-HX (product Ltd.) ", "PSCONFIG Download 160T Firmware Sucess.", "ChangeParamNum = 197",
                                  "Send Start Parameter Cmd", "Send End Parameter Cmd", "addr[0x365],data[0xf]\n",
                                  "QAM160T thread create successfully!", "snmp thread create successfully!"}) {
        const std::size_t found = output.find(milestone, at);
        ASSERT_NE(std::string::npos, found) << "missing or out of order: " << milestone << "\n" << output;
        at = found;
    }
    for (int channel = 0; channel < 16; ++channel) {
        std::ostringstream echo;
        echo << "addr[0x365],data[0x" << std::hex << channel << "]\naddr[0x366],data[0x";
        EXPECT_NE(std::string::npos, output.find(echo.str())) << channel;
    }
    EXPECT_EQ(std::string::npos, output.find("Recv Ack Error")) << "the simulated 160T acknowledged everything";
    const std::string frames = env.ReadText("/sim/160t.log");
    EXPECT_NE(std::string::npos, frames.find("START")) << frames;
    EXPECT_NE(std::string::npos, frames.find("seq 199  END")) << frames;
    EXPECT_NE(std::string::npos, frames.find("WRITEFPGA  {275, 65280}\n")) << frames;
    EXPECT_NE(std::string::npos, output.find("[INFO][SYS]"));
    EXPECT_NE(std::string::npos, output.find("Timer create successfully!"));
    EXPECT_NE(std::string::npos, output.find("SIPacket create successfully!"));
    EXPECT_FALSE(std::filesystem::exists(env.Path("/sim/ts"))) << "no output stream, no SI packet";
    EXPECT_TRUE(std::filesystem::exists(env.Path("/vandik_data/logSetting.config")));

    // The only errors of a first start are the parameter store's notes that
    // its files are not there yet (it then writes them), and that there is no
    // JSON copy of the QAM settings to restore them from.
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("[ERROR]") != std::string::npos &&
            line.find("open file: /product_data/oid.json failed") == std::string::npos) {
            EXPECT_NE(std::string::npos, line.find("Config file [/product_data/HX_")) << line;
            EXPECT_NE(std::string::npos, line.find(".conf] is not exist!")) << line;
        }
    }
    EXPECT_NE(std::string::npos, output.find("iperf3 unpacked")) << output;
    EXPECT_NE(std::string::npos, output.find("Network from back board 127.0.0.16: own 127.0.0.1")) << output;
    const std::string commands = env.ReadText("/sim/commands.log");
    EXPECT_NE(std::string::npos, commands.find("ifconfig eth0 127.0.0.1 netmask 255.255.255.0\n")) << commands;
    EXPECT_NE(std::string::npos, commands.find("route add default gw 127.0.0.254\n")) << commands;
}

}  // namespace
}  // namespace hx
