// Conflict resolution: small models in, output values out; the operator's PID
// check; properties over random models; the incremental pass against the
// record-by-record one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/conflict_process.h"
#include "engine/model_copy.h"
#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/resolution_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;

constexpr U16 kNoPcr = 0x1FFF;

void SetAtsc(bool atsc) { GetQAMPara_Handle()->Standard.value = atsc ? 1 : 0; }

struct Prog {
    U8 slot = 3;
    U16 serviceId = 1;
    U16 pmt = 0x100;
    U16 pcr = kNoPcr;  // input PCR PID; a PCR record unless 0x1FFF
    std::vector<U16> es = {};
    std::vector<U16> ecm = {};  // program-level ECMs
    U16 pmtOut = 0;             // an output PMT PID other than the input one
    U16 pcrOut = 0;             // a program PCR PID other than its PCR record's
    std::optional<U16> pcrRecord = {};  // the PCR record's input PID when not the program's
    std::pair<U16, U16> pair = {0, 0};
};

struct StreamIn {
    std::vector<Prog> programs;
    std::vector<std::pair<U8, U16>> emm = {};    // source slot, PID
    std::vector<std::pair<U8, U16>> other = {};
};

struct StreamOut {
    std::vector<U16> serviceIds = {};
    std::vector<U16> pmts = {};
    std::vector<U16> pcrs = {};
    std::vector<std::vector<U16>> es = {};
    std::vector<U16> emm = {};
    std::vector<U16> other = {};
    std::vector<std::pair<U16, U16>> pairs = {};
};

struct Built {
    U16 ts = 0;
    std::vector<U16> programs;
    std::vector<std::vector<U16>> es;
    std::vector<U16> emm;
    std::vector<U16> other;
};

Built Build(Output_TSInfo* model, U16 channel, const StreamIn& in) {
    ModelBuilder builder(model);
    Built built;
    built.ts = builder.AddStream(channel);
    U16 programId = 1;
    for (const Prog& p : in.programs) {
        const U16 program = builder.AddProgram(built.ts, {.sourceSlot = p.slot, .programId = programId++,
                                                          .serviceId = p.serviceId, .pmtPid = p.pmt, .pcrPid = p.pcr});
        if (p.pcr != kNoPcr) {
            const U16 pcr = p.pcrRecord.value_or(p.pcr);
            builder.AddPid(PID_TYPE_PCRPID, program, {.sourceSlot = p.slot, .key = pcr, .pid = pcr});
        }
        std::vector<U16> es;
        for (U16 pid : p.es) {
            es.push_back(builder.AddPid(PID_TYPE_ESPID, program, {.sourceSlot = p.slot, .key = pid, .pid = pid}));
        }
        for (U16 pid : p.ecm) {
            builder.AddPid(PID_TYPE_PS_ECMPID, program, {.sourceSlot = p.slot, .key = pid, .pid = pid});
        }
        Output_TSProgram& record = model->pOutputProgram[program];
        if (p.pmtOut != 0) {
            record.u16PMTPID = p.pmtOut;
        }
        if (p.pcrOut != 0) {
            record.u16PCRPID = p.pcrOut;
        }
        record.u16MajorChannelNum = p.pair.first;
        record.u16MinorChannelNum = p.pair.second;
        built.programs.push_back(program);
        built.es.push_back(es);
    }
    for (const auto& [slot, pid] : in.emm) {
        built.emm.push_back(builder.AddPid(PID_TYPE_EMMPID, built.ts, {.sourceSlot = slot, .key = pid, .pid = pid}));
    }
    for (const auto& [slot, pid] : in.other) {
        built.other.push_back(
            builder.AddPid(PID_TYPE_OTHERPID, built.ts, {.sourceSlot = slot, .key = pid, .pid = pid}));
    }
    return built;
}

