// A whole apply, end to end: a model of three channels goes through the apply
// pipeline, the SI sender runs on virtual ticks, and each channel's packet
// file is read back with libdvbpsi, in DVB and in ATSC mode.
#include <gtest/gtest.h>

#include <string>

#include "engine/model_lookup.h"
#include "engine/mux_process.h"
#include "engine/web_edit.h"
#include "engine/web_report.h"
#include "nit_fixture.h"
#include "si/nit_storage.h"
#include "si/si_fixture.h"
#include "si/time_tables.h"
#include "support/ffprobe.h"
#include "support/psi_decoder.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::PidSpec;
using test::ProgramSpec;

constexpr U16 kChannels[] = {0, 5, 9};

std::vector<U8> WithCrc(std::vector<U8> section) {
    const U32 crc = Common_CRC(section, kCrcInitMpeg2);
    section.resize(section.size() + 4);
    PutBe32(&section[section.size() - 4], crc);
    return section;
}

class ApplyEndToEndTest : public test::SiBoardTest {
protected:
    void Step(U32 from, U32 to) {
        for (U32 tick = from; tick <= to; ++tick) {
            g_u32TimerCnt = tick;
            ASSERT_TRUE(SIPacket_ServiceStep(sender));
        }
    }

    void StoreChain(Output_TSInfo* model, U16 ts, U16 channel, const std::vector<U8>& sections, U8 tableId,
                    U8 tableType, TableChainHead head) {
        std::vector<TSTable> records;
        ASSERT_TRUE(TSP_SectionsToRecords(sections.data(), static_cast<U32>(sections.size()), tableId, tableType, 1,
                                          channel, ts, records));
        ASSERT_EQ(TSP_ReplaceTableChain(model, ts, head, records), 0u);
    }

    // Per channel: two programs (video carrying the PCR, audio), an EMM, a
    // two-section user NIT and a stored TOT.
    void BuildModel() {
        TSP_ModelLock lock;
        Output_TSInfo* model = TSP_GetTSParam();
        ModelBuilder builder(model);
        for (U16 channel : kChannels) {
            const U16 ts = builder.AddStream(channel);
            model->pOutputTS[ts].u16TransportStreamID = static_cast<U16>(0x100 + channel);
            model->pOutputTS[ts].u16OriginalNetworkID = 0x31;
            for (U16 n = 1; n <= 2; ++n) {
                const U16 base = static_cast<U16>(0x100 * n);
                const U16 program = builder.AddProgram(
                    ts, ProgramSpec{.sourceChannel = channel, .programId = n, .serviceId = n, .pmtPid = base,
                                    .pcrPid = static_cast<U16>(base + 1)});
                model->pOutputProgram[program].u16MajorChannelNum = static_cast<U16>(10 + channel);
                model->pOutputProgram[program].u16MinorChannelNum = n;
                model->pOutputProgram[program].u16SourceId = static_cast<U16>(100 * channel + n);
                builder.AddPid(PID_TYPE_PCRPID, program,
                               PidSpec{.sourceChannel = channel, .key = static_cast<U16>(10 * n),
                                       .pid = static_cast<U16>(base + 1)});
                builder.AddPid(PID_TYPE_ESPID, program,
                               PidSpec{.sourceChannel = channel, .key = static_cast<U16>(10 * n + 1),
                                       .pid = static_cast<U16>(base + 1), .streamType = 0x02});
                builder.AddPid(PID_TYPE_ESPID, program,
                               PidSpec{.sourceChannel = channel, .key = static_cast<U16>(10 * n + 2),
                                       .pid = static_cast<U16>(base + 2), .streamType = 0x04});
            }
            const U16 emm =
                builder.AddPid(PID_TYPE_EMMPID, ts, PidSpec{.sourceChannel = channel, .key = 99, .pid = 0x300});
            model->pOutputPID[emm].u16CASID = 0x0B00;
            std::vector<U8> nit = test::NitSection(0x31, 3, 0, 1, {}, test::Entries({4}));
            const std::vector<U8> second = test::NitSection(0x31, 3, 1, 1, {}, test::Entries({6}));
            nit.insert(nit.end(), second.begin(), second.end());
            StoreChain(model, ts, channel, nit, kNitTableId, kNitTableType, TableChainHead::Nit);
            model->pOutputTS[ts].u8NITGenerate = 1;
            const std::vector<U8> tot = WithCrc({0x73, 0x70, 0x1A, 0xE0, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x0F, 0x58,
                                                 0x0D, 'G', 'B', 'R', 0x02, 0x01, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00,
                                                 0x00, 0x00});
            StoreChain(model, ts, channel, tot, kTotTableId, kTotTableType, TableChainHead::Tot);
            model->pOutputTS[ts].u8TOTGenerate = 1;
        }
    }

