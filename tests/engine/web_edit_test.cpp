// Web views of the output model and the web edits of the temporary model.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "core/err.h"
#include "engine/output_model.h"
#include "engine/web_edit.h"
#include "platform/qam_params.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;

constexpr U16 kChannel = 3;

struct Flags {
    U8 pat, sdt, pmt;
    bool operator==(const Flags&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Flags& flags) {
    return out << "PAT " << int(flags.pat) << " SDT " << int(flags.sdt) << " PMT " << int(flags.pmt);
}

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        ts = builder.AddStream(kChannel);
        for (U16 i = 0; i < 3; ++i) {
            programs[i] = builder.AddProgram(ts, {.sourceSlot = 5, .sourceChannel = 2, .programId = static_cast<U16>(i + 1),
                                                  .serviceId = static_cast<U16>(100 + i),
                                                  .pmtPid = static_cast<U16>(0x100 + 0x10 * i),
                                                  .pcrPid = static_cast<U16>(0x101 + 0x10 * i)});
            builder.AddPid(PID_TYPE_PCRPID, programs[i], {.key = static_cast<U16>(0x101 + 0x10 * i),
                                                          .pid = static_cast<U16>(0x101 + 0x10 * i)});
            video[i] = builder.AddPid(PID_TYPE_ESPID, programs[i], {.key = static_cast<U16>(0x102 + 0x10 * i),
                                                                     .pid = static_cast<U16>(0x102 + 0x10 * i),
                                                                     .streamType = 0x1B});
            audio[i] = builder.AddPid(PID_TYPE_ESPID, programs[i], {.key = static_cast<U16>(0x103 + 0x10 * i),
                                                                     .pid = static_cast<U16>(0x103 + 0x10 * i),
                                                                     .streamType = 0x03});
        }
        other = builder.AddPid(PID_TYPE_OTHERPID, ts, {.key = 0x700, .pid = 0x700, .streamType = 0x05});
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
        ClearFlags(TSP_GetTempTSParam());
    }

    static void ClearFlags(Output_TSInfo* model) {
        for (U32 i = 0; i < model->u32OutputTSNumber; ++i) {
            model->pOutputTS[i].u8PATChangeFlag = model->pOutputTS[i].u8SDTChangeFlag = 0;
        }
        for (U32 i = 0; i < model->u32OutputProgramNumber; ++i) {
            model->pOutputProgram[i].u8PMTChangeFlag = 0;
        }
    }

    Flags FlagsOf(U16 program) {
        TSP_ModelLock lock;
        const Output_TSInfo* temp = TSP_GetTempTSParam();
        return {temp->pOutputTS[ts].u8PATChangeFlag, temp->pOutputTS[ts].u8SDTChangeFlag,
                temp->pOutputProgram[program].u8PMTChangeFlag};
    }

    std::unique_ptr<Output_WebTSInfo> TempView() {
        auto view = std::make_unique<Output_WebTSInfo>();
        TSP_ModelLock lock;
        EXPECT_EQ(0u, TSP_SendTSInfoToWeb(kChannel, view.get(), TSP_GetTempTSParam()));
        return view;
    }

    test::TestEnvironment env;
    test::ScopedSharedModels models;
    U16 ts = 0;
    U16 programs[3] = {};
    U16 video[3] = {};
    U16 audio[3] = {};
    U16 other = 0;
};

