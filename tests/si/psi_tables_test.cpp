// The section builders, byte for byte against hand-made sections and read
// back with libdvbpsi.
#include <gtest/gtest.h>

extern "C" {
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/demux.h>
#include <dvbpsi/atsc_mgt.h>
#include <dvbpsi/atsc_vct.h>
#include <dvbpsi/cat.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/sdt.h>
}

#include <functional>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "psi_decoder.h"
#include "si/psi_tables.h"
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

// Sections fed to libdvbpsi on one PID through `attach`; the messages it gave.
struct Dvbpsi {
    static void OnMessage(dvbpsi_t* handle, const dvbpsi_msg_level_t, const char* text) {
        static_cast<Dvbpsi*>(handle->p_sys)->messages.push_back(text);
    }
    explicit Dvbpsi(const std::function<void(dvbpsi_t*)>& attach) {
        handle = dvbpsi_new(&OnMessage, DVBPSI_MSG_WARN);
        handle->p_sys = this;
        attach(handle);
    }
    ~Dvbpsi() { dvbpsi_delete(handle); }
    void Push(const Bytes& sections) {
        const Bytes packets = test::Packetize(0x30, sections);
        for (std::size_t at = 0; at + 188 <= packets.size(); at += 188) {
            dvbpsi_packet_push(handle, const_cast<U8*>(packets.data() + at));
        }
    }
    dvbpsi_t* handle;
    std::vector<std::string> messages;
};

TEST(PsiTablesTest, PatMatchesHandMadeSectionAndDecodes) {
    PATTable_t pat;
    pat.u16TransportStreamID = 1;
    pat.u8VersionNumber = 3;
    pat.vecPrograms = {{1, 0x100}, {2, 0x200}};
    const Bytes expected = WithCrc({0x00, 0xB0, 0x11, 0x00, 0x01, 0xC7, 0x00, 0x00,  //
                                    0x00, 0x01, 0xE1, 0x00, 0x00, 0x02, 0xE2, 0x00});
    const Bytes built = Build(SIP_ConstructPATSections, pat);
    EXPECT_EQ(built, expected);

    std::vector<std::pair<U16, U16>> decoded;
    U8 version = 0xFF;
    struct Sink {
        std::vector<std::pair<U16, U16>>* programs;
        U8* version;
    } sink{&decoded, &version};
    Dvbpsi psi([&sink](dvbpsi_t* h) {
        dvbpsi_pat_attach(
            h,
            [](void* data, dvbpsi_pat_t* table) {
                auto* s = static_cast<Sink*>(data);
                *s->version = table->i_version;
                for (auto* p = table->p_first_program; p != nullptr; p = p->p_next) {
                    s->programs->emplace_back(p->i_number, p->i_pid);
                }
                dvbpsi_pat_delete(table);
            },
            &sink);
    });
    psi.Push(built);
    dvbpsi_pat_detach(psi.handle);
    EXPECT_TRUE(psi.messages.empty());
    EXPECT_EQ(version, 3);
    EXPECT_EQ(decoded, (std::vector<std::pair<U16, U16>>{{1, 0x100}, {2, 0x200}}));
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

    std::size_t programs = 0;
    Dvbpsi psi([&programs](dvbpsi_t* h) {
        dvbpsi_pat_attach(
            h,
            [](void* data, dvbpsi_pat_t* table) {
                for (auto* p = table->p_first_program; p != nullptr; p = p->p_next) {
                    ++*static_cast<std::size_t*>(data);
                }
                dvbpsi_pat_delete(table);
            },
            &programs);
    });
    psi.Push(built);
    dvbpsi_pat_detach(psi.handle);
    EXPECT_TRUE(psi.messages.empty());
    EXPECT_EQ(programs, 300u);
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

    std::vector<std::pair<U8, U16>> streams;
    U16 pcr = 0;
    struct Sink {
        std::vector<std::pair<U8, U16>>* streams;
        U16* pcr;
    } sink{&streams, &pcr};
    Dvbpsi psi([&sink](dvbpsi_t* h) {
        dvbpsi_pmt_attach(
            h, 1,
            [](void* data, dvbpsi_pmt_t* table) {
                auto* s = static_cast<Sink*>(data);
                *s->pcr = table->i_pcr_pid;
                for (auto* es = table->p_first_es; es != nullptr; es = es->p_next) {
                    s->streams->emplace_back(es->i_type, es->i_pid);
                }
                dvbpsi_pmt_delete(table);
            },
            &sink);
    });
    psi.Push(built);
    dvbpsi_pmt_detach(psi.handle);
    EXPECT_TRUE(psi.messages.empty());
    EXPECT_EQ(pcr, 0x101);
    EXPECT_EQ(streams, (std::vector<std::pair<U8, U16>>{{0x02, 0x101}, {0x04, 0x102}}));
}

