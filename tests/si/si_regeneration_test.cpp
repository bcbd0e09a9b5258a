// Regeneration of every output stream's PSI/SI into the carousel: which tables
// each stream gets, on which PID, what is skipped, how one failure is
// contained, and where the versions sent are kept.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "engine/model_copy.h"
#include "nit_fixture.h"
#include "si/nit_storage.h"
#include "si/psi_assembly.h"
#include "si/psi_tables.h"
#include "si/si_fixture.h"
#include "si/si_regeneration.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::PidSpec;
using test::ProgramSpec;
using Queued = std::multiset<std::pair<U16, U16>>;  // stream index, PID

class SiRegenerationTest : public test::SiBoardTest {
protected:
    SiRegenerationTest() { TSP_InitOneOutputTSStream(&proto_); }

    // The tables queued in the carousel.
    Queued QueuedTables() {
        std::lock_guard lock(SIMutex);
        Queued tables;
        const SIPacket_t& carousel = SSD_GetBroadcastSI();
        for (const SIPacketInfo_t& info : carousel.arstSIInfo) {
            if (info.stList.u8ValidFlag == 1) {
                tables.emplace(info.u16OutTSIndex, info.u16PID);
            }
        }
        return tables;
    }

    // A stream on `channel` with programs (PMT 0x100 + n, an ES each) and an EMM.
    U16 FullStream(U16 channel, U16 programs = 2) {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        const U16 ts = builder.AddStream(channel);
        for (U16 n = 0; n < programs; ++n) {
            const U16 program = builder.AddProgram(
                ts, ProgramSpec{.programId = static_cast<U16>(n + 1), .serviceId = static_cast<U16>(n + 1),
                                .pmtPid = static_cast<U16>(0x100 + n), .pcrPid = 0x1FFF});
            builder.AddPid(PID_TYPE_ESPID, program,
                           PidSpec{.key = static_cast<U16>(n + 10), .pid = static_cast<U16>(0x200 + n)});
        }
        const U16 emm = builder.AddPid(PID_TYPE_EMMPID, ts, PidSpec{.key = 99, .pid = 0x300});
        TSP_GetTSParam()->pOutputPID[emm].u16CASID = 0x0B00;
        return ts;
    }

    void StoreNit(U16 ts) {
        TSP_ModelLock lock;
        const std::vector<U8> section = test::NitSection(1, 0, 0, 0, {}, {});
        std::vector<TSTable> records;
        ASSERT_TRUE(TSP_SectionsToRecords(section.data(), static_cast<U32>(section.size()), kNitTableId, kNitTableType,
                                          0, TSP_GetTSParam()->pOutputTS[ts].u16ChannelID, ts, records));
        ASSERT_EQ(TSP_ReplaceTableChain(TSP_GetTSParam(), ts, TableChainHead::Nit, records), 0u);
        TSP_GetTSParam()->pOutputTS[ts].u8NITGenerate = 1;
    }

    U32 Regenerate() {
        TSP_ModelLock lock;
        return TSP_MuxOutputAllSI();
    }

    Output_TSStream proto_{};
};

TEST_F(SiRegenerationTest, DvbStreamGetsEveryTableOnItsPid) {
    const U16 ts = FullStream(1);
    StoreNit(ts);
    EXPECT_EQ(Regenerate(), 0u);
    EXPECT_EQ(QueuedTables(), (Queued{{ts, 0}, {ts, 1}, {ts, 16}, {ts, 17}, {ts, 0x100}, {ts, 0x101}}));
}

TEST_F(SiRegenerationTest, BypassStreamGetsNothing) {
    const U16 ts = FullStream(1);
    LiveStream(ts).u8BypassFlag = 1;
    EXPECT_EQ(Regenerate(), 0u);
    EXPECT_TRUE(QueuedTables().empty());
}

