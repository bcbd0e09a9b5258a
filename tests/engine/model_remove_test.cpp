// Removal from the output model: the delete orders of the input cards and
// removal by index, on one stream fed by three sources.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/output_model.h"
#include "platform/resource.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::PidSpec;
using test::ProgramSpec;
using test::TableChainKind;

constexpr U16 kChannel = 2;
constexpr U16 kSourceChannel = 1;

struct ProgramRecords {
    U16 program, pcr, video, audio, programEcm, esEcm;
};

std::vector<U16> Entries(const IndexInfoList& list) {
    return std::vector<U16>(list.aru16IndexList, list.aru16IndexList + list.u16IndexListNum);
}

// One stream on channel 2 fed by slots 3, 5 and 7. Programs in chain order
// come from 3, 5, 3, 7, 3, so slot 3 owns the first, a middle and the last.
// Each program has a PCR, a video ES with an ES-level ECM, an audio ES and a
// program-level ECM; the third program's loop is 190 bytes long and lives in a
// descriptor record. Other PIDs come from 3 and 5, EMM PIDs from 3 and 7, NIT
// sections from 3 (two) and 5 (one).
class RemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
        }
        Output_TSInfo* live = TSP_GetTSParam();
        ModelBuilder builder(live);
        ts = builder.AddStream(kChannel);
        const U8 sources[] = {3, 5, 3, 7, 3};
        for (U16 i = 0; i < 5; ++i) {
            const U8 slot = sources[i];
            const U16 base = static_cast<U16>(0x100 + 0x10 * i);
            ProgramRecords records{};
            records.program = builder.AddProgram(
                ts, ProgramSpec{slot, kSourceChannel, static_cast<U16>(i + 1), static_cast<U16>(10 * (i + 1)), base,
                                static_cast<U16>(base + 1)});
            auto pid = [&](U16 offset, U8 streamType) {
                return PidSpec{slot, kSourceChannel, static_cast<U16>(base + offset), static_cast<U16>(base + offset),
                               streamType};
            };
            records.pcr = builder.AddPid(PID_TYPE_PCRPID, records.program, pid(1, 0x02));
            records.video = builder.AddPid(PID_TYPE_ESPID, records.program, pid(2, 0x02));
            records.audio = builder.AddPid(PID_TYPE_ESPID, records.program, pid(3, 0x04));
            records.programEcm = builder.AddPid(PID_TYPE_PS_ECMPID, records.program, pid(4, 0));
            records.esEcm = builder.AddPid(PID_TYPE_ES_ECMPID, records.video, pid(5, 0));
            programs.push_back(records);
        }
        // The third program's loop: the CA descriptor of its program ECM (PID
        // 0x124), then a 184-byte descriptor.
        std::vector<U8> loop = test::CaDescriptor(0x0B00, 0x124);
        loop.resize(190, 0);
        loop[6] = 0x0A;  // a second descriptor fills the rest: tag 0x0A, length 182
        loop[7] = 182;
        descriptor = builder.AddProgramDescriptor(programs[2].program, loop);
        otherFrom3 = builder.AddPid(PID_TYPE_OTHERPID, ts, {3, kSourceChannel, 0x500, 0x500});
        otherFrom5 = builder.AddPid(PID_TYPE_OTHERPID, ts, {5, kSourceChannel, 0x501, 0x501});
        emmFrom3 = builder.AddPid(PID_TYPE_EMMPID, ts, {3, kSourceChannel, 0x600, 0x600});
        emmFrom7 = builder.AddPid(PID_TYPE_EMMPID, ts, {7, kSourceChannel, 0x601, 0x601});
        nit3a = builder.AddTable(ts, TableChainKind::Nit, 3, kChannel);
        nit5 = builder.AddTable(ts, TableChainKind::Nit, 5, kChannel);
        nit3b = builder.AddTable(ts, TableChainKind::Nit, 3, kChannel);
        ClearFlags();
        ASSERT_EQ("", Violations());
    }

    void TearDown() override {
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 0;
        }
    }

    Output_TSInfo* Live() { return TSP_GetTSParam(); }
    Output_TSStream& Stream() { return Live()->pOutputTS[ts]; }
    std::string Violations() { return test::DescribeViolations(test::CheckModel(*Live())); }

    void ClearFlags() {
        Stream().u8PATChangeFlag = Stream().u8SDTChangeFlag = Stream().u8CATChangeFlag = 0;
        for (const ProgramRecords& records : programs) {
            Live()->pOutputProgram[records.program].u8PMTChangeFlag = 0;
        }
    }

    std::vector<U16> ProgramChain() {
        IndexInfoList list;
        EXPECT_EQ(0u, TSP_GetOutTSProgIndexList(ts, Live(), &list));
        return Entries(list);
    }

    template <typename Walker>
    std::vector<U16> Chain(Walker walker, U16 owner) {
        IndexInfoList list;
        EXPECT_EQ(0u, walker(owner, Live(), &list));
        return Entries(list);
    }

    bool Valid(ModelPool pool, U16 index) { return ModelPool_IsValid(Live(), pool, index); }

    // The whole live model's bytes, to show an operation changed nothing.
    std::vector<U8> Snapshot() {
        std::vector<U8> bytes;
        for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                               ModelPool::Descriptor}) {
            const U8* begin = ModelPool_Record(Live(), pool, 0);
            bytes.insert(bytes.end(), begin, begin + ModelPool_Count(Live(), pool) * ModelPool_RecordSize(pool));
        }
        return bytes;
    }

    test::TestEnvironment env;
    test::ScopedSharedModels models;
    TSP_ModelLock lock;
    U16 ts = 0;
    std::vector<ProgramRecords> programs;
    U16 descriptor = 0, otherFrom3 = 0, otherFrom5 = 0, emmFrom3 = 0, emmFrom7 = 0, nit3a = 0, nit5 = 0, nit3b = 0;
};

