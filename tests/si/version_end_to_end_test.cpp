// Table versions as a receiver sees them: one table of edits, each through the
// real path (an input-card message or a web edit, then the apply), the
// channel's packet file read before and after with libdvbpsi. A table's
// version moves exactly when its bytes change, and then by one from the
// version on air. Also the VCT's modulation mode and carrier frequency when
// the input card leaves them 0.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/input_messages.h"
#include "engine/model_copy.h"
#include "engine/mux_process.h"
#include "engine/web_edit.h"
#include "engine/web_report.h"
#include "si/section_codec.h"
#include "si/si_fixture.h"
#include "sim/input_card_messages.h"
#include "support/psi_decoder.h"

namespace hx {
namespace {

constexpr U16 kChannel = 2;
constexpr U8 kFirstSlot = 3;   // program 1 and the EMMs
constexpr U8 kSecondSlot = 5;  // program 2
constexpr U16 kMovedPmtPid = 0x150;

enum class Table { Pat, Cat, Sdt, Pmt1, Pmt2, Vct, Mgt };

const char* NameOf(Table table) {
    static const char* const names[] = {"PAT", "CAT", "SDT", "PMT 1", "PMT 2", "VCT", "MGT"};
    return names[static_cast<int>(table)];
}

// The table's sections last sent in a stretch of packets, found by table_id
// (and program number for a PMT) on any PID, by section number, with the
// version bits and the CRC left out: the bytes a receiver compares.
using RawTable = std::map<U8, std::vector<U8>>;

bool Matches(Table table, const U8* section) {
    switch (table) {
        case Table::Pat: return section[0] == 0x00;
        case Table::Cat: return section[0] == 0x01;
        case Table::Sdt: return section[0] == 0x42;
        case Table::Pmt1: return section[0] == 0x02 && GetBe16(section + 3) == 1;
        case Table::Pmt2: return section[0] == 0x02 && GetBe16(section + 3) == 2;
        case Table::Vct: return section[0] == 0xC8 || section[0] == 0xC9;
        case Table::Mgt: return section[0] == 0xC7;
    }
    return false;
}

RawTable RawSections(std::span<const U8> packets, Table table) {
    RawTable found;
    std::map<U16, std::vector<U8>> assembling;
    auto finish = [&](std::vector<U8>& bytes) {
        if (bytes.size() >= 3 && bytes.size() >= SIP_SectionBytes(bytes.data())) {
            bytes.resize(SIP_SectionBytes(bytes.data()));
            if (bytes.size() >= 12 && Matches(table, bytes.data())) {
                bytes[5] &= 0xC1;
                bytes.resize(bytes.size() - 4);
                found[bytes[6]] = bytes;
            }
            bytes.clear();
        }
    };
    for (std::size_t at = 0; at + 188 <= packets.size(); at += 188) {
        const U8* packet = packets.data() + at;
        const U16 pid = static_cast<U16>(((packet[1] & 0x1F) << 8) | packet[2]);
        std::vector<U8>& bytes = assembling[pid];
        if ((packet[1] & 0x40) != 0) {
            bytes.assign(packet + 5 + packet[4], packet + 188);
        } else if (!bytes.empty()) {
            bytes.insert(bytes.end(), packet + 4, packet + 188);
        }
        finish(bytes);
    }
    return found;
}

// The last version libdvbpsi reported for the table.
std::optional<U8> DecodedVersion(const test::PsiDecoder& d, Table table) {
    auto last = [](const auto& list) -> std::optional<U8> {
        if (list.empty()) {
            return std::nullopt;
        }
        return list.back();
    };
    auto pmt = [&d](U16 program) -> std::optional<U8> {
        for (auto it = d.pmts.rbegin(); it != d.pmts.rend(); ++it) {
            if (it->program == program) {
                return it->version;
            }
        }
        return std::nullopt;
    };
    switch (table) {
        case Table::Pat: return d.patTables.empty() ? std::nullopt : std::optional<U8>(d.patTables.back().version);
        case Table::Cat: return last(d.catVersions);
        case Table::Sdt: return d.sdts.empty() ? std::nullopt : std::optional<U8>(d.sdts.back().version);
        case Table::Pmt1: return pmt(1);
        case Table::Pmt2: return pmt(2);
        case Table::Vct: return d.vcts.empty() ? std::nullopt : std::optional<U8>(d.vcts.back().version);
        case Table::Mgt: return last(d.mgtVersions);
    }
    return std::nullopt;
}

// The edits of the table below reach these helpers from outside the fixture.
class VersionEndToEndTest : public test::SiBoardTest {
public:
    void Send(IPCOMM_CMD command, std::vector<U8> payload) {
        ASSERT_EQ(TSP_ConstructOutputTS(payload.data(), command, static_cast<U16>(payload.size())), 0u)
            << "command " << command;
    }