    test::PsiDecoder& Decode(U16 channel) {
        decoder = std::make_unique<test::PsiDecoder>();
        decoder->WatchPmt(0x100, 1);
        decoder->WatchPmt(0x200, 2);
        decoder->Push(Output(channel));
        return *decoder;
    }

    void ExpectPmts(const test::PsiDecoder& d) {
        ASSERT_EQ(d.pmts.size(), 2u);
        for (U16 n = 1; n <= 2; ++n) {
            const test::DecodedPmt& pmt = d.pmts[n - 1];
            EXPECT_EQ(pmt.program, n);
            EXPECT_EQ(pmt.pcrPid, 0x100 * n + 1);
            EXPECT_EQ(pmt.streams, (std::vector<std::pair<U8, U16>>{{0x02, static_cast<U16>(0x100 * n + 1)},
                                                                    {0x04, static_cast<U16>(0x100 * n + 2)}}));
        }
    }

    SIPacketSenderState sender;
    std::unique_ptr<test::PsiDecoder> decoder;
};

TEST_F(ApplyEndToEndTest, DvbChannelsCarryTheTablesOfTheirModel) {
    BuildModel();
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    Step(1, 160);  // TDT and TOT go out at tick 150

    for (U16 channel : kChannels) {
        SCOPED_TRACE(channel);
        const test::PsiDecoder& d = Decode(channel);
        EXPECT_TRUE(d.Problems().empty()) << d.Problems().front();
        EXPECT_GE(d.pats, 1);
        ExpectPmts(d);
        ASSERT_GE(d.cats.size(), 1u);
        EXPECT_EQ(d.cats[0], (std::vector<test::RawDescriptor>{{0x09, {0x0B, 0x00, 0xE3, 0x00}}}));
        ASSERT_GE(d.sdts.size(), 1u);
        EXPECT_EQ(d.sdts[0].transportStreamId, 0x100 + channel);
        EXPECT_EQ(d.sdts[0].originalNetworkId, 0x31);
        ASSERT_EQ(d.sdts[0].services.size(), 2u);
        for (U16 n = 1; n <= 2; ++n) {
            const auto& service = d.sdts[0].services[n - 1];
            EXPECT_EQ(service.serviceId, n);
            ASSERT_GE(service.descriptors.size(), 1u);
            EXPECT_EQ(service.descriptors[0].tag, 0x48);
            const std::string name = "Service " + std::to_string(n);
            const auto& body = service.descriptors[0].data;
            EXPECT_EQ(std::string(body.end() - static_cast<std::ptrdiff_t>(name.size()), body.end()), name);
        }
        ASSERT_GE(d.nits.size(), 1u);
        EXPECT_EQ(d.nits[0].networkId, 0x31);
        EXPECT_EQ(d.nits[0].entries.size(), 2u);
        bool tdt = false;
        bool tot = false;
        for (const auto& time : d.times) {
            tdt = tdt || time.tableId == kTdtTableId;
            tot = tot || time.tableId == kTotTableId;
        }
        EXPECT_TRUE(tdt);
        EXPECT_TRUE(tot);
        EXPECT_EQ(d.PacketsOn(kPsipPid), 0u);

        char name[32];
        std::snprintf(name, sizeof name, "/sim/ts/out-%02u.ts", channel);
        std::string report;
        EXPECT_EQ(test::ProbePrograms(env.Path(name), &report),
                  (std::vector<test::ProbedProgram>{{1, 0x100, 0x101, "Service 1", {0x101, 0x102}},
                                                    {2, 0x200, 0x201, "Service 2", {0x201, 0x202}}}))
            << report;
    }
}

