// The time tables as they leave the simulated FPGA, decoded by libdvbpsi: the
// STT from the back board's clock settings, the TDT and the TOT with its
// stored entry at the current time, which channels get which, and the TOT
// editing of the web pages.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/output_model.h"
#include "si/nit_storage.h"
#include "si/time_tables.h"
#include "si_fixture.h"
#include "support/psi_decoder.h"

namespace hx {
namespace {

constexpr std::time_t kNow = 750516300;  // 1993-10-13 12:45:00 UTC

class TimeTablesTest : public test::SiBoardTest {
protected:
    TimeTablesTest() { env.clock().SetWallSeconds(kNow); }

    // A TOT section as the web TOT editor builds it.
    static TOTBuf_t WebTot(U32 country) {
        TOTTable_t tot{};
        tot.u8SectionLen = 26;
        TSP_GetUTCTime(tot.aru8UTCTime);
        tot.arstDescInfo.u8Tag = kLocalTimeOffsetTag;
        tot.arstDescInfo.u8DescLen = 13;
        tot.arstDescInfo.arstDes[0].u32CountryCode = country;
        tot.arstDescInfo.arstDes[0].u8CountryRegID = 3;
        tot.arstDescInfo.arstDes[0].u16LocalTimeOffset = 0x0800;
        TOTBuf_t buffer{};
        U16 length = 0;
        EXPECT_EQ(0u, SIP_ConstructTOT(&tot, sizeof buffer.aru8OutputTOTSection, buffer.aru8OutputTOTSection, &length));
        buffer.u16TOTLength = 26;  // the web hands over the section_length
        return buffer;
    }

    // Stores a user TOT for the channel through the temporary model and applies it.
    void StoreTot(U16 channel, U32 country) {
        TSP_ModelLock lock;
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
        const TOTBuf_t buffer = WebTot(country);
        ASSERT_EQ(0u, TSP_EditTOT_LTODescriptor(channel, &buffer));
        ASSERT_EQ(0u, TSP_CopyOutputTSInfo());
    }

