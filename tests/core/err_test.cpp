#include <gtest/gtest.h>

#include <string>

#include "core/err.h"
#include "support/test_env.h"

namespace hx {
namespace {

class ErrTest : public ::testing::Test {
protected:
    void TearDown() override { g_enLanguage = EN_LANGUAGE_EN; }
    test::TestEnvironment env;
};

struct TextCase {
    U32 code;
    U32 language;
    const char* text;
};

TEST_F(ErrTest, TextsByCodeAndLanguage) {
    const TextCase cases[] = {
        {0, EN_LANGUAGE_CN, "成功"},
        {0, EN_LANGUAGE_FR, "Success!"},
        {1, EN_LANGUAGE_CN, "失败"},
        {4, EN_LANGUAGE_CN, "参数错误"},
        {16, EN_LANGUAGE_EN, "Hardware version  does not match"},
        {775, EN_LANGUAGE_GER, "Get wrong parameters from server-side!"},
        {1035, EN_LANGUAGE_EN, "User does not have the permission to modify the module"},
        {0x30017, EN_LANGUAGE_EN, "PID Conflict!"},
        {0x30017, EN_LANGUAGE_CN, "PID冲突"},
        {0x30024, EN_LANGUAGE_CN, "节目号冲突"},
        {2310, EN_LANGUAGE_CN, "NIT表不存在"},
        {2310, EN_LANGUAGE_ES, "NIT does not exist"},
        // Members without a row, and module codes, give the empty text.
        {1537, EN_LANGUAGE_EN, ""},
        {2054, EN_LANGUAGE_CN, ""},
        {0xC0000, EN_LANGUAGE_EN, ""},
        {0xC0000, EN_LANGUAGE_CN, ""},
        {0xFFFFFFFE, EN_LANGUAGE_IT, ""},
    };
    for (const TextCase& c : cases) {
        ASSERT_EQ(0, err_SetLanguage(c.language));
        const char* text = err_GetErrCodeString(c.code);
        ASSERT_NE(nullptr, text) << c.code;
        EXPECT_STREQ(c.text, text) << "code " << c.code << " language " << c.language;
    }
}

TEST_F(ErrTest, EveryRowHasBothTextsAndTheSentinelIsLast) {
    for (std::size_t row = 0; row + 1 < g_stErrArrayRows; ++row) {
        EXPECT_NE('\0', g_stErrArray[row].arcEnglish[0]) << row;
        EXPECT_NE('\0', g_stErrArray[row].arcChinese[0]) << row;
    }
    EXPECT_EQ(0xFFFFFFFFu, g_stErrArray[g_stErrArrayRows - 1].u32ErrCode);
}

TEST_F(ErrTest, LanguageBounds) {
    EXPECT_EQ(0, err_SetLanguage(EN_LANGUAGE_GER));
    EXPECT_EQ(-1, err_SetLanguage(EN_LANGUAGE_MAX));
    EXPECT_EQ(EN_LANGUAGE_GER, err_GetLanguage()) << "a refused language leaves the old one";

    log_Init(kMainLogPath);
    env.TakeConsole();
    g_enLanguage = EN_LANGUAGE_MAX;  // as if a stored value were out of range
    EXPECT_EQ(nullptr, err_GetErrCodeString(0));
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find("[ERROR][SYS]"));
    EXPECT_NE(std::string::npos, console.find("Can't support this lanuage [6]!"));
}

}  // namespace
}  // namespace hx
