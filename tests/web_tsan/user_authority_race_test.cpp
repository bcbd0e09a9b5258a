// The rights receipt (the inter-board server's thread) against the modify
// check (the HTTP thread): a receipt is built aside and swapped in, so a check
// never sees the table between the old rights and the new.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "web/user_authority.h"
#include "web/user_authority_fixture.h"

namespace hx {
namespace {

using test::kRefuseModify;
using test::Receive;
using test::UserAuthorityTest;

TEST_F(UserAuthorityTest, AChecksNeverSeesTheGrantedInterimOfAReceipt) {
    ASSERT_EQ(0u, Receive(kRefuseModify));
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        for (int i = 0; i < 2000; ++i) {
            Receive(kRefuseModify);
        }
        done = true;
    });
    int granted = 0;
    while (!done) {
        granted += VKUser_GetUser_BoardLevel_ModifyAuthority() ? 1 : 0;
    }
    receiver.join();
    EXPECT_EQ(0, granted);
}

}  // namespace
}  // namespace hx
