// The simulated chassis against the card's real inter-board server, over
// loopback TCP: the back board announces the boards, the input card sends its
// stream of three programs and the apply command, and afterwards the SI the
// card queued (read back with libdvbpsi from what the simulated FPGA inserted)
// and the EIT list the EIT board received both describe those programs.
#include <gtest/gtest.h>

extern "C" {
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/demux.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/sdt.h>
}

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chassis/eit_list.h"
#include "chassis/ipcomm_cmd.h"
#include "chassis/ipcomm_server.h"
#include "core/common_fun.h"
#include "core/run_profile.h"
#include "engine/model_records.h"
#include "platform/resource.h"
#include "si/si_packet.h"
#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"
#include "support/model_builder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

// PAT, PMTs and SDT of one channel's packets, as libdvbpsi decodes them.
struct DecodedService {
    std::map<U16, U16> pat;  // program number -> PMT PID
    struct Pmt {
        U16 pcrPid = 0;
        std::vector<std::pair<U8, U16>> streams;  // stream type, PID
    };
    std::map<U16, Pmt> pmts;
    U16 sdtTransportStreamId = 0;
    U16 sdtNetworkId = 0;
    std::map<U16, std::pair<std::string, std::string>> sdtNames;  // service -> provider, name
};

class ChannelDecoder {
public:
    explicit ChannelDecoder(const std::vector<U8>& stream) {
        Push(stream);  // PAT first: the PMT PIDs are known after it
        for (const auto& [program, pid] : decoded.pat) {
            dvbpsi_t* handle = New();
            dvbpsi_pmt_attach(handle, program, OnPmt, this);
            pmtHandles_[pid] = handle;
        }
        Push(stream);
    }
    ~ChannelDecoder() {
        for (auto& [pid, handle] : pmtHandles_) {
            dvbpsi_pmt_detach(handle);
            dvbpsi_delete(handle);
        }
        if (pat_ != nullptr) {
            dvbpsi_pat_detach(pat_);
            dvbpsi_delete(pat_);
        }
        if (sdt_ != nullptr) {
            dvbpsi_DetachDemux(sdt_);
            dvbpsi_delete(sdt_);
        }
    }
    ChannelDecoder(const ChannelDecoder&) = delete;
    ChannelDecoder& operator=(const ChannelDecoder&) = delete;

    DecodedService decoded;

private:
    static dvbpsi_t* New() { return dvbpsi_new(nullptr, DVBPSI_MSG_NONE); }

    void Push(const std::vector<U8>& stream) {
        if (pat_ == nullptr) {
            pat_ = New();
            dvbpsi_pat_attach(pat_, OnPat, this);
            sdt_ = New();
            dvbpsi_AttachDemux(sdt_, OnSubtable, this);
        }
        for (std::size_t at = 0; at + 188 <= stream.size(); at += 188) {
            U8* packet = const_cast<U8*>(stream.data() + at);
            const U16 pid = static_cast<U16>((packet[1] & 0x1F) << 8 | packet[2]);
            if (pid == 0 && !patDone_) {
                dvbpsi_packet_push(pat_, packet);
            } else if (pid == 0x11) {
                dvbpsi_packet_push(sdt_, packet);
            } else if (auto found = pmtHandles_.find(pid); found != pmtHandles_.end()) {
                dvbpsi_packet_push(found->second, packet);
            }
        }
        patDone_ = true;
    }

    static void OnPat(void* data, dvbpsi_pat_t* pat) {
        auto* self = static_cast<ChannelDecoder*>(data);
        for (const dvbpsi_pat_program_t* p = pat->p_first_program; p != nullptr; p = p->p_next) {
            self->decoded.pat[p->i_number] = p->i_pid;
        }
        dvbpsi_pat_delete(pat);
    }

