#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/err.h"
#include "support/test_env.h"
#include "web/user_accounts.h"

namespace hx {
namespace {

class UserAccountsTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_Init(kMainLogPath);
        env.WriteText(kUserFilePath, "");
    }
    std::string File() { return env.ReadText(kUserFilePath); }
    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }
    test::TestEnvironment env;
};

TEST_F(UserAccountsTest, AddCheckModifyDeleteRoundTripThroughTheFile) {
    EXPECT_EQ(0u, user_AddUser("alice", "secret1"));
    EXPECT_EQ(0u, web_RegistUser("bob", "12345678901234567890"));
    EXPECT_EQ("alice:secret1\nbob:12345678901234567890\n", File());
    EXPECT_TRUE(Logged("[user_SaveUser]"));
    EXPECT_TRUE(Logged("Line = alice:secret1"));

    EXPECT_EQ(0u, web_CheckUser("alice", "secret1"));
    EXPECT_EQ(VK_ERR_USER_PWD_ERR, user_CheckUser("alice", "secret2"));
    EXPECT_EQ(0u, web_ModifyPasswd("alice", "secret2"));
    EXPECT_EQ(0u, user_CheckUser("alice", "secret2"));

    EXPECT_EQ(0u, web_DelUser("alice"));
    EXPECT_EQ("bob:12345678901234567890\n", File());
    EXPECT_EQ(VK_ERR_USER_NOT_EXIST, user_CheckUser("alice", "secret2"));
    EXPECT_TRUE(Logged("User not exist!"));
    EXPECT_EQ(VK_ERR_USER_NOT_EXIST, user_DelUser("alice"));
    EXPECT_EQ(VK_ERR_USER_NOT_EXIST, user_ModifyUser("alice", "secret3"));
}

TEST_F(UserAccountsTest, LimitsAndDuplicates) {
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(0u, user_AddUser(("user" + std::to_string(i)).c_str(), "password"));
    }
    EXPECT_EQ(VK_ERR_USER_FULL, user_AddUser("eleventh", "password"));
    EXPECT_TRUE(Logged("User is full!"));
    EXPECT_EQ(0u, user_DelUser("user3"));
    EXPECT_EQ(VK_ERR_USER_EXIST, user_AddUser("user4", "password"));
    EXPECT_TRUE(Logged("User exist!"));
    EXPECT_EQ(0u, user_AddUser("eleventh", "password"));
}

struct RefusalCase {
    const char* name;
    std::string user;
    std::string password;
    U32 result;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class UserAccountsRefusalTest : public UserAccountsTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(UserAccountsRefusalTest, RefusedAndTheFileUnchanged) {
    const RefusalCase& c = GetParam();
    ASSERT_EQ(0u, user_AddUser("alice", "secret1"));
    const std::string before = File();
    EXPECT_EQ(c.result, user_AddUser(c.user.c_str(), c.password.c_str()));
    // Cases about the password change alice's; cases about the name use it.
    const std::string modified = c.user == "carol" ? "alice" : c.user;
    EXPECT_EQ(c.result, user_ModifyUser(modified.c_str(), c.password.c_str()));
    EXPECT_EQ(before, File());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UserAccountsRefusalTest,
    ::testing::Values(RefusalCase{"OneCharacterName", "a", "password", VK_ERR_USER_LEN_ERROR},
                      RefusalCase{"TwentyOneCharacterName", std::string(21, 'n'), "password", VK_ERR_USER_LEN_ERROR},
                      RefusalCase{"OneCharacterPassword", "carol", "p", VK_ERR_USER_LEN_ERROR},
                      RefusalCase{"NameWithLineBreak", "mal\nroot", "password", VK_ERR_PARAMS},
                      RefusalCase{"NameWithColon", "mal:root", "password", VK_ERR_PARAMS},
                      RefusalCase{"NameWithSpace", "mal root", "password", VK_ERR_PARAMS},
                      RefusalCase{"PasswordWithSpace", "carol", "pass word", VK_ERR_PARAMS},
                      RefusalCase{"PasswordWithLineBreak", "carol", "pass\nmal:x", VK_ERR_PARAMS},
                      RefusalCase{"PasswordWithControl", "carol", "pass\x01word", VK_ERR_PARAMS}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserAccountsTest, ColonInPasswordRoundTrips) {
    ASSERT_EQ(0u, user_AddUser("carol", "a:b:c"));
    EXPECT_EQ(0u, user_CheckUser("carol", "a:b:c"));
}

TEST_F(UserAccountsTest, ALineWithoutColonIsDroppedByTheNextSave) {
    env.WriteText(kUserFilePath, "alice:pw1\nnocolon\nbob:pw2\n");
    EXPECT_EQ(0u, user_AddUser("carol", "pw3"));
    EXPECT_EQ("alice:pw1\nbob:pw2\ncarol:pw3\n", File());
}

TEST_F(UserAccountsTest, ALongLineIsSkippedWholeNotReadAsASecondLine) {
    env.WriteText(kUserFilePath, "alice:pw1\n" + std::string(199, 'z') + "mallory:secret\nbob:pw2\n");
    EXPECT_EQ(VK_ERR_USER_NOT_EXIST, user_CheckUser("mallory", "secret"));
    EXPECT_EQ(0u, user_CheckUser("bob", "pw2"));
}

TEST_F(UserAccountsTest, AMissingFileFailsEveryOperationAndIsNotCreated) {
    std::filesystem::remove(env.Path(kUserFilePath));
    EXPECT_EQ(VK_ERR_USER_OPEN_FILE_ERROR, user_LoadUser());
    EXPECT_EQ(VK_ERR_USER_OPEN_FILE_ERROR, user_AddUser("alice", "secret1"));
    EXPECT_TRUE(Logged("Open user file error!"));
    EXPECT_TRUE(Logged("Load user file error!"));
    EXPECT_FALSE(std::filesystem::exists(env.Path(kUserFilePath)));
}

TEST_F(UserAccountsTest, ShowCopiesTheAccounts) {
    ASSERT_EQ(0u, user_AddUser("alice", "secret1"));
    ASSERT_EQ(0u, user_AddUser("bob", "secret2"));
    ST_USER_INFO users[kMaxUsers] = {};
    U32 count = 0;
    EXPECT_EQ(VK_ERR_PARAMS, web_ShowUser(nullptr, kMaxUsers, &count));
    EXPECT_TRUE(Logged("NULL Pointer!"));
    EXPECT_EQ(VK_ERR_PARAMS, user_ShowUser(users, 1, &count));
    EXPECT_TRUE(Logged("Params error!"));
    EXPECT_EQ(0u, user_ShowUser(users, kMaxUsers, &count));
    EXPECT_EQ(2u, count);
    EXPECT_STREQ("bob", reinterpret_cast<const char*>(users[1].u8UserName));
    EXPECT_STREQ("secret2", reinterpret_cast<const char*>(users[1].u8UserPasswd));
    EXPECT_EQ(1, users[1].isEnable);
    EXPECT_EQ(0, user_FindUser("alice"));
    EXPECT_EQ(-1, user_FindUser("nobody"));
    EXPECT_EQ(-1, user_FindUser(nullptr));
}

}  // namespace
}  // namespace hx