TEST_F(WebViewTest, StreamViewOfTheLiveModel) {
    GetQAMPara_Handle()->Frequency[kChannel].value = 474000;
    auto view = std::make_unique<Output_WebTSInfo>();
    TSP_ModelLock lock;
    TSP_GetTSParam()->pOutputPID[audio[1]].u8PIDFilterFlag = kPidFiltered;
    ASSERT_EQ(0u, TSP_SendTSInfoToWeb(kChannel, view.get(), TSP_GetTSParam()));
    GetQAMPara_Handle()->Frequency[kChannel].value = 0;
    EXPECT_EQ(1, view->u8ValidFlag);
    EXPECT_EQ(kChannel, view->u16Channel);
    EXPECT_EQ(255, view->u8BypassFlag);
    EXPECT_EQ(4, view->u8ModulationMode);
    EXPECT_EQ(474000u, view->u32Frequency);
    ASSERT_EQ(1, view->u16PIDNum);
    EXPECT_EQ(OTHER_PID, view->arOutputPIDInfo[0].u8PIDType);
    EXPECT_EQ(0x700, view->arOutputPIDInfo[0].u16OldPID);
    ASSERT_EQ(3, view->u16ProgramNum);
    const Output_WebProgramInfo& second = view->arOutputProInfo[1];
    EXPECT_EQ(101, second.u16ServiceID);
    EXPECT_EQ(101, second.u16OldServiceID);
    EXPECT_EQ(0x110, second.u16PMTPID);
    EXPECT_EQ(0x110, second.u16OldPMTPID);
    EXPECT_EQ(5, second.u8SourceSlot);
    EXPECT_EQ(2, second.u16SourceChannel);
    EXPECT_EQ(std::string("Service 101"), std::string(reinterpret_cast<const char*>(second.aru8ServiceName),
                                                      second.u8ServiceNameLen));
    ASSERT_EQ(1, second.u16ESNumber) << "the filtered audio stream is not shown";
    EXPECT_EQ(VIDEO_PID, second.arOutputESInfo[0].u8PIDType);
    EXPECT_EQ(AUDIO_PID, view->arOutputProInfo[0].arOutputESInfo[1].u8PIDType);

    ASSERT_EQ(0u, TSP_SendTSInfoToWeb(9, view.get(), TSP_GetTSParam()));
    EXPECT_EQ(255, view->u8ValidFlag) << "no stream on channel 9";
    TSP_GetTSParam()->pOutputTS[ts].u8BypassFlag = 1;
    TSP_GetTSParam()->pOutputTS[ts].u8SrcSlotID = 7;
    TSP_GetTSParam()->pOutputTS[ts].u16SrcChannelID = 4;
    ASSERT_EQ(0u, TSP_SendTSInfoToWeb(kChannel, view.get(), TSP_GetTSParam()));
    EXPECT_EQ(1, view->u8BypassFlag);
    EXPECT_EQ(7, view->u8SourceSlot);
    EXPECT_EQ(4, view->u16SourceChannel);
}

TEST_F(WebViewTest, ProgramViewByServiceId) {
    Output_WebProgramInfo view{};
    TSP_ModelLock lock;
    ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(kChannel, 102, &view, TSP_GetTempTSParam()));
    EXPECT_EQ(0x120, view.u16PMTPID);
    EXPECT_EQ(2, view.u16ESNumber);
    EXPECT_EQ(0xC0018u, TSP_SendProgramInfoToWeb(kChannel, 555, &view, TSP_GetTempTSParam()));
    EXPECT_NE(std::string::npos, env.Console().find("Channel[3],ServiceID[555] program don't exist"));
    view.u16PMTPID = 1;
    ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(12, 102, &view, TSP_GetTempTSParam()));
    EXPECT_EQ(0, view.u16PMTPID) << "no stream: a zeroed view";
}

TEST_F(WebViewTest, BitReportListsTheStreamsPidsInOrder) {
    auto report = std::make_unique<Output_WebTSBitInfo>();
    ASSERT_EQ(0u, TSP_SendTSBitInfoToWeb(kChannel, report.get()));
    EXPECT_EQ(1, report->u8ValidFlag);
    ASSERT_EQ(13, report->u16PIDNum);  // 3 x (PMT, PCR, video, audio) and the other PID
    EXPECT_EQ(0x100, report->arPIDBitInfo[0].u16PID);
    EXPECT_EQ(PMT_TABLE_PID, report->arPIDBitInfo[0].u8PIDType);
    EXPECT_EQ(0x700, report->arPIDBitInfo[12].u16PID);
    ASSERT_EQ(0u, TSP_SendTSBitInfoToWeb(9, report.get()));
    EXPECT_EQ(255, report->u8ValidFlag);
}