    static void OnPmt(void* data, dvbpsi_pmt_t* pmt) {
        DecodedService::Pmt decoded{pmt->i_pcr_pid, {}};
        for (const dvbpsi_pmt_es_t* es = pmt->p_first_es; es != nullptr; es = es->p_next) {
            decoded.streams.emplace_back(es->i_type, es->i_pid);
        }
        static_cast<ChannelDecoder*>(data)->decoded.pmts[pmt->i_program_number] = decoded;
        dvbpsi_pmt_delete(pmt);
    }

    static void OnSdt(void* data, dvbpsi_sdt_t* sdt) {
        DecodedService& decoded = static_cast<ChannelDecoder*>(data)->decoded;
        decoded.sdtTransportStreamId = sdt->i_extension;
        decoded.sdtNetworkId = sdt->i_network_id;
        for (const dvbpsi_sdt_service_t* s = sdt->p_first_service; s != nullptr; s = s->p_next) {
            for (const ::dvbpsi_descriptor_t* d = s->p_first_descriptor; d != nullptr; d = d->p_next) {
                // service_descriptor: type, provider length and name, name length and name
                if (d->i_tag != 0x48 || d->i_length < 3) {
                    continue;
                }
                const U8* bytes = d->p_data;
                const U8 providerLength = bytes[1];
                const U8 nameLength = bytes[2 + providerLength];
                decoded.sdtNames[s->i_service_id] = {
                    std::string(bytes + 2, bytes + 2 + providerLength),
                    std::string(bytes + 3 + providerLength, bytes + 3 + providerLength + nameLength)};
            }
        }
        dvbpsi_sdt_delete(sdt);
    }

    static void OnSubtable(dvbpsi_t* handle, uint8_t tableId, uint16_t extension, void* data) {
        if (tableId == 0x42) {
            dvbpsi_sdt_attach(handle, tableId, extension, OnSdt, data);
        }
    }

    dvbpsi_t* pat_ = nullptr;
    dvbpsi_t* sdt_ = nullptr;
    bool patDone_ = false;
    std::map<U16, dvbpsi_t*> pmtHandles_;
};

class ChassisEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        SSD_ResetForTest();
        Resource_Reset();
        Status_Init();
        // The parts of the own record the EIT list reads.
        Resource_getSelfHandle()->u8SlotID = static_cast<U8>(Status_GetSlotID());
        Resource_getSelfHandle()->u16OutputChannelNum = 16;
        chassis.SetPrinter([this](const std::string& line) {
            std::lock_guard lock(linesMutex);
            lines.push_back(line);
        });
        ASSERT_TRUE(chassis.Start(SimChassis_PlanSlots(plan), 0));
        // One port for every board, the card included, as on a PC run.
        RunProfile profile = Profile();
        profile.interBoardPort = chassis.port();
        SetProfile(profile);
        ASSERT_EQ(0u, IPServer_Start());
        ASSERT_EQ(chassis.port(), IPServer_WaitListening());
        plan.port = chassis.port();
        plan.cardSlot = Status_GetSlotID();
    }
    void TearDown() override {
        IPServer_Stop();
        chassis.Stop();
        SSD_ResetForTest();
        Resource_Reset();
    }

    std::vector<U8> ChannelPackets(U16 channel) {
        {
            std::lock_guard lock(SIMutex);
            SSD_SendBroadcastSI();  // one tick: every queued single-section table
        }
        char name[32];
        std::snprintf(name, sizeof name, "/sim/ts/out-%02u.ts", channel);
        const std::string text = env.ReadText(name);
        return {text.begin(), text.end()};
    }

    bool Printed(const std::string& text) {
        std::lock_guard lock(linesMutex);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models;
    SimChassis chassis;
    SimChassisPlan plan;
    std::mutex linesMutex;
    std::vector<std::string> lines;
};