TEST(PsiTablesTest, CatMatchesHandMadeSection) {
    CATTable_t cat;
    cat.u8VersionNumber = 2;
    cat.vecDescriptors = {0x09, 0x04, 0x0B, 0x00, 0xE0, 0x30};
    EXPECT_EQ(Build(SIP_ConstructCATSections, cat),
              WithCrc({0x01, 0xB0, 0x0F, 0xFF, 0xFF, 0xC5, 0x00, 0x00, 0x09, 0x04, 0x0B, 0x00, 0xE0, 0x30}));

    int descriptors = 0;
    Dvbpsi psi([&descriptors](dvbpsi_t* h) {
        dvbpsi_cat_attach(
            h,
            [](void* data, dvbpsi_cat_t* table) {
                for (auto* d = table->p_first_descriptor; d != nullptr; d = d->p_next) {
                    *static_cast<int*>(data) += d->i_tag == 0x09 ? 1 : 100;
                }
                dvbpsi_cat_delete(table);
            },
            &descriptors);
    });
    psi.Push(Build(SIP_ConstructCATSections, cat));
    dvbpsi_cat_detach(psi.handle);
    EXPECT_TRUE(psi.messages.empty());
    EXPECT_EQ(descriptors, 1);
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

    struct Sink {
        U16 onid = 0;
        std::vector<U16> services;
        U8 running = 0;
    } sink;
    Dvbpsi psi([&sink](dvbpsi_t* h) {
        dvbpsi_AttachDemux(
            h,
            [](dvbpsi_t* d, U8 tableId, U16 extension, void* data) {
                if (tableId == 0x42) {
                    dvbpsi_sdt_attach(
                        d, tableId, extension,
                        [](void* cb, dvbpsi_sdt_t* table) {
                            auto* s = static_cast<Sink*>(cb);
                            s->onid = table->i_network_id;
                            for (auto* sv = table->p_first_service; sv != nullptr; sv = sv->p_next) {
                                s->services.push_back(sv->i_service_id);
                                s->running = sv->i_running_status;
                            }
                            dvbpsi_sdt_delete(table);
                        },
                        data);
                }
            },
            &sink);
    });
    psi.Push(built);
    dvbpsi_sdt_detach(psi.handle, 0x42, 1);
    dvbpsi_DetachDemux(psi.handle);
    EXPECT_TRUE(psi.messages.empty());
    EXPECT_EQ(sink.onid, 0x22);
    EXPECT_EQ(sink.services, std::vector<U16>{5});
    EXPECT_EQ(sink.running, 4);
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

    struct Sink {
        std::vector<std::pair<U16, U32>> mgtTables;
        std::vector<std::pair<U16, U16>> channels;
    } sink;
    Dvbpsi psi([&sink](dvbpsi_t* h) {
        dvbpsi_AttachDemux(
            h,
            [](dvbpsi_t* d, U8 tableId, U16 extension, void* data) {
                if (tableId == 0xC7) {
                    dvbpsi_atsc_AttachMGT(
                        d, tableId, extension,
                        [](void* cb, dvbpsi_atsc_mgt_t* table) {
                            for (auto* t = table->p_first_table; t != nullptr; t = t->p_next) {
                                static_cast<Sink*>(cb)->mgtTables.emplace_back(t->i_table_type_pid, t->i_number_bytes);
                            }
                            dvbpsi_atsc_DeleteMGT(table);
                        },
                        data);
                } else if (tableId == 0xC8) {
                    dvbpsi_atsc_AttachVCT(
                        d, tableId, extension,
                        [](void* cb, dvbpsi_atsc_vct_t* table) {
                            for (auto* c = table->p_first_channel; c != nullptr; c = c->p_next) {
                                static_cast<Sink*>(cb)->channels.emplace_back(c->i_major_number, c->i_source_id);
                            }
                            dvbpsi_atsc_DeleteVCT(table);
                        },
                        data);
                }
            },
            &sink);
    });
    Bytes both = mgtBytes;
    both.insert(both.end(), vctBytes.begin(), vctBytes.end());
    psi.Push(both);
    dvbpsi_atsc_DetachMGT(psi.handle, 0xC7, 0);
    dvbpsi_atsc_DetachVCT(psi.handle, 0xC8, 0x10);
    dvbpsi_DetachDemux(psi.handle);
    EXPECT_TRUE(psi.messages.empty()) << psi.messages.front();
    EXPECT_EQ(sink.mgtTables, (std::vector<std::pair<U16, U32>>{{0x1FFB, 100}}));
    EXPECT_EQ(sink.channels, (std::vector<std::pair<U16, U16>>{{2, 7}}));
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