TEST_F(WebViewTest, ServiceIdClashIsRefusedAndTheLiveModelUntouched) {
    auto view = TempView();
    view->arOutputProInfo[2].u16ServiceID = 100;
    U8 conflict = 0;
    EXPECT_EQ(kErrServiceIdConflict, TSP_ModifyTSInfoByWeb(view.get(), &conflict));
    EXPECT_EQ(1, conflict);

    Output_WebProgramInfo program = view->arOutputProInfo[1];
    program.u16ServiceID = 102;
    conflict = 0;
    EXPECT_EQ(kErrServiceIdConflict, TSP_ModifyProgramInfoByWeb(kChannel, &program, &conflict));
    EXPECT_EQ(1, conflict);

    TSP_ModelLock lock;
    for (U16 i = 0; i < 3; ++i) {
        EXPECT_EQ(100 + i, TSP_GetTSParam()->pOutputProgram[programs[i]].u16ServiceID);
        EXPECT_EQ(100 + i, TSP_GetTempTSParam()->pOutputProgram[programs[i]].u16ServiceID);
    }
}

struct StreamEdit {
    const char* name;
    std::function<void(Output_WebTSInfo&)> edit;
    Flags expected;
};

TEST_F(WebViewTest, EachStreamEditRaisesExactlyItsFlags) {
    const StreamEdit edits[] = {
        {"transport stream ID", [](Output_WebTSInfo& v) { v.u16TransportStreamID = 9; }, {1, 1, 0}},
        {"original network ID", [](Output_WebTSInfo& v) { v.u16OriginalNetworkID = 9; }, {0, 1, 0}},
        {"modulation mode", [](Output_WebTSInfo& v) { v.u8ModulationMode = 2; }, {0, 0, 0}},
        {"TDT switch", [](Output_WebTSInfo& v) { v.u8TDTGenerate = 0; }, {0, 0, 0}},
        {"other PID", [](Output_WebTSInfo& v) { v.arOutputPIDInfo[0].u16PID = 0x701; }, {0, 0, 0}},
        {"service ID", [](Output_WebTSInfo& v) { v.arOutputProInfo[0].u16ServiceID = 150; }, {1, 1, 1}},
        {"service name",
         [](Output_WebTSInfo& v) {
             std::memcpy(v.arOutputProInfo[0].aru8ServiceName, "News", 4);
             v.arOutputProInfo[0].u8ServiceNameLen = 4;
         },
         {0, 1, 0}},
        {"provider name", [](Output_WebTSInfo& v) { v.arOutputProInfo[0].u8ServiceProviderLen = 3; }, {0, 1, 0}},
        {"nothing", [](Output_WebTSInfo&) {}, {0, 0, 0}},
    };
    for (const StreamEdit& e : edits) {
        SCOPED_TRACE(e.name);
        {
            TSP_ModelLock lock;
            ClearFlags(TSP_GetTempTSParam());
        }
        auto view = TempView();
        e.edit(*view);
        U8 conflict = 7;
        ASSERT_EQ(0u, TSP_ModifyTSInfoByWeb(view.get(), &conflict));
        EXPECT_EQ(0, conflict);
        EXPECT_EQ(e.expected, FlagsOf(programs[0]));
        auto after = TempView();
        EXPECT_EQ(view->u16TransportStreamID, after->u16TransportStreamID);
        EXPECT_EQ(view->arOutputPIDInfo[0].u16PID, after->arOutputPIDInfo[0].u16PID);
        EXPECT_EQ(view->arOutputProInfo[0].u16ServiceID, after->arOutputProInfo[0].u16ServiceID);
        EXPECT_EQ(view->arOutputProInfo[0].u8ServiceNameLen, after->arOutputProInfo[0].u8ServiceNameLen);
    }
}

