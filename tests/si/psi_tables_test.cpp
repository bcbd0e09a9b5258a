// The section builders, byte for byte against hand-made sections and read
// back with libdvbpsi.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/common_fun.h"
#include "si/psi_tables.h"
#include "si/si_packet.h"
#include "support/psi_decoder.h"
#include "support/test_env.h"

namespace hx {
namespace {

using Bytes = std::vector<U8>;

// The hand-made section body with its CRC-32/MPEG-2 appended.
Bytes WithCrc(Bytes section) {
    const U32 crc = Common_CRC(section, kCrcInitMpeg2);
    section.resize(section.size() + 4);
    PutBe32(&section[section.size() - 4], crc);
    return section;
}

template <typename Table>
Bytes Build(U32 (*builder)(const Table*, U8*, U32, U32*), const Table& table, U32 capacity = kSiConstructBytes,
            U32* code = nullptr) {
    Bytes buffer(capacity);
    U32 length = 99;
    const U32 rc = builder(&table, buffer.data(), capacity, &length);
    if (code != nullptr) {
        *code = rc;
    } else {
        EXPECT_EQ(rc, 0u);
    }
    buffer.resize(rc == 0 ? length : 0);
    if (rc != 0) {
        EXPECT_EQ(length, 0u);
    }
    return buffer;
}

// What libdvbpsi makes of the sections sent on `pid`.
std::unique_ptr<test::PsiDecoder> Decode(U16 pid, const Bytes& sections, std::optional<U16> pmtProgram = {}) {
    auto decoder = std::make_unique<test::PsiDecoder>();
    if (pmtProgram) {
        decoder->WatchPmt(pid, *pmtProgram);
    }
    decoder->Push(test::Packetize(pid, sections));
    EXPECT_TRUE(decoder->Warnings().empty()) << decoder->Warnings().front();
    return decoder;
}

TEST(PsiTablesTest, PatMatchesHandMadeSectionAndDecodes) {
    PATTable_t pat;
    pat.u16TransportStreamID = 1;
    pat.u8VersionNumber = 3;
    pat.vecPrograms = {{1, 0x100}, {2, 0x200}};
    const Bytes expected = WithCrc({0x00, 0xB0, 0x11, 0x00, 0x01, 0xC7, 0x00, 0x00,  //
                                    0x00, 0x01, 0xE1, 0x00, 0x00, 0x02, 0xE2, 0x00});
    const Bytes built = Build(SIP_ConstructPATSections, pat);
    EXPECT_EQ(built, expected);

    const auto decoded = Decode(0x00, built);
    ASSERT_EQ(decoded->patTables.size(), 1u);
    EXPECT_EQ(decoded->patTables[0].transportStreamId, 1);
    EXPECT_EQ(decoded->patTables[0].version, 3);
    EXPECT_EQ(decoded->patTables[0].programs, (std::vector<std::pair<U16, U16>>{{1, 0x100}, {2, 0x200}}));
}

TEST(PsiTablesTest, LongPatSplitsIntoNumberedSectionsThatDecodeWhole) {
    PATTable_t pat;
    pat.u16TransportStreamID = 9;
    for (U16 i = 1; i <= 300; ++i) {
        pat.vecPrograms.push_back({i, static_cast<U16>(0x100 + i)});
    }
    const Bytes built = Build(SIP_ConstructPATSections, pat);
    // 253 programs fill a 1,024-byte section (8 header + 4 CRC + 4 each).
    ASSERT_EQ(built.size(), 1024u + 12u + 47u * 4u);
    EXPECT_EQ(built[6], 0);
    EXPECT_EQ(built[7], 1);
    EXPECT_EQ(built[1024 + 6], 1);
    EXPECT_EQ(built[1024 + 7], 1);

    const auto decoded = Decode(0x00, built);
    ASSERT_EQ(decoded->patTables.size(), 1u);
    EXPECT_EQ(decoded->patTables[0].programs.size(), 300u);
    EXPECT_EQ(decoded->patTables[0].programs.back(), (std::pair<U16, U16>{300, 0x100 + 300}));
}

TEST(PsiTablesTest, PmtMatchesHandMadeSectionAndDecodes) {
    PMTTable_t pmt;
    pmt.u16ProgramNumber = 1;
    pmt.u16PCRPID = 0x101;
    pmt.vecProgramInfo = {0x09, 0x04, 0x0B, 0x00, 0xE1, 0x50};
    pmt.vecStreams = {{0x02, 0x101, {}}, {0x04, 0x102, {0x0A, 0x04, 'e', 'n', 'g', 0x00}}};
    const Bytes expected = WithCrc({0x02, 0xB0, 0x23, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x01, 0xF0, 0x06,  //
                                    0x09, 0x04, 0x0B, 0x00, 0xE1, 0x50,                                        //
                                    0x02, 0xE1, 0x01, 0xF0, 0x00,                                              //
                                    0x04, 0xE1, 0x02, 0xF0, 0x06, 0x0A, 0x04, 'e', 'n', 'g', 0x00});
    const Bytes built = Build(SIP_ConstructPMTSections, pmt);
    EXPECT_EQ(built, expected);

    const auto decoded = Decode(0x30, built, 1);
    ASSERT_EQ(decoded->pmts.size(), 1u);
    EXPECT_EQ(decoded->pmts[0].pcrPid, 0x101);
    EXPECT_EQ(decoded->pmts[0].streams, (std::vector<std::pair<U8, U16>>{{0x02, 0x101}, {0x04, 0x102}}));
}

TEST(PsiTablesTest, CatMatchesHandMadeSectionAndDecodes) {
    CATTable_t cat;
    cat.u8VersionNumber = 2;
    cat.vecDescriptors = {0x09, 0x04, 0x0B, 0x00, 0xE0, 0x30};
    EXPECT_EQ(Build(SIP_ConstructCATSections, cat),
              WithCrc({0x01, 0xB0, 0x0F, 0xFF, 0xFF, 0xC5, 0x00, 0x00, 0x09, 0x04, 0x0B, 0x00, 0xE0, 0x30}));

    const auto decoded = Decode(0x01, Build(SIP_ConstructCATSections, cat));
    ASSERT_EQ(decoded->cats.size(), 1u);
    EXPECT_EQ(decoded->cats[0], (std::vector<test::RawDescriptor>{{0x09, {0x0B, 0x00, 0xE0, 0x30}}}));
    EXPECT_EQ(decoded->catVersions[0], 2);
}

TEST(PsiTablesTest, SdtMatchesHandMadeSectionAndDecodes) {
    SDTTable_t sdt;
    sdt.u16TransportStreamID = 1;
    sdt.u16OriginalNetworkID = 0x22;
    sdt.u8VersionNumber = 1;
    SDTService_t service;
    service.u16ServiceID = 5;
    service.u8EITScheduleFlag = 1;
    service.u8EITPresentFollowingFlag = 1;
    service.u8RunningStatus = 4;
    service.vecDescriptors = {0x48, 0x05, 0x01, 0x01, 'P', 0x01, 'N'};
    sdt.vecServices = {service};
    const Bytes built = Build(SIP_ConstructSDTSections, sdt);
    EXPECT_EQ(built, WithCrc({0x42, 0xF0, 0x18, 0x00, 0x01, 0xC3, 0x00, 0x00, 0x00, 0x22, 0xFF,  //
                              0x00, 0x05, 0xFF, 0x80, 0x07, 0x48, 0x05, 0x01, 0x01, 'P', 0x01, 'N'}));

    const auto decoded = Decode(0x11, built);
    ASSERT_EQ(decoded->sdts.size(), 1u);
    EXPECT_EQ(decoded->sdts[0].originalNetworkId, 0x22);
    ASSERT_EQ(decoded->sdts[0].services.size(), 1u);
    EXPECT_EQ(decoded->sdts[0].services[0].serviceId, 5);
    EXPECT_EQ(decoded->sdts[0].services[0].runningStatus, 4);
    EXPECT_EQ(decoded->sdts[0].services[0].descriptors,
              (std::vector<test::RawDescriptor>{{0x48, {0x01, 0x01, 'P', 0x01, 'N'}}}));
}

TEST(PsiTablesTest, MgtAndTvctMatchHandMadeSectionsAndDecode) {
    MGTTable_t mgt;
    mgt.u8VersionNumber = 4;
    mgt.vecTables = {{0, 0x1FFB, 2, 100}};
    const Bytes mgtBytes = Build(SIP_ConstructMGTSections, mgt);
    EXPECT_EQ(mgtBytes, WithCrc({0xC7, 0xF0, 0x19, 0x00, 0x00, 0xC9, 0x00, 0x00, 0x00, 0x00, 0x01,  //
                                 0x00, 0x00, 0xFF, 0xFB, 0xE2, 0x00, 0x00, 0x00, 0x64, 0xF0, 0x00,  //
                                 0xF0, 0x00}));

    VCTTable_t vct;
    vct.u16TransportStreamID = 0x10;
    VCTChannel_t channel;
    Common_ConvertASCToUTF16(reinterpret_cast<const U8*>("ABC"), 3, channel.aru8ShortName);
    channel.u16MajorChannelNumber = 2;
    channel.u16MinorChannelNumber = 1;
    channel.u8ModulationMode = 4;
    channel.u16ChannelTSID = 0x10;
    channel.u16ProgramNumber = 1;
    channel.u8ServiceType = 2;
    channel.u16SourceId = 7;
    channel.u16PCRPID = 0x101;
    channel.vecStreams = {{0x02, 0x101}, {0x81, 0x102}};
    vct.vecChannels = {channel};
    const Bytes vctBytes = Build(SIP_ConstructVCTSections, vct);
    EXPECT_EQ(vctBytes,
              WithCrc({0xC8, 0xF0, 0x3E, 0x00, 0x10, 0xC1, 0x00, 0x00, 0x00, 0x01,                          //
                       0x00, 'A', 0x00, 'B', 0x00, 'C', 0, 0, 0, 0, 0, 0, 0, 0,                               //
                       0xF0, 0x08, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0x0D, 0xC2,    //
                       0x00, 0x07, 0xFC, 0x11, 0xA1, 0x0F, 0xE1, 0x01, 0x02,                                  //
                       0x02, 0xE1, 0x01, 0x00, 0x00, 0x00, 0x81, 0xE1, 0x02, 0x00, 0x00, 0x00, 0xFC, 0x00}));

    Bytes both = mgtBytes;
    both.insert(both.end(), vctBytes.begin(), vctBytes.end());
    const auto decoded = Decode(kPsipPid, both);
    ASSERT_EQ(decoded->mgts.size(), 1u);
    ASSERT_EQ(decoded->mgts[0].size(), 1u);
    EXPECT_EQ(decoded->mgts[0][0].pid, 0x1FFB);
    EXPECT_EQ(decoded->mgts[0][0].bytes, 100u);
    ASSERT_EQ(decoded->vcts.size(), 1u);
    ASSERT_EQ(decoded->vcts[0].channels.size(), 1u);
    EXPECT_EQ(decoded->vcts[0].channels[0].major, 2);
    EXPECT_EQ(decoded->vcts[0].channels[0].minor, 1);
    EXPECT_EQ(decoded->vcts[0].channels[0].sourceId, 7);
}

TEST(PsiTablesTest, RefusesWhatDoesNotFit) {
    test::TestEnvironment env;
    PMTTable_t pmt;
    for (U16 i = 0; i < 300; ++i) {
        pmt.vecStreams.push_back({0x02, static_cast<U16>(0x100 + i), {}});
    }
    U32 rc = 0;
    EXPECT_TRUE(Build(SIP_ConstructPMTSections, pmt, kSiConstructBytes, &rc).empty());
    EXPECT_EQ(rc, kSipErrBound);

    PATTable_t pat;
    pat.vecPrograms.assign(10, {1, 0x100});
    EXPECT_TRUE(Build(SIP_ConstructPATSections, pat, 40, &rc).empty());
    EXPECT_EQ(rc, kSipErrBound);
    EXPECT_EQ(Build(SIP_ConstructPATSections, pat, 8 + 40 + 4).size(), 52u);

    SDTTable_t sdt;
    SDTService_t huge;
    huge.vecDescriptors.assign(1020, 0);
    sdt.vecServices = {huge};
    EXPECT_TRUE(Build(SIP_ConstructSDTSections, sdt, kSiConstructBytes, &rc).empty());
    EXPECT_EQ(rc, kSipErrBound);

    U32 length = 0;
    U8 buffer[16];
    EXPECT_EQ(SIP_ConstructPATSections(nullptr, buffer, sizeof buffer, &length), kSipErrInput);
    EXPECT_EQ(SIP_ConstructMGTSections(&*std::make_unique<MGTTable_t>(), nullptr, 16, &length), kSipErrInput);
}

}  // namespace
}  // namespace hx