    void SendProgram(U8 slot, U16 n, U8 audioType = 0x04) {
        const U16 base = static_cast<U16>(0x100 * n);
        Send(IPCOMM_SEND_PROGRAM,
             InputCard_EncodePrograms(std::vector{InputCard_Program(
                 {.sourceSlot = slot, .channel = kChannel, .programId = n, .serviceId = n, .pmtPid = base,
                  .pcrPid = static_cast<U16>(base + 1)})}));
        auto pid = [&](PIDTYPE_E type, U16 key, U16 value, U8 streamType) {
            return InputCard_Pid({.type = type, .sourceSlot = slot, .channel = kChannel, .programId = n, .key = key,
                                  .pid = value, .streamType = streamType});
        };
        Send(IPCOMM_SEND_PID,
             InputCard_EncodePids(std::vector{pid(PID_TYPE_PCRPID, static_cast<U16>(10 * n), base + 1, 0),
                                              pid(PID_TYPE_ESPID, static_cast<U16>(10 * n + 1), base + 1, 0x02),
                                              pid(PID_TYPE_ESPID, static_cast<U16>(10 * n + 2), base + 2, audioType)}));
    }

    void SendEmm(U16 key, U16 value, U16 caSystem) {
        Output_TSPID emm = InputCard_Pid(
            {.type = PID_TYPE_EMMPID, .sourceSlot = kFirstSlot, .channel = kChannel, .key = key, .pid = value});
        emm.u16CASID = caSystem;
        Send(IPCOMM_SEND_PID, InputCard_EncodePids(std::vector{emm}));
    }

    // Program 1 from slot 3 and program 2 from slot 5, each with its PCR on
    // its video and an audio stream; two EMMs.
    void SendBaseModel() {
        SendProgram(kFirstSlot, 1);
        SendProgram(kSecondSlot, 2);
        SendEmm(90, 0x300, 0x0B00);
        SendEmm(91, 0x301, 0x0B01);
    }

    void Apply() {
        ASSERT_EQ(TSP_MuxProcess(), 0u);
        Ticks(3);
    }

    void Ticks(U32 count) {
        for (U32 i = 0; i < count; ++i) {
            g_u32TimerCnt = ++tick_;
            ASSERT_TRUE(SIPacket_ServiceStep(sender_));
        }
    }

    // The web page's round: the temporary copy refreshed from the live model.
    void WebRefresh() {
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
    }

    // One program edit on the temporary copy, as "SetProgramParam.w" makes it.
    void WebEditProgram(U16 serviceId, const std::function<void(Output_WebProgramInfo&)>& change) {
        Output_WebProgramInfo view{};
        {
            TSP_ModelLock lock;
            ASSERT_EQ(TSP_SendProgramInfoToWeb(kChannel, serviceId, &view, TSP_GetTempTSParam()), 0u);
        }
        change(view);
        U8 conflict = 0;
        ASSERT_EQ(TSP_ModifyProgramInfoByWeb(kChannel, &view, &conflict), 0u);
    }

    void WebApply() {
        ASSERT_EQ(TSP_CopyOutputTSInfo(), 0u);
        Apply();
    }