TEST_F(WebViewTest, TwoProgramsCanSwapTheirServiceIds) {
    auto view = TempView();
    view->arOutputProInfo[0].u16ServiceID = 101;
    view->arOutputProInfo[1].u16ServiceID = 100;
    U8 conflict = 0;
    ASSERT_EQ(0u, TSP_ModifyTSInfoByWeb(view.get(), &conflict));
    TSP_ModelLock lock;
    EXPECT_EQ(101, TSP_GetTempTSParam()->pOutputProgram[programs[0]].u16ServiceID);
    EXPECT_EQ(100, TSP_GetTempTSParam()->pOutputProgram[programs[1]].u16ServiceID);
    EXPECT_EQ(100, TSP_GetTSParam()->pOutputProgram[programs[0]].u16ServiceID) << "live waits for the apply";
}

struct ProgramEdit {
    const char* name;
    std::function<void(Output_WebProgramInfo&)> edit;
    Flags expected;
};

TEST_F(WebViewTest, EachProgramEditRaisesExactlyItsFlags) {
    const ProgramEdit edits[] = {
        {"PMT PID", [](Output_WebProgramInfo& v) { v.u16PMTPID = 0x180; }, {1, 0, 1}},
        {"PCR PID", [](Output_WebProgramInfo& v) { v.u16PCRPID = 0x181; }, {0, 0, 1}},
        {"elementary PID", [](Output_WebProgramInfo& v) { v.arOutputESInfo[1].u16PID = 0x182; }, {0, 0, 1}},
        {"service type", [](Output_WebProgramInfo& v) { v.u8ServiceType = 0x19; }, {0, 1, 0}},
        {"service ID", [](Output_WebProgramInfo& v) { v.u16ServiceID = 170; }, {1, 1, 1}},
        {"provider name", [](Output_WebProgramInfo& v) { v.u8ServiceProviderLen = 2; }, {0, 1, 0}},
    };
    for (const ProgramEdit& e : edits) {
        SCOPED_TRACE(e.name);
        Output_WebProgramInfo view{};
        {
            TSP_ModelLock lock;
            ClearFlags(TSP_GetTempTSParam());
            const U16 serviceId = TSP_GetTempTSParam()->pOutputProgram[programs[1]].u16ServiceID;
            ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(kChannel, serviceId, &view, TSP_GetTempTSParam()));
        }
        e.edit(view);
        U8 conflict = 7;
        ASSERT_EQ(0u, TSP_ModifyProgramInfoByWeb(kChannel, &view, &conflict));
        EXPECT_EQ(e.expected, FlagsOf(programs[1]));
        TSP_ModelLock lock;
        const Output_TSProgram& program = TSP_GetTempTSParam()->pOutputProgram[programs[1]];
        EXPECT_EQ(view.u16PMTPID, program.u16PMTPID);
        EXPECT_EQ(view.u16PCRPID, program.u16PCRPID);
        EXPECT_EQ(view.arOutputESInfo[1].u16PID, TSP_GetTempTSParam()->pOutputPID[audio[1]].u16PID);
    }
}

