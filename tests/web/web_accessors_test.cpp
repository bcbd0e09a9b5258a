// The web accessors against the real parameter store, output model, resource
// records and the simulated board with its 160T, in a temporary data root.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "chassis/param_store.h"
#include "core/command_runner.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "engine/web_report.h"
#include "platform/qam_defaults.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"
#include "sim/gpio_model.h"
#include "support/model_builder.h"
#include "support/param_files.h"
#include "support/sim_160t.h"
#include "support/test_env.h"
#include "web/web_accessors.h"

namespace hx {
namespace {

constexpr U32 kSlot = 6;
constexpr test::MarkedSettings kEdited{111000, 1111};

// The run profile's slot, set before the board powers on.
bool InSlot(U32 slot) {
    RunProfile profile = Profile();
    profile.simSlotId = slot;
    SetProfile(profile);
    return true;
}

class WebAccessorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
        test::ResetParameterState();
    }
    void TearDown() override { test::ResetParameterState(); }

    // The live QAM set and IP monitor record as a restart would load them.
    void Reload() {
        test::ResetParameterState();
        ASSERT_EQ(0u, PARAMS_Init());
    }

    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }

    test::TestEnvironment env;
    bool inSlot = InSlot(kSlot);
    test::Sim160TBoard board;
};

TEST_F(WebAccessorsTest, PsiIntervalTakenToSixteenBitsAndZeroRefused) {
    env.FailOnUnexpectedErrors({"PSI interval 0 refused"});
    struct Case {
        U32 set;
        U16 read;
    };
    for (const Case& c : {Case{250, 250}, Case{50, 50}, Case{10000, 10000}, Case{0x10000 + 150, 150},
                          Case{0x10000, 150} /* 16 bits of 0: refused, kept */, Case{0, 150}}) {
        Web_SetPSIInterval(c.set);
        U16 interval = 0;
        Web_GetPSIInterval(&interval);
        EXPECT_EQ(c.read, interval) << c.set;
    }
    EXPECT_TRUE(Logged("PSI interval 0 refused, keeping 150 ms"));
}

TEST_F(WebAccessorsTest, SecondMacFromTheSavedIpMonitorSettings) {
    env.FailOnUnexpectedErrors({"is not exist!", "open file: /product_data/oid.json failed"});
    Reload();
    QAM_IPMonitorPara monitor = *GetQAMIPMonitor_Handle();
    const U8 mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(monitor.aru8Mac1, mac, sizeof mac);
    ASSERT_EQ(0u, PARAMS_SetIPMonitorParams(&monitor));
    Reload();
    U8 read[8] = {0, 0, 0, 0, 0, 0, 0xEE, 0xEE};
    EXPECT_EQ(0u, Web_GetMac1Address(read));
    EXPECT_EQ(0, std::memcmp(mac, read, sizeof mac));
    EXPECT_EQ(0xEE, read[6]) << "six bytes and no more";
    EXPECT_EQ(1u, Web_GetMac1Address(nullptr));
}

TEST_F(WebAccessorsTest, SingleModeTakenToEightBitsStoredAndSavedButNotSent) {
    env.FailOnUnexpectedErrors({"is not exist!"});
    test::WriteMarkedQamFile(kEdited);
    Reload();
    board.fpga160t().TakeFrames();

    Web_SetSingleMode(0x101);
    EXPECT_EQ(1u, GetQAMPara_Handle()->SingleMode.value);
    EXPECT_TRUE(board.fpga160t().Frames().empty()) << "the 160T learns it at the next apply";
    Reload();
    EXPECT_EQ(1u, GetQAMPara_Handle()->SingleMode.value);
    EXPECT_EQ(0, test::LiveMarks({kEdited})) << "nothing else changed";

    Web_SetSingleMode(0);
    Reload();
    EXPECT_EQ(0u, GetQAMPara_Handle()->SingleMode.value);
}

TEST_F(WebAccessorsTest, FactoryResetsAndSavesTheQamSettings) {
    env.FailOnUnexpectedErrors({"is not exist!"});
    test::WriteMarkedQamFile(kEdited);
    Reload();
    ASSERT_EQ(0, test::LiveMarks({kEdited}));

    EXPECT_EQ(0u, Web_SetFactory());

    TParameter_QAM factory{};
    QAM160T_Init_Parmeter(&factory);
    EXPECT_EQ(factory.Frequency[0].value, GetQAMPara_Handle()->Frequency[0].value);
    Reload();
    EXPECT_EQ(-1, test::LiveMarks({kEdited}));
    EXPECT_EQ(factory.Frequency[0].value, GetQAMPara_Handle()->Frequency[0].value) << "the factory set was saved";
}

