// The simulated chassis against the card's real inter-board server, over
// loopback TCP: the back board announces the boards, the input card sends its
// stream of three programs and the apply command, and afterwards the SI the
// card queued (read back with libdvbpsi from what the simulated FPGA inserted)
// and the EIT list the EIT board received both describe those programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "chassis/eit_list.h"
#include "chassis/ipcomm_cmd.h"
#include "core/common_fun.h"
#include "core/run_profile.h"
#include "engine/model_records.h"
#include "platform/resource.h"
#include "si/si_packet.h"
#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"
#include "support/card_server.h"
#include "support/model_builder.h"
#include "support/psi_decoder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

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
        server.emplace(chassis.port(), Profile().interBoardServerTimeoutMs);
        ASSERT_EQ(chassis.port(), server->port());
        plan.port = chassis.port();
        plan.cardSlot = Status_GetSlotID();
    }
    void TearDown() override {
        server.reset();
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
    std::optional<test::CardServer> server;
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
    const std::unique_ptr<test::PsiDecoder> si = test::DecodeWithPmts(ChannelPackets(kSimPlanOutputChannel));
    EXPECT_TRUE(si->Problems().empty()) << si->Problems().front();
    ASSERT_FALSE(si->patTables.empty());
    ASSERT_FALSE(si->sdts.empty());
    const std::vector<std::pair<U16, U16>>& pat = si->patTables.back().programs;
    const test::DecodedSdt& sdt = si->sdts.back();
    ASSERT_EQ(kSimPlanPrograms.size(), pat.size());
    EXPECT_EQ(kSimPlanTransportStreamId, sdt.transportStreamId);
    EXPECT_EQ(kSimPlanNetworkId, sdt.originalNetworkId);
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        SCOPED_TRACE(program.name);
        const auto entry = std::find_if(pat.begin(), pat.end(), [&](const auto& e) { return e.first == program.serviceId; });
        ASSERT_NE(pat.end(), entry);
        EXPECT_EQ(program.pmtPid, entry->second);
        const auto pmt = std::find_if(si->pmts.begin(), si->pmts.end(),
                                      [&](const test::DecodedPmt& p) { return p.program == program.serviceId; });
        ASSERT_NE(si->pmts.end(), pmt);
        EXPECT_EQ(program.videoPid, pmt->pcrPid);
        EXPECT_EQ((std::vector<std::pair<U8, U16>>{{0x02, program.videoPid}, {0x04, program.audioPid}}), pmt->streams);
        const auto service = std::find_if(sdt.services.begin(), sdt.services.end(),
                                          [&](const test::DecodedSdtService& s) { return s.serviceId == program.serviceId; });
        ASSERT_NE(sdt.services.end(), service);
        EXPECT_EQ(std::make_pair(std::string(kSimPlanProvider), std::string(program.name)),
                  test::ServiceDescriptorNames(*service));
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