TEST_F(SiRegenerationTest, PassedThroughPatIsNotGeneratedButTheRestIs) {
    const U16 ts = FullStream(1);
    StoreNit(ts);
    {
        TSP_ModelLock lock;
        ModelBuilder(TSP_GetTSParam()).AddPid(PID_TYPE_OTHERPID, ts, PidSpec{.key = 50, .pid = 0});
    }
    EXPECT_EQ(Regenerate(), 0u);
    EXPECT_EQ(QueuedTables(), (Queued{{ts, 1}, {ts, 16}, {ts, 17}, {ts, 0x100}, {ts, 0x101}}));
    EXPECT_NE(env.Console().find("exist PAT in other pid"), std::string::npos);
}

TEST_F(SiRegenerationTest, AtscGetsPatPmtsAndOnePsipEntry) {
    SetAtsc(true);
    const U16 ts = FullStream(1);
    StoreNit(ts);
    EXPECT_EQ(Regenerate(), 0u);
    EXPECT_EQ(QueuedTables(), (Queued{{ts, 0}, {ts, 0x100}, {ts, 0x101}, {ts, kPsipPid}}));

    // MGT then the VCT in one buffer, the MGT naming the VCT and its length.
    std::vector<U8> buffer(kSiConstructBytes);
    ASSERT_EQ(TSP_ConstructPSIP(ts, buffer.data()), 0u);
    ASSERT_EQ(buffer[0], kMgtTableId);
    const U16 mgtBytes = SIP_SectionBytes(buffer.data());
    EXPECT_EQ(GetBe16(&buffer[9]), 1);  // tables_defined
    EXPECT_EQ(GetBe16(&buffer[13]) & 0x1FFF, kPsipPid);
    const U8 vctId = LiveStream(ts).u32VCTType != 0 ? kTvctTableId : kCvctTableId;
    EXPECT_EQ(buffer[mgtBytes], vctId);
    EXPECT_EQ(GetBe32(&buffer[16]), SIP_SectionBytes(&buffer[mgtBytes]));
}

TEST_F(SiRegenerationTest, AtscMgtAloneWhenTheVctIsOff) {
    SetAtsc(true);
    const U16 ts = FullStream(1);
    LiveStream(ts).u8VCTGenerate = 0;
    std::vector<U8> buffer(kSiConstructBytes);
    ASSERT_EQ(TSP_ConstructPSIP(ts, buffer.data()), 0u);
    EXPECT_EQ(buffer[0], kMgtTableId);
    EXPECT_EQ(GetBe16(&buffer[9]), 0);
    EXPECT_EQ(buffer[SIP_SectionBytes(buffer.data())], 0);
    EXPECT_EQ(QueuedTables(), (Queued{{ts, kPsipPid}}));
}

TEST_F(SiRegenerationTest, FailingSdtSkipsOnlyItself) {
    const U16 first = FullStream(1, 45);
    const U16 second = FullStream(2, 1);
    {
        // 45 services with full stored loops are more than the carousel takes.
        TSP_ModelLock lock;
        Output_TSInfo* model = TSP_GetTSParam();
        for (U32 i = 0; i < model->u32OutputProgramNumber; ++i) {
            Output_TSProgram& program = model->pOutputProgram[i];
            if (program.u8ValidFlag == kRecordValid && program.u16TSIndex == first) {
                program.u16SDTInfoLength = 188;
                program.aru8SDTInfo[0] = 0x80;
                program.aru8SDTInfo[1] = 186;
            }
        }
    }
    EXPECT_EQ(Regenerate(), 0u);
    const Queued tables = QueuedTables();
    EXPECT_EQ(tables.count({first, 17}), 0u);
    EXPECT_EQ(tables.count({first, 0}), 1u);
    EXPECT_EQ(tables.count({first, 0x100 + 44}), 1u);
    EXPECT_EQ(tables.count({second, 17}), 1u);
    EXPECT_EQ(tables.count({second, 0x100}), 1u);
    EXPECT_NE(env.Console().find("TSP_ConstructSDT OutTSIndex:0  fail"), std::string::npos);
    EXPECT_EQ(LiveStream(first).u8SDTChangeFlag, 1) << "a table the carousel refused keeps its flag";
    EXPECT_EQ(LiveStream(second).u8SDTChangeFlag, 0);
    TSP_ModelLock lock;
    EXPECT_EQ(TSP_MuxTsSIProc(first), kSiErrFull);
}

