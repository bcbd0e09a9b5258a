// The reply shapes byte for byte, the token check, the common handler shape
// (rights, reply buffer, parse, token, operation) and the typed reads.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/err.h"
#include "http/http_test_util.h"
#include "platform/chassis_info.h"
#include "web/user_authority_fixture.h"
#include "web/web_reply.h"
#include "web/web_request.h"
#include "web/web_slot.h"

namespace hx {
namespace {

// The body of the request being handled, as the dispatcher leaves it.
void SetBody(const char* text) {
    freeRevData();
    if (text != nullptr) {
        g_ps8RevData = static_cast<char*>(std::malloc(std::strlen(text) + 1));
        std::strcpy(g_ps8RevData, text);
    }
}

class WebReply : public test::UserAuthorityTest {
protected:
    void SetUp() override {
        test::UserAuthorityTest::SetUp();
        env.FailOnUnexpectedErrors();
    }
    void TearDown() override {
        freeRevData();
        err_SetLanguage(EN_LANGUAGE_EN);
        ChassisInfo_Reset();
    }
    // Runs the common shape over `body`; the result, the reply and whether the
    // operation ran.
    struct Outcome {
        U32 result;
        std::string reply;
        bool ran;
    };
    Outcome Handle(const char* body, WebHandlerRules rules, U32 operationResult = 0) {
        SetBody(body);
        test::BufferPtr reply = test::NewBuffer();
        bool ran = false;
        const U32 result = web_HandleRequest(reply.get(), rules, [&](cJSON* tree, buffer* out) {
            ran = true;
            EXPECT_NE(tree, nullptr);
            if (operationResult == 0) {
                web_processSuccess(out);
            }
            return operationResult;
        });
        return {result, test::Text(reply.get()), ran};
    }
};

TEST_F(WebReply, RepliesAreCJsonsFormattedPrint) {
    test::BufferPtr reply = test::NewBuffer("left from before");
    EXPECT_EQ(web_processSuccess(reply.get()), 0u);
    EXPECT_EQ(test::Text(reply.get()), "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}");

    EXPECT_EQ(web_processErr(reply.get(), 774, "SetTsParam.w"), 0u);
    EXPECT_EQ(test::Text(reply.get()), "{\n\t\"code\":\t774,\n\t\"description\":\t\"Web sent wrong parameters!\"\n}");
    // A code without a text still gets its description member.
    EXPECT_EQ(web_processErr(reply.get(), 4242, "x"), 0u);
    EXPECT_EQ(test::Text(reply.get()), "{\n\t\"code\":\t4242,\n\t\"description\":\t\"\"\n}");

    cJSON* data = cJSON_CreateObject();
    cJSON_AddNumberToObject(data, "slot", 3);
    EXPECT_EQ(web_ReplyData(reply.get(), data), 0u);
    EXPECT_EQ(test::Text(reply.get()),
              "{\n\t\"code\":\t0,\n\t\"description\":\tnull,\n\t\"data\":\t{\n\t\t\"slot\":\t3\n\t}\n}");
    EXPECT_EQ(web_ReplyData(reply.get(), cJSON_CreateArray(), "SUCCESS"), 0u);
    EXPECT_EQ(test::Text(reply.get()), "{\n\t\"code\":\t0,\n\t\"description\":\t\"SUCCESS\",\n\t\"data\":\t[]\n}");
}

TEST_F(WebReply, NoReplyBufferIs775AndNothingLeaks) {
    EXPECT_EQ(web_processSuccess(nullptr), 775u);
    EXPECT_EQ(web_processErr(nullptr, 774, "x"), 775u);
    EXPECT_EQ(web_ReplyData(nullptr, cJSON_CreateObject()), 775u);
    _web_addToWriteBuff(cJSON_CreateObject(), nullptr);
    test::BufferPtr reply = test::NewBuffer("kept");
    _web_addToWriteBuff(nullptr, reply.get());
    EXPECT_EQ(test::Text(reply.get()), "kept");
}

TEST_F(WebReply, RightsRefusalIs1035InTheBoardsLanguage) {
    ASSERT_EQ(test::Receive(test::kRefuseModify), 0u);
    const struct {
        U32 language;
        const char* text;
    } cases[] = {
        {EN_LANGUAGE_EN, "User does not have the permission to modify the module"},
        {EN_LANGUAGE_CN, "用户没有修改该模块的权限"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(err_SetLanguage(c.language), 0);
        // Refused before the reply buffer or the body is looked at.
        const Outcome refused = Handle("not json", {.modifyRight = true});
        EXPECT_EQ(refused.result, 1035u);
        EXPECT_FALSE(refused.ran);
        test::BufferPtr reply = test::NewBuffer();
        web_processErr(reply.get(), refused.result, "SetSubboardParam.w");
        EXPECT_EQ(test::Text(reply.get()),
                  std::string("{\n\t\"code\":\t1035,\n\t\"description\":\t\"") + c.text + "\"\n}");
    }
    // Requests without the rule still run.
    EXPECT_TRUE(Handle(R"({"token":"t"})", {}).ran);
}

TEST_F(WebReply, CommonShapeChecksInOrderAndFreesTheTree) {
    const struct {
        const char* body;
        WebHandlerRules rules;
        U32 operationResult;
        U32 result;
        bool ran;
    } cases[] = {
        {R"({"token":"t"})", {.modifyRight = true}, 0, 0, true},
        {R"({"token":""})", {}, 0, 0, true},
        {R"({"TOKEN":"t"})", {}, 0, 0, true},
        {R"({"token":5})", {}, 0, 774, false},
        {R"({"token":null})", {}, 0, 774, false},
        {R"({"token":["t"]})", {}, 0, 774, false},
        {R"({})", {}, 0, 774, false},
        {R"({})", {.token = false}, 0, 0, true},
        {"", {.token = false}, 0, 774, false},
        {nullptr, {.token = false}, 0, 774, false},
        {R"({"token":"t")", {}, 0, 774, false},
        {R"({"token":"t"})", {}, 2054, 2054, true},
    };
    for (const auto& c : cases) {
        const Outcome outcome = Handle(c.body, c.rules, c.operationResult);
        const std::string what = c.body != nullptr ? c.body : "<no body>";
        EXPECT_EQ(outcome.result, c.result) << what;
        EXPECT_EQ(outcome.ran, c.ran) << what;
        EXPECT_EQ(outcome.reply.empty(), !(c.ran && c.operationResult == 0)) << what;
    }
    SetBody(R"({"token":"t"})");
    EXPECT_EQ(web_HandleRequest(nullptr, {}, [](cJSON*, buffer*) { return 0u; }), 775u);
}

TEST_F(WebReply, ChassisTypeFromABodyRenumbersLaterRequests) {
    const U32 hardwareSlot = 12;
    EXPECT_EQ(Web_GetWebSlot(Web_GetZELType(), hardwareSlot), 12);

    const struct {
        const char* body;
        U8 type;
    } cases[] = {
        {R"({"token":"t","chassistype":1})", 1},
        {R"({"token":"t"})", 1},  // kept until a request carries it again
        {R"({"token":"t","chassistype":"0"})", 1},
        {R"({"token":"t","chassistype":false})", 1},
        {R"({"token":"t","ChassisType":0})", 0},
        {R"({"token":"t","chassistype":257})", 1},  // its low 8 bits
        {R"({"token":5,"chassistype":0})", 1},      // refused before it is read
    };
    for (const auto& c : cases) {
        Handle(c.body, {});
        EXPECT_EQ(Web_GetZELType(), c.type) << c.body;
    }
    EXPECT_EQ(Web_GetWebSlot(Web_GetZELType(), hardwareSlot), 3);
    EXPECT_EQ(Web_GetRealSlot(Web_GetZELType(), 3), 12);
    EXPECT_EQ(Web_GetWebSlot(1, 3), kNoSlot);
    // A slot number beyond 8 bits names no slot rather than a wrapped one.
    EXPECT_EQ(Web_GetWebSlot(0, 256 + 12), kNoSlot);
    EXPECT_EQ(Web_GetRealSlot(0, 256 + 3), kNoSlot);
    EXPECT_EQ(_web_checkToken(nullptr), 774u);
}

TEST_F(WebReply, TypedReadsTakeOnlyTheirJsonType) {
    cJSON* body = cJSON_Parse(R"({"int":5.7,"neg":-2.9,"flag":true,"text":"5","Mixed":7,"big":1e999,)"
                              R"("rate":1024.003,"top":4294967295.4,"over":4294967295.5,"minus":-1,"small":-0.4,)"
                              R"("list":[1],"obj":{},"huge":1e300})");
    ASSERT_NE(body, nullptr);
    int integer = 0;
    EXPECT_TRUE(web_ReadInt(body, "int", &integer));
    EXPECT_EQ(integer, 5);
    EXPECT_TRUE(web_ReadInt(body, "neg", &integer));
    EXPECT_EQ(integer, -2);
    EXPECT_TRUE(web_ReadInt(body, "mixed", &integer));
    EXPECT_EQ(integer, 7);
    EXPECT_FALSE(web_ReadInt(body, "flag", &integer));
    EXPECT_FALSE(web_ReadInt(body, "text", &integer));
    EXPECT_FALSE(web_ReadInt(body, "missing", &integer));
    double number = 0;
    EXPECT_TRUE(web_ReadDouble(body, "rate", &number));
    EXPECT_DOUBLE_EQ(number, 1024.003);
    EXPECT_FALSE(web_ReadDouble(body, "flag", &number));

    const struct {
        const char* key;
        std::optional<U32> value;
    } rounded[] = {
        {"int", 6}, {"top", 4294967295u}, {"over", std::nullopt}, {"big", std::nullopt},
        {"minus", std::nullopt}, {"small", 0}, {"flag", std::nullopt}, {"text", std::nullopt},
    };
    for (const auto& c : rounded) {
        U32 value = 99;
        EXPECT_EQ(web_ReadU32Rounded(body, c.key, &value), c.value.has_value()) << c.key;
        EXPECT_EQ(value, c.value.value_or(99)) << c.key;
    }

    const struct {
        const char* key;
        std::optional<long long> value;
    } whole[] = {
        {"Mixed", 7}, {"int", std::nullopt}, {"minus", std::nullopt}, {"big", std::nullopt},
        {"huge", std::nullopt}, {"flag", std::nullopt},
    };
    for (const auto& c : whole) {
        long long value = 99;
        EXPECT_EQ(web_ReadWholeInt(body, c.key, 0, 31, &value), c.value.has_value()) << c.key;
        EXPECT_EQ(value, c.value.value_or(99)) << c.key;
    }
    long long value = 0;
    EXPECT_TRUE(web_ReadWholeInt(body, "minus", -1, 0, &value));
    EXPECT_EQ(value, -1);
    EXPECT_FALSE(web_ReadWholeInt(body, "Mixed", 0, 6, &value));

    EXPECT_STREQ(web_ReadString(body, "TEXT"), "5");
    EXPECT_EQ(web_ReadString(body, "int"), nullptr);
    EXPECT_NE(web_ReadArray(body, "list"), nullptr);
    EXPECT_EQ(web_ReadArray(body, "obj"), nullptr);
    EXPECT_NE(web_ReadObject(body, "obj"), nullptr);
    EXPECT_EQ(web_ReadObject(body, "list"), nullptr);
    cJSON_Delete(body);
}

}  // namespace
}  // namespace hx

namespace hx {
namespace {

std::string PrintedAndFreed(cJSON* tree) {
    char* text = cJSON_Print(tree);
    std::string printed = text;
    std::free(text);
    cJSON_Delete(tree);
    return printed;
}

// A whole number added as its digits prints exactly as cJSON prints the
// number itself, at the edges of the shortcut and past them.
TEST(WebWholeNumber, PrintsAsCJsonPrintsTheNumber) {
    const long long values[] = {0,           1,  -1,        255,      65535,  4294967295LL, -2147483648LL,
                                999'999'999'999'999LL, -999'999'999'999'999LL, 1'000'000'000'000'000LL,
                                123'456'789'012'345'678LL};
    for (const long long value : values) {
        cJSON* ours = cJSON_CreateObject();
        web_AddWholeNumber(ours, "n", value);
        cJSON* theirs = cJSON_CreateObject();
        cJSON_AddItemToObject(theirs, "n", cJSON_CreateNumber(static_cast<double>(value)));
        EXPECT_EQ(PrintedAndFreed(theirs), PrintedAndFreed(ours)) << value;
    }
}

}  // namespace
}  // namespace hx