TEST_F(RemovalTest, DeleteTSOrderRemovesOneSourceAndRelinksTheSurvivorsInOrder) {
    ASSERT_EQ(0u, TSP_DelTSInfoByInput(3, kSourceChannel, kChannel));
    EXPECT_EQ((std::vector<U16>{programs[1].program, programs[3].program}), ProgramChain());
    EXPECT_EQ(2, Stream().u16ProgramNum);
    EXPECT_EQ((std::vector<U16>{otherFrom5}), Chain(TSP_GetOutTSOtherPIDIndexList, ts));
    EXPECT_EQ((std::vector<U16>{emmFrom7}), Chain(TSP_GetOutTSEMMPIDIndexList, ts));
    EXPECT_EQ((std::vector<U16>{nit5}), Chain(TSP_GetOutTSNITTableIndexList, ts));
    EXPECT_EQ(1, Stream().u8PATChangeFlag);
    EXPECT_EQ(1, Stream().u8SDTChangeFlag);
    EXPECT_EQ(1, Stream().u8CATChangeFlag);
    for (U16 i : {0, 2, 4}) {
        EXPECT_FALSE(Valid(ModelPool::Program, programs[i].program));
        EXPECT_FALSE(Valid(ModelPool::Pid, programs[i].esEcm));
        EXPECT_EQ(0xFFFF, Live()->pOutputProgram[programs[i].program].u16ProgramIndex) << "marked in the pass";
    }
    EXPECT_FALSE(Valid(ModelPool::Descriptor, descriptor));
    EXPECT_EQ(0, Stream().u16DescriptorNum);
    EXPECT_EQ("", Violations());
}

TEST_F(RemovalTest, DeletingEverySourceZeroesTheStreamAndItsTables) {
    ModelBuilder builder(Live());
    for (TableChainKind chain : {TableChainKind::Bat, TableChainKind::Tot, TableChainKind::OtherNit,
                                 TableChainKind::OtherSdt}) {
        builder.AddTable(ts, chain, 5, kChannel);
    }
    for (U8 slot : {5, 7}) {
        ASSERT_EQ(0u, TSP_DelTSInfoByInput(slot, kSourceChannel, kChannel));
        EXPECT_EQ(1, Stream().u8ValidFlag);
    }
    ASSERT_EQ(0u, TSP_DelTSInfoByInput(3, kSourceChannel, kChannel));
    EXPECT_EQ(0, Stream().u8ValidFlag);
    // Every record is free again, the pass marks aside.
    EXPECT_EQ("", Violations());
    for (U32 i = 0; i < Live()->u32OutputTableNumber; ++i) {
        EXPECT_FALSE(Valid(ModelPool::Table, static_cast<U16>(i))) << i;
    }
    for (U32 i = 0; i < Live()->u32OutputPIDNumber; ++i) {
        EXPECT_FALSE(Valid(ModelPool::Pid, static_cast<U16>(i))) << i;
    }
}