    static void Rename(Output_WebProgramInfo& view, const char* name) {
        std::memset(view.aru8ServiceName, 0, sizeof view.aru8ServiceName);
        std::memcpy(view.aru8ServiceName, name, std::strlen(name));
        view.u8ServiceNameLen = static_cast<U8>(std::strlen(name));
    }

    static std::unique_ptr<test::PsiDecoder> Decode(std::span<const U8> packets) {
        auto decoder = std::make_unique<test::PsiDecoder>();
        for (U16 pid : {U16{0x100}, U16{0x200}, kMovedPmtPid}) {
            decoder->WatchPmt(pid, 1);
            decoder->WatchPmt(pid, 2);
        }
        decoder->Push(packets);
        return decoder;
    }

private:
    SIPacketSenderState sender_;
    U32 tick_ = 0;
};

struct EditCase {
    const char* name;
    bool atsc;
    std::function<void(VersionEndToEndTest&)> prepare;  // before the "before" reading
    std::function<void(VersionEndToEndTest&)> edit;     // the edit and its apply
    std::set<Table> changes;                            // the tables whose bytes it changes
};

void PrintTo(const EditCase& c, std::ostream* out) { *out << c.name; }

class VersionEditTest : public VersionEndToEndTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(VersionEditTest, VersionMovesExactlyWhenTheBytesChange) {
    const EditCase& c = GetParam();
    SetAtsc(c.atsc);
    GetQAMPara_Handle()->Mode[0].value = MODE_QAMB;
    GetQAMPara_Handle()->Constellation[0].value = 1;
    GetQAMPara_Handle()->Frequency[kChannel].value = 69000;
    SendBaseModel();
    Apply();
    if (c.prepare) {
        c.prepare(*this);
    }
    const std::size_t before = Output(kChannel).size();
    c.edit(*this);
    const std::vector<U8> file = Output(kChannel);
    const std::span<const U8> all(file);
    const auto oldPart = Decode(all.first(before));
    const auto newPart = Decode(all.subspan(before));
    const auto receiver = Decode(all);
    EXPECT_TRUE(receiver->Problems().empty()) << receiver->Problems().front();

