// Input cards over the inter-board link: the simulated input card's messages,
// cut into packets of 1,400 data bytes as a card sends them, through the
// card's server, reassembly and dispatcher over loopback TCP into the live
// output model.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_packet.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "sim/input_card_messages.h"
#include "support/card_server.h"
#include "support/input_card_model.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr U32 kLoopback = 0x7F000001;

class InputCardLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.emplace();
        ASSERT_NE(0, server->port());
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
        }
    }
    void TearDown() override {
        server.reset();
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 0;
        }
    }

    // The reply to the message's last packet, each packet on its own connection.
    U16 Send(const InputCardMessage& message, U8 slot = 3) {
        const std::size_t size = message.payload.size();
        const U32 packets = static_cast<U32>(std::max<std::size_t>(1, (size + kIPCommMaxData - 1) / kIPCommMaxData));
        U16 reply = 0;
        for (U32 i = 0; i < packets; ++i) {
            const std::size_t first = i * kIPCommMaxData;
            const U32 length = static_cast<U32>(std::min<std::size_t>(kIPCommMaxData, size - first));
            const IPCommExchange outcome = IPComm_ExchangeOnce(kLoopback, server->port(), slot, message.command,
                                                               message.payload.data() + first, length, i, packets,
                                                               &reply);
            EXPECT_TRUE(outcome == IPCommExchange::Success || outcome == IPCommExchange::ErrorReply);
        }
        return reply;
    }

    std::size_t ValidPrograms() {
        TSP_ModelLock lock;
        std::size_t count = 0;
        for (U32 i = 0; i < TSP_GetTSParam()->u32OutputProgramNumber; ++i) {
            count += TSP_GetTSParam()->pOutputProgram[i].u8ValidFlag == kRecordValid;
        }
        return count;
    }

    test::TestEnvironment env;
    test::ScopedSharedModels models;
    std::optional<test::CardServer> server;
};

TEST_F(InputCardLinkTest, AModelArrivesMessageByMessage) {
    const test::InputCardModel model = test::MakeInputCardModel(48);
    for (const InputCardMessage& message : model.build) {
        ASSERT_EQ(IPCOMM_SUCCESS_CMD, Send(message)) << "command " << message.command;
    }
    EXPECT_EQ(48u, ValidPrograms());
    {
        TSP_ModelLock lock;
        EXPECT_EQ("", test::DescribeViolations(test::CheckModel(*TSP_GetTSParam())));
    }
    // The same programs again in several packets: the last packet's reply
    // says the message was refused.
    const InputCardMessage& programs = model.build.front();
    ASSERT_GT(programs.payload.size(), kIPCommMaxData);
    EXPECT_EQ(IPCOMM_DATA_ERROR, Send(programs));
    // In one packet a refused message is still acknowledged.
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Send({IPCOMM_SEND_PROGRAM, {0}}));
    testing::internal::CaptureStdout();  // the delete orders are announced there
    for (const InputCardMessage& message : model.remove) {
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, Send(message));
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, ValidPrograms());
}

}  // namespace
}  // namespace hx