TEST_F(RemovalTest, DeleteTSOrderFromASourceThatOwnsNothingChangesNothing) {
    const std::vector<U8> before = Snapshot();
    EXPECT_EQ(0u, TSP_DelTSInfoByInput(9, kSourceChannel, kChannel));
    EXPECT_EQ(before, Snapshot());
    // ... but a stream that was already empty goes.
    ModelBuilder builder(Live());
    const U16 empty = builder.AddStream(9);
    EXPECT_EQ(0u, TSP_DelTSInfoByInput(9, kSourceChannel, 9));
    EXPECT_FALSE(Valid(ModelPool::Stream, empty));
    EXPECT_EQ(0xC0000u, TSP_DelTSInfoByInput(9, kSourceChannel, 9)) << "no stream on the channel any more";
    EXPECT_EQ(0xC0000u, TSP_DelTSInfoByInput(17, kSourceChannel, kChannel));
}

TEST_F(RemovalTest, DeleteProgramOrderRemovesTheProgramWithItsPidsAndDescriptor) {
    ASSERT_EQ(0u, TSP_DelProgramInfoByInput(3, kSourceChannel, kChannel, 3));
    EXPECT_EQ((std::vector<U16>{programs[0].program, programs[1].program, programs[3].program, programs[4].program}),
              ProgramChain());
    EXPECT_FALSE(Valid(ModelPool::Descriptor, descriptor));
    EXPECT_FALSE(Valid(ModelPool::Pid, programs[2].pcr));
    EXPECT_EQ(1, Stream().u8PATChangeFlag);
    EXPECT_EQ("", Violations());
    EXPECT_EQ(0xC0017u, TSP_DelProgramInfoByInput(3, kSourceChannel, kChannel, 3)) << "a second order finds nothing";
    EXPECT_NE(std::string::npos, env.Console().find("the program being deleted don't exist in outputboard"));
    EXPECT_EQ(0xC0017u, TSP_DelProgramInfoByInput(3, kSourceChannel, 12, 1));
    EXPECT_NE(std::string::npos, env.Console().find("the program being deleted don't find ts index"));
}

TEST_F(RemovalTest, ASourceThatDoesNotMuxPidsTakesTheStreamWithItsLastProgram) {
    for (U8 slot : {3, 5, 7}) {
        Resource_GetHandle(slot)->u8MuxPIDEnable = 0;
    }
    const U8 sources[] = {3, 5, 3, 7, 3};
    testing::internal::CaptureStdout();
    for (U16 i = 0; i < 5; ++i) {
        EXPECT_EQ(0u, TSP_DelProgramInfoByInput(sources[i], kSourceChannel, kChannel, i + 1));
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0, Stream().u8ValidFlag);
    EXPECT_NE(std::string::npos, printed.find("delete ts index[0] by delete all programs"));
    // The other and EMM PIDs and the NIT went with it instead of staying valid on no chain.
    EXPECT_FALSE(Valid(ModelPool::Pid, otherFrom5));
    EXPECT_FALSE(Valid(ModelPool::Pid, emmFrom7));
    EXPECT_FALSE(Valid(ModelPool::Table, nit5));
    EXPECT_EQ("", Violations());
}

