// A whole apply, end to end: a model of three channels goes through the apply
// pipeline, the SI sender runs on virtual ticks, and each channel's packet
// file is read back with libdvbpsi.
#include <gtest/gtest.h>

#include "engine/mux_process.h"
#include "nit_fixture.h"
#include "psi_decoder.h"
#include "si/nit_storage.h"
#include "si/si_fixture.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::PidSpec;
using test::ProgramSpec;

class ApplyEndToEndTest : public test::SiBoardTest {
protected:
    void Step(U32 from, U32 to) {
        for (U32 tick = from; tick <= to; ++tick) {
            g_u32TimerCnt = tick;
            ASSERT_TRUE(SIPacket_ServiceStep(sender));
        }
    }
    SIPacketSenderState sender;
};

TEST_F(ApplyEndToEndTest, EveryChannelCarriesTheTablesOfItsModel) {
    constexpr U16 kChannels[] = {0, 5, 9};
    {
        TSP_ModelLock lock;
        Output_TSInfo* model = TSP_GetTSParam();
        ModelBuilder builder(model);
        for (U16 channel : kChannels) {
            const U16 ts = builder.AddStream(channel);
            model->pOutputTS[ts].u16TransportStreamID = static_cast<U16>(0x100 + channel);
            for (U16 n = 1; n <= 2; ++n) {
                const U16 base = static_cast<U16>(0x100 * n);
                const U16 program = builder.AddProgram(
                    ts, ProgramSpec{.sourceChannel = channel, .programId = n, .serviceId = n, .pmtPid = base,
                                    .pcrPid = static_cast<U16>(base + 1)});
                builder.AddPid(PID_TYPE_PCRPID, program,
                               PidSpec{.sourceChannel = channel, .key = static_cast<U16>(10 * n), .pid = static_cast<U16>(base + 1)});
                builder.AddPid(PID_TYPE_ESPID, program,
                               PidSpec{.sourceChannel = channel, .key = static_cast<U16>(10 * n + 1),
                                       .pid = static_cast<U16>(base + 1), .streamType = 0x02});
                builder.AddPid(PID_TYPE_ESPID, program,
                               PidSpec{.sourceChannel = channel, .key = static_cast<U16>(10 * n + 2),
                                       .pid = static_cast<U16>(base + 2), .streamType = 0x04});
            }
            const U16 emm = builder.AddPid(PID_TYPE_EMMPID, ts, PidSpec{.sourceChannel = channel, .key = 99, .pid = 0x300});
            model->pOutputPID[emm].u16CASID = 0x0B00;
            // A user NIT of two sections.
            std::vector<U8> sections = test::NitSection(0x31, 3, 0, 1, {}, test::Entries({4}));
            const std::vector<U8> second = test::NitSection(0x31, 3, 1, 1, {}, test::Entries({6}));
            sections.insert(sections.end(), second.begin(), second.end());
            std::vector<TSTable> records;
            ASSERT_TRUE(TSP_SectionsToRecords(sections.data(), static_cast<U32>(sections.size()), kNitTableId,
                                              kNitTableType, 1, channel, ts, records));
            ASSERT_EQ(TSP_ReplaceTableChain(model, ts, TableChainHead::Nit, records), 0u);
            model->pOutputTS[ts].u8NITGenerate = 1;
        }
    }
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    Step(1, 160);  // the TDT goes out at tick 150

    for (U16 channel : kChannels) {
        SCOPED_TRACE(channel);
        test::PsiDecoder decoder;
        decoder.WatchPmt(0x100, 1);
        decoder.WatchPmt(0x200, 2);
        decoder.Push(Output(channel));
        EXPECT_TRUE(decoder.Problems().empty()) << decoder.Problems().front();
        EXPECT_GE(decoder.pats, 1);
        ASSERT_EQ(decoder.pmts.size(), 2u);
        EXPECT_EQ(decoder.pmts[0].program, 1);
        EXPECT_EQ(decoder.pmts[0].pcrPid, 0x101);
        EXPECT_EQ(decoder.pmts[1].program, 2);
        EXPECT_EQ(decoder.pmts[1].pcrPid, 0x201);
        EXPECT_GT(decoder.PacketsOn(1), 0u) << "CAT";
        EXPECT_GT(decoder.PacketsOn(17), 0u) << "SDT";
        EXPECT_EQ(decoder.PacketsOn(0x1FFB), 0u);
        ASSERT_GE(decoder.nits.size(), 1u);
        EXPECT_EQ(decoder.nits[0].networkId, 0x31);
        EXPECT_EQ(decoder.nits[0].entries.size(), 2u);
        ASSERT_GE(decoder.times.size(), 1u);
        EXPECT_EQ(decoder.times[0].tableId, kTdtTableId);
    }
}

}  // namespace
}  // namespace hx