    std::unique_ptr<test::PsiDecoder> Decode(U16 channel) {
        auto decoder = std::make_unique<test::PsiDecoder>();
        decoder->Push(Output(channel));
        EXPECT_TRUE(decoder->Problems().empty());
        return decoder;
    }
};

TEST_F(TimeTablesTest, SttCarriesGpsTimeOffsetAndDaylightSaving) {
    // The back board's own record brings the time settings (and ATSC).
    TResource_TS backBoard{};
    backBoard.u8SlotID = kBackBoardSlot;
    backBoard.u8Standard = 1;
    backBoard.u8GPSUTCOffset = 18;
    backBoard.u8DaylightSaving = 1;
    backBoard.s16TimeZoneMinutes = 480;  // no field for it: the STT is not shifted
    const ResourceBytes record = Resource_Serialize(backBoard);
    ASSERT_EQ(0u, Resource_SetSlotResource(kBackBoardSlot, record.data()));
    AddStream(4);
    ASSERT_EQ(0u, SSD_SendTimeSITable());
    const auto sent = Sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ((std::vector<U8>{0, 4, 1, 0xFF, 0xFF, 0xFF, 0, 0}), std::vector<U8>(sent[0].begin(), sent[0].begin() + 8));
    EXPECT_EQ(kSttSectionBytes, sent[0][8 + 4 + 1 + 2] + 3);

    const auto decoder = Decode(4);
    ASSERT_EQ(1u, decoder->stts.size());
    EXPECT_EQ(static_cast<U32>(kNow - kGpsEpochUnixSeconds + 18), decoder->stts[0].systemTime);
    EXPECT_EQ(18, decoder->stts[0].gpsUtcOffset);
    // libdvbpsi keeps only the low byte of daylight_saving (DS_hour), so
    // DS_status is read from the section itself: status 1, reserved bits set.
    EXPECT_EQ(0xE0, sent[0][13 + 14]);
    EXPECT_EQ(0x00, sent[0][13 + 15]);

    // DVB boards send no STT, ATSC boards no TDT or TOT.
    ASSERT_EQ(0u, SSD_SendTimeSITableTDTAndTOT());
    EXPECT_TRUE(Sent().empty());
    SetAtsc(false);
    ASSERT_EQ(0u, SSD_SendTimeSITable());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(TimeTablesTest, TdtAndTotCarryTheCurrentTimeAndTheStoredEntry) {
    const U16 ts = AddStream(3);
    StoreTot(3, 0x465241);  // "FRA"
    LiveStream(ts).u8TOTGenerate = 1;
    env.clock().SetWallSeconds(kNow + 3600);
    ASSERT_EQ(0u, SSD_SendTimeSITableTDTAndTOT());
    const auto decoder = Decode(3);
    ASSERT_EQ(2u, decoder->times.size());
    EXPECT_EQ(0x70, decoder->times[0].tableId);
    EXPECT_EQ(0xC079134500ull, decoder->times[0].utc);
    EXPECT_EQ(0x73, decoder->times[1].tableId);
    EXPECT_EQ(0xC079134500ull, decoder->times[1].utc) << "the stored TOT goes out with the time of now";
    ASSERT_EQ(1u, decoder->times[1].descriptors.size());
    const auto& entry = decoder->times[1].descriptors[0];
    EXPECT_EQ(kLocalTimeOffsetTag, entry.tag);
    EXPECT_EQ((std::vector<U8>{'F', 'R', 'A', (3 << 2) | 0x02, 0x08, 0x00}),
              std::vector<U8>(entry.data.begin(), entry.data.begin() + 6));
}

struct TimeCase {
    std::string name;
    U8 tdtGenerate;
    U8 totGenerate;
    bool storedTot;
    bool inputPassesPid20;
    bool bypass;
    std::size_t tdts;
    std::size_t tots;
};

TEST_F(TimeTablesTest, WhichChannelsGetTdtAndTot) {
    const std::vector<TimeCase> cases = {
        {"TDT only", 1, 0, true, false, false, 1, 0},
        {"both", 1, 1, true, false, false, 1, 1},
        {"TOT switch on but nothing stored", 1, 1, false, false, false, 1, 0},
        {"input passes its own PID 20", 1, 1, false, true, false, 0, 0},
        {"input passes PID 20 but the user set the TOT", 1, 1, true, true, false, 1, 1},
        {"switches off", 0, 0, true, false, false, 0, 0},
        {"pass-through stream", 1, 1, true, false, true, 0, 0},
    };
    U16 channel = 0;
    for (const TimeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const U16 ts = AddStream(channel);
        if (c.inputPassesPid20) {
            TSP_ModelLock lock;
            test::ModelBuilder(TSP_GetTSParam()).AddPid(PID_TYPE_OTHERPID, ts, {.key = 20, .pid = 20});
        }
        if (c.storedTot) {
            StoreTot(channel, 0x414141);
        }
        Output_TSStream& stream = LiveStream(ts);
        stream.u8TDTGenerate = c.tdtGenerate;
        stream.u8TOTGenerate = c.totGenerate;
        stream.u8BypassFlag = c.bypass ? 1 : 0;
        ASSERT_EQ(0u, SSD_SendTimeSITableTDTAndTOT());
        std::size_t tdts = 0;
        std::size_t tots = 0;
        for (const auto& record : Sent()) {
            if (record[1] == channel) {
                (record[13] == 0x70 ? tdts : tots) += 1;
            }
        }
        EXPECT_EQ(c.tdts, tdts);
        EXPECT_EQ(c.tots, tots);
        ++channel;
    }
}

TEST_F(TimeTablesTest, TotEditingOnTheTemporaryModel) {
    const U16 ts = AddStream(5, true);
    TOTTable_t read{};
    EXPECT_EQ(static_cast<U32>(VK_ERR_TSP_TS_ERROR), TSP_GetTOTTableInfo(6, &read));
    EXPECT_EQ(kTspErrCount, TSP_GetTOTTableInfo(5, &read)) << "no TOT stored yet";

    const TOTBuf_t buffer = WebTot(0x43484E);
    EXPECT_EQ(static_cast<U32>(VK_ERR_PARAMS), TSP_EditTOT_LTODescriptor(6, &buffer));
    EXPECT_NE(std::string::npos, env.Console().find("Input Error,u16Channel[6]"));
    ASSERT_EQ(0u, TSP_EditTOT_LTODescriptor(5, &buffer));
    ASSERT_EQ(0u, TSP_GetTOTTableInfo(5, &read));
    EXPECT_EQ(0x43484Eu, read.arstDescInfo.arstDes[0].u32CountryCode);
    EXPECT_EQ(26, read.u8SectionLen);
    {
        TSP_ModelLock lock;
        const TSTable& stored = TSP_GetTempTSParam()->pOutputTable[TSP_GetTempTSParam()->pOutputTS[ts].u16TOTIndex];
        EXPECT_EQ(1, stored.u8IsChangedByUser);
        EXPECT_EQ(0x73, stored.aru8TableInfo[0]);
    }
    EXPECT_EQ(HX_FALSE, TSP_IsTOTTableChangedByUser(ts)) << "the live model changes with the apply";

    // A second edit replaces the chain, it does not add to it.
    const TOTBuf_t other = WebTot(0x555341);
    ASSERT_EQ(0u, TSP_EditTOT_LTODescriptor(5, &other));
    ASSERT_EQ(0u, TSP_GetTOTTableInfo(5, &read));
    EXPECT_EQ(0x555341u, read.arstDescInfo.arstDes[0].u32CountryCode);
    TSP_ModelLock lock;
    IndexInfoList list{};
    ASSERT_EQ(0u, TSP_GetOutTSTOTTableIndexList(ts, TSP_GetTempTSParam(), &list));
    EXPECT_EQ(1, list.u16IndexListNum);
}

TEST_F(TimeTablesTest, TotEditingFailsOnMalformedSectionsAndAFailedStore) {
    const U16 ts = AddStream(5, true);
    const TOTBuf_t first = WebTot(0x465241);
    ASSERT_EQ(0u, TSP_EditTOT_LTODescriptor(5, &first));
    auto storedCountry = [] {
        TOTTable_t read{};
        EXPECT_EQ(0u, TSP_GetTOTTableInfo(5, &read));
        return read.arstDescInfo.arstDes[0].u32CountryCode;
    };

    struct Case {
        const char* name;
        void (*spoil)(TOTBuf_t& buffer);
    };
    const Case cases[] = {
        {"not a TOT", [](TOTBuf_t& buffer) { buffer.aru8OutputTOTSection[0] = 0x70; }},
        {"empty buffer", [](TOTBuf_t& buffer) { buffer = TOTBuf_t{}; }},
        {"section longer than a record holds",
         [](TOTBuf_t& buffer) {
             buffer.aru8OutputTOTSection[1] = 0xF4;  // section_length 1,024
             buffer.aru8OutputTOTSection[2] = 0x00;
         }},
    };
    for (const Case& c : cases) {
        TOTBuf_t buffer = WebTot(0x555341);
        c.spoil(buffer);
        EXPECT_EQ(static_cast<U32>(VK_ERR_PARAMS), TSP_EditTOT_LTODescriptor(5, &buffer)) << c.name;
        EXPECT_EQ(0x465241u, storedCountry()) << c.name << ": the stored TOT as it was";
    }

    // The pool unable to grow and every table record in use.
    ModelPool_SetAllocHook([](std::size_t) { return false; });
    {
        TSP_ModelLock lock;
        test::ModelBuilder builder(TSP_GetTempTSParam());
        while (builder.AddTable(ts, test::TableChainKind::Bat, 5, 5) != 0xFFFF) {
        }
    }
    const TOTBuf_t other = WebTot(0x555341);
    EXPECT_EQ(kTspErrMemory, TSP_EditTOT_LTODescriptor(5, &other));
    ModelPool_SetAllocHook({});
    EXPECT_EQ(0x465241u, storedCountry()) << "a failed store keeps the stored TOT";
}

}  // namespace
}  // namespace hx
