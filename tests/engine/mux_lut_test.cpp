// Routing tables, read back from the simulated main FPGA after the apply
// pipeline, and the stable sort they rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "chassis/param_store.h"
#include "core/err.h"
#include "engine/model_state.h"
#include "engine/mux_lut.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::PidSpec;
using test::ProgramSpec;

// One active mux entry, decoded.
struct MuxRoute {
    U32 srcSlot, srcStream, srcPid, destChannel, destPid, same;
    bool operator==(const MuxRoute&) const = default;
};
std::ostream& operator<<(std::ostream& out, const MuxRoute& r) {
    return out << "{" << r.srcSlot << "," << r.srcStream << ",0x" << std::hex << r.srcPid << std::dec << " -> "
               << r.destChannel << ",0x" << std::hex << r.destPid << " same 0x" << r.same << std::dec << "}";
}

std::vector<MuxRoute> ActiveMux(sim::MainFpga& fpga) {
    std::vector<MuxRoute> routes;
    for (const std::uint64_t entry : fpga.routing().ActiveMux()) {
        if (entry == 0) {
            continue;
        }
        const U32 dest = static_cast<U32>(entry & 0x7FFFFF);
        const U32 src = static_cast<U32>((entry >> 23) & 0x1FFFFFFF);
        routes.push_back({(src >> 23) & 0x3F, (src >> 13) & 0x3FF, src & 0x1FFF, dest >> 13, dest & 0x1FFF,
                          static_cast<U32>(entry >> 52)});
    }
    return routes;
}

// A PID record written straight into the pool, as the routing build reads it.
void RawPid(Output_TSInfo* model, U32 index, U16 channel, U16 outPid, U8 slot, U16 stream, U16 inPid) {
    Output_TSPID& pid = model->pOutputPID[index];
    pid = Output_TSPID{};
    TSP_InitOneOutputTSPID(&pid);
    pid.u8ValidFlag = kRecordValid;
    pid.u8PIDType = PID_TYPE_OTHERPID;
    pid.u16ChannelID = channel;
    pid.u16PID = outPid;
    pid.u16OldPID = inPid;
    pid.u8SourceSlotID = slot;
    pid.u16SrcStreamID = stream;
    pid.u32ProgramIndex = kChainEnd32;
}

void EitBoardIn(U8 slot) {
    TResource_TS* record = Resource_GetHandle(slot);
    record->u8BoardType = kEitBoardType;
    record->u8EitEnable = 1;
}

// One pass-through stream more than the bypass table holds, at stream
// records 20 and up.
constexpr U32 kFirstBypassStream = 20;
void AddTooManyBypassStreams(Output_TSInfo* model) {
    for (U32 i = 0; i < kBypassLutEntries + 1; ++i) {
        Output_TSStream& stream = model->pOutputTS[kFirstBypassStream + i];
        TSP_InitOneOutputTSStream(&stream);
        stream.u8ValidFlag = kRecordValid;
        stream.u8BypassFlag = 1;
        stream.u16ChannelID = static_cast<U16>(100 + i);
        stream.u16SrcStreamID = static_cast<U16>(i);
    }
    ModelPool_RecordsChanged(model);
}

class MuxLutTest : public ::testing::Test {
protected:
    MuxLutTest() : models_(TSInfoInitNum{300, 500, 2200, 100, 500, 256}) {
        Resource_Reset();
        SSD_ResetForTest();
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
    }
    ~MuxLutTest() override { SSD_ResetForTest(); }
    Output_TSInfo* Live() { return TSP_GetTSParam(); }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models_;
    TSP_ModelLock lock;
};

struct RoutingCase {
    const char* name;
    std::function<void(Output_TSInfo*)> build;
    std::vector<MuxRoute> expected;
};

