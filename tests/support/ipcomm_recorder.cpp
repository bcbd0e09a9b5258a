#include "support/ipcomm_recorder.h"

#include <gtest/gtest.h>

#include "chassis/ipcomm_client.h"
#include "core/err.h"
#include "core/run_profile.h"
#include "platform/resource.h"

namespace hx {

namespace {
test::ChassisPeers* g_current = nullptr;
}

std::vector<IPCommRecordedSend> IPComm_TakeRecordedSends() {
    std::vector<IPCommRecordedSend> sends;
    if (g_current == nullptr) {
        ADD_FAILURE() << "no ChassisPeers in this test";
        return sends;
    }
    for (SimReceivedMessage& message : g_current->chassis().Take()) {
        sends.push_back(IPCommRecordedSend{message.slot, message.command, std::move(message.data)});
    }
    return sends;
}

void IPComm_FailNextSends(U32 code, U32 count) {
    if (g_current == nullptr) {
        ADD_FAILURE() << "no ChassisPeers in this test";
        return;
    }
    if (code != 0 && code != VK_ERR_IPCOMM_TIME_OUT) {
        ADD_FAILURE() << "only 1540 can be injected as a send failure";
    }
    g_current->chassis().FailNextExchanges(code == 0 ? 0 : count * kIPCommMaxFailedAttempts);
}

namespace test {

ChassisPeers::ChassisPeers() {
    std::vector<U32> slots;
    for (U32 slot = 0; slot <= 16; ++slot) {
        slots.push_back(slot);
    }
    EXPECT_TRUE(chassis_.Start(slots, 0));
    RunProfile profile = Profile();
    profile.interBoardPort = chassis_.port();
    SetProfile(profile);
    AssignAddresses();
    g_current = this;
}

ChassisPeers::~ChassisPeers() {
    g_current = nullptr;
    chassis_.Stop();
}

void ChassisPeers::AssignAddresses() {
    for (U32 slot = 0; slot <= 16; ++slot) {
        if (TResource_TS* record = Resource_GetHandle(slot)) {
            record->u32IPAddress = SimBoardAddress(slot);
        }
    }
}

}  // namespace test
}  // namespace hx
