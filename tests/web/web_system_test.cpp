// The system requests through the dispatcher, on the simulated board with
// its 160T: which requests need the modify right and the token, how the
// numbers of the register, debug, log view and log switch requests are
// taken (a number that does not fit is refused or counts 0, never wraps onto
// another register), the debug reply's 16 numbers, and the log clearing.
// The archives, the SSH switch, the erase flag, factory settings and reboot
// are driven from outside with curl (tests/web_tsan/system_requests_http_test.cpp).
#include <cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/command_runner.h"
#include "core/err.h"
#include "core/log.h"
#include "http/connection_internal.h"
#include "http/connection_test_server.h"
#include "http/http_test_util.h"
#include "platform/resource.h"
#include "sim/fpga160t.h"
#include "support/sim_160t.h"
#include "support/web_replies.h"
#include "web/user_authority.h"
#include "web/web_request.h"

namespace hx {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

constexpr U32 kOwnSlot = 3;  // the simulated board's default slot: rights 768-1023

std::string Formatted(const std::string& compact) { return test::FormattedJson(compact); }

// {"code": 0, "description": null, "data": [first, 0, ..., 0]}.
std::string DebugReply(U32 first) {
    std::string data = std::to_string(first);
    for (int i = 1; i < 16; ++i) {
        data += ",0";
    }
    return Formatted(R"({"code":0,"description":null,"data":[)" + data + "]}");
}

class WebSystemTest : public ::testing::Test {
protected:
    WebSystemTest() {
        Status_Init();
        VKUser_InitUserAuthority();
        Web_SetRequestHookForTest(nullptr);
        log_Init(kMainLogPath);
        Log_SetLevel(LOG_LEVEL_ALL);
        Log_SetModule(LOG_MODULE_ALL);
        // The 160T link logs every value it reads at ERROR level.
        env().FailOnUnexpectedErrors({"*pu32Value = "});
        con_ = connections_get_new_connection(server_.srv());
    }
    ~WebSystemTest() override {
        freeRevData();
        connection_del(server_.srv(), con_);
        VKUser_InitUserAuthority();
    }

    test::TestEnvironment& env() { return server_.env(); }

    std::string Post(const std::string& name, const std::string& body) {
        const std::string header = "POST /" + name + " HTTP/1.1\r\nHost: card\r\n\r\n";
        buffer_copy_string(con_->request.request, header.c_str());
        chunkqueue_reset(con_->request_content_queue);
        chunkqueue_append_mem(con_->request_content_queue, body.data(), body.size() + 1);
        test::BufferPtr reply = test::NewBuffer();
        EXPECT_EQ(web_ProcessData(reply.get(), server_.srv(), con_), 0u) << name;
        return test::Text(reply.get());
    }
    static int Code(const std::string& reply) { return test::ReplyCode(reply); }
    void WithdrawModifyRight() {
        const std::string message = R"({"data":[{"UserName":"op","Authoritylist":[{"AuthorityId":)" +
                                    std::to_string(kOwnSlot * 256) + R"(,"ViewEnable":1,"ModifyEnable":0}]}]})";
        ASSERT_EQ(0u, VKUser_RecvUserAuthority(message.data(), static_cast<U32>(message.size())));
    }