TEST(MuxLutRoutingTest, RoutesReadBackFromTheFpga) {
    test::TestEnvironment env;
    test::SimBoard board;
    std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
    TSP_ModelLock lock;
    const std::vector<RoutingCase> cases = {
        {"empty model", [](Output_TSInfo*) {}, {}},
        {"a PCR on its video PID gives one entry",
         [](Output_TSInfo* model) {
             ModelBuilder builder(model);
             const U16 ts = builder.AddStream(1);
             const U16 program = builder.AddProgram(ts, ProgramSpec{.pmtPid = 0x100, .pcrPid = 0x101});
             builder.AddPid(PID_TYPE_PCRPID, program, PidSpec{.key = 1, .pid = 0x101});
             builder.AddPid(PID_TYPE_ESPID, program, PidSpec{.key = 2, .pid = 0x101});
         },
         {{3, 0, 0x101, 1, 0x101, 0x100}}},
        {"one input PID to three channels",
         [](Output_TSInfo* model) {
             ModelBuilder builder(model);
             for (U16 channel : {2, 0, 7}) {
                 builder.AddPid(PID_TYPE_OTHERPID, builder.AddStream(channel), PidSpec{.key = 9, .pid = 0x200});
             }
         },
         {{3, 0, 0x200, 0, 0x200, 0x102}, {3, 0, 0x200, 2, 0x200, 0x102}, {3, 0, 0x200, 7, 0x200, 0x102}}},
        {"an EIT board routes its EIT to every non-bypass channel and no model PID 18",
         [](Output_TSInfo* model) {
             EitBoardIn(5);
             ModelBuilder builder(model);
             builder.AddPid(PID_TYPE_OTHERPID, builder.AddStream(0), PidSpec{.key = 1, .pid = 18});
             builder.AddStream(3);
             model->pOutputTS[builder.AddStream(4)].u8BypassFlag = 1;
         },
         {{5, 0, 0x12, 0, 0x12, 0x100}, {5, 3, 0x12, 3, 0x12, 0x100}}},
        {"a CI program routes from the CAM stream and not its ECMs",
         [](Output_TSInfo* model) {
             ModelBuilder builder(model);
             const U16 program = builder.AddProgram(builder.AddStream(2), ProgramSpec{.pcrPid = 0x1FFF});
             model->pOutputProgram[program].u8CIFlag = 1;
             const U16 es = builder.AddPid(PID_TYPE_ESPID, program, PidSpec{.key = 1, .pid = 0x120});
             model->pOutputPID[es].u16SrcCIStreamID = 7;
             model->pOutputPID[es].u16CISrcPID = 0x320;
             builder.AddPid(PID_TYPE_PS_ECMPID, program, PidSpec{.key = 2, .pid = 0x130});
             builder.AddPid(PID_TYPE_ES_ECMPID, es, PidSpec{.key = 3, .pid = 0x131});
         },
         {{3, 7, 0x320, 2, 0x120, 0x100}}},
        {"tables the user changed are not passed through",
         [](Output_TSInfo* model) {
             ModelBuilder builder(model);
             const U16 ts = builder.AddStream(3);
             for (U16 pid : {16, 17, 20}) {
                 builder.AddPid(PID_TYPE_OTHERPID, ts, PidSpec{.key = pid, .pid = pid});
             }
             model->pOutputTS[ts].u8IsSDTChangedByUser = 1;
             const std::vector<U8> nit = {0x40, 0xF0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF0, 0x00,
                                          0x00, 0x00, 0x00, 0x00};
             std::vector<TSTable> records;
             ASSERT_TRUE(TSP_SectionsToRecords(nit.data(), static_cast<U32>(nit.size()), kNitTableId, kNitTableType,
                                               1, 3, ts, records));
             ASSERT_EQ(TSP_ReplaceTableChain(model, ts, TableChainHead::Nit, records), 0u);
         },
         {{3, 0, 20, 3, 20, 0x100}}},
        {"slot 16 is written as 63",
         [](Output_TSInfo* model) {
             ModelBuilder builder(model);
             builder.AddPid(PID_TYPE_OTHERPID, builder.AddStream(5), PidSpec{.sourceSlot = 16, .key = 1, .pid = 0x40});
         },
         {{63, 0, 0x40, 5, 0x40, 0x100}}},
    };
    for (const RoutingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Resource_Reset();
        {
            test::ScopedSharedModels fresh(TSInfoInitNum{16, 500, 1000, 100, 500, 256});
            c.build(TSP_GetTSParam());
            const U32 commits = board.fpga().routing().Commits();
            const U32 strobes = board.fpga().routing().Strobes();
            ASSERT_EQ(TSP_MuxProcess(), 0u);
            EXPECT_EQ(board.fpga().routing().Commits(), commits + 2);
            EXPECT_EQ(board.fpga().routing().Strobes(), strobes + kMuxLutEntries + kBypassLutEntries);
            EXPECT_EQ(ActiveMux(board.fpga()), c.expected);
        }
    }
    SSD_ResetForTest();
}