    const std::vector<Table> watched = c.atsc
                                           ? std::vector{Table::Pat, Table::Pmt1, Table::Pmt2, Table::Vct, Table::Mgt}
                                           : std::vector{Table::Pat, Table::Cat, Table::Sdt, Table::Pmt1, Table::Pmt2};
    for (Table table : watched) {
        SCOPED_TRACE(NameOf(table));
        const RawTable oldBytes = RawSections(all.first(before), table);
        const RawTable newBytes = RawSections(all.subspan(before), table);
        ASSERT_FALSE(oldBytes.empty());
        ASSERT_FALSE(newBytes.empty());
        const bool changed = oldBytes != newBytes;
        EXPECT_EQ(changed, c.changes.contains(table)) << "the edit changes what the case says";
        const std::optional<U8> oldVersion = DecodedVersion(*oldPart, table);
        const std::optional<U8> newVersion = DecodedVersion(*newPart, table);
        ASSERT_TRUE(oldVersion && newVersion);
        EXPECT_EQ(*newVersion, changed ? (*oldVersion + 1) % 32 : *oldVersion);
        EXPECT_EQ(DecodedVersion(*receiver, table), newVersion) << "a receiver following the channel reads it";
    }
    if (c.atsc) {
        ASSERT_FALSE(newPart->mgts.empty());
        ASSERT_EQ(newPart->mgts.back().size(), 1u);
        EXPECT_EQ(std::optional<U8>(newPart->mgts.back()[0].version), DecodedVersion(*newPart, Table::Vct))
            << "the MGT lists the VCT's version";
    }
}

// The reason each edit needs the safety net is given beside it.
INSTANTIATE_TEST_SUITE_P(
    Edits, VersionEditTest,
    ::testing::Values(
        // 275 raises only the PMT's flag; the PMT's own bytes stay as they were.
        EditCase{"MonitorOrderMovesAPmtPid", false, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.Send(IPCOMM_MONITOR_PID,
                            InputCard_EncodeMonitor({.type = 1, .oldPid = 0x100, .newPid = kMovedPmtPid,
                                                     .sourceSlot = kFirstSlot, .channel = kChannel, .key = 1}));
                     t.Apply();
                 },
                 {Table::Pat}},
        // 261 raises no flag for an ES.
        EditCase{"EsAddedByInputCard", false, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.Send(IPCOMM_SEND_PID,
                            InputCard_EncodePids(std::vector{InputCard_Pid(
                                {.type = PID_TYPE_ESPID, .sourceSlot = kFirstSlot, .channel = kChannel,
                                 .programId = 1, .key = 13, .pid = 0x103, .streamType = 0x06})}));
                     t.Apply();
                 },
                 {Table::Pmt1}},
        EditCase{"EmmDeletedByInputCard", false, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.Send(IPCOMM_DEL_PID, InputCard_EncodeDeletePids(std::vector{DeletePidOrder{
                                                .sourceSlot = kFirstSlot, .channel = kChannel, .key = 91}}));
                     t.Apply();
                 },
                 {Table::Cat}},
        // Program 1's audio takes program 2's video PID from another source:
        // resolution renumbers program 2's video and PCR, whose PMT has no flag.
        EditCase{"RenumberedByConflictResolution", false, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.Send(IPCOMM_MONITOR_PID,
                            InputCard_EncodeMonitor({.type = PID_TYPE_ESPID, .streamType = 0x04, .oldPid = 0x102,
                                                     .newPid = 0x201, .sourceSlot = kFirstSlot, .channel = kChannel,
                                                     .key = 12}));
                     t.Apply();
                 },
                 {Table::Pmt1, Table::Pmt2}},
        // The program record made again starts at version 0, the version on air.
        EditCase{"PmtDeletedAndAddedAgain", false, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.Send(IPCOMM_DEL_PROGRAM, InputCard_EncodeDeletePrograms(std::vector{DeleteProgramOrder{
                                                    .sourceSlot = kSecondSlot, .channel = kChannel, .programId = 2}}));
                     t.SendProgram(kSecondSlot, 2, 0x03);
                     t.Apply();
                 },
                 {Table::Pmt2}},
        // The stream record made again (programs in the other order, one EMM)
        // raises its flags from version 0: the version on air (1) again.
        EditCase{"StreamZeroedAndRecreated", false, nullptr,
                 [](VersionEndToEndTest& t) {
                     for (U8 slot : {kFirstSlot, kSecondSlot}) {
                         t.Send(IPCOMM_DEL_TS, InputCard_EncodeDeleteStreams(std::vector{DeleteStreamOrder{
                                                   .sourceSlot = slot, .channel = kChannel}}));
                     }
                     t.Apply();
                     t.SendProgram(kSecondSlot, 2);
                     t.SendProgram(kFirstSlot, 1);
                     t.SendEmm(90, 0x300, 0x0B00);
                     t.Apply();
                 },
                 {Table::Pat, Table::Cat, Table::Sdt}},
        // The first apply answered the copy's SDT flag; the same copy again
        // changes nothing.
        EditCase{"SecondWebApplyFromOneCopy", false,
                 [](VersionEndToEndTest& t) {
                     t.WebRefresh();
                     t.WebEditProgram(1, [](Output_WebProgramInfo& v) { VersionEndToEndTest::Rename(v, "Renamed"); });
                     t.WebApply();
                 },
                 [](VersionEndToEndTest& t) { t.WebApply(); }, {}},
        // A further edit in the same copy must not go out under the version
        // the first apply put on air.
        EditCase{"FurtherEditInOneCopy", false,
                 [](VersionEndToEndTest& t) {
                     t.WebRefresh();
                     t.WebEditProgram(1, [](Output_WebProgramInfo& v) { VersionEndToEndTest::Rename(v, "Renamed"); });
                     t.WebApply();
                 },
                 [](VersionEndToEndTest& t) {
                     t.WebEditProgram(1, [](Output_WebProgramInfo& v) { VersionEndToEndTest::Rename(v, "Again"); });
                     t.WebApply();
                 },
                 {Table::Sdt}},
        // ATSC channel numbers are in no table with a change flag.
        EditCase{"AtscChannelNumbersByWeb", true, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.WebRefresh();
                     t.WebEditProgram(1, [](Output_WebProgramInfo& v) {
                         v.u16MajorChannelNum = 20;
                         v.u16MinorChannelNum = 3;
                     });
                     t.WebApply();
                 },
                 {Table::Vct, Table::Mgt}},
        // The ES PID raises the PMT's flag only; the VCT's service location
        // descriptor carries it too.
        EditCase{"AtscEsPidByWeb", true, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.WebRefresh();
                     t.WebEditProgram(1, [](Output_WebProgramInfo& v) {
                         for (U16 i = 0; i < v.u16ESNumber; ++i) {
                             if (v.arOutputESInfo[i].u16PID == 0x102) {
                                 v.arOutputESInfo[i].u16PID = 0x110;
                             }
                         }
                     });
                     t.WebApply();
                 },
                 {Table::Pmt1, Table::Vct, Table::Mgt}},
        EditCase{"AtscPcrPidByMonitorOrder", true, nullptr,
                 [](VersionEndToEndTest& t) {
                     t.Send(IPCOMM_MONITOR_PID,
                            InputCard_EncodeMonitor({.type = PID_TYPE_PCRPID, .oldPid = 0x201, .newPid = 0x205,
                                                     .sourceSlot = kSecondSlot, .channel = kChannel, .key = 20}));
                     t.Apply();
                 },
                 {Table::Pmt2, Table::Vct, Table::Mgt}}),
    [](const ::testing::TestParamInfo<EditCase>& info) { return std::string(info.param.name); });