StreamOut Read(const Output_TSInfo* model, const Built& built) {
    StreamOut out;
    for (std::size_t p = 0; p < built.programs.size(); ++p) {
        const Output_TSProgram& program = model->pOutputProgram[built.programs[p]];
        out.serviceIds.push_back(program.u16ServiceID);
        out.pmts.push_back(program.u16PMTPID);
        out.pcrs.push_back(program.u16PCRPID);
        if (program.u16PCRIndex != kChainEnd) {
            EXPECT_EQ(program.u16PCRPID, model->pOutputPID[program.u16PCRIndex].u16PID) << "PCR record follows";
        }
        out.pairs.emplace_back(program.u16MajorChannelNum, program.u16MinorChannelNum);
        std::vector<U16> es;
        for (U16 index : built.es[p]) {
            es.push_back(model->pOutputPID[index].u16PID);
        }
        out.es.push_back(es);
    }
    for (U16 index : built.emm) {
        out.emm.push_back(model->pOutputPID[index].u16PID);
    }
    for (U16 index : built.other) {
        out.other.push_back(model->pOutputPID[index].u16PID);
    }
    return out;
}

struct ResolutionCase {
    const char* name;
    bool atsc;
    StreamIn in;
    StreamOut out;  // only the lists given are compared
};

const ResolutionCase kCases[] = {
    {"service IDs 5, 5, 1", false, {{{.serviceId = 5}, {.serviceId = 5, .pmt = 0x110}, {.serviceId = 1, .pmt = 0x120}}},
     {.serviceIds = {5, 1, 2}}},
    {"service ID 0 marks the NIT", false, {{{.serviceId = 0}, {.serviceId = 1, .pmt = 0x110}}},
     {.serviceIds = {1, 2}}},
    {"PCR carried in the video", false, {{{.pmt = 0x100, .pcr = 0x101, .es = {0x101, 0x102}}}},
     {.pmts = {0x100}, .pcrs = {0x101}, .es = {{0x101, 0x102}}}},
    {"a program PCR PID left behind by its PCR record follows it", false,
     {{{.pmt = 0x100, .pcr = 0x101, .es = {0x101}, .pcrOut = 0x190}}}, {.pcrs = {0x101}, .es = {{0x101}}}},
    // Input cards may name a PCR record's input PID apart from the program's.
    {"a PCR record on PID 0 takes its program along off the table PID", false,
     {{{.pmt = 0x100, .pcr = 0x101, .pcrRecord = 0}}}, {.pmts = {0x100}, .pcrs = {0x33}}},
    {"a program PCR PID on PID 0 follows its PCR record", false, {{{.pmt = 0x100, .pcr = 0, .pcrRecord = 0x101}}},
     {.pmts = {0x100}, .pcrs = {0x101}}},
    {"PMT on an ES of its own program", false, {{{.pmt = 0x90, .pcr = 0x101, .es = {0x100}, .pmtOut = 0x100}}},
     {.pmts = {0x33}, .es = {{0x100}}}},
    {"video 0x100 from two inputs", false,
     {{{.slot = 3, .pmt = 0x40, .pcr = 0x100, .es = {0x100, 0x101}},
       {.slot = 5, .pmt = 0x50, .pcr = 0x100, .es = {0x100, 0x102}}}},
     {.pmts = {0x40, 0x50}, .pcrs = {0x100, 0x33}, .es = {{0x100, 0x101}, {0x33, 0x102}}}},
    {"EMM on a PMT's PID", false, {{{.pmt = 0x100}}, {{5, 0x100}}}, {.pmts = {0x100}, .emm = {0x33}}},
    {"EMM of the PMT's own stream of packets", false, {{{.pmt = 0x100}}, {{3, 0x100}}},
     {.pmts = {0x100}, .emm = {0x100}}},
    {"0x1FFB in ATSC", true, {{{.es = {0x1FFB}}}}, {.es = {{0x33}}}},
    {"0x1FFB in DVB", false, {{{.es = {0x1FFB}}}}, {.es = {{0x1FFB}}}},
    {"table and null PIDs", false,
     {{{.pmt = 0x10, .es = {0x1F, 0x1FFF}}}, {{3, 0x00}}, {{3, 0x10}, {5, 0x10}, {5, 0x1FFF}}},
     {.pmts = {0x33}, .pcrs = {kNoPcr}, .es = {{0x34, 0x35}}, .emm = {0x36}, .other = {0x10, 0x37, 0x1FFF}}},
    {"two programs without PCR from two sources", false,
     {{{.slot = 3, .pmt = 0x40}, {.slot = 5, .pmt = 0x50}}}, {.pcrs = {kNoPcr, kNoPcr}}},
    {"program PIDs beat other PIDs", false, {{{.es = {0x200}}}, {}, {{5, 0x200}}},
     {.es = {{0x200}}, .other = {0x33}}},
    {"a stream of packets in two programs moves together", false,
     {{{.slot = 5, .pmt = 0x40, .es = {0x200}}, {.slot = 3, .pmt = 0x50, .es = {0x200}},
       {.slot = 3, .pmt = 0x60, .es = {0x200}}}},
     {.es = {{0x200}, {0x33}, {0x33}}}},
    {"program ECM on another program's PMT", false,
     {{{.slot = 5, .pmt = 0x40}, {.slot = 3, .pmt = 0x50, .ecm = {0x40}}}}, {.pmts = {0x40, 0x50}}},
    {"three programs on channel 5-1", true,
     {{{.pmt = 0x40, .pair = {5, 1}}, {.pmt = 0x50, .pair = {5, 1}}, {.pmt = 0x60, .pair = {5, 1}}}},
     {.pairs = {{5, 1}, {0, 1}, {0, 0}}}},
    {"minor number 1024", true, {{{.pmt = 0x40, .pair = {0, 0}}, {.pmt = 0x50, .pair = {5, 1024}}}},
     {.pairs = {{0, 0}, {0, 1}}}},
    {"channel numbers stay in DVB", false, {{{.pmt = 0x40, .pair = {5, 1}}, {.pmt = 0x50, .pair = {5, 1}}}},
     {.pairs = {{5, 1}, {5, 1}}}},
};

