// The plugin loader on real shared objects in a test data root: load order,
// duplicates, the hook lists and their walks, results a walk passes on or
// refuses, and every way loading or initialising a module fails.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/errorlog_lines.h"
#include "http/config_keys.h"
#include "http/http_test_util.h"
#include "http/plugin.h"
#include "support/http_modules.h"
#include "support/test_env.h"

namespace hx {
namespace {

// The test modules (tests/http/modules/): mod_recording and its faulty copies.
const char* const kTestModules[] = {"mod_recording", "mod_wrongversion", "mod_nullinit", "mod_failinit",
                                    "mod_nosymbol"};

class PluginLoader : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kTestModules) {
            test::InstallHttpModule(env_.root(), std::string(HX_TEST_MODULES_DIR) + "/" + name + ".so");
        }
    }
    void TearDown() override { Stop(); }

    // A fresh server whose configuration is `config`, with the module list
    // the configuration reader made of it.
    void StartAsConfigured(const std::string& config) {
        Stop();
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        const std::string path = (env_.root() / "webserver.conf").string();
        std::ofstream(path) << config;
        ASSERT_EQ(config_read(srv_, path.c_str()), 0);
    }
    // The same, with exactly `modules` (the reader's default modules taken
    // out again).
    void Start(const std::vector<std::string>& modules, const std::string& config = "") {
        StartAsConfigured(config);
        array_reset(srv_->srvconf.modules);
        for (const std::string& name : modules) {
            array_set_key_value(srv_->srvconf.modules, "", 0, name.data(), name.size());
        }
    }
    void Stop() {
        if (srv_ == nullptr) {
            return;
        }
        plugins_free(srv_);
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
        srv_ = nullptr;
    }

    std::string Log() const { return test::ReadWholeLog(srv_->errorlog_fd); }
    // What the recording modules logged, "<id> <hook>" per call, in order.
    std::vector<std::string> Recorded() const {
        std::vector<std::string> calls;
        const std::string log = Log();
        const std::string mark = "recorded ";
        for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at)) {
            at += mark.size();
            calls.push_back(log.substr(at, log.find(' ', log.find(' ', at) + 1) - at));
        }
        return calls;
    }
    std::string Name(size_t index) const { return test::Text(srv_->plugins.ptr[index]->name); }
    size_t IdOf(size_t index) const { return static_cast<plugin_data_head*>(srv_->plugins.ptr[index]->data)->id; }

    test::TestEnvironment env_;
    server* srv_ = nullptr;
    connection con_{};  // the hooks under test never look into it
};

// Each walker with the hook code of its list and its name in messages.
struct Walker {
    const char* hook;  // as mod_recording names it
    const char* message_name;
    bool server_hook;
    std::function<handler_t(server*, connection*)> call;
};

const std::vector<Walker>& Walkers() {
    static const std::vector<Walker> walkers = {
        {"handle_uri_raw", "PLUGIN_FUNC_HANDLE_URI_RAW", false, plugins_call_handle_uri_raw},
        {"handle_uri_clean", "PLUGIN_FUNC_HANDLE_URI_CLEAN", false, plugins_call_handle_uri_clean},
        {"handle_docroot", "PLUGIN_FUNC_HANDLE_DOCROOT", false, plugins_call_handle_docroot},
        {"handle_physical", "PLUGIN_FUNC_HANDLE_PHYSICAL", false, plugins_call_handle_physical},
        {"handle_subrequest_start", "PLUGIN_FUNC_HANDLE_SUBREQUEST_START", false,
         plugins_call_handle_subrequest_start},
        {"handle_subrequest", "PLUGIN_FUNC_HANDLE_SUBREQUEST", false, plugins_call_handle_subrequest},
        {"handle_request_done", "PLUGIN_FUNC_HANDLE_REQUEST_DONE", false, plugins_call_handle_request_done},
        {"handle_connection_close", "PLUGIN_FUNC_HANDLE_CONNECTION_CLOSE", false,
         plugins_call_handle_connection_close},
        {"connection_reset", "PLUGIN_FUNC_CONNECTION_RESET", false, plugins_call_connection_reset},
        {"handle_joblist", "PLUGIN_FUNC_HANDLE_JOBLIST", false, plugins_call_handle_joblist},
        {"handle_trigger", "PLUGIN_FUNC_HANDLE_TRIGGER", true,
         [](server* srv, connection*) { return plugins_call_handle_trigger(srv); }},
        {"handle_sighup", "PLUGIN_FUNC_HANDLE_SIGHUP", true,
         [](server* srv, connection*) { return plugins_call_handle_sighup(srv); }},
        {"set_defaults", "PLUGIN_FUNC_SET_DEFAULTS", true,
         [](server* srv, connection*) { return plugins_call_set_defaults(srv); }},
        {"cleanup", "PLUGIN_FUNC_CLEANUP", true, [](server* srv, connection*) { return plugins_call_cleanup(srv); }},
    };
    return walkers;
}

