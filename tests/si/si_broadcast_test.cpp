// What a receiver sees: a stream's PSI/SI sent by the stepped SI sender
// through the simulated main FPGA for a few hundred ticks, read back from its
// packet file by libdvbpsi, with no CRC error, discontinuity or duplicate, and
// the tables decoding to what was queued. libdvbpsi reports a table once per
// version, so repetitions are counted on the raw packets.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/output_model.h"
#include "nit_fixture.h"
#include "si/nit_storage.h"
#include "si/time_tables.h"
#include "si_fixture.h"
#include "support/psi_decoder.h"

namespace hx {
namespace {

using test::Descriptor;
using test::Entries;
using test::NitSection;

std::vector<U8> PmtSection(U16 program, U16 pcrPid) {
    std::vector<U8> section = {0x02, 0xB0, 13, static_cast<U8>(program >> 8), static_cast<U8>(program), 0xC1, 0, 0,
                               static_cast<U8>(0xE0 | (pcrPid >> 8)), static_cast<U8>(pcrPid), 0xF0, 0x00};
    const U32 crc = Common_CRC_Calculate(section.data(), static_cast<U32>(section.size()), kCrcInitMpeg2);
    for (int i = 3; i >= 0; --i) {
        section.push_back(static_cast<U8>(crc >> (8 * i)));
    }
    return section;
}

class BroadcastTest : public test::SiBoardTest {
protected:
    void Queue(U16 ts, const std::vector<U8>& section, U16 pid) {
        ASSERT_EQ(0u, SSD_AddBroadcastSI(section.data(), static_cast<U16>(section.size()), ts, pid));
    }

    void Step(U32 from, U32 to) {
        for (U32 tick = from; tick <= to; ++tick) {
            g_u32TimerCnt = tick;
            ASSERT_TRUE(SIPacket_ServiceStep(sender));
        }
    }