TEST_F(MuxLutTest, EmptyModelWritesEveryEntryWithItsStrobeAndBothCommits) {
    const auto writes = test::WriteSequence(board.fpga(), [] { ASSERT_EQ(TSP_MuxProcess(), 0u); });
    std::vector<std::pair<U32, U32>> lut;
    for (const auto& w : writes) {
        if (w.index >= kRegLutCommit && w.index <= kRegLutLow) {
            lut.emplace_back(w.index, w.value);
        }
    }
    std::vector<std::pair<U32, U32>> expected;
    for (U32 i = 0; i < kMuxLutEntries; ++i) {
        expected.insert(expected.end(), {{770, i | 0x800}, {771, 0}, {772, 0}, {769, 0}, {769, 1}, {769, 0}});
    }
    expected.insert(expected.end(), {{768, 0}, {768, 1}, {768, 0}});
    for (U32 i = 0; i < kBypassLutEntries; ++i) {
        expected.insert(expected.end(), {{770, i}, {771, 0}, {772, 0}, {769, 1}, {769, 0}});
    }
    expected.insert(expected.end(), {{768, 0}, {768, 1}, {768, 0}});
    EXPECT_EQ(lut, expected);
    EXPECT_EQ(env.ReadText("/sim/routing.txt"), "commit 2\n");
}

TEST_F(MuxLutTest, BypassStreamsGoToTheBypassTableInSourceOrder) {
    ModelBuilder builder(Live());
    for (auto [channel, slot, stream] : {std::tuple{4, 16, 3}, std::tuple{6, 2, 9}, std::tuple{8, 2, 9}}) {
        Output_TSStream& ts = Live()->pOutputTS[builder.AddStream(static_cast<U16>(channel))];
        ts.u8BypassFlag = 1;
        ts.u8SrcSlotID = static_cast<U8>(slot);
        ts.u16SrcStreamID = static_cast<U16>(stream);
    }
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    const auto bypass = board.fpga().routing().ActiveBypass();
    auto entry = [](std::uint64_t same, std::uint64_t slot, std::uint64_t stream, std::uint64_t channel) {
        return same << 26 | slot << 20 | stream << 10 | channel;
    };
    EXPECT_EQ(bypass[0], entry(0x101, 2, 9, 6));
    EXPECT_EQ(bypass[1], entry(0x101, 2, 9, 8));
    EXPECT_EQ(bypass[2], entry(0x100, 63, 3, 4));
    EXPECT_EQ(bypass[3], 0u);
    EXPECT_TRUE(ActiveMux(board.fpga()).empty());
    TSP_PrintBypassLUT();
    EXPECT_NE(env.Console().find("Bypass LUT Num[2],SrcSlot[63],SrcChannel[0x3],DestChannel[4]"), std::string::npos);
}

TEST_F(MuxLutTest, EntriesPastTheTableAreDroppedWithTheirErrorLine) {
    Output_TSInfo* model = Live();
    ModelBuilder(model).AddStream(1);
    for (U32 i = 0; i < kMuxLutEntries + 1; ++i) {
        RawPid(model, i, 1, static_cast<U16>(0x20 + i), 3, 0, static_cast<U16>(0x20 + i));
    }
    ModelPool_RecordsChanged(model);
    MuxLutTable table;
    ASSERT_EQ(TSP_BuildOutputLUT(&table), 0u);
    EXPECT_EQ(table.count, kMuxLutEntries);
    EXPECT_EQ(table.dest[kMuxLutEntries - 1], (1u << 13) | (0x20 + kMuxLutEntries - 1));
    EXPECT_NE(env.Console().find("LUT PID Number[2048] out of range"), std::string::npos);
}

TEST_F(MuxLutTest, TooManyBypassStreamsChangeNeitherTableNorCarouselNorFile) {
    ModelBuilder builder(Live());
    const U16 ts = builder.AddStream(1);
    Live()->pOutputTS[ts].u8PATGenerate = 1;
    builder.AddProgram(ts, ProgramSpec{});
    builder.AddPid(PID_TYPE_OTHERPID, ts, PidSpec{.key = 5, .pid = 0x55});
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    const auto mux = board.fpga().routing().ActiveMux();
    const U32 commits = board.fpga().routing().Commits();
    const U16 tables = SSD_GetBroadcastSI().u16SIInfoNum;
    ASSERT_GT(tables, 0u);

    AddTooManyBypassStreams(Live());
    env.TakeConsole();
    EXPECT_EQ(TSP_MuxProcess(), kTspErrCount);
    EXPECT_EQ(board.fpga().routing().Commits(), commits);
    EXPECT_EQ(board.fpga().routing().ActiveMux(), mux);
    EXPECT_EQ(SSD_GetBroadcastSI().u16SIInfoNum, tables);
    const std::string console = env.Console();
    EXPECT_NE(console.find("TSP_WriteByPassOutputLUTInfo return error"), std::string::npos);
    EXPECT_EQ(console.find("PARAMS_TSPParametersSave"), std::string::npos);
}