TEST_F(PluginLoader, TheServersOwnModulesSurroundTheConfiguredOnesInLoadOrder) {
    test::InstallHttpModules(env_.root());
    const struct {
        const char* config;
        std::vector<std::string> loaded;
    } cases[] = {
        {"", {"mod_indexfile", "mod_dirlisting", "mod_staticfile"}},
        {"server.modules = ( \"mod_recording\" )\n",
         {"mod_indexfile", "mod_recording", "mod_dirlisting", "mod_staticfile"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        StartAsConfigured(c.config);
        ASSERT_EQ(plugins_load(srv_), 0) << Log();
        ASSERT_EQ(plugins_call_init(srv_), HANDLER_GO_ON) << Log();
        ASSERT_EQ(plugins_call_set_defaults(srv_), HANDLER_GO_ON) << Log();
        ASSERT_EQ(srv_->plugins.used, c.loaded.size());
        for (size_t i = 0; i < c.loaded.size(); ++i) {
            EXPECT_EQ(Name(i), c.loaded[i]);
            EXPECT_EQ(IdOf(i), i + 1);
        }
        // The three take requests when they start; no other hook has a list
        // unless the recording module is there.
        plugin** starts = srv_->plugin_slots[PLUGIN_FUNC_HANDLE_SUBREQUEST_START];
        ASSERT_NE(starts, nullptr);
        EXPECT_EQ(starts[c.loaded.size() - 1], srv_->plugins.ptr[c.loaded.size() - 1]);
        EXPECT_EQ(srv_->plugin_slots[PLUGIN_FUNC_HANDLE_URI_RAW] != nullptr, c.loaded.size() == 4);
        EXPECT_EQ(plugins_call_handle_uri_raw(srv_, &con_), HANDLER_GO_ON);
    }
}

TEST_F(PluginLoader, ADuplicateModuleIsLoadedTwiceAndEveryHookIsWalkedInLoadOrder) {
    Start({"mod_recording", "mod_recording"});
    ASSERT_EQ(plugins_load(srv_), 0);
    EXPECT_NE(Log().find(": (plugin."), std::string::npos);
    EXPECT_NE(Log().find(") Cannot load plugin mod_recording more than once, please fix your config (we may not "
                         "accept such configs in future releases \n"),
              std::string::npos)
        << Log();
    ASSERT_EQ(srv_->plugins.used, 2u);
    ASSERT_EQ(plugins_call_init(srv_), HANDLER_GO_ON);
    // One data record per instance, each with its position in load order.
    EXPECT_EQ(IdOf(0), 1u);
    EXPECT_EQ(IdOf(1), 2u);
    EXPECT_NE(srv_->plugins.ptr[0]->data, srv_->plugins.ptr[1]->data);
    for (int code = 0; code < PLUGIN_FUNC_SIZEOF; ++code) {
        plugin** list = srv_->plugin_slots[code];
        if (code == PLUGIN_FUNC_UNSET || code == PLUGIN_FUNC_INIT) {
            EXPECT_EQ(list, nullptr) << code;
            continue;
        }
        ASSERT_NE(list, nullptr) << code;
        EXPECT_EQ(list[0], srv_->plugins.ptr[0]) << code;
        EXPECT_EQ(list[1], srv_->plugins.ptr[1]) << code;
    }

    std::vector<std::string> expected;
    for (const Walker& walker : Walkers()) {
        if (std::string(walker.hook) == "cleanup") {
            continue;  // plugins_free walks it, once, below
        }
        EXPECT_EQ(walker.call(srv_, &con_), HANDLER_GO_ON) << walker.hook;
        expected.push_back(std::string("1 ") + walker.hook);
        expected.push_back(std::string("2 ") + walker.hook);
    }
    plugins_free(srv_);
    expected.push_back("1 cleanup");
    expected.push_back("2 cleanup");
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(srv_->plugins.used, 0u);
    EXPECT_EQ(srv_->plugins.ptr, nullptr);
    EXPECT_EQ(srv_->plugin_slots, nullptr);
}

TEST_F(PluginLoader, AWalkStopsAtAResultOtherThanGoOnAndRefusesUnknownOnes) {
    const struct {
        int result;
        handler_t walk;
        bool second_called;
        bool unknown;
    } cases[] = {
        {HANDLER_GO_ON, HANDLER_GO_ON, true, false},
        {HANDLER_FINISHED, HANDLER_FINISHED, false, false},
        {HANDLER_COMEBACK, HANDLER_COMEBACK, false, false},
        {HANDLER_WAIT_FOR_EVENT, HANDLER_WAIT_FOR_EVENT, false, false},
        {HANDLER_ERROR, HANDLER_ERROR, false, false},
        {HANDLER_WAIT_FOR_FD, HANDLER_WAIT_FOR_FD, false, false},
        {HANDLER_UNSET, HANDLER_ERROR, false, true},
        {7, HANDLER_ERROR, false, true},
        {-1, HANDLER_ERROR, false, true},
    };
    for (const auto& c : cases) {
        for (const char* hook : {"handle_uri_raw", "handle_trigger"}) {
            SCOPED_TRACE(testing::Message() << hook << " returning " << c.result);
            Start({"mod_recording", "mod_recording"},
                  "recording.return = (\"1 " + std::string(hook) + " " + std::to_string(c.result) + "\")\n");
            ASSERT_EQ(plugins_load(srv_), 0);
            ASSERT_EQ(plugins_call_init(srv_), HANDLER_GO_ON);
            ASSERT_EQ(plugins_call_set_defaults(srv_), HANDLER_GO_ON);
            const bool server_hook = std::string(hook) == "handle_trigger";
            EXPECT_EQ(server_hook ? plugins_call_handle_trigger(srv_) : plugins_call_handle_uri_raw(srv_, &con_),
                      c.walk);
            std::vector<std::string> expected = {"1 set_defaults", "2 set_defaults", std::string("1 ") + hook};
            if (c.second_called) {
                expected.push_back(std::string("2 ") + hook);
            }
            EXPECT_EQ(Recorded(), expected);
            const std::string message =
                server_hook
                    ? ") PLUGIN_FUNC_HANDLE_TRIGGER mod_recording unknown state: " + std::to_string(c.result) + " \n"
                    : ") PLUGIN_FUNC_HANDLE_URI_RAW mod_recording unknown state \n";
            EXPECT_EQ(Log().find(message) != std::string::npos, c.unknown) << Log();
        }
    }
}

TEST_F(PluginLoader, EveryWalkerNamesItsHookWhenAModuleAnswers7) {
    for (const Walker& walker : Walkers()) {
        SCOPED_TRACE(walker.hook);
        Start({"mod_recording"}, "recording.return = (\"1 " + std::string(walker.hook) + " 7\")\n");
        ASSERT_EQ(plugins_load(srv_), 0);
        ASSERT_EQ(plugins_call_init(srv_), HANDLER_GO_ON);
        if (std::string(walker.hook) != "set_defaults") {
            ASSERT_EQ(plugins_call_set_defaults(srv_), HANDLER_GO_ON);
        }
        EXPECT_EQ(walker.call(srv_, &con_), HANDLER_ERROR);
        const std::string message = std::string(") ") + walker.message_name + " mod_recording unknown state" +
                                    (walker.server_hook ? ": 7 \n" : " \n");
        EXPECT_NE(Log().find(message), std::string::npos) << Log();
        if (std::string(walker.hook) == "cleanup") {
            srv_->plugins.ptr[0]->data = nullptr;  // freed by the walk just made
        }
    }
}

TEST_F(PluginLoader, WithoutModulesEveryWalkGoesOn) {
    Start({});
    ASSERT_EQ(plugins_load(srv_), 0);
    for (const Walker& walker : Walkers()) {
        EXPECT_EQ(walker.call(srv_, &con_), HANDLER_GO_ON) << walker.hook << " before init";
    }
    ASSERT_EQ(plugins_call_init(srv_), HANDLER_GO_ON);
    for (int code = 0; code < PLUGIN_FUNC_SIZEOF; ++code) {
        EXPECT_EQ(srv_->plugin_slots[code], nullptr) << code;
    }
    for (const Walker& walker : Walkers()) {
        EXPECT_EQ(walker.call(srv_, &con_), HANDLER_GO_ON) << walker.hook;
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(PluginLoader, AWrongVersionIsRefusedAfterItsInitRan) {
    Start({"mod_recording", "mod_wrongversion", "mod_recording"});
    ASSERT_EQ(plugins_load(srv_), 0);
    EXPECT_EQ(plugins_call_init(srv_), HANDLER_ERROR);
    EXPECT_NE(Log().find(") plugin-version doesn't match webserver-version for mod_wrongversion \n"), std::string::npos)
        << Log();
    EXPECT_EQ(IdOf(0), 1u);
    ASSERT_NE(srv_->plugins.ptr[1]->data, nullptr);  // its init ran
    EXPECT_EQ(IdOf(1), 2u);
    EXPECT_EQ(srv_->plugins.ptr[2]->data, nullptr);  // the walk never reached it
    // Releasing runs every cleanup hook entered so far, the uninitialised
    // instance's with no data.
    plugins_free(srv_);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"1 cleanup", "2 cleanup"}));
}

TEST_F(PluginLoader, AnInitWithoutDataStopsInitialisation) {
    Start({"mod_nullinit", "mod_recording"});
    ASSERT_EQ(plugins_load(srv_), 0);
    EXPECT_EQ(plugins_call_init(srv_), HANDLER_ERROR);
    EXPECT_NE(Log().find(") plugin-init failed for module mod_nullinit \n"), std::string::npos) << Log();
    EXPECT_EQ(srv_->plugins.ptr[0]->data, nullptr);
    EXPECT_EQ(srv_->plugins.ptr[1]->data, nullptr);
}

TEST_F(PluginLoader, AModuleThatCannotBeLoadedEndsLoadingAndKeepsTheOnesBefore) {
    const std::string lib = (env_.root() / "vandik_app/tools/webserver/lib").string();
    const struct {
        const char* module;
        std::string message;
    } cases[] = {
        {"mod_missing", ") dlopen() failed for: " + lib + "/mod_missing.so " + lib + "/mod_missing.so: cannot open"},
        {"mod_nosymbol", "undefined symbol: mod_nosymbol_plugin_init"},
        {"mod_failinit", ") mod_failinit plugin init failed \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        Start({"mod_recording", c.module, "mod_recording"});
        EXPECT_EQ(plugins_load(srv_), -1);
        EXPECT_NE(Log().find(c.message), std::string::npos) << Log();
        ASSERT_EQ(srv_->plugins.used, 1u);
        EXPECT_EQ(Name(0), "mod_recording");
    }
}

TEST_F(PluginLoader, TheModuleFolderLiesUnderTheDataRoot) {
    Start({"mod_recording"});
    // The logical folder stays what the server record says; the data root
    // decides where it is.
    EXPECT_EQ(test::Text(srv_->srvconf.modules_dir), "/vandik_app/tools/webserver/lib");
    ASSERT_EQ(plugins_load(srv_), 0);
    std::filesystem::remove(env_.root() / "vandik_app/tools/webserver/lib/mod_recording.so");
    Start({"mod_recording"});
    EXPECT_EQ(plugins_load(srv_), -1);
}

}  // namespace
}  // namespace hx