    conntest::ConnectionTestServer server_;
    test::Sim160TBoard board_;
    sim::Fpga160T& fpga160t_ = board_.fpga160t();
    connection* con_ = nullptr;
};

// ---- rights and token -----------------------------------------------------------------

TEST_F(WebSystemTest, RightsAndTokenAsEachRequestNeedsThem) {
    const struct {
        const char* name;
        bool right;  // refused with 1035 once the modify right is withdrawn
        bool token;  // refused with 774 without a string token
    } cases[] = {
        {"Beat.w", false, false},          {"Default.w", true, true},     {"Reboot.w", true, true},
        {"Debug.w", true, true},           {"ReadReg.w", false, true},    {"WriteReg.w", true, true},
        {"ExportLogs.w", true, true},      {"ClearLogs.w", true, true},   {"SaveLog.w", true, true},
        {"GetLog.w", false, true},         {"SetModulesAndlevel.w", true, true},
        {"GetModules", false, false},      {"ExportMibs.w", true, true},
    };
    // Without a token: the ones that read no body answer anyway.
    for (const auto& c : cases) {
        const int code = Code(Post(c.name, R"({"token":5})"));
        if (c.token) {
            EXPECT_EQ(774, code) << c.name;
        } else {
            EXPECT_EQ(0, code) << c.name;
        }
    }
    WithdrawModifyRight();
    const U32 registerBefore = board_.fpga().Peek(1000);
    for (const auto& c : cases) {
        // Bodies that would otherwise act: the refusal comes before them.
        const std::string body = R"({"token":"t","type":3,"params":[300,7],"address":1000,"value":5,)"
                                 R"("error":1,"warning":1,"info":1,"debug":1,"prelasttime":0})";
        const int code = Code(Post(c.name, body));
        if (c.right) {
            EXPECT_EQ(1035, code) << c.name;
        } else {
            EXPECT_NE(1035, code) << c.name;
        }
    }
    EXPECT_EQ(registerBefore, board_.fpga().Peek(1000)) << "WriteReg.w wrote without the right";
    EXPECT_NE(7u, fpga160t_.Register(300).value_or(0)) << "Debug.w wrote the 160T without the right";
    EXPECT_TRUE(Command_Recorded().empty()) << "a refused request ran a tool";
    EXPECT_EQ(Post("Beat.w", "not even JSON"), Formatted(R"({"code":0,"description":null,"data":{}})"));
}

// ---- registers ---------------------------------------------------------------------

TEST_F(WebSystemTest, RegisterIndicesAndValuesMustFitTheirWidths) {
    const struct {
        const char* what;
        std::string address;
        std::string value;  // empty: no "value" member
        int code;
    } cases[] = {
        {"the last register", "65535", "4294967295", 0},
        {"past the window", "65536", "1", 774},
        {"negative", "-1", "1", 774},
        {"fractional", "1.5", "1", 774},
        {"far beyond 32 bits", "4294967312", "1", 774},
        {"not a number", "\"16\"", "1", 774},
        {"a value past 32 bits", "1000", "4294967296", 774},
        {"a negative value", "1000", "-1", 774},
        {"a fractional value", "1000", "2.5", 774},
        {"no value", "1000", "", 774},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board_.fpga().Write(1000, 0xA5A5);
        const U32 last = board_.fpga().Peek(65535);
        const std::string value = c.value.empty() ? "" : R"(,"value":)" + c.value;
        const std::string reply = Post("WriteReg.w", R"({"token":"t","address":)" + c.address + value + "}");
        EXPECT_EQ(c.code, Code(reply)) << reply;
        if (c.code != 0) {
            EXPECT_EQ(0xA5A5u, board_.fpga().Peek(1000));
            EXPECT_EQ(last, board_.fpga().Peek(65535));
        }
        if (c.value == "1") {
            EXPECT_EQ(774, Code(Post("ReadReg.w", R"({"token":"t","address":)" + c.address + "}")))
                << "the same index refused for reading";
        }
    }
    EXPECT_EQ(0xFFFFFFFFu, board_.fpga().Peek(65535));
    EXPECT_EQ(Post("ReadReg.w", R"({"token":"t","address":65535})"),
              Formatted(R"({"code":0,"description":null,"data":{"value":4294967295}})"));
    EXPECT_EQ(Post("ReadReg.w", R"({"token":"t","address":16})"),
              Formatted(R"({"code":0,"description":null,"data":{"value":)" + std::to_string(kOwnSlot) + "}}"))
        << "register 16 holds the slot number";
}

// ---- Debug.w -----------------------------------------------------------------------

TEST_F(WebSystemTest, DebugTakesTypeModulo256AndParametersThatFit) {
    for (U32 address : {0u, 5u, 256u, 300u}) {
        fpga160t_.SetRegister(address, 1000 + address);
    }
    const struct {
        const char* what;
        std::string body;
        U32 first;
    } cases[] = {
        {"a read of register 256", R"({"token":"t","type":2,"params":[256]})", 1256},
        {"type 258 is type 2", R"({"token":"t","type":258,"params":[256]})", 1256},
        {"a fractional type is its integer part", R"({"token":"t","type":2.9,"params":[5]})", 1005},
        {"a parameter's integer part", R"({"token":"t","type":2,"params":[256.7]})", 1256},
        {"a negative parameter counts 0", R"({"token":"t","type":2,"params":[-1]})", 1000},
        {"a parameter past 32 bits counts 0", R"({"token":"t","type":2,"params":[4294967552]})", 1000},
        {"a parameter that is no number counts 0", R"({"token":"t","type":2,"params":["256"]})", 1000},
        {"no parameters", R"({"token":"t","type":2})", 1000},
        {"type 9 has no command", R"({"token":"t","type":9,"params":[256]})", 0},
        {"type 17 has no command", R"({"token":"t","type":17,"params":[256]})", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Post("Debug.w", c.body), DebugReply(c.first)) << c.what;
    }
    for (const char* body : {R"({"token":"t"})", R"({"token":"t","type":"2"})", R"({"token":"t","type":true})"}) {
        EXPECT_EQ(774, Code(Post("Debug.w", body))) << body;
    }
}

TEST_F(WebSystemTest, DebugUsesTheFirst16ParametersOnly) {
    // Twenty parameters: the 17th would be the value if the list were not cut.
    std::string params = "300";
    for (int i = 1; i < 20; ++i) {
        params += "," + std::to_string(i == 1 ? 77 : 900 + i);
    }
    EXPECT_EQ(Post("Debug.w", R"({"token":"t","type":3,"params":[)" + params + "]}"), DebugReply(0));
    EXPECT_EQ(77u, fpga160t_.Register(300));
    EXPECT_EQ(Post("Debug.w", R"({"token":"t","type":7,"params":[2,9]})"), DebugReply(0));
    EXPECT_EQ(9u, fpga160t_.DacRegister(2));
    fpga160t_.SetDacRegister(3, 0x42);
    EXPECT_EQ(Post("Debug.w", R"({"token":"t","type":6,"params":[3]})"), DebugReply(0x42));
    EXPECT_THAT(env().Console(), HasSubstr("Readaddr = 3.000000, Getvalue = 66.000000"));
    EXPECT_THAT(env().Console(), HasSubstr("Writeaddr = 2.000000, Setvalue = 9.000000"));
}

// ---- log view and switches ---------------------------------------------------------------

TEST_F(WebSystemTest, ModuleAndLevelSwitches) {
    const U32 allNamed = 0x7DF;  // bits 0-4 and 6-10
    const struct {
        const char* what;
        std::string body;
        int code;
        U32 modules;  // expected afterwards, from allNamed
        U32 level;    // expected afterwards, from 0xF
    } cases[] = {
        {"bit 8 cleared, the others kept", R"({"modulelist":[{"id":8,"value":0}],"error":1,"warning":0,"info":1,"debug":0})",
         0, allNamed & ~0x100u, 0xA},
        {"an id taken modulo 256", R"({"modulelist":[{"id":264,"value":0}],"error":1,"warning":1,"info":1,"debug":1})",
         0, allNamed & ~0x100u, 0xF},
        {"bit 31 set", R"({"modulelist":[{"id":31,"value":1}],"error":1,"warning":1,"info":1,"debug":1})", 0,
         allNamed | 0x80000000u, 0xF},
        {"an id of 32 or more changes nothing", R"({"modulelist":[{"id":40,"value":1}],"error":0,"warning":0,"info":0,"debug":1})",
         0, allNamed, 0x1},
        {"an item without a value is skipped", R"({"modulelist":[{"id":0}],"error":1,"warning":1,"info":1,"debug":1})", 0,
         allNamed, 0xF},
        {"a level key missing", R"({"modulelist":[{"id":8,"value":0}],"error":1,"warning":1,"info":1})", 774, allNamed,
         0xF},
        {"a level key not a number", R"({"modulelist":[{"id":8,"value":0}],"error":1,"warning":1,"info":1,"debug":"1"})",
         774, allNamed, 0xF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Log_SetModule(allNamed);
        Log_SetLevel(0xF);
        std::string body = c.body;
        body.insert(1, R"("token":"t",)");
        EXPECT_EQ(c.code, Code(Post("SetModulesAndlevel.w", body)));
        EXPECT_EQ(c.modules, Log_GetModule());
        EXPECT_EQ(c.level, Log_GetLevel());
    }
    // A list longer than 255 items is refused before anything changes (modulo
    // 256 it would have been walked as an empty list).
    Log_SetModule(allNamed);
    std::string items = R"({"id":8,"value":0})";
    for (int i = 1; i < 256; ++i) {
        items += R"(,{"id":8,"value":0})";
    }
    EXPECT_EQ(774, Code(Post("SetModulesAndlevel.w",
                             R"({"token":"t","modulelist":[)" + items + R"(],"error":1,"warning":1,"info":1,"debug":1})")));
    EXPECT_EQ(allNamed, Log_GetModule());
    // The switches are stored: the settings file holds them.
    Post("SetModulesAndlevel.w", R"({"token":"t","modulelist":[{"id":8,"value":0}],"error":1,"warning":0,"info":0,"debug":0})");
    const std::string stored = env().ReadText(kLogSettingsPath);
    ASSERT_EQ(stored.size(), kLogSettingsSize);
    EXPECT_EQ(8, stored[0]);
    EXPECT_EQ(static_cast<char>((allNamed & ~0x100u) & 0xFF), stored[4]);
    EXPECT_EQ(static_cast<char>((allNamed & ~0x100u) >> 8), stored[5]);
}

TEST_F(WebSystemTest, ModuleListNamesTheLogsModules) {
    Log_SetModule(LOG_MODULE_ALL & ~LOG_MODULE_WEB);
    cJSON* tree = cJSON_Parse(Post("GetModules", "").c_str());
    EXPECT_STREQ("SUCCESS", cJSON_GetStringValue(cJSON_GetObjectItem(tree, "description")));
    const cJSON* list = cJSON_GetObjectItem(cJSON_GetObjectItem(tree, "data"), "modulelist");
    std::vector<int> ids;
    const cJSON* item;
    cJSON_ArrayForEach(item, list) {
        const int id = cJSON_GetObjectItem(item, "id")->valueint;
        ids.push_back(id);
        EXPECT_STREQ(log_NameArrayName[id], cJSON_GetStringValue(cJSON_GetObjectItem(item, "name")));
        EXPECT_EQ(id == 8 ? 0 : 1, cJSON_GetObjectItem(item, "value")->valueint) << id;
    }
    EXPECT_EQ(ids, (std::vector<int>{0, 1, 2, 3, 4, 6, 7, 8, 9, 10}));
    cJSON_Delete(tree);
}

TEST_F(WebSystemTest, LogViewReadsTheMainLogsLastKilobyte) {
    // Lines as the card's syslog daemon writes them; the view starts 1,000
    // bytes before the end, after the line the jump lands in.
    std::string log;
    for (int i = 0; i < 40; ++i) {
        log += "Jan  1 00:00:00 hx-qam user.info [KESTRA][1]: [INFO][SYS]line " + std::to_string(i) + "\n";
    }
    log += "Jan  1 00:00:01 hx-qam user.err [KESTRA][1]: [ERROR][WEB]the last line\n";
    env().WriteText(kMainLogPath, log);
    Log_SetLevel(LOG_LEVEL_ERROR | LOG_LEVEL_INFO);

    const struct {
        const char* what;
        std::string position;
    } cases[] = {{"position 0", "0"}, {"a negative position counts 0", "-5"}, {"past 32 bits counts 0", "1e20"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        cJSON* tree = cJSON_Parse(Post("GetLog.w", R"({"token":"t","prelasttime":)" + c.position + "}").c_str());
        EXPECT_STREQ("SUCCESS", cJSON_GetStringValue(cJSON_GetObjectItem(tree, "description")));
        const cJSON* data = cJSON_GetObjectItem(tree, "data");
        const cJSON* setting = cJSON_GetObjectItem(data, "log_setting");
        EXPECT_EQ(1, cJSON_GetObjectItem(setting, "error")->valueint);
        EXPECT_EQ(0, cJSON_GetObjectItem(setting, "warning")->valueint);
        EXPECT_EQ(1, cJSON_GetObjectItem(setting, "info")->valueint);
        EXPECT_EQ(0, cJSON_GetObjectItem(setting, "debug")->valueint);
        const cJSON* rows = cJSON_GetObjectItem(data, "log_content");
        const int count = cJSON_GetArraySize(rows);
        EXPECT_GT(count, 5);
        EXPECT_LT(count, 20) << "only the last 1,000 bytes";
        const cJSON* last = cJSON_GetArrayItem(rows, count - 1);
        EXPECT_STREQ(" [ERROR][WEB]the last line", cJSON_GetStringValue(cJSON_GetObjectItem(last, "log")));
        EXPECT_EQ(3, cJSON_GetObjectItem(last, "level")->valueint);
        EXPECT_EQ(1, cJSON_GetObjectItem(cJSON_GetArrayItem(rows, 0), "level")->valueint);
        cJSON_Delete(tree);
    }
    for (const char* body : {R"({"token":"t"})", R"({"token":"t","prelasttime":"0"})"}) {
        EXPECT_EQ(774, Code(Post("GetLog.w", body))) << body;
    }
}

TEST_F(WebSystemTest, ClearingTheLogsRemovesEveryFileAndLeavesAnEmptyMainLog) {
    for (const char* name : {"KESTRA.log", "device.log", "device.log.0", "a b", "-rf", "*"}) {
        env().WriteText(std::string("/vandik_data/log/") + name, "old lines\n");
    }
    env().WriteText("/vandik_data/keep.conf", "kept");
    EXPECT_EQ(0, Code(Post("ClearLogs.w", R"({"token":"t"})")));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(env().Path("/vandik_data/log"))) {
        left.push_back(entry.path().filename().string());
    }
    // The device log takes the clearing's own lines again.
    EXPECT_THAT(left, UnorderedElementsAre("KESTRA.log", "device.log"));
    for (const char* name : {"KESTRA.log", "device.log"}) {
        EXPECT_THAT(env().ReadText(std::string("/vandik_data/log/") + name), Not(HasSubstr("old lines"))) << name;
    }
    EXPECT_EQ("kept", env().ReadText("/vandik_data/keep.conf"));
    // Each name one argument: no shell splits "a b" or expands "*".
    EXPECT_THAT(env().Console(),
                HasSubstr("Command: rm '/product_data/log/*' /product_data/log/-rf /product_data/log/KESTRA.log "
                          "'/product_data/log/a b' /product_data/log/device.log /product_data/log/device.log.0\n"));
    EXPECT_THAT(env().Console(), HasSubstr("Command: touch /product_data/log/KESTRA.log"));
}

}  // namespace
}  // namespace hx