// A program from an input card goes on air with the identifiers the card
// gave it (service ID, PMT PID, PCR and ES PIDs); in ATSC mode its channel
// numbers past 1023 become 2 and the VCT calls it a digital TV service, in
// DVB mode its own service type stays.
class InputProgramTest : public VersionEndToEndTest, public ::testing::WithParamInterface<bool> {};

TEST_P(InputProgramTest, GoesOnAirWithItsOwnIdentifiers) {
    const bool atsc = GetParam();
    SetAtsc(atsc);
    Output_TSProgram program =
        InputCard_Program({.sourceSlot = kFirstSlot, .channel = kChannel, .serviceId = 0x21, .pmtPid = 0x200,
                           .pcrPid = 0x221});
    program.u16MajorChannelNum = 1024;
    program.u16MinorChannelNum = 1023;
    program.u8ServiceType = 0x19;
    Send(IPCOMM_SEND_PROGRAM, InputCard_EncodePrograms(std::vector{program}));
    Send(IPCOMM_SEND_PID,
         InputCard_EncodePids(std::vector{
             InputCard_Pid({.type = PID_TYPE_PCRPID, .sourceSlot = kFirstSlot, .channel = kChannel, .key = 1,
                            .pid = 0x221}),
             InputCard_Pid({.type = PID_TYPE_ESPID, .sourceSlot = kFirstSlot, .channel = kChannel, .key = 2,
                            .pid = 0x221, .streamType = 0x02}),
             InputCard_Pid({.type = PID_TYPE_ESPID, .sourceSlot = kFirstSlot, .channel = kChannel, .key = 3,
                            .pid = 0x222, .streamType = 0x04})}));
    Apply();

    test::PsiDecoder decoded;
    decoded.WatchPmt(0x200, 0x21);
    decoded.Push(Output(kChannel));
    ASSERT_FALSE(decoded.patTables.empty());
    EXPECT_EQ(decoded.patTables.back().programs, (std::vector<std::pair<U16, U16>>{{0x21, 0x200}}));
    ASSERT_FALSE(decoded.pmts.empty());
    EXPECT_EQ(decoded.pmts.back().pcrPid, 0x221);
    EXPECT_EQ(decoded.pmts.back().streams, (std::vector<std::pair<U8, U16>>{{0x02, 0x221}, {0x04, 0x222}}));
    if (atsc) {
        ASSERT_FALSE(decoded.vcts.empty());
        ASSERT_EQ(decoded.vcts.back().channels.size(), 1u);
        const test::DecodedVctChannel& channel = decoded.vcts.back().channels[0];
        EXPECT_EQ(channel.program, 0x21);
        EXPECT_EQ(channel.major, 2);
        EXPECT_EQ(channel.minor, 1023);
        EXPECT_EQ(channel.serviceType, 0x02);
    } else {
        ASSERT_FALSE(decoded.sdts.empty());
        ASSERT_EQ(decoded.sdts.back().services.size(), 1u);
        const test::DecodedSdtService& service = decoded.sdts.back().services[0];
        EXPECT_EQ(service.serviceId, 0x21);
        ASSERT_FALSE(service.descriptors.empty());
        EXPECT_EQ(service.descriptors[0].tag, 0x48);
        EXPECT_EQ(service.descriptors[0].data[0], 0x19) << "the service type as the card gave it";
    }
}