TEST_F(ApplyEndToEndTest, AVideoPidEditTakesThePcrItCarriesAlong) {
    constexpr U16 kChannel = 5;
    constexpr U16 kMoved = 0x150;
    BuildModel();
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    Step(1, 20);

    // The web road: refresh the temporary model, move program 1's video
    // (which carries its PCR), apply.
    Output_WebProgramInfo view{};
    {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_SendProgramInfoToWeb(kChannel, 1, &view, TSP_GetTempTSParam()), 0u);
    }
    ASSERT_EQ(view.u16PCRPID, 0x101);
    ASSERT_EQ(view.arOutputESInfo[0].u16PID, 0x101);
    view.arOutputESInfo[0].u16PID = kMoved;
    U8 conflict = 0;
    ASSERT_EQ(TSP_ModifyProgramInfoByWeb(kChannel, &view, &conflict), 0u);
    const std::size_t sentBefore = Output(kChannel).size();
    {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_CopyOutputTSInfo(), 0u);
    }
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    Step(21, 40);

    // What went out after the apply, read back by libdvbpsi and by ffprobe.
    const std::vector<U8> all = Output(kChannel);
    const std::vector<U8> after(all.begin() + static_cast<std::ptrdiff_t>(sentBefore), all.end());
    test::PsiDecoder d;
    d.WatchPmt(0x100, 1);
    d.WatchPmt(0x200, 2);
    d.Push(after);
    ASSERT_FALSE(d.pmts.empty());
    for (const test::DecodedPmt& pmt : d.pmts) {
        if (pmt.program == 1) {
            EXPECT_EQ(pmt.pcrPid, kMoved);
            EXPECT_EQ(pmt.streams, (std::vector<std::pair<U8, U16>>{{0x02, kMoved}, {0x04, 0x102}}));
        }
    }
    env.WriteText("/sim/after.ts", std::string(after.begin(), after.end()));
    std::string report;
    const std::vector<test::ProbedProgram> probed = test::ProbePrograms(env.Path("/sim/after.ts"), &report);
    ASSERT_FALSE(probed.empty()) << report;
    EXPECT_EQ(probed[0], (test::ProbedProgram{1, 0x100, kMoved, "Service 1", {kMoved, 0x102}})) << report;

    // The PCR record is on that PID, and the FPGA routes the input PCR/video
    // PID there and nowhere else on the channel.
    TSP_ModelLock lock;
    const Output_TSInfo* live = TSP_GetTSParam();
    const U16 ts = ModelLookup_StreamOfChannel(live, kChannel);
    IndexInfoList programs;
    ASSERT_EQ(TSP_GetOutTSProgIndexList(ts, live, &programs), 0u);
    const Output_TSProgram& program = live->pOutputProgram[programs.aru16IndexList[0]];
    EXPECT_EQ(program.u16PCRPID, kMoved);
    EXPECT_EQ(live->pOutputPID[program.u16PCRIndex].u16PID, kMoved);
    std::vector<U32> routedTo;
    for (const std::uint64_t entry : board.fpga().routing().ActiveMux()) {
        const U32 dest = static_cast<U32>(entry & 0x7FFFFF);
        if (entry != 0 && dest >> 13 == kChannel && ((entry >> 23) & 0x1FFF) == 0x101) {
            routedTo.push_back(dest & 0x1FFF);
        }
    }
    EXPECT_EQ(routedTo, std::vector<U32>{kMoved});
}

TEST_F(ApplyEndToEndTest, AtscChannelsCarryPsipInsteadOfDvbTables) {
    SetAtsc(true);
    BuildModel();
    ASSERT_EQ(TSP_MuxProcess(), 0u);
    Step(1, 20);

    for (U16 channel : kChannels) {
        SCOPED_TRACE(channel);
        const test::PsiDecoder& d = Decode(channel);
        EXPECT_TRUE(d.Problems().empty()) << d.Problems().front();
        EXPECT_GE(d.pats, 1);
        ExpectPmts(d);
        EXPECT_EQ(d.PacketsOn(1) + d.PacketsOn(16) + d.PacketsOn(17) + d.PacketsOn(20), 0u)
            << "no CAT, NIT, SDT, TDT or TOT";
        ASSERT_GE(d.mgts.size(), 1u);
        ASSERT_EQ(d.mgts[0].size(), 1u);
        EXPECT_EQ(d.mgts[0][0].pid, kPsipPid);
        ASSERT_GE(d.vcts.size(), 1u);
        ASSERT_EQ(d.vcts[0].channels.size(), 2u);
        for (U16 n = 1; n <= 2; ++n) {
            const test::DecodedVctChannel& vc = d.vcts[0].channels[n - 1];
            EXPECT_EQ(vc.program, n);
            EXPECT_EQ(vc.minor, n);
            EXPECT_EQ(vc.sourceId, 100 * channel + n);
        }
        EXPECT_GE(d.stts.size(), 1u);
    }
}

}  // namespace
}  // namespace hx