class ConflictTest : public ::testing::Test {
protected:
    void TearDown() override { SetAtsc(false); }

    Output_TSInfo* Live() { return TSP_GetTSParam(); }

    test::TestEnvironment env;
    test::ScopedSharedModels models{{4, 8, 16, 2, 2, 2}};
    TSP_ModelLock lock;
};

void ExpectLists(const StreamOut& expected, const StreamOut& actual) {
    auto check = [](const auto& want, const auto& got, const char* what) {
        if (!want.empty()) {
            EXPECT_EQ(want, got) << what;
        }
    };
    check(expected.serviceIds, actual.serviceIds, "service IDs");
    check(expected.pmts, actual.pmts, "PMT PIDs");
    check(expected.pcrs, actual.pcrs, "PCR PIDs");
    check(expected.es, actual.es, "ES PIDs");
    check(expected.emm, actual.emm, "EMM PIDs");
    check(expected.other, actual.other, "other PIDs");
    check(expected.pairs, actual.pairs, "channel pairs");
}

TEST_F(ConflictTest, SmallModelsResolveAsTheRulesSay) {
    for (const ResolutionCase& c : kCases) {
        SCOPED_TRACE(c.name);
        SetAtsc(c.atsc);
        ASSERT_EQ(0u, TSP_InitTSInfo(Live(), &kDefaultPoolCounts));
        const Built built = Build(Live(), 2, c.in);
        const std::vector<U16> inputs = test::InputValues(*Live());
        ASSERT_EQ(0u, TSP_ConflictProcess());
        ExpectLists(c.out, Read(Live(), built));
        EXPECT_EQ(inputs, test::InputValues(*Live()));
        EXPECT_EQ("", test::DescribeViolations(test::CheckResolved(*Live(), c.atsc)));
        if (c.atsc) {
            for (U16 program : built.programs) {
                EXPECT_EQ(Live()->pOutputTS[built.ts].u16TransportStreamID,
                          Live()->pOutputProgram[program].u16ChannelTSID);
            }
        }
    }
}