INSTANTIATE_TEST_SUITE_P(Standards, InputProgramTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Atsc" : "Dvb"; });

// The VCT's modulation mode and carrier frequency of a program whose input
// card left them 0 come from the channel's own QAM settings.
struct VctFieldCase {
    const char* name;
    QamMode mode;
    U32 constellation;
    U8 inputModulation;
    U32 inputFrequency;
    U8 modulation;
    U32 frequency;
};

void PrintTo(const VctFieldCase& c, std::ostream* out) { *out << c.name; }

class VctFieldTest : public VersionEndToEndTest, public ::testing::WithParamInterface<VctFieldCase> {};

TEST_P(VctFieldTest, ReservedModeAndNoFrequencyTakeTheChannels) {
    const VctFieldCase& c = GetParam();
    SetAtsc(true);
    TParameter_QAM* qam = GetQAMPara_Handle();
    qam->Mode[0].value = c.mode;
    qam->Constellation[0].value = c.constellation;
    qam->Frequency[kChannel].value = 69000;
    Output_TSProgram program = InputCard_Program({.sourceSlot = kFirstSlot, .channel = kChannel});
    program.u8ModulationMode = c.inputModulation;
    program.u32CarrierFrequency = c.inputFrequency;
    Send(IPCOMM_SEND_PROGRAM, InputCard_EncodePrograms(std::vector{program}));
    Apply();

    const auto decoded = Decode(Output(kChannel));
    ASSERT_FALSE(decoded->vcts.empty());
    ASSERT_EQ(decoded->vcts.back().channels.size(), 1u);
    EXPECT_EQ(decoded->vcts.back().channels[0].modulation, c.modulation);
    EXPECT_EQ(decoded->vcts.back().channels[0].carrierFrequency, c.frequency);
}

INSTANTIATE_TEST_SUITE_P(
    Channels, VctFieldTest,
    ::testing::Values(VctFieldCase{"AnnexB64Qam", MODE_QAMB, 0, 0, 0, 0x02, 69000000},
                      VctFieldCase{"AnnexB256Qam", MODE_QAMB, 1, 0, 0, 0x03, 69000000},
                      VctFieldCase{"AnnexA64Qam", MODE_QAMA, 2, 0, 0, 0x02, 69000000},
                      VctFieldCase{"AnnexA256Qam", MODE_QAMA, 4, 0, 0, 0x03, 69000000},
                      // 16-QAM has no SCTE mode: the reserved value stays.
                      VctFieldCase{"AnnexA16QamHasNoScteMode", MODE_QAMA, 0, 0, 0, 0x00, 69000000},
                      VctFieldCase{"InputValuesKept", MODE_QAMB, 1, 0x04, 473000000, 0x04, 473000000}),
    [](const ::testing::TestParamInfo<VctFieldCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hx
