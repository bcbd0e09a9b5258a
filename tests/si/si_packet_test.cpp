// The SI packet carousel through the simulated main FPGA: the 196-byte
// records as the FPGA receives them, the rotation of multi-section tables,
// the limits (a refused table leaves the carousel as it was), continuity per
// channel and PID, and the PSI interval.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "si/si_packet.h"
#include "si_fixture.h"

namespace hx {
namespace {

using test::LongSection;
using test::RecordCc;
using test::RecordPid;
using test::SiRecord;

class CarouselTest : public test::SiBoardTest {
protected:
    // The numbers and counts of the carousel, to see that a refusal changed nothing.
    std::vector<U8> Snapshot() {
        std::lock_guard lock(SIMutex);
        const SIPacket_t& carousel = SSD_GetBroadcastSI();
        const U8* bytes = reinterpret_cast<const U8*>(&carousel);
        return {bytes, bytes + sizeof carousel};
    }
};

TEST_F(CarouselTest, OnePacketPatRecordLayout) {
    const U16 ts = AddStream(7);
    const auto pat = LongSection(0x00, 0x0ABC, 0, 0, 16);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pat.data(), static_cast<U16>(pat.size()), ts, 0));
    Tick();
    const auto sent = Sent();
    ASSERT_EQ(1u, sent.size());
    const SiRecord& record = sent[0];
    EXPECT_EQ((std::vector<U8>{1, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}), std::vector<U8>(record.begin(), record.begin() + 8));
    EXPECT_EQ((std::vector<U8>{0x47, 0x40, 0x00, 0x10, 0x00}), std::vector<U8>(record.begin() + 8, record.begin() + 13));
    EXPECT_EQ(pat, std::vector<U8>(record.begin() + 13, record.begin() + 13 + 16));
    EXPECT_EQ(std::vector<U8>(196 - 29, 0xFF), std::vector<U8>(record.begin() + 29, record.end()));

    // The FPGA made it a packet of channel 7, every tick another with the next counter.
    Tick();
    const auto second = Sent();
    ASSERT_EQ(1u, second.size());
    EXPECT_EQ(1, RecordCc(second[0]));
    EXPECT_EQ(2u * 188, Output(7).size());
    EXPECT_TRUE(Output(0).empty());
}

TEST_F(CarouselTest, SectionOf184BytesTakesTwoPackets) {
    const U16 ts = AddStream(2);
    const auto section = LongSection(0x02, 1, 0, 0, 184);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(section.data(), 184, ts, 0x100));
    Tick();
    const auto sent = Sent();
    ASSERT_EQ(2u, sent.size());
    for (const SiRecord& record : sent) {
        EXPECT_EQ(2, record[0]) << "records of the whole table";
        EXPECT_EQ(0x100, RecordPid(record));
    }
    EXPECT_EQ(0x41, sent[0][9]) << "payload_unit_start on the section's first packet";
    EXPECT_EQ(0x01, sent[1][9]);
    EXPECT_EQ(0, sent[0][12]) << "pointer_field";
    EXPECT_EQ(std::vector<U8>(section.begin(), section.begin() + 183),
              std::vector<U8>(sent[0].begin() + 13, sent[0].end()));
    EXPECT_EQ(section[183], sent[1][12]) << "no pointer_field on a continuation";
    EXPECT_EQ(std::vector<U8>(183, 0xFF), std::vector<U8>(sent[1].begin() + 13, sent[1].end()));
    EXPECT_EQ((RecordCc(sent[0]) + 1) % 16, RecordCc(sent[1]));
}