TEST_F(ConflictTest, PassThroughAndFreeStreamsAreLeftAlone) {
    const StreamIn clashing = {{{.serviceId = 5}, {.slot = 5, .serviceId = 5, .pmt = 0x100}}};
    const Built passing = Build(Live(), 1, clashing);
    Live()->pOutputTS[passing.ts].u8BypassFlag = 1;
    const Built resolved = Build(Live(), 2, clashing);
    ASSERT_EQ(0u, TSP_ConflictProcess());
    EXPECT_EQ((std::vector<U16>{5, 5}), Read(Live(), passing).serviceIds);
    EXPECT_EQ((std::vector<U16>{0x100, 0x100}), Read(Live(), passing).pmts);
    EXPECT_EQ((std::vector<U16>{5, 1}), Read(Live(), resolved).serviceIds);
    EXPECT_EQ((std::vector<U16>{0x100, 0x33}), Read(Live(), resolved).pmts);
}

TEST_F(ConflictTest, AStreamThatCannotBeWalkedStopsTheRunWithItsCode) {
    const Built first = Build(Live(), 1, {{{.serviceId = 5}, {.serviceId = 5}}});
    const Built broken = Build(Live(), 2, {{{.serviceId = 5}}});
    const Built after = Build(Live(), 3, {{{.serviceId = 5}, {.serviceId = 5}}});
    Live()->pOutputProgram[broken.programs[0]].u8ValidFlag = 0;
    EXPECT_EQ(kTspErrInput, TSP_ConflictProcess());
    EXPECT_EQ((std::vector<U16>{5, 1}), Read(Live(), first).serviceIds) << "streams before stay resolved";
    EXPECT_EQ((std::vector<U16>{5, 5}), Read(Live(), after).serviceIds) << "streams after are not visited";
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find("TSP_GetOutTSProgIndexList fail"));
    EXPECT_NE(std::string::npos, console.find("TSP_AddOutputTSHandleServID return error"));
}

TEST_F(ConflictTest, NoFreePidLeft) {
    // ESs of slot 3 hold every PID from 0x33 to 0x1FFE, 290 to a program; the
    // PMT of a program from slot 5 then clashes with nowhere to go.
    ModelBuilder builder(Live());
    const U16 ts = builder.AddStream(1);
    U16 program = kChainEnd;
    for (U32 pid = 0x33, count = 0; pid <= 0x1FFE; ++pid, ++count) {
        if (count % 290 == 0) {
            program = builder.AddProgram(ts, {.programId = static_cast<U16>(count / 290 + 1), .pmtPid = 0x20,
                                              .pcrPid = kNoPcr});
        }
        ASSERT_NE(kChainEnd, builder.AddPid(PID_TYPE_ESPID, program,
                                            {.key = static_cast<U16>(pid), .pid = static_cast<U16>(pid)}));
    }
    builder.AddProgram(ts, {.sourceSlot = 5, .programId = 99, .pmtPid = 0x20, .pcrPid = kNoPcr});
    EXPECT_EQ(kTspErrNoFreePid, TSP_AddOutputTSHandlePid(ts, Live()));
    EXPECT_NE(std::string::npos, env.Console().find("no free pid from 0x33 to 0x1FFE"));
}