    SIPacketSenderState sender;
};

TEST_F(BroadcastTest, TheDecoderSeesAContinuityJump) {
    // Guards the checks below: a repeated counter is reported.
    const auto pat = test::LongSection(0x00, 1, 0, 0, 16);
    test::PsiDecoder decoder;
    decoder.Push(test::Packetize(0, pat, 4));
    decoder.Push(test::Packetize(0, pat, 4));
    EXPECT_FALSE(decoder.Problems().empty());
}

TEST_F(BroadcastTest, DvbStreamDecodesCleanlyOverThreeHundredTicks) {
    const U16 ts = AddStream(3);
    LiveStream(ts).u8NITGenerate = 1;
    LiveStream(ts).u8TOTGenerate = 1;

    // The NIT as an input card sends it: three sections.
    const auto entries = Entries({300, 0, 500, 20, 700, 6});
    const std::vector<U8> name = Descriptor(0x40, 6, 'a');
    const std::vector<std::vector<U8>> nit = {NitSection(0x31, 7, 0, 2, name, {entries[0], entries[1]}),
                                              NitSection(0x31, 7, 1, 2, {}, {entries[2], entries[3]}),
                                              NitSection(0x31, 7, 2, 2, {}, {entries[4], entries[5]})};
    std::vector<TSTable> records(3);
    for (std::size_t k = 0; k < 3; ++k) {
        records[k].u16ChannelID = 3;
        records[k].u8TableType = kNitTableType;
        std::memcpy(records[k].aru8TableInfo, nit[k].data(), nit[k].size());
    }
    ASSERT_EQ(0u, TSP_ConstructOutputTSByAddNITTable(reinterpret_cast<U8*>(records.data()), 3,
                                                     static_cast<U16>(3 * sizeof(TSTable))));

    // A TOT set on the web page, applied.
    {
        TSP_ModelLock lock;
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
        TOTTable_t tot{};
        tot.u8SectionLen = 26;
        tot.arstDescInfo.u8Tag = kLocalTimeOffsetTag;
        tot.arstDescInfo.u8DescLen = 13;
        tot.arstDescInfo.arstDes[0].u32CountryCode = 0x444555;
        TOTBuf_t buffer{};
        U16 length = 0;
        ASSERT_EQ(0u, SIP_ConstructTOT(&tot, 100, buffer.aru8OutputTOTSection, &length));
        ASSERT_EQ(0u, TSP_EditTOT_LTODescriptor(3, &buffer));
        ASSERT_EQ(0u, TSP_CopyOutputTSInfo());
    }

    auto queueAll = [&] {
        Queue(ts, test::LongSection(0x00, 0x0ABC, 0, 0, 16), 0);
        Queue(ts, PmtSection(1, 0x101), 0x100);
        Queue(ts, PmtSection(2, 0x102), 0x100);  // programs sharing a PMT PID
        ASSERT_EQ(0u, TSP_ConstructNIT(ts));
    };
    queueAll();
    Step(1, 100);
    // An apply empties and refills the carousel while the sender keeps going.
    SSD_InitBroadcastSI();
    queueAll();
    Step(101, 310);

    test::PsiDecoder decoder;
    decoder.WatchPmt(0x100, 1);
    decoder.WatchPmt(0x100, 2);
    decoder.Push(Output(3));
    EXPECT_TRUE(decoder.Problems().empty()) << decoder.Problems().front();

    EXPECT_EQ(310u, decoder.PacketsOn(0));
    EXPECT_EQ(620u, decoder.PacketsOn(0x100));
    EXPECT_EQ(310u, decoder.SectionStartsOn(16)) << "one NIT section per tick";
    EXPECT_EQ(4u, decoder.PacketsOn(20)) << "TDT and TOT at ticks 151 and 301";
    EXPECT_GE(decoder.pats, 1);
    ASSERT_GE(decoder.pmts.size(), 2u);

    ASSERT_GE(decoder.nits.size(), 1u);
    const test::DecodedNit& decoded = decoder.nits[0];
    EXPECT_EQ(0x31, decoded.networkId);
    EXPECT_EQ(7, decoded.version);
    ASSERT_EQ(1u, decoded.network.size());
    EXPECT_EQ(0x40, decoded.network[0].tag);
    ASSERT_EQ(entries.size(), decoded.entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].tsid, decoded.entries[i].transportStreamId);
        std::vector<U8> raw;
        for (const auto& d : decoded.entries[i].descriptors) {
            raw.push_back(d.tag);
            raw.push_back(static_cast<U8>(d.data.size()));
            raw.insert(raw.end(), d.data.begin(), d.data.end());
        }
        EXPECT_EQ(entries[i].descriptors, raw);
    }

    std::size_t tdts = 0;
    std::size_t tots = 0;
    for (const auto& time : decoder.times) {
        (time.tableId == 0x70 ? tdts : tots) += 1;
        if (time.tableId == 0x73) {
            ASSERT_EQ(1u, time.descriptors.size());
            EXPECT_EQ((std::vector<U8>{0x44, 0x45, 0x55}),
                      std::vector<U8>(time.descriptors[0].data.begin(), time.descriptors[0].data.begin() + 3));
        }
    }
    EXPECT_GE(tdts, 1u);
    EXPECT_GE(tots, 1u);
}

TEST_F(BroadcastTest, AtscSttWithoutMgtOrVctDecodesCleanly) {
    // The back board's own record brings ATSC and the GPS-UTC offset.
    TResource_TS backBoard{};
    backBoard.u8SlotID = kBackBoardSlot;
    backBoard.u8Standard = 1;
    backBoard.u8GPSUTCOffset = 18;
    const ResourceBytes record = Resource_Serialize(backBoard);
    ASSERT_EQ(0u, Resource_SetSlotResource(kBackBoardSlot, record.data()));
    const U16 ts = AddStream(5);
    Queue(ts, test::LongSection(0x00, 1, 0, 0, 16), 0);
    Step(1, 40);
    test::PsiDecoder decoder;
    decoder.Push(Output(5));
    EXPECT_TRUE(decoder.Problems().empty()) << decoder.Problems().front();
    EXPECT_EQ(4u, decoder.PacketsOn(kPsipPid));
    ASSERT_GE(decoder.stts.size(), 1u);
    EXPECT_EQ(18, decoder.stts[0].gpsUtcOffset);
    EXPECT_EQ(40u, decoder.PacketsOn(0));
}

}  // namespace
}  // namespace hx
