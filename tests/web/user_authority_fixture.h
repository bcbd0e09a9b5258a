// The user-rights table of a board in slot 3 (rights 768-1023), every right
// granted as at start-up, and the back board's rights message as text.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/resource.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"

namespace hx::test {

// A message naming one right of this board (slot 3: ids 768-1023).
inline std::string Message(const std::string& entries, const std::string& user = R"("UserName":"op")") {
    return R"({"data":[{)" + user + R"(,"Authoritylist":[)" + entries + "]}]}";
}

inline const std::string kRefuseModify = Message(R"({"AuthorityId":768,"ViewEnable":1,"ModifyEnable":0})");

inline U32 Receive(const std::string& text) { return VKUser_RecvUserAuthority(text.data(), static_cast<U32>(text.size())); }

class UserAuthorityTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = 3;  // what simulated register 16 reads
        SetProfile(profile);
        board.emplace();  // the slot register answers from the profile
        Status_Init();
        log_Init(kMainLogPath);
        VKUser_InitUserAuthority();
    }
    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }
    TestEnvironment env;
    std::optional<SimBoard> board;
};

}  // namespace hx::test