TEST_F(ConflictTest, UseMapsSeeWhatTheRulesSay) {
    SetAtsc(true);
    const Built built = Build(Live(), 1, {{{.slot = 3, .pmt = 0x40, .pcr = 0x41, .es = {0x41, 0x42}},
                                           {.slot = 5, .pmt = 0x50, .pcr = kNoPcr, .es = {0x52}}},
                                          {{5, 0x60}, {5, 0x61}},
                                          {{5, 0x70}}});
    std::vector<U8> map(kPidUseListSize);
    auto marked = [&] {
        std::vector<U16> pids;
        for (U16 pid = 0; pid < kPidUseListSize; ++pid) {
            if (map[pid] != 0) {
                pids.push_back(pid);
            }
        }
        return pids;
    };
    PidMuxInfo_t info{};
    // The first program's video (same stream of packets as its PCR) sees its
    // own program only, without itself and the PCR.
    ASSERT_EQ(0u, TSP_GetPidMuxInfo(built.ts, PID_TYPE_ESPID, built.es[0][0], Live(), &info));
    ASSERT_EQ(0u, TSP_GetPidUseListByIndex(&info, built.ts, kPidUseListSize, Live(), map.data()));
    EXPECT_EQ((std::vector<U16>{0x40, 0x42, 0x1FFB}), marked());
    // The first EMM sees all programs and no EMM; no PCR of 0x1FFF.
    ASSERT_EQ(0u, TSP_GetPidMuxInfo(built.ts, PID_TYPE_EMMPID, built.emm[0], Live(), &info));
    ASSERT_EQ(0u, TSP_GetPidUseListByIndex(&info, built.ts, kPidUseListSize, Live(), map.data()));
    EXPECT_EQ((std::vector<U16>{0x40, 0x41, 0x42, 0x50, 0x52, 0x1FFB}), marked());
    // The whole stream but the record's own stream of packets.
    ASSERT_EQ(0u, TSP_GetPidUseListByOutputTsIdex(&info, built.ts, kPidUseListSize, Live(), map.data()));
    EXPECT_EQ((std::vector<U16>{0x40, 0x41, 0x42, 0x50, 0x52, 0x61, 0x70, 0x1FFB}), marked());
    EXPECT_EQ(kTspErrInput, TSP_GetPidUseListByIndex(&info, built.ts, kPidUseListSize - 1, Live(), map.data()))
        << "a PCR of 0x1FFF would be marked one past 8,191 bytes";
    EXPECT_EQ(kTspErrInput, TSP_GetPidUseListByOutputTsIdex(&info, built.ts, 8191, Live(), map.data()));

    EXPECT_EQ(kTspErrInput, TSP_GetPidMuxInfo(built.ts, PID_TYPE_OTHERPID, built.emm[0], Live(), &info));
    EXPECT_NE(std::string::npos, env.Console().find("PidType error"));
    EXPECT_EQ(kTspErrInput, TSP_CheckOutPidInfo(PID_TYPE_PMTPID, static_cast<U16>(Live()->u32OutputProgramNumber),
                                                Live()));
    EXPECT_EQ(kTspErrInput, TSP_CheckOutPidInfo(PID_TYPE_INVALIDPID, 0, Live()));
}

TEST_F(ConflictTest, NewPidMovesTheRecordsOfItsStreamOfPackets) {
    // The PCR of the first program rides on its video, which the second
    // program shares; their audio and the program ECM stay.
    const Built built = Build(Live(), 1, {{{.pmt = 0x40, .pcr = 0x41, .es = {0x41, 0x42}, .ecm = {0x41}},
                                           {.pmt = 0x50, .pcr = kNoPcr, .es = {0x41}}}});
    PidMuxInfo_t info{};
    ASSERT_EQ(0u, TSP_GetPidMuxInfo(built.ts, PID_TYPE_PCRPID, built.programs[0], Live(), &info));
    EXPECT_EQ(kTspErrInput, TSP_ModifyBroadcastPid(built.ts, &info, 0x1FFF, Live()));
    ASSERT_EQ(0u, TSP_ModifyOutputTSNewPid(&info, built.ts, 0x300, Live()));
    const StreamOut out = Read(Live(), built);
    EXPECT_EQ((std::vector<U16>{0x300, kNoPcr}), out.pcrs);
    EXPECT_EQ((std::vector<std::vector<U16>>{{0x300, 0x42}, {0x300}}), out.es);
    IndexInfoList ecms;
    ASSERT_EQ(0u, TSP_GetOutProgPSECMPIDIndexList(built.programs[0], Live(), &ecms));
    EXPECT_EQ(0x41, Live()->pOutputPID[ecms.aru16IndexList[0]].u16PID) << "an ECM moves only with ECMs";
    EXPECT_EQ(0x40, out.pmts[0]);

    // A program whose PCR is sent without a PCR record: only its field moves.
    ASSERT_EQ(0u, TSP_GetPidMuxInfo(built.ts, PID_TYPE_PCRPID, built.programs[1], Live(), &info));
    ASSERT_EQ(0u, TSP_ModifyOutputTSNewPid(&info, built.ts, 0x301, Live()));
    EXPECT_EQ(0x301, Live()->pOutputProgram[built.programs[1]].u16PCRPID);
    EXPECT_NE(std::string::npos, env.Console().find("has no pcr"));
}