TEST_F(WebViewTest, ThePcrRidingOnTheVideoStaysWithItsRecord) {
    {
        // The second program's PCR comes in its video: input PID 0x112 of the
        // program's own source.
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        Output_TSProgram& program = live->pOutputProgram[programs[1]];
        program.u16OldPCRPID = program.u16PCRPID = 0x112;
        for (const U16 index : {program.u16PCRIndex, video[1]}) {
            Output_TSPID& pid = live->pOutputPID[index];
            pid.u16OldPID = pid.u16PID = 0x112;
            pid.u8SourceSlotID = program.u8SourceSlotID;
            pid.u16SourceChannelID = program.u16SourceChannelID;
        }
    }
    struct Case {
        const char* name;
        U16 video;  // the view's new values
        U16 pcr;
        U16 expected;  // where video, PCR record and the program's PCR PID end
    };
    const Case cases[] = {
        {"video moved", 0x150, 0x112, 0x150},
        {"PCR moved: the video carrying it goes along", 0x112, 0x160, 0x160},
        {"both moved: the video's PID wins, the PCR stays in it", 0x150, 0x160, 0x150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output_WebProgramInfo view{};
        {
            TSP_ModelLock lock;
            ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
            ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
            ClearFlags(TSP_GetTempTSParam());
            ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(kChannel, 101, &view, TSP_GetTempTSParam()));
        }
        ASSERT_EQ(0x112, view.u16PCRPID);
        ASSERT_EQ(0x112, view.arOutputESInfo[0].u16OldPID);
        view.arOutputESInfo[0].u16PID = c.video;
        view.u16PCRPID = c.pcr;
        U8 conflict = 0;
        ASSERT_EQ(0u, TSP_ModifyProgramInfoByWeb(kChannel, &view, &conflict));
        EXPECT_EQ((Flags{0, 0, 1}), FlagsOf(programs[1]));
        TSP_ModelLock lock;
        const Output_TSInfo* temp = TSP_GetTempTSParam();
        const Output_TSProgram& program = temp->pOutputProgram[programs[1]];
        EXPECT_EQ(c.expected, temp->pOutputPID[video[1]].u16PID);
        EXPECT_EQ(c.expected, temp->pOutputPID[program.u16PCRIndex].u16PID);
        EXPECT_EQ(c.expected, program.u16PCRPID) << "the PMT names where the PCR record goes";
    }
}

TEST_F(WebViewTest, ProgramEditRefusals) {
    Output_WebProgramInfo view{};
    {
        TSP_ModelLock lock;
        ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(kChannel, 101, &view, TSP_GetTempTSParam()));
    }
    U8 conflict = 0;
    Output_WebProgramInfo missing = view;
    missing.u16OldServiceID = 999;
    EXPECT_EQ(0xC0018u, TSP_ModifyProgramInfoByWeb(kChannel, &missing, &conflict));
    EXPECT_EQ(0xC0018u, TSP_ModifyProgramInfoByWeb(kChannel + 1, &view, &conflict));

    Output_WebProgramInfo fewer = view;
    fewer.u16ESNumber = 1;
    EXPECT_EQ(0xC0020u, TSP_ModifyProgramInfoByWeb(kChannel, &fewer, &conflict));

    GetQAMPara_Handle()->Standard.value = 1;
    {
        TSP_ModelLock lock;
        TSP_GetTempTSParam()->pOutputProgram[programs[0]].u16MajorChannelNum = 5;
        TSP_GetTempTSParam()->pOutputProgram[programs[0]].u16MinorChannelNum = 1;
    }
    Output_WebProgramInfo atsc = view;
    atsc.u16MajorChannelNum = 1024;
    EXPECT_EQ(0xC0019u, TSP_ModifyProgramInfoByWeb(kChannel, &atsc, &conflict));
    atsc.u16MajorChannelNum = 5;
    atsc.u16MinorChannelNum = 1;
    EXPECT_EQ(0xC0019u, TSP_ModifyProgramInfoByWeb(kChannel, &atsc, &conflict)) << "pair used by another program";
    atsc.u16MinorChannelNum = 2;
    EXPECT_EQ(0u, TSP_ModifyProgramInfoByWeb(kChannel, &atsc, &conflict));
    GetQAMPara_Handle()->Standard.value = 0;
    TSP_ModelLock lock;
    EXPECT_EQ(2, TSP_GetTempTSParam()->pOutputProgram[programs[1]].u16MinorChannelNum);

    auto stream = std::make_unique<Output_WebTSInfo>();
    ASSERT_EQ(0u, TSP_SendTSInfoToWeb(kChannel, stream.get(), TSP_GetTempTSParam()));
    stream->u16PIDNum = 101;
    EXPECT_EQ(0xC0000u, TSP_ModifyTSInfoByWeb(stream.get(), &conflict));
    stream->u16PIDNum = 0;
    EXPECT_EQ(0xC0020u, TSP_ModifyTSInfoByWeb(stream.get(), &conflict)) << "other-PID count differs";
}