TEST_F(CarouselTest, ThreeSectionTableSendsOneSectionPerTickInTurn) {
    const U16 ts = AddStream(1);
    const auto single = LongSection(0x00, 1, 0, 0, 16);
    std::vector<U8> sdt;
    for (U8 number = 0; number < 3; ++number) {
        const auto s = LongSection(0x42, 1, number, 2, 300);  // two packets each
        sdt.insert(sdt.end(), s.begin(), s.end());
    }
    ASSERT_EQ(0u, SSD_AddBroadcastSI(single.data(), 16, ts, 0));
    ASSERT_EQ(0u, SSD_AddBroadcastSI(sdt.data(), static_cast<U16>(sdt.size()), ts, 17));
    std::vector<int> order;
    for (int tick = 0; tick < 6; ++tick) {
        Tick();
        const auto sent = Sent();
        int pats = 0;
        std::vector<int> sections;
        for (const SiRecord& record : sent) {
            if (RecordPid(record) == 0) {
                ++pats;
                continue;
            }
            EXPECT_EQ(6, record[0]);
            EXPECT_EQ(2, record[6]) << "sections numbered above 0";
            if ((record[9] & 0x40) != 0) {
                sections.push_back(record[13 + 6]);
                EXPECT_EQ(record[13 + 6], record[7]) << "byte 7: ordinal among the numbered sections";
            }
        }
        EXPECT_EQ(1, pats) << "a one-section table goes out every tick";
        ASSERT_EQ(1u, sections.size()) << "tick " << tick;
        order.push_back(sections[0]);
    }
    EXPECT_EQ((std::vector<int>{0, 1, 2, 0, 1, 2}), order);
}

TEST_F(CarouselTest, RefusedTablesLeaveTheCarouselUnchanged) {
    const U16 ts = AddStream(4);
    const auto pat = LongSection(0x00, 1, 0, 0, 16);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pat.data(), 16, ts, 0));
    Tick();
    Sent();
    const std::vector<U8> before = Snapshot();

    // 31 records: one section of 31 × 184 - 1 bytes is too long for a section,
    // so 16 sections of two records minus one.
    std::vector<U8> big;
    for (U8 number = 0; number < 15; ++number) {
        const auto s = LongSection(0x42, 1, number, 15, 300);
        big.insert(big.end(), s.begin(), s.end());
    }
    const auto lastOne = LongSection(0x42, 1, 15, 15, 100);
    big.insert(big.end(), lastOne.begin(), lastOne.end());
    EXPECT_EQ(kSiErrFull, SSD_AddBroadcastSI(big.data(), static_cast<U16>(big.size()), ts, 17));
    EXPECT_NE(std::string::npos, env.Console().find("AllPacketNum:31 is over!"));

    std::vector<U8> truncated = pat;
    truncated.pop_back();
    EXPECT_EQ(kSiErrData, SSD_AddBroadcastSI(truncated.data(), static_cast<U16>(truncated.size()), ts, 0));
    std::vector<U8> stub = {0x00, 0xB0};
    EXPECT_EQ(kSiErrData, SSD_AddBroadcastSI(stub.data(), 2, ts, 0));
    EXPECT_EQ(kSiErrInput, SSD_AddBroadcastSI(nullptr, 16, ts, 0));
    EXPECT_EQ(kSiErrInput, SSD_AddBroadcastSI(pat.data(), 16, 800, 0));
    EXPECT_EQ(kSiErrInput, SSD_AddBroadcastSI(pat.data(), 16, 16, 0)) << "beyond the stream pool";
    EXPECT_EQ(kTspErrInput, SSD_AddBroadcastSI(pat.data(), 16, 15, 0)) << "a stream not in use has no destination";
    EXPECT_EQ(kSiErrInput, SSD_AddBroadcastSI(pat.data(), 16, ts, 0x2000));
    // A failed PMT build hands over its buffer with length 0: nothing queued.
    EXPECT_EQ(0u, SSD_AddBroadcastSI(pat.data(), 0, ts, 0x100));

    EXPECT_EQ(before, Snapshot());
    Tick();
    EXPECT_EQ(1u, Sent().size());
}