TEST_F(ConflictTest, OperatorPidCheck) {
    const Built built = Build(Live(), 1, {{{.slot = 3, .pmt = 0x40, .pcr = 0x41, .es = {0x41, 0x42}},
                                           {.slot = 5, .pmt = 0x50, .pcr = kNoPcr, .es = {0x52}}},
                                          {{5, 0x60}},
                                          {{5, 0x70}, {3, 0x71}}});
    U8 flag = 0;
    // Another stream of packets holds 0x52: flag 2, nothing changes.
    EXPECT_EQ(0u, TSP_CheckOutputPidConflict(built.ts, PID_TYPE_ESPID, built.es[0][1], 0x52, Live(), &flag));
    EXPECT_EQ(2, flag);
    EXPECT_EQ(0x42, Live()->pOutputPID[built.es[0][1]].u16PID);
    // The video's only other holder of 0x41 is its own PCR: accepted, and the
    // PCR moves with it.
    flag = 0;
    EXPECT_EQ(0u, TSP_CheckOutputPidConflict(built.ts, PID_TYPE_ESPID, built.es[0][0], 0x45, Live(), &flag));
    EXPECT_EQ(0, flag);
    EXPECT_EQ(0x45, Live()->pOutputPID[built.es[0][0]].u16PID);
    EXPECT_EQ(0x45, Live()->pOutputProgram[built.programs[0]].u16PCRPID);

    struct Refused {
        PIDTYPE_E type;
        U16 offset;
        U16 pid;
    };
    for (const Refused& r : {Refused{PID_TYPE_PMTPID, built.programs[1], 0x1FFF},
                             Refused{PID_TYPE_PMTPID, built.programs[1], 0x10},
                             Refused{PID_TYPE_EMMPID, built.emm[0], 0x1F},
                             Refused{PID_TYPE_OTHERPID, built.emm[0], 0x90},
                             Refused{PID_TYPE_PCRPID, static_cast<U16>(Live()->u32OutputProgramNumber), 0x90}}) {
        SCOPED_TRACE(r.pid);
        EXPECT_EQ(kTspErrInput, TSP_CheckOutputPidConflict(built.ts, r.type, r.offset, r.pid, Live(), &flag));
    }
    EXPECT_NE(std::string::npos, env.Console().find("NewPid:8191 error"));
    // Other PIDs may carry passed-through tables.
    flag = 0;
    EXPECT_EQ(0u, TSP_CheckOutputPidConflict(built.ts, PID_TYPE_OTHERPID, built.other[0], 0x11, Live(), &flag));
    EXPECT_EQ(0x11, Live()->pOutputPID[built.other[0]].u16PID);
    EXPECT_EQ(0u, TSP_CheckOutputPidConflict(built.ts, PID_TYPE_OTHERPID, built.other[1], 0x11, Live(), &flag));
    EXPECT_EQ(2, flag);

    BOOL conflict = 0;
    PidMuxInfo_t info{};
    ASSERT_EQ(0u, TSP_GetPidMuxInfo(built.ts, PID_TYPE_PMTPID, built.programs[1], Live(), &info));
    ASSERT_EQ(0u, TSP_CheckPidConflict(&info, built.ts, 0x60, Live(), &conflict));
    EXPECT_EQ(1, conflict);
    ASSERT_EQ(0u, TSP_CheckPidConflict(&info, built.ts, 0x50, Live(), &conflict));
    EXPECT_EQ(0, conflict) << "its own PID";
}