TEST_F(WebViewTest, PidClashesAreRefusedAndUndone) {
    // A pending stream edit in the temporary model, then an other PID onto the
    // first program's video: the whole temporary model is the live one again.
    {
        TSP_ModelLock lock;
        TSP_GetTempTSParam()->pOutputTS[ts].u16TransportStreamID = 99;
    }
    auto view = TempView();
    view->arOutputPIDInfo[0].u16PID = 0x102;
    U8 conflict = 0;
    EXPECT_EQ(kErrPidConflict, TSP_ModifyTSInfoByWeb(view.get(), &conflict));
    EXPECT_EQ(1, conflict);
    {
        TSP_ModelLock lock;
        EXPECT_EQ(0x700, TSP_GetTempTSParam()->pOutputPID[other].u16PID);
        EXPECT_EQ(TSP_GetTSParam()->pOutputTS[ts].u16TransportStreamID,
                  TSP_GetTempTSParam()->pOutputTS[ts].u16TransportStreamID);
    }

    // A program edit whose PCR would go and whose audio clashes: both put back.
    Output_WebProgramInfo program{};
    {
        TSP_ModelLock lock;
        ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(kChannel, 101, &program, TSP_GetTempTSParam()));
    }
    program.u16PCRPID = 0x190;
    program.arOutputESInfo[1].u16PID = 0x122;  // the third program's video
    conflict = 0;
    EXPECT_EQ(kErrPidConflict, TSP_ModifyProgramInfoByWeb(kChannel, &program, &conflict));
    EXPECT_EQ(1, conflict);
    TSP_ModelLock lock;
    const Output_TSInfo* temp = TSP_GetTempTSParam();
    EXPECT_EQ(0x111, temp->pOutputProgram[programs[1]].u16PCRPID);
    EXPECT_EQ(0x111, temp->pOutputPID[temp->pOutputProgram[programs[1]].u16PCRIndex].u16PID);
    EXPECT_EQ(0x113, temp->pOutputPID[audio[1]].u16PID);
}

TEST_F(WebViewTest, APidOfTheSameStreamOfPacketsIsAccepted) {
    Output_WebProgramInfo program{};
    {
        // The second program's audio carries the same input PID of the same
        // source as the first program's.
        TSP_ModelLock lock;
        TSP_GetTempTSParam()->pOutputPID[audio[1]].u16OldPID = 0x103;
        ASSERT_EQ(0u, TSP_SendProgramInfoToWeb(kChannel, 101, &program, TSP_GetTempTSParam()));
    }
    program.arOutputESInfo[1].u16PID = 0x103;
    U8 conflict = 0;
    ASSERT_EQ(0u, TSP_ModifyProgramInfoByWeb(kChannel, &program, &conflict));
    TSP_ModelLock lock;
    EXPECT_EQ(0x103, TSP_GetTempTSParam()->pOutputPID[audio[1]].u16PID);
}

TEST_F(WebViewTest, ServiceIdZeroAndTablePidsAreRefused) {
    auto view = TempView();
    view->arOutputProInfo[1].u16ServiceID = 0;
    U8 conflict = 0;
    EXPECT_EQ(kErrServiceIdConflict, TSP_ModifyTSInfoByWeb(view.get(), &conflict));
    EXPECT_EQ(1, conflict);
    Output_WebProgramInfo program = TempView()->arOutputProInfo[1];
    program.u16ServiceID = 0;
    conflict = 0;
    EXPECT_EQ(kErrServiceIdConflict, TSP_ModifyProgramInfoByWeb(kChannel, &program, &conflict));
    EXPECT_EQ(1, conflict);
    program = TempView()->arOutputProInfo[1];
    program.u16PCRPID = 0x190;
    program.arOutputESInfo[0].u16PID = 0x10;  // the NIT's PID
    EXPECT_EQ(0xC0000u, TSP_ModifyProgramInfoByWeb(kChannel, &program, &conflict));
    TSP_ModelLock lock;
    EXPECT_EQ(101, TSP_GetTempTSParam()->pOutputProgram[programs[1]].u16ServiceID);
    EXPECT_EQ(0x111, TSP_GetTempTSParam()->pOutputProgram[programs[1]].u16PCRPID) << "put back";
    EXPECT_EQ(0x112, TSP_GetTempTSParam()->pOutputPID[video[1]].u16PID);
}