TEST_F(WebAccessorsTest, SiModeIsTheLowByteOfTheLiveStandard) {
    struct Case {
        U32 standard;
        U8 mode;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{0x100, 0}, Case{0x101, 1}}) {
        GetQAMPara_Handle()->Standard.value = c.standard;
        EXPECT_EQ(c.mode, Web_GetSIMode()) << c.standard;
    }
}

TEST_F(WebAccessorsTest, PowerLevelTypeFollowsTheHardwareVersion) {
    struct Case {
        U32 hardware;
        U8 type;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{5, 1}, Case{7, 1}}) {
        RunProfile profile = Profile();
        profile.simHardwareVersion = c.hardware;
        SetProfile(profile);
        // Pins exported earlier would keep the last version's levels.
        std::filesystem::remove_all(env.Path("/sys/class/gpio"));
        sim::GpioModel_Install(sim::GpioModel_FromProfile());
        EXPECT_EQ(c.type, Web_GetPowerLevelType()) << c.hardware;
    }
}

TEST_F(WebAccessorsTest, OwnRecordAndDescriptorOfTheOwnSlot) {
    env.WriteText(kUpgradeVersionPath, R"({"MachineType": 1, "BigVerNum": 3, "MidVerNum": 1, "MinVerNum": 9})");
    Status_Init();
    Resource_Init();
    EXPECT_EQ(16, Web_GetOutputChannelNum());
    const TResource_TS* self = Web_GetResourceHandle();
    ASSERT_NE(nullptr, self);
    EXPECT_EQ(kSlot, self->u8SlotID);
    U8 descriptor[20] = {};
    EXPECT_EQ(0u, web_GetSelfBoardDescriptor(descriptor));
    EXPECT_STREQ("QAM Board", reinterpret_cast<const char*>(descriptor));
    // Another slot's record is not the one read.
    std::memcpy(Resource_GetHandle(kSlot + 1)->au8BoardDescriptor, "Other Board", 12);
    EXPECT_EQ(0u, web_GetSelfBoardDescriptor(descriptor));
    EXPECT_STREQ("QAM Board", reinterpret_cast<const char*>(descriptor));
}

TEST_F(WebAccessorsTest, StatusAfterAPoll) {
    board.fpga160t().SetTemperature(52);
    ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_GetState());
    EXPECT_EQ(52u, Web_GetStatus()->u32Temperature.load());
    EXPECT_EQ(0u, Web_GetStatus()->u32TemperatureFlag.load());
    board.fpga160t().SetTemperature(71);
    ASSERT_EQ(VK_160TUART_SUCCESS, Z160T_UartComm_GetState());
    EXPECT_EQ(71u, Web_GetStatus()->u32Temperature.load());
    EXPECT_EQ(1u, Web_GetStatus()->u32TemperatureFlag.load());
}

TEST_F(WebAccessorsTest, BitReportOfAChannelTakenToSixteenBits) {
    test::ScopedSharedModels models;
    {
        TSP_ModelLock lock;
        test::ModelBuilder builder(TSP_GetTSParam());
        const U16 ts = builder.AddStream(3);
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.key = 0x700, .pid = 0x700, .streamType = 0x05});
    }
    auto report = std::make_unique<Output_WebTSBitInfo>();
    for (U32 channel : {3u, 0x10003u}) {
        report->u8ValidFlag = 0;
        ASSERT_EQ(0u, Web_GetTSStatus(channel, report.get())) << channel;
        EXPECT_EQ(1, report->u8ValidFlag) << channel;
        ASSERT_EQ(1, report->u16PIDNum) << channel;
        EXPECT_EQ(0x700, report->arPIDBitInfo[0].u16PID) << channel;
    }
    ASSERT_EQ(0u, Web_GetTSStatus(9, report.get()));
    EXPECT_EQ(255, report->u8ValidFlag) << "no stream on channel 9";
}

TEST_F(WebAccessorsTest, RebootRefusedWhenTheBackBoardDoesNotAnswer) {
    env.FailOnUnexpectedErrors({"IPComm_SendRebootSubCmd error", "connect server error: Connection refused"});
    Resource_SetBackBoardIpAddr(0x7F000063);  // 127.0.0.99: nobody listens there
    EXPECT_EQ(static_cast<U32>(VK_ERR_SOCKET_CONNECT_FAIL), Web_Reboot());
    EXPECT_TRUE(Command_Recorded().empty()) << "the board is neither prepared nor rebooted";
}

}  // namespace
}  // namespace hx