// Random streams: programs from two sources and two source channels, PIDs from
// a small set (table PIDs, 0x1FFB and 0x1FFF among them) so that clashes and
// shared streams of packets are common, some output values already moved.
void RandomStream(Output_TSInfo* model, U16 channel, std::mt19937& rng, U32 programs) {
    static constexpr U16 kPids[] = {0x00, 0x10, 0x1F, 0x20, 0x33, 0x34, 0x40, 0x41,
                                    0x100, 0x101, 0x102, 0x1FFB, 0x1FFE, 0x1FFF};
    static constexpr std::pair<U16, U16> kPairs[] = {{5, 1}, {0, 0}, {0, 1}, {2, 1024}, {1023, 1023}, {1024, 0}};
    auto pick = [&](auto& values) { return values[rng() % std::size(values)]; };
    auto chance = [&](U32 percent) { return rng() % 100 < percent; };
    ModelBuilder builder(model);
    const U16 ts = builder.AddStream(channel);
    model->pOutputTS[ts].u16TransportStreamID = static_cast<U16>(0x700 + channel);
    for (U32 p = 0; p < programs; ++p) {
        const U8 slot = chance(50) ? 3 : 5;
        const U16 sourceChannel = static_cast<U16>(rng() % 2);
        const U16 pcr = chance(25) ? kNoPcr : pick(kPids);
        const U16 program = builder.AddProgram(
            ts, {.sourceSlot = slot, .sourceChannel = sourceChannel, .programId = static_cast<U16>(p + 1),
                 .serviceId = static_cast<U16>(rng() % 4 == 0 ? 0 : rng() % 6), .pmtPid = pick(kPids), .pcrPid = pcr});
        auto spec = [&](U16 pid) {
            const bool same = chance(80);
            return test::PidSpec{static_cast<U8>(same ? slot : (chance(50) ? 3 : 5)),
                                 static_cast<U16>(same ? sourceChannel : rng() % 2), pid, pid};
        };
        if (pcr != kNoPcr && chance(80)) {
            builder.AddPid(PID_TYPE_PCRPID, program, {slot, sourceChannel, pcr, pcr});
        }
        for (U32 e = rng() % 4; e > 0; --e) {
            const U16 es = builder.AddPid(PID_TYPE_ESPID, program, spec(pick(kPids)));
            for (U32 c = rng() % 3; c > 0; --c) {
                builder.AddPid(PID_TYPE_ES_ECMPID, es, spec(pick(kPids)));
            }
        }
        for (U32 c = rng() % 3; c > 0; --c) {
            builder.AddPid(PID_TYPE_PS_ECMPID, program, spec(pick(kPids)));
        }
        const auto [major, minor] = pick(kPairs);
        model->pOutputProgram[program].u16MajorChannelNum = major;
        model->pOutputProgram[program].u16MinorChannelNum = minor;
        if (chance(10)) {
            model->pOutputProgram[program].u16PMTPID = pick(kPids);
        }
    }
    for (U32 e = rng() % 3; e > 0; --e) {
        builder.AddPid(PID_TYPE_EMMPID, ts, {static_cast<U8>(chance(50) ? 3 : 5), 0, pick(kPids), pick(kPids)});
    }
    for (U32 o = rng() % 4; o > 0; --o) {
        builder.AddPid(PID_TYPE_OTHERPID, ts, {static_cast<U8>(chance(50) ? 3 : 5), 0, pick(kPids), pick(kPids)});
    }
    // Some outputs moved away from their inputs, as web edits leave them.
    for (U32 i = 0; i < model->u32OutputPIDNumber; ++i) {
        if (model->pOutputPID[i].u8ValidFlag == kRecordValid && chance(10)) {
            model->pOutputPID[i].u16PID = pick(kPids);
        }
    }
}

TEST_F(ConflictTest, ResolvedRandomModelsKeepTheirPromises) {
    for (U32 seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE(seed);
        const bool atsc = seed % 3 == 0;
        SetAtsc(atsc);
        std::mt19937 rng(seed);
        ASSERT_EQ(0u, TSP_InitTSInfo(Live(), &kDefaultPoolCounts));
        for (U16 channel = 0; channel < 3; ++channel) {
            RandomStream(Live(), channel, rng, rng() % 12);
        }
        ASSERT_EQ("", test::DescribeViolations(test::CheckModel(*Live())));
        const std::vector<U16> inputs = test::InputValues(*Live());
        ASSERT_EQ(0u, TSP_ConflictProcess());
        EXPECT_EQ("", test::DescribeViolations(test::CheckResolved(*Live(), atsc)));
        EXPECT_EQ(inputs, test::InputValues(*Live()));
        // A second run finds nothing left to change: the values settle.
        const std::vector<U8> resolved = test::ProgramAndPidBytes(*Live());
        ASSERT_EQ(0u, TSP_ConflictProcess());
        EXPECT_EQ(resolved, test::ProgramAndPidBytes(*Live()));
    }
}