// Every check of an edit comes before its first change: a refused edit leaves
// the temporary model byte for byte as it was, so nothing of it goes on air
// with the next apply.
TEST_F(WebViewTest, ARefusedEditLeavesTheTemporaryModelAsItWas) {
    const auto bytes = [] {
        TSP_ModelLock lock;
        std::string all;
        for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                               ModelPool::Descriptor}) {
            all += test::PoolBytes(TSP_GetTempTSParam(), pool);
        }
        return all;
    };
    {
        // The copy an image of the live model, as a PID clash reloads it.
        TSP_ModelLock lock;
        ClearFlags(TSP_GetTSParam());
    }
    GetQAMPara_Handle()->Standard.value = 1;  // ATSC: channel numbers are checked and set
    const std::string before = bytes();
    const Output_WebProgramInfo shown = TempView()->arOutputProInfo[1];
    const struct {
        const char* what;
        std::function<void(Output_WebProgramInfo&)> edit;
        U32 code;
    } programCases[] = {
        {"elementary-stream count differs", [](Output_WebProgramInfo& v) { v.u16ESNumber = 1; }, 0xC0020},
        {"ES PID onto another program's video",
         [](Output_WebProgramInfo& v) { v.arOutputESInfo[1].u16PID = 0x122; }, kErrPidConflict},
        {"ES PID onto the NIT", [](Output_WebProgramInfo& v) { v.arOutputESInfo[0].u16PID = 0x10; }, 0xC0000},
    };
    for (const auto& c : programCases) {
        Output_WebProgramInfo view = shown;
        view.u16MajorChannelNum = 7;
        view.u16MinorChannelNum = 3;
        view.u8ServiceType = 0x19;
        view.u16ServiceID = 555;
        view.u16PMTPID = 0x1F0;
        c.edit(view);
        U8 conflict = 0;
        EXPECT_EQ(c.code, TSP_ModifyProgramInfoByWeb(kChannel, &view, &conflict)) << c.what;
        EXPECT_EQ(before, bytes()) << c.what;
    }
    GetQAMPara_Handle()->Standard.value = 0;

    const struct {
        const char* what;
        std::function<void(Output_WebTSInfo&)> edit;
        U32 code;
    } streamCases[] = {
        {"a program the stream does not have", [](Output_WebTSInfo& v) { v.arOutputProInfo[2].u16OldServiceID = 999; },
         0xC0018},
        {"program count differs", [](Output_WebTSInfo& v) { v.u16ProgramNum = 2; }, 0xC0020},
        {"other PID onto a video", [](Output_WebTSInfo& v) { v.arOutputPIDInfo[0].u16PID = 0x102; }, kErrPidConflict},
    };
    for (const auto& c : streamCases) {
        auto view = TempView();
        view->u16TransportStreamID = 0x4321;
        view->u16OriginalNetworkID = 0x99;
        view->u8ModulationMode = 1;
        view->arOutputProInfo[0].u16ServiceID = 777;
        view->arOutputPIDInfo[0].u16PID = 0x7F0;
        c.edit(*view);
        U8 conflict = 0;
        EXPECT_EQ(c.code, TSP_ModifyTSInfoByWeb(view.get(), &conflict)) << c.what;
        EXPECT_EQ(before, bytes()) << c.what;
    }
}

}  // namespace
}  // namespace hx