TEST_F(MuxLutTest, ARefusedApplyLeavesTheLiveModelByteIdentical) {
    // ATSC, so resolution would also renumber channel pairs and set channel TSIDs.
    GetQAMPara_Handle()->Standard.value = 1;
    ModelBuilder builder(Live());
    const U16 ts = builder.AddStream(1);
    Live()->pOutputTS[ts].u16TransportStreamID = 0x44;
    // Two programs from two inputs clash in service ID, PIDs (video carrying
    // the PCR) and channel pair; the second's PCR PID was left behind by its
    // PCR record.
    U16 programs[2] = {};
    U16 videos[2] = {};
    for (U16 i = 0; i < 2; ++i) {
        const U8 slot = static_cast<U8>(3 + 2 * i);
        programs[i] = builder.AddProgram(ts, ProgramSpec{.sourceSlot = slot, .programId = static_cast<U16>(i + 1),
                                                         .serviceId = 5, .pmtPid = static_cast<U16>(0x100 + 0x10 * i),
                                                         .pcrPid = 0x200});
        builder.AddPid(PID_TYPE_PCRPID, programs[i], PidSpec{.sourceSlot = slot, .key = 1, .pid = 0x200});
        videos[i] = builder.AddPid(PID_TYPE_ESPID, programs[i], PidSpec{.sourceSlot = slot, .key = 2, .pid = 0x200});
        Live()->pOutputProgram[programs[i]].u16MajorChannelNum = 7;
        Live()->pOutputProgram[programs[i]].u16MinorChannelNum = 1;
    }
    Live()->pOutputProgram[programs[1]].u16PCRPID = 0x1F0;
    // A PID record on a channel without a stream: the build would free it.
    constexpr U32 kUnrouted = 900;
    RawPid(Live(), kUnrouted, 9, 0x66, 3, 0, 0x66);
    AddTooManyBypassStreams(Live());

    constexpr ModelPool kPools[] = {ModelPool::Stream, ModelPool::Program,    ModelPool::Pid,
                                    ModelPool::Table,  ModelPool::Descriptor, ModelPool::Bypass};
    std::vector<std::string> before;
    for (ModelPool pool : kPools) {
        before.push_back(test::PoolBytes(Live(), pool));
    }
    const std::vector<std::string> violations = test::CheckModel(*Live());
    ASSERT_EQ(TSP_MuxProcess(), kTspErrCount);
    for (std::size_t i = 0; i < std::size(kPools); ++i) {
        EXPECT_TRUE(before[i] == test::PoolBytes(Live(), kPools[i])) << "pool " << i << " changed";
    }
    EXPECT_EQ(violations, test::CheckModel(*Live()));
    EXPECT_FALSE(std::filesystem::exists(env.Path(kModelParamFilePath))) << "nothing saved";

    // The same model without the surplus pass-through streams goes through,
    // and makes every change the refused apply held back.
    for (U32 i = 0; i < kBypassLutEntries + 1; ++i) {
        ModelPool_FreeRecord(Live(), ModelPool::Stream, kFirstBypassStream + i);
    }
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    const Output_TSProgram& second = Live()->pOutputProgram[programs[1]];
    EXPECT_EQ(second.u16ServiceID, 1);
    EXPECT_EQ(Live()->pOutputPID[videos[1]].u16PID, 0x33);
    EXPECT_EQ(second.u16PCRPID, 0x33);
    EXPECT_EQ(second.u16MajorChannelNum, 0);
    EXPECT_EQ(second.u16ChannelTSID, 0x44);
    EXPECT_EQ(Live()->pOutputPID[kUnrouted].u8ValidFlag, 0);
    EXPECT_EQ("", test::DescribeViolations(test::CheckModel(*Live())));
    GetQAMPara_Handle()->Standard.value = 0;
}