TEST_F(CarouselTest, PoolLimitsOfTablesAndRecords) {
    const U16 ts = AddStream(0);
    std::vector<U8> thirty;
    for (U8 number = 0; number < 15; ++number) {
        const auto s = LongSection(0x42, 1, number, 14, 300);
        thirty.insert(thirty.end(), s.begin(), s.end());
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(0u, SSD_AddBroadcastSI(thirty.data(), static_cast<U16>(thirty.size()), ts, 17)) << i;
    }
    const auto pat = LongSection(0x00, 1, 0, 0, 16);
    EXPECT_EQ(kSiErrFull, SSD_AddBroadcastSI(pat.data(), 16, ts, 0));
    EXPECT_NE(std::string::npos, env.Console().find("SINum is over:3001!"));

    // Records freed by emptying the carousel are found again.
    SSD_InitBroadcastSI();
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(0u, SSD_AddBroadcastSI(pat.data(), 16, ts, 0)) << i;
    }
    EXPECT_EQ(kSiErrFull, SSD_AddBroadcastSI(pat.data(), 16, ts, 0));
    EXPECT_NE(std::string::npos, env.Console().find("PacketInfoIndex is over:3000!"));
    {
        std::lock_guard lock(SIMutex);
        EXPECT_EQ(3000, SSD_GetBroadcastSI().u16TSPacketNum);
        EXPECT_EQ(3000, SSD_GetBroadcastSI().u16SIInfoNum);
    }
    Tick();
    EXPECT_EQ(3000u, Sent().size());
}

TEST_F(CarouselTest, NothingIsSentAfterTheCarouselIsEmptied) {
    const U16 ts = AddStream(5);
    const auto pat = LongSection(0x00, 1, 0, 0, 16);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pat.data(), 16, ts, 0));
    Tick();
    EXPECT_EQ(1u, Sent().size());
    SSD_InitBroadcastSI();
    Tick();
    Tick();
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CarouselTest, ContinuityRunsPerChannelAndPidAcrossTablesAndRequeues) {
    const U16 a = AddStream(3);
    const U16 b = AddStream(9);
    // Two PMTs on one PID (programs sharing a PMT PID), and the same PID on another channel.
    const auto pmt1 = LongSection(0x02, 1, 0, 0, 40);
    const auto pmt2 = LongSection(0x02, 2, 0, 0, 200);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pmt1.data(), 40, a, 0x100));
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pmt2.data(), 200, a, 0x100));
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pmt1.data(), 40, b, 0x100));
    std::vector<U8> channel3;
    std::vector<U8> channel9;
    auto collect = [&] {
        for (const SiRecord& record : Sent()) {
            (record[1] == 3 ? channel3 : channel9).push_back(RecordCc(record));
        }
    };
    for (int tick = 0; tick < 7; ++tick) {
        Tick();
    }
    collect();
    // The apply empties and refills the carousel; the count carries on.
    SSD_InitBroadcastSI();
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pmt2.data(), 200, a, 0x100));
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pmt1.data(), 40, b, 0x100));
    for (int tick = 0; tick < 5; ++tick) {
        Tick();
    }
    collect();
    ASSERT_EQ(7u * 3 + 5 * 2, channel3.size());
    ASSERT_EQ(12u, channel9.size());
    for (std::size_t i = 0; i < channel3.size(); ++i) {
        EXPECT_EQ(i % 16, channel3[i]) << i;
    }
    for (std::size_t i = 0; i < channel9.size(); ++i) {
        EXPECT_EQ(i % 16, channel9[i]) << i;
    }
}

TEST_F(CarouselTest, PsiIntervalReadsStoredZeroAsDefaultAndRefusesZero) {
    U16 interval = 0;
    GetQAMIPMonitor_Handle()->u16PSIInterval = 0;
    ASSERT_EQ(0u, TSP_GetPSIInterval(&interval));
    EXPECT_EQ(100, interval);

    ASSERT_EQ(0u, TSP_SetPSIInterval(250));
    EXPECT_EQ(250, GetQAMIPMonitor_Handle()->u16PSIInterval);
    EXPECT_EQ(250'000u, g_u32uSec.load());

    EXPECT_EQ(static_cast<U32>(VK_ERR_PARAMS), TSP_SetPSIInterval(0));
    EXPECT_EQ(250, GetQAMIPMonitor_Handle()->u16PSIInterval);
    EXPECT_EQ(250'000u, g_u32uSec.load());
    ASSERT_EQ(0u, TSP_GetPSIInterval(&interval));
    EXPECT_EQ(250, interval);
    EXPECT_NE(0u, TSP_GetPSIInterval(nullptr));
}

}  // namespace
}  // namespace hx