// Where two models' program and PID pools first differ ("" when they do not),
// readable where a dump of both pools is not.
std::string FirstDifference(const Output_TSInfo& a, const Output_TSInfo& b) {
    const std::vector<U8> left = test::ProgramAndPidBytes(a);
    const std::vector<U8> right = test::ProgramAndPidBytes(b);
    const auto [at, other] = std::mismatch(left.begin(), left.end(), right.begin(), right.end());
    if (at == left.end() && other == right.end()) {
        return "";
    }
    const std::size_t offset = static_cast<std::size_t>(at - left.begin());
    const std::size_t programs = a.u32OutputProgramNumber * sizeof(Output_TSProgram);
    const bool program = offset < programs;
    const std::size_t size = program ? sizeof(Output_TSProgram) : sizeof(Output_TSPID);
    const std::size_t within = program ? offset : offset - programs;
    return std::string(program ? "program " : "PID record ") + std::to_string(within / size) + " byte " +
           std::to_string(within % size);
}

// The whole resolution against the plain methods over a copy of the same
// model, as the input-message fuzz target compares them: the small models
// above and random ones over three streams, whose outputs were moved away
// from their inputs (so programs and PCR records disagree).
TEST_F(ConflictTest, ResolutionEqualsTheRecordByRecordMethods) {
    auto compare = [&](bool atsc) {
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
        Output_TSInfo* copy = TSP_GetTempTSParam();
        EXPECT_EQ(test::ResolveRecordByRecord(copy, atsc), TSP_ConflictProcess());
        EXPECT_EQ("", FirstDifference(*copy, *Live()));
    };
    for (const ResolutionCase& c : kCases) {
        SCOPED_TRACE(c.name);
        SetAtsc(c.atsc);
        ASSERT_EQ(0u, TSP_InitTSInfo(Live(), &kDefaultPoolCounts));
        Build(Live(), 2, c.in);
        compare(c.atsc);
    }
    for (U32 seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        const bool atsc = seed % 3 == 0;
        SetAtsc(atsc);
        std::mt19937 rng(seed);
        ASSERT_EQ(0u, TSP_InitTSInfo(Live(), &kDefaultPoolCounts));
        for (U16 channel = 0; channel < 3; ++channel) {
            RandomStream(Live(), channel, rng, rng() % 12);
        }
        compare(atsc);
    }
}

// The stream passes keep their maps up to date; the plain methods rebuild
// them for every record (PIDs) or program (channel pairs).
TEST_F(ConflictTest, StreamPassesEqualTheRecordByRecordMethods) {
    for (U32 seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE(seed);
        SetAtsc(seed % 2 == 0);
        test::ScopedModel incremental;
        test::ScopedModel perRecord;
        for (Output_TSInfo* model : {incremental.get(), perRecord.get()}) {
            std::mt19937 rng(seed);
            RandomStream(model, 0, rng, 4 + rng() % 30);
        }
        ASSERT_EQ(incremental->u32OutputPIDNumber, perRecord->u32OutputPIDNumber);
        EXPECT_EQ(TSP_AddOutputTSHandlePidPerRecord(0, perRecord.get()),
                  TSP_AddOutputTSHandlePid(0, incremental.get()));
        IndexInfoList programs;
        ASSERT_EQ(0u, TSP_GetOutTSProgIndexList(0, perRecord.get(), &programs));
        for (int p = programs.u16IndexListNum - 1; p >= 0; --p) {
            ASSERT_EQ(0u, TSP_AddOutProgHandleChannelNum(0, programs.aru16IndexList[p], perRecord.get()));
            perRecord->pOutputProgram[programs.aru16IndexList[p]].u16ChannelTSID =
                perRecord->pOutputTS[0].u16TransportStreamID;
        }
        ASSERT_EQ(0u, TSP_AddOutTSHandleChannelNum(0, incremental.get()));
        EXPECT_EQ(test::ProgramAndPidBytes(*perRecord.get()), test::ProgramAndPidBytes(*incremental.get()));
    }
}

}  // namespace
}  // namespace hx