TEST(MuxLutBusTest, AFailedRegisterWriteFailsTheApply) {
    test::TestEnvironment env;
    test::ScopedSharedModels models;
    Resource_Reset();
    SSD_ResetForTest();
    std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
    {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        builder.AddPid(PID_TYPE_OTHERPID, builder.AddStream(1), PidSpec{.key = 5, .pid = 0x55});
    }
    // No board: the register window is not mapped and every write fails.
    ASSERT_FALSE(REG_IsMapped());
    EXPECT_EQ(TSP_MuxProcess(), static_cast<U32>(VK_ERR_FAILURE));
    const std::string console = env.Console();
    std::size_t failedWrites = 0;
    for (std::size_t at = console.find("Reg Must Map Success"); at != std::string::npos;
         at = console.find("Reg Must Map Success", at + 1)) {
        ++failedWrites;
    }
    EXPECT_EQ(failedWrites, 1u) << "the download stops at the first failed write";
    EXPECT_NE(console.find("TSP_WriteOutputLUTInfo return error"), std::string::npos);
    EXPECT_EQ(SSD_GetBroadcastSI().u16SIInfoNum, 0u) << "no SI regenerated";
    EXPECT_FALSE(std::filesystem::exists(env.Path(kModelParamFilePath))) << "nothing saved";
    SSD_ResetForTest();
}

// The order the hardware expects: the bubble sort that swaps only a strictly
// greater word with its successor.
void ReferenceSort(std::vector<U32>& words, std::vector<U16>& positions) {
    for (std::size_t end = words.size(); end > 1;) {
        std::size_t lastSwap = 0;
        for (std::size_t i = 0; i + 1 < end; ++i) {
            if (words[i] > words[i + 1]) {
                std::swap(words[i], words[i + 1]);
                std::swap(positions[i], positions[i + 1]);
                lastSwap = i + 1;
            }
        }
        end = lastSwap;
    }
}

TEST(MuxLutSortTest, StableSortEqualsTheBubbleSortOnWordsWithManyDuplicates) {
    test::TestEnvironment env;
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        const U16 n = static_cast<U16>(random() % 300);
        std::vector<U32> words(n);
        for (U32& w : words) {
            w = random() % 16;
        }
        std::vector<U16> positions(n);
        for (U16 i = 0; i < n; ++i) {
            positions[i] = i;
        }
        std::vector<U32> expectedWords = words;
        std::vector<U16> expectedPositions = positions;
        ReferenceSort(expectedWords, expectedPositions);
        words.push_back(0);
        positions.push_back(0);
        ASSERT_EQ(TSP_SortSrcInfo(words.data(), positions.data(), n), 0u);
        words.pop_back();
        positions.pop_back();
        EXPECT_EQ(words, expectedWords);
        EXPECT_EQ(positions, expectedPositions);
    }
    U16 position = 0;
    EXPECT_EQ(TSP_SortSrcInfo(nullptr, &position, 1), kTspErrInput);
}

TEST(MuxLutSortTest, SameSourceWordsAndDuplicates) {
    test::TestEnvironment env;
    U32 same[6] = {};
    const U32 src[6] = {1, 1, 1, 4, 5, 5};
    ASSERT_EQ(TSP_WriteSameSrcNum(same, src, 6), 0u);
    EXPECT_EQ(std::vector<U32>(same, same + 6), (std::vector<U32>{0x102, 0x102, 0x102, 0x100, 0x101, 0x101}));
    EXPECT_EQ(TSP_WriteSameSrcNum(same, src, 2049), kTspErrLutFull);

    // Two sources sent to one destination: the one sorting first is dropped.
    U32 dest[4] = {9, 7, 7, 3};
    U32 words[4] = {1, 1, 2, 3};
    U16 positions[4] = {0, 1, 2, 3};
    ASSERT_EQ(TSP_DelSameSrcInfo(dest, words, positions, 4), 0u);
    EXPECT_EQ(std::vector<U32>(dest, dest + 4), (std::vector<U32>{7, 9, 7, 3}));
    EXPECT_EQ(std::vector<U16>(positions, positions + 4), (std::vector<U16>{1, 0, 2, 3}));
    U32 dest2[3] = {5, 5, 6};
    U32 words2[3] = {1, 2, 3};
    U16 positions2[3] = {0, 1, 2};
    ASSERT_EQ(TSP_DelSameSrcInfo(dest2, words2, positions2, 3), 0u);
    EXPECT_EQ(positions2[0], kLutDropped);
    EXPECT_EQ(positions2[1], 1);
}

}  // namespace
}  // namespace hx