TEST_F(RemovalTest, DeletePidOrdersByType) {
    struct Case {
        const char* name;
        U16 key;
        U8 flag;
        U16 record;
        bool removed;
        U8 pmtChange;
    };
    const Case cases[] = {
        {"ES with a flag other than 2 only stores it", 0x102, 1, programs[0].video, false, 0},
        {"PCR keeps its record even with flag 2", 0x101, 2, programs[0].pcr, false, 0},
        {"program ECM with flag 2", 0x104, 2, programs[0].programEcm, true, 1},
        {"ES-level ECM with flag 2", 0x105, 2, programs[0].esEcm, true, 1},
        {"audio ES with flag 2", 0x103, 2, programs[0].audio, true, 1},
        {"video ES with flag 2", 0x102, 2, programs[0].video, true, 1},
        {"other PID", 0x500, 0, otherFrom3, true, 0},
        {"EMM PID", 0x600, 0, emmFrom3, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearFlags();
        ASSERT_EQ(0u, TSP_DelPIDInfoByInput(3, kSourceChannel, kChannel, c.key, c.flag));
        EXPECT_EQ(!c.removed, Valid(ModelPool::Pid, c.record));
        if (!c.removed) {
            EXPECT_EQ(c.flag, Live()->pOutputPID[c.record].u8PIDFilterFlag);
        }
        EXPECT_EQ(c.pmtChange, Live()->pOutputProgram[programs[0].program].u8PMTChangeFlag);
        EXPECT_EQ(0, Stream().u8CATChangeFlag);
        EXPECT_EQ("", Violations());
    }
    EXPECT_EQ(0, Live()->pOutputProgram[programs[0].program].u16ESNumber);
    EXPECT_EQ(0xC0017u, TSP_DelPIDInfoByInput(3, kSourceChannel, kChannel, 0x500, 0));
    EXPECT_NE(std::string::npos, env.Console().find("the pid being deleted don't exist in outputboard"));
}

TEST_F(RemovalTest, AnOtherPidOutsideItsStreamsChainIsRefusedUntouched) {
    // A valid other-PID record with the right key that no chain reaches.
    U16 stray = 0;
    IndexInfoList list;
    ASSERT_EQ(0u, TSP_GetUnusedOutputPIDIndex(Live(), 1, &list));
    stray = list.aru16IndexList[0];
    Output_TSPID record = Live()->pOutputPID[otherFrom5];
    record.u16PIDID = 0x777;
    record.u32PIDIndex = stray;
    Live()->pOutputPID[stray] = record;
    const std::vector<U8> before = Snapshot();
    EXPECT_EQ(0xC0002u, TSP_DelPIDInfoByInput(5, kSourceChannel, kChannel, 0x777, 0));
    EXPECT_EQ(before, Snapshot());
    EXPECT_NE(std::string::npos, env.Console().find("the other pid being deleted don't exist in ts"));
}

TEST_F(RemovalTest, InputPathFreesAnEsInfoDescriptorRecordWithItsES) {
    ModelBuilder builder(Live());
    std::vector<U8> loop(200, 0);
    loop[0] = 0x0A;
    loop[1] = 198;
    const U16 esDescriptor = builder.AddEsDescriptor(programs[1].audio, loop);
    ASSERT_NE(0xFFFF, esDescriptor);
    ASSERT_EQ(0u, TSP_DelPIDInfoByInput(5, kSourceChannel, kChannel, 0x113, 2));
    EXPECT_FALSE(Valid(ModelPool::Descriptor, esDescriptor));
    EXPECT_EQ(1, Stream().u16DescriptorNum) << "the program descriptor stays";
    EXPECT_EQ("", Violations());

    const U16 second = builder.AddEsDescriptor(programs[3].video, loop);
    ASSERT_EQ(0u, TSP_DelProgramInfoByInput(7, kSourceChannel, kChannel, 4));
    EXPECT_FALSE(Valid(ModelPool::Descriptor, second));
    EXPECT_EQ("", Violations());
}

TEST_F(RemovalTest, ShortenedCaLoopMovesInlineAndKeepsItsLength) {
    const ProgramRecords& records = programs[2];
    // The program ECM's CA descriptor is 6 bytes: 190 - 6 = 184 fits inline.
    ASSERT_EQ(0u, TSP_DelOutputPID(records.programEcm, Live()));
    const Output_TSProgram& program = Live()->pOutputProgram[records.program];
    EXPECT_EQ(184, program.u16ProgramInfoLength);
    EXPECT_EQ(0xFFFF, program.u16ProgramInfoDescriptorIndex);
    EXPECT_EQ(0x0A, program.aru8ProgramInfo[0]);
    EXPECT_EQ(182, program.aru8ProgramInfo[1]);
    EXPECT_FALSE(Valid(ModelPool::Descriptor, descriptor));
    EXPECT_EQ(0, program.u16PSECMPIDNumber);
    EXPECT_EQ("", Violations());
}

TEST_F(RemovalTest, RemovingAStreamByIndexLeavesExactlyItsTdtRecords) {
    ModelBuilder builder(Live());
    const U16 tdt = builder.AddTable(ts, TableChainKind::Tdt, 3, kChannel);
    const U16 bat = builder.AddTable(ts, TableChainKind::Bat, 3, kChannel);
    const U16 tot = builder.AddTable(ts, TableChainKind::Tot, 3, kChannel);
    const U16 otherNit = builder.AddTable(ts, TableChainKind::OtherNit, 3, kChannel);
    const U16 otherSdt = builder.AddTable(ts, TableChainKind::OtherSdt, 3, kChannel);
    ASSERT_EQ(0u, TSP_DelOutputTS(ts, Live()));
    EXPECT_FALSE(Valid(ModelPool::Stream, ts));
    for (U16 table : {nit3a, nit5, nit3b, bat, tot, otherNit, otherSdt}) {
        EXPECT_FALSE(Valid(ModelPool::Table, table)) << table;
    }
    EXPECT_EQ("table " + std::to_string(tdt) + ": valid, on 0 chains\n", Violations());
    EXPECT_NE(std::string::npos, env.Console().find("delete output ts index[0]"));
}

TEST_F(RemovalTest, RemovingProgramsByIndexRelinksTheChain) {
    ASSERT_EQ(0u, TSP_DelOutputProg(programs[0].program, Live()));
    ASSERT_EQ(0u, TSP_DelOutputProg(programs[4].program, Live()));
    ASSERT_EQ(0u, TSP_DelOutputProg(programs[2].program, Live()));
    EXPECT_EQ((std::vector<U16>{programs[1].program, programs[3].program}), ProgramChain());
    EXPECT_EQ(0, Stream().u8PATChangeFlag) << "removal by index raises no flag";
    EXPECT_EQ("", Violations());
    EXPECT_EQ(0xC0000u, TSP_DelOutputProg(static_cast<U16>(Live()->u32OutputProgramNumber), Live()));
}

TEST_F(RemovalTest, ACountAlreadyZeroIsNeverDecremented) {
    // The other-PID chain holds two PIDs of slot 3 but its count says one.
    Stream().u16OtherPIDNum = 1;
    Live()->pOutputPID[otherFrom5].u8SourceSlotID = 3;
    EXPECT_EQ(0xC0017u, TSP_DelTSInfoByInput(3, kSourceChannel, kChannel));
    EXPECT_EQ(0, Stream().u16OtherPIDNum) << "not wrapped to 65535";
    EXPECT_TRUE(Valid(ModelPool::Pid, otherFrom5));
    EXPECT_NE(std::string::npos, env.Console().find("TS index[0] OtherPIDNum smaller than 0"));
    // With its count at 0 the chain reads as empty.
    EXPECT_EQ(0xC0002u, TSP_DelOneOutputOtherPID(ts, otherFrom5, Live()));
}

TEST_F(RemovalTest, LinksFromRecordsAreFollowedOnlyInsideTheirPools) {
    // A PCR link beyond the PID pool: logged, nothing written through it.
    Live()->pOutputProgram[programs[1].program].u16PCRIndex = 0xFFF0;
    ASSERT_EQ(0u, TSP_DelAllPIDsInOneProgram(programs[1].program));
    EXPECT_NE(std::string::npos, env.Console().find("no link"));

    // A descriptor that names another program is not freed through this one.
    Live()->pOutputProgram[programs[0].program].u16ProgramInfoDescriptorIndex = descriptor;
    ASSERT_EQ(0u, TSP_DelOutputProg(programs[0].program, Live()));
    EXPECT_TRUE(Valid(ModelPool::Descriptor, descriptor));
    EXPECT_EQ(descriptor, Live()->pOutputProgram[programs[2].program].u16ProgramInfoDescriptorIndex);
}

TEST_F(RemovalTest, EsEcmChainsUpTo299CanBeDeletedByOrder) {
    ModelBuilder builder(Live());
    const U16 video = programs[3].video;
    for (U16 i = 1; i < 299; ++i) {
        const U16 key = static_cast<U16>(0x800 + i);
        ASSERT_NE(0xFFFF, builder.AddPid(PID_TYPE_ES_ECMPID, video, {7, kSourceChannel, key, key}));
    }
    ASSERT_EQ(299, Live()->pOutputPID[video].u16ESECMPIDNumber);
    ASSERT_EQ(0u, TSP_DelPIDInfoByInput(7, kSourceChannel, kChannel, 0x132, 2));
    EXPECT_FALSE(Valid(ModelPool::Pid, video));
    EXPECT_EQ("", Violations());

    const U16 audio = programs[3].audio;
    for (U16 i = 0; i < 300; ++i) {
        const U16 key = static_cast<U16>(0xA00 + i);
        ASSERT_NE(0xFFFF, builder.AddPid(PID_TYPE_ES_ECMPID, audio, {7, kSourceChannel, key, key}));
    }
    const std::vector<U8> before = Snapshot();
    EXPECT_EQ(0xC0008u, TSP_DelPIDInfoByInput(7, kSourceChannel, kChannel, 0x133, 2));
    EXPECT_EQ(before, Snapshot()) << "nothing removed";
}

}  // namespace
}  // namespace hx
