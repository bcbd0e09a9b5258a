#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "app/startup.h"
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

// The real program, as a user starts it: every step runs on the stand-ins, a
// failed 160T load is logged and the later steps still run, the host is left
// alone (only recorded commands).
TEST(StartupTest, TheProgramStartsOnTheSimulatedBoardAndRunsEveryStep) {
    test::TestEnvironment env;
    const std::string command = std::string(HX_QAM_BINARY) + " --data-root " + env.root().string() +
                                " --once --sim-fail-bitstream --http-port 0 --nms-port 0 --snmp-port 0 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string output;
    std::array<char, 4096> chunk{};
    while (std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
        output.append(chunk.data(), got);
    }
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(0, WEXITSTATUS(status)) << output;

    const std::size_t banner = output.find("DTV-HX (product Ltd.) ");
    const std::size_t fail = output.find("PSCONFIG Download 160T Firmware Fail.");
    const std::size_t snmp = output.find("snmp thread create successfully!");
    ASSERT_NE(std::string::npos, banner) << output;
    ASSERT_NE(std::string::npos, fail) << output;
    ASSERT_NE(std::string::npos, snmp) << output;
    EXPECT_LT(banner, fail);
    EXPECT_LT(fail, snmp);
    EXPECT_NE(std::string::npos, output.find("[INFO][SYS]"));
    EXPECT_NE(std::string::npos, output.find("Timer create successfully!"));
    EXPECT_NE(std::string::npos, output.find("SIPacket create successfully!"));
    EXPECT_FALSE(std::filesystem::exists(env.Path("/sim/ts"))) << "no output stream, no SI packet";
    EXPECT_TRUE(std::filesystem::exists(env.Path("/vandik_data/logSetting.config")));
}

}  // namespace
}  // namespace hx
