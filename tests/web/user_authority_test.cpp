#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/user_authority.h"
#include "web/user_authority_fixture.h"

namespace hx {
namespace {

using test::kRefuseModify;
using test::Message;
using test::Receive;
using test::UserAuthorityTest;

TEST_F(UserAuthorityTest, EveryRightIsGrantedBeforeAnyMessage) {
    EXPECT_TRUE(VKUser_GetUser_BoardLevel_ModifyAuthority());
    EXPECT_TRUE(isUserModifyAuthority);
    for (const U32 index : {0u, 1u, 255u}) {
        const stAccessModifyEn right = VKUser_GetAuthorityEntry(index);
        EXPECT_EQ(257, right.u16AuthorityId);
        EXPECT_EQ(1, right.u8ViewEnable);
        EXPECT_EQ(1, right.u8ModifyEnable);
    }
}

TEST_F(UserAuthorityTest, TheBoardRightOfThisSlotRefusesModification) {
    EXPECT_EQ(0u, Receive(kRefuseModify));
    EXPECT_FALSE(VKUser_GetUser_BoardLevel_ModifyAuthority());
    EXPECT_FALSE(isUserModifyAuthority);
    const stAccessModifyEn right = VKUser_GetAuthorityEntry(0);
    EXPECT_EQ(768, right.u16AuthorityId);
    EXPECT_EQ(1, right.u8ViewEnable);
    EXPECT_EQ(0, right.u8ModifyEnable);
    EXPECT_EQ(257, VKUser_GetAuthorityEntry(1).u16AuthorityId) << "rights not named stay granted";
}

// Each row starts from a table that refuses modification, so a row that
// expects the right granted shows the receipt granting it again.
struct RightsCase {
    const char* name;
    std::string text;
    U32 result;
    bool modifyGranted;
    const char* logText;
};

void PrintTo(const RightsCase& c, std::ostream* out) { *out << c.name; }

class UserAuthorityMessageTest : public UserAuthorityTest, public ::testing::WithParamInterface<RightsCase> {};

TEST_P(UserAuthorityMessageTest, ResultAndBoardLevelRight) {
    const RightsCase& c = GetParam();
    ASSERT_EQ(0u, Receive(kRefuseModify));
    ASSERT_FALSE(VKUser_GetUser_BoardLevel_ModifyAuthority());
    env.TakeConsole();
    EXPECT_EQ(c.result, Receive(c.text));
    EXPECT_EQ(c.modifyGranted, static_cast<bool>(VKUser_GetUser_BoardLevel_ModifyAuthority()));
    EXPECT_TRUE(Logged(c.logText)) << env.Console();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UserAuthorityMessageTest,
    ::testing::Values(
        RightsCase{"IdOfSlotZeroChangesNothing", Message(R"({"AuthorityId":0,"ViewEnable":1,"ModifyEnable":0})"), 0,
                   true, ""},
        RightsCase{"ModifyWithoutViewKeepsTheGrant", Message(R"({"AuthorityId":768,"ModifyEnable":0})"), 0, true, ""},
        RightsCase{"IdNotANumberIsSkipped", Message(R"({"AuthorityId":"768","ViewEnable":1,"ModifyEnable":0})"), 0,
                   true, ""},
        RightsCase{"UserNameNotAStringIsSkipped",
                   Message(R"({"AuthorityId":768,"ViewEnable":1,"ModifyEnable":0})", R"("UserName":7)"), 0, true, ""},
        RightsCase{"IdTakenModulo65536", Message(R"({"AuthorityId":66304,"ViewEnable":1,"ModifyEnable":0})"), 0,
                   false, ""},
        RightsCase{"NegativeIdTakenModulo65536", Message(R"({"AuthorityId":-64768,"ViewEnable":1,"ModifyEnable":0})"),
                   0, false, ""},
        RightsCase{"FlagsTakeTheirLowEightBits", Message(R"({"AuthorityId":768,"ViewEnable":1,"ModifyEnable":257})"),
                   0, true, ""},
        RightsCase{"FlagOf256IsZero", Message(R"({"AuthorityId":768,"ViewEnable":1,"ModifyEnable":256})"), 0, false,
                   ""},
        RightsCase{"HugeNumbersAreDefined",
                   Message(R"({"AuthorityId":1e300,"ViewEnable":-1e300,"ModifyEnable":1e999})"), 0, true, ""},
        RightsCase{"LaterUserOverwritesEarlier",
                   R"({"data":[{"UserName":"a","Authoritylist":[{"AuthorityId":768,"ViewEnable":1,"ModifyEnable":0}]},)"
                   R"({"UserName":"b","Authoritylist":[{"AuthorityId":768,"ViewEnable":1,"ModifyEnable":1}]}]})",
                   0, true, ""},
        RightsCase{"MemberNamesIgnoreCase", R"({"DATA":[{"username":"op","AUTHORITYLIST":[{"authorityid":768,)"
                                            R"("viewenable":1,"modifyenable":0}]}]})",
                   0, false, ""},
        RightsCase{"NotJson", "{\"data\":[", 1, true, "cJSON_Parse err"},
        RightsCase{"NoData", R"({"info":[]})", 0xFFFFFFFF, true, "cJSON_GetObjectItem err"},
        RightsCase{"DataNotAnArray", R"({"data":{}})", 0xFFFFFFFF, true, "cJSON_GetObjectItem err"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserAuthorityTest, AbsentTextRestoresEveryRight) {
    ASSERT_EQ(0u, Receive(kRefuseModify));
    EXPECT_EQ(1u, VKUser_RecvUserAuthority(nullptr, 0));
    EXPECT_TRUE(Logged("VKUser_RecvUserAuthority:"));
    EXPECT_TRUE(Logged("input nullptr"));
    EXPECT_TRUE(VKUser_GetUser_BoardLevel_ModifyAuthority());
}

TEST_F(UserAuthorityTest, ParsesExactlyThePayloadLength) {
    // No terminating zero after the text: the parser must stop at the length.
    std::vector<char> payload(kRefuseModify.begin(), kRefuseModify.end());
    EXPECT_EQ(0u, VKUser_RecvUserAuthority(payload.data(), static_cast<U32>(payload.size())));
    EXPECT_FALSE(VKUser_GetUser_BoardLevel_ModifyAuthority());
    const std::string withTail = kRefuseModify + "garbage";
    EXPECT_EQ(0u, VKUser_RecvUserAuthority(withTail.data(), static_cast<U32>(kRefuseModify.size())));
    EXPECT_EQ(1u, VKUser_RecvUserAuthority(kRefuseModify.data(), 10)) << "a cut text is not JSON";
}

}  // namespace
}  // namespace hx