TEST_F(SiRegenerationTest, SentVersionsGoBackToTheLiveAndTemporaryRecords) {
    const U16 first = FullStream(1, 1);  // adding programs raised the PAT and SDT flags
    const U16 second = FullStream(2, 1);
    {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
        // The copy's record at the second place now holds another stream.
        TSP_GetTempTSParam()->pOutputTS[second].u16ChannelID = 7;
        PATTable_t pat;
        ASSERT_EQ(TSP_GetPATInfo(first, &pat), 0u);
        EXPECT_EQ(pat.u8VersionNumber, 0) << "the assembly reads the model's version";
        EXPECT_EQ(LiveStream(first).u8PATChangeFlag, 1) << "and changes nothing";
    }
    EXPECT_EQ(Regenerate(), 0u);

    TSP_ModelLock lock;
    for (Output_TSInfo* model : {TSP_GetTSParam(), TSP_GetTempTSParam()}) {
        const Output_TSStream& stream = model->pOutputTS[first];
        EXPECT_EQ(stream.u8PATVersionNumber, 1);
        EXPECT_EQ(stream.u8PATChangeFlag, 0);
        EXPECT_EQ(stream.u8SDTVersionNumber, 1);
        EXPECT_EQ(stream.u8SDTChangeFlag, 0);
    }
    EXPECT_EQ(LiveStream(second).u8PATChangeFlag, 0);
    const Output_TSStream& other = TSP_GetTempTSParam()->pOutputTS[second];
    EXPECT_EQ(other.u8PATVersionNumber, 0) << "another stream's record is left alone";
    EXPECT_EQ(other.u8PATChangeFlag, 1);
}

TEST_F(SiRegenerationTest, PmtRewritesCaPidsAndHidesFilteredStreams) {
    const U16 ts = FullStream(1, 1);
    U16 programIndex = 0;
    {
        TSP_ModelLock lock;
        Output_TSInfo* model = TSP_GetTSParam();
        ModelBuilder builder(model);
        programIndex = model->pOutputTS[ts].u16ProgramIndex;
        Output_TSProgram& program = model->pOutputProgram[programIndex];
        const std::vector<U8> loop = [] {
            std::vector<U8> l = test::CaDescriptor(0x0B00, 0x150);
            const std::vector<U8> dropped = test::CaDescriptor(0x0B00, 0x151);
            l.insert(l.end(), dropped.begin(), dropped.end());
            return l;
        }();
        std::copy(loop.begin(), loop.end(), program.aru8ProgramInfo);
        program.u16ProgramInfoLength = static_cast<U16>(loop.size());
        const U16 ecm = builder.AddPid(PID_TYPE_PS_ECMPID, programIndex, PidSpec{.key = 70, .pid = 0x150});
        model->pOutputPID[ecm].u16CASID = 0x0B00;
        model->pOutputPID[ecm].u16PID = 0x450;
        const U16 hidden = builder.AddPid(PID_TYPE_ESPID, programIndex, PidSpec{.key = 71, .pid = 0x260});
        model->pOutputPID[hidden].u8PIDFilterFlag = 1;
    }
    PMTTable_t pmt;
    ASSERT_EQ(TSP_GetPMTInfo(programIndex, &pmt), 0u);
    EXPECT_EQ(pmt.vecProgramInfo, test::CaDescriptor(0x0B00, 0x450));
    ASSERT_EQ(pmt.vecStreams.size(), 1u);
    EXPECT_EQ(pmt.vecStreams[0].u16PID, 0x200);

    TSP_ModelLock lock;
    TSP_GetTSParam()->pOutputProgram[programIndex].u8CIFlag = 1;
    ASSERT_EQ(TSP_GetPMTInfo(programIndex, &pmt), 0u);
    EXPECT_TRUE(pmt.vecProgramInfo.empty());
}

}  // namespace
}  // namespace hx