TEST_F(ChassisEndToEndTest, TheInputCardsProgramsReachTheSiAndTheEitBoard) {
    ASSERT_TRUE(SimChassis_RunPlan(chassis, plan));

    // The back board's records took effect.
    EXPECT_EQ(plan.eitSlot, Resource_GetEITBoardSlot());
    EXPECT_EQ(SimBoardAddress(plan.inputSlot), Resource_getBoardIPAddress(plan.inputSlot));

    // SI of output channel 0: PAT, PMT and SDT of the three programs.
    ChannelDecoder decoder(ChannelPackets(kSimPlanOutputChannel));
    const DecodedService& si = decoder.decoded;
    ASSERT_EQ(kSimPlanPrograms.size(), si.pat.size());
    EXPECT_EQ(kSimPlanTransportStreamId, si.sdtTransportStreamId);
    EXPECT_EQ(kSimPlanNetworkId, si.sdtNetworkId);
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        SCOPED_TRACE(program.name);
        ASSERT_TRUE(si.pat.count(program.serviceId));
        EXPECT_EQ(program.pmtPid, si.pat.at(program.serviceId));
        ASSERT_TRUE(si.pmts.count(program.serviceId));
        const DecodedService::Pmt& pmt = si.pmts.at(program.serviceId);
        EXPECT_EQ(program.videoPid, pmt.pcrPid);
        EXPECT_EQ((std::vector<std::pair<U8, U16>>{{0x02, program.videoPid}, {0x04, program.audioPid}}), pmt.streams);
        ASSERT_TRUE(si.sdtNames.count(program.serviceId));
        EXPECT_EQ(std::make_pair(std::string(kSimPlanProvider), std::string(program.name)),
                  si.sdtNames.at(program.serviceId));
    }

    // The EIT board's last list, followed by its end command, holds the same
    // programs. (An empty list came first, when the EIT board was announced.)
    const std::vector<SimReceivedMessage> received = chassis.Take();
    auto last = std::find_if(received.rbegin(), received.rend(), [&](const SimReceivedMessage& m) {
        return m.slot == plan.eitSlot && m.command == IPCOMM_SEND_EITINFO;
    });
    ASSERT_NE(received.rend(), last);
    ASSERT_NE(received.rbegin(), last);
    const SimReceivedMessage& over = *std::prev(last);
    EXPECT_EQ(IPCOMM_SEND_EITINFO_OVER, over.command);
    EXPECT_EQ(plan.eitSlot, over.slot);
    EXPECT_EQ(plan.cardSlot, last->fromSlot);
    ASSERT_EQ(4 + kSimPlanPrograms.size() * kEitRecordSize, last->data.size());
    ASSERT_EQ(kSimPlanPrograms.size(), GetLe32(last->data.data()));
    for (std::size_t i = 0; i < kSimPlanPrograms.size(); ++i) {
        const SimPlanProgram& program = kSimPlanPrograms[i];
        const Output_EIT record = EIT_Parse(last->data.data() + 4 + i * kEitRecordSize);
        SCOPED_TRACE(program.name);
        EXPECT_EQ(program.serviceId, record.u16ServiceID);
        EXPECT_EQ(program.serviceId, record.u16OldServiceID);
        EXPECT_EQ(program.programId, record.u16ProgramID);
        EXPECT_EQ(std::string(program.name),
                  std::string(record.aru8ServiceName.begin(), record.aru8ServiceName.begin() + record.u8ServiceNameLen));
        EXPECT_EQ(plan.inputSlot, record.u8SourceSlotID);
        EXPECT_EQ(kSimPlanOutputChannel, record.u16ChannelID);
        EXPECT_EQ(kSimPlanTransportStreamId, record.u16TransportStreamID);
        EXPECT_EQ(i, record.u16Index);
    }

    // What a user of chassis-sim reads: the card's answers and the decoded list.
    EXPECT_TRUE(Printed("IPCOMM_SEND_PROGRAM (260), " + std::to_string(1 + 3 * sizeof(Output_TSProgram)) +
                        " bytes in 2 packets"));
    EXPECT_TRUE(Printed("EIT list: 3 records"));
    EXPECT_TRUE(Printed("'HX Movies', provider 'HX Sim'"));
    EXPECT_TRUE(Printed("plug mask 0x00a8: slots 3 5 7"));
}

}  // namespace
}  // namespace hx
