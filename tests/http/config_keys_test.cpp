// The configuration keys: a real file read by config_read, then the stored
// settings, the messages, and the start-up checks.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "http/config_keys.h"
#include "http/http_test_util.h"

namespace hx {
namespace {

class ConfigKeys : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hx_keys_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
    }
    void TearDown() override {
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
        std::filesystem::remove_all(root_);
    }
    int read(const std::string& text) {
        std::ofstream(root_ / "webserver.conf") << text;
        testing::internal::CaptureStderr();
        const int result = config_read(srv_, (root_ / "webserver.conf").c_str());
        stderr_ = testing::internal::GetCapturedStderr();
        return result;
    }
    std::string messages() const {
        return stderr_ + test::ErrorLogText(srv_);
    }
    std::string modules() const {
        std::string text;
        const array* list = srv_->srvconf.modules;
        for (size_t i = 0; i < list->used; ++i) {
            text += (i > 0 ? "," : "") + std::string(static_cast<const data_string*>(list->data[i])->value->ptr);
        }
        return text;
    }
    std::filesystem::path root_;
    server* srv_ = nullptr;
    std::string stderr_;
};

TEST_F(ConfigKeys, DefaultModulesSurroundTheConfiguredOnes) {
    const struct {
        const char* text;
        const char* modules;
    } cases[] = {
        {"x = 1\n", "mod_indexfile,mod_dirlisting,mod_staticfile"},
        {"server.modules = (\"mod_a\")\n", "mod_indexfile,mod_a,mod_dirlisting,mod_staticfile"},
        {"server.modules = (\"mod_staticfile\")\n", "mod_indexfile,mod_staticfile,mod_dirlisting,mod_staticfile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TearDown();
        SetUp();
        ASSERT_EQ(read(c.text), 0) << messages();
        EXPECT_EQ(modules(), c.modules);
    }
}

TEST_F(ConfigKeys, ProcessVariablesAreSetBeforeTheFile) {
    ASSERT_EQ(read("process = var.PID\nfolder = var.CWD\n"), 0);
    const auto* pid = static_cast<const data_integer*>(array_get_element(srv_->config, "var.process"));
    ASSERT_NE(pid, nullptr);
    EXPECT_EQ(pid->value, getpid());
    const auto* cwd = static_cast<const data_string*>(array_get_element(srv_->config, "var.folder"));
    ASSERT_NE(cwd, nullptr);
    EXPECT_EQ(std::string(cwd->value->ptr), std::filesystem::current_path().string());
}

TEST_F(ConfigKeys, ConversionsAndTheirMessages) {
    const struct {
        const char* text;
        int result;
        const char* message;
        int port;
    } cases[] = {
        {"server.port = \"8080\"\n", 0, "", 8080},
        {"server.port = 8080\n", 0, "", 8080},
        {"server.port = 70000\n", 0, "", 4464},
        {"server.port = \"80x\"\n", -1, "got a string but expected a short: server.port 80x", 0},
        {"server.port = \"-1\"\n", -1, "got a string but expected a short:", 0},
        {"server.port = \"70000\"\n", -1, "got a string but expected a short:", 0},
        {"server.port = (1)\n", -1, "unexpected type for key: server.port 3 expected a short integer", 0},
        {"server.follow-symlink = \"Enable\"\n", -1, "ERROR: unexpected value for key:", 0},
        {"server.follow-symlink = 1\n", -1, "ERROR: unexpected type for key:", 0},
        {"server.tag = 1\n", -1, "server.tag should have been a string like", 0},
        {"mimetype.assign = \"x\"\n", -1, "should have been a array of strings", 0},
        {"mimetype.assign = (\".a\" => 1)\n", -1, "the key of an array can only be a string or a integer", 0},
        {"server.max-request-size = \"4294967296\"\n", -1, "got a string but expected an integer:", 0},
        {"server.stat-cache-engine = \"fast\"\n", -1,
         "server.stat-cache-engine can be one of \"disable\", \"simple\", but not: fast", 0},
        {"server.modules = \"mod_a\"\n", -1, "server.modules must be an array", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TearDown();
        SetUp();
        EXPECT_EQ(read(c.text), c.result);
        if (*c.message == '\0') {
            EXPECT_EQ(messages(), "");
            EXPECT_EQ(srv_->srvconf.port, c.port);
        } else {
            EXPECT_NE(messages().find(c.message), std::string::npos) << messages();
        }
    }
}

TEST_F(ConfigKeys, DeprecatedKeysAreReportedAndFlagged) {
    ASSERT_EQ(read("server.docroot = \"/x\"\n"), 0);
    EXPECT_NE(messages().find("ERROR: found deprecated key: server.docroot - use server.document-root instead"),
              std::string::npos);
    EXPECT_EQ(srv_->config_deprecated, 1);
}

TEST_F(ConfigKeys, BlockSettingsAndDefaults) {
    ASSERT_EQ(read("Server.Document-Root = \"/web\"\nmimetype.assign = (\".html\" => \"text/html\")\n"
                   "$HTTP[\"host\"] == \"a\" { server.max-read-idle = 7\nserver.port = 81 }\n"),
              0)
        << messages();
    const specific_config* global = srv_->config_storage[0];
    const specific_config* block = srv_->config_storage[1];
    // Names are found without regard to case when read.
    EXPECT_STREQ(global->document_root->ptr, "/web");
    EXPECT_EQ(global->mimetypes->used, 1u);
    EXPECT_EQ(global->max_read_idle, 60);
    EXPECT_EQ(global->force_lowercase_filenames, 2);
    EXPECT_EQ(block->max_read_idle, 7);
    EXPECT_EQ(block->force_lowercase_filenames, 0);
    EXPECT_EQ(block->max_write_idle, 360);
    EXPECT_EQ(block->follow_symlink, 1);
    // A server-wide key in a conditional block sets the server-wide value.
    EXPECT_EQ(srv_->srvconf.port, 81);
    EXPECT_NE(array_get_element(srv_->config_touched, "server.document-root"), nullptr);
    EXPECT_EQ(srv_->srvconf.stat_cache_engine, STAT_CACHE_ENGINE_SIMPLE);
}

TEST_F(ConfigKeys, StartUpChecks) {
    const std::string docroot = "server.document-root = \"" + root_.string() + "\"\n";
    const struct {
        std::string text;
        int result;
        const char* message;
    } cases[] = {
        {"x = 1\n", -1, "a default document-root has to be set"},
        {docroot + "ssl.engine = \"enable\"\n", -1, "ssl.pemfile has to be set"},
        {docroot + "ssl.engine = \"enable\"\nssl.pemfile = \"/p\"\n", -1,
         "ssl support is missing, recompile with --with-openssl"},
        {docroot + "server.event-handler = \"kqueue\"\n", -1,
         "the selected event-handler in unknown or not supported: kqueue"},
        {docroot + "server.chroot = \"/nonexistent-hx\"\n", -1, "server.chroot doesn't exist:"},
        {docroot + "server.event-handler = \"poll\"\n", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TearDown();
        SetUp();
        ASSERT_EQ(read(c.text), 0);
        EXPECT_EQ(config_set_defaults(srv_), c.result);
        if (c.result == 0) {
            EXPECT_EQ(srv_->srvconf.port, 80);
            EXPECT_EQ(srv_->event_handler, FDEVENT_HANDLER_POLL);
        } else {
            EXPECT_NE(messages().find(c.message), std::string::npos) << messages();
        }
    }
}

}  // namespace
}  // namespace hx
