// The configuration language: one table of texts with the parse result, the
// message and the settings of every block, then includes, commands and the
// nesting bound against real files and processes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "http/config_file.h"
#include "http/http_test_util.h"

namespace hx {
namespace {

std::string render(const data_unset* du) {
    switch (du->type) {
    case TYPE_STRING: {
        const buffer* b = static_cast<const data_string*>(du)->value;
        return "\"" + std::string(b->used > 0 ? b->ptr : "", b->used > 0 ? b->used - 1 : 0) + "\"";
    }
    case TYPE_INTEGER:
        return std::to_string(static_cast<const data_integer*>(du)->value);
    case TYPE_ARRAY: {
        const array* a = static_cast<const data_array*>(du)->value;
        std::string text = "(";
        for (size_t i = 0; i < a->used; ++i) {
            text += (i > 0 ? "," : "") + std::string(a->data[i]->key->ptr) + "=>" + render(a->data[i]);
        }
        return text + ")";
    }
    default:
        return "?";
    }
}

// Every block as key{name=value;...}, blocks separated by a space.
std::string render_blocks(const array* blocks) {
    std::string text;
    for (size_t i = 0; i < blocks->used; ++i) {
        const auto* block = static_cast<const data_config*>(blocks->data[i]);
        text += (i > 0 ? " " : "") + std::string(block->key->ptr) + "{";
        for (size_t j = 0; j < block->value->used; ++j) {
            const data_unset* du = block->value->data[j];
            text += (j > 0 ? ";" : "") + std::string(du->key->ptr) + "=" + render(du);
        }
        text += "}";
    }
    return text;
}

// A server whose error log is a memory file, and a context holding the
// global block, as the top-level reader makes them.
class ConfigParse {
public:
    ConfigParse() {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        context_init(srv_, &context_);
        context_.all_configs = srv_->config_context;
        data_config* global = data_config_init();
        buffer_copy_string(global->key, "global");
        configparser_push(&context_, global, 1);
    }
    ~ConfigParse() {
        context_free(&context_);
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
    }
    ConfigParse(const ConfigParse&) = delete;
    ConfigParse& operator=(const ConfigParse&) = delete;

    int text(const std::string& input) {
        buffer* source = buffer_init_string("test.conf");
        tokenizer_t t;
        tokenizer_init(&t, source, input.data(), input.size());
        testing::internal::CaptureStderr();
        const int result = config_parse(srv_, &context_, &t);
        stderr_ = testing::internal::GetCapturedStderr();
        buffer_free(source);
        return result;
    }
    int file(const std::filesystem::path& path) {
        buffer_copy_string(context_.basedir, (path.parent_path().string() + "/").c_str());
        testing::internal::CaptureStderr();
        const int result = config_parse_file(srv_, &context_, path.filename().c_str());
        stderr_ = testing::internal::GetCapturedStderr();
        return result;
    }
    // Standard error and the error log together.
    std::string messages() const {
        return stderr_ + test::ErrorLogText(srv_);
    }
    std::string blocks() const { return render_blocks(srv_->config_context); }
    const array* all() const { return srv_->config_context; }

private:
    server* srv_;
    config_t context_;
    std::string stderr_;
};

struct Case {
    const char* text;
    int result;
    const char* message;  // expected in the messages; empty: none at all
    const char* blocks;   // every block and its settings (checked on success)
};

std::string repeat(const std::string& line, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += line;
    }
    return text;
}

TEST(ConfigLanguage, TableOfTexts) {
    ::setenv("HX_CONF_TEST", "from-env", 1);
    const std::string big = "s = \"" + std::string(1000, 'a') + "\"\n" + repeat("s += s\n", 11);
    // Nested elements count: 257 copies of a 256-element array.
    const std::string wide = "a = (" + repeat("1,", 256) + ")\nb = (" + repeat("a,", 257) + ")\n";
    const Case cases[] = {
        {"x = 1 y = 2", 0, "", "global{var.x=1;var.y=2}"},
        {"a = (1,,2)", 0, "", "global{var.a=(0=>1,1=>2)}"},
        {"a = (\"x\", \"y\",)", 0, "", "global{var.a=(0=>\"x\",1=>\"y\")}"},
        {"a = (,1)", -1, "parser failed somehow near here:", ""},
        {"x = 1\ny = x + 2\ns = \"a\" + 1\nt = 1 + \"a\"", 0, "",
         "global{var.x=1;var.y=3;var.s=\"a1\";var.t=\"1a\"}"},
        {"z = (\"a\") + 1", -1, "data type mismatch, cannot merge", ""},
        {"a = (\"k\" => \"s\") + (\"k\" => 1)", -1, "data type mismatch, cannot merge", ""},
        {"a = (\"k\" => \"s\", 5) + (\"k\" => \"t\", 6)", 0, "", "global{var.a=(k=>\"s, t\",0=>5,1=>6)}"},
        {"b = (\"k\" => 1, \"k\" => 2)", -1, "Duplicate array-key: k", ""},
        {"s = \"a\\\"b\\n\"", 0, "", "global{var.s=\"a\"b\\n\"}"},
        {"x = 1 # note\n\n   # more\n\t\ny = 2\n", 0, "", "global{var.x=1;var.y=2}"},
        {"x = 99999999999\ny = 2147483647 + 1", 0, "", "global{var.x=2147483647;var.y=2147483647}"},
        {big.c_str(), -1, "value too large, cannot merge", ""},
        {wide.c_str(), -1, "value too large, cannot merge", ""},
        {"x = 1\nfoo", -1, "invalid character in variable name", ""},
        {"s = \"open", -1, "missing closing quote", ""},
        {"x = 1\n= 2", -1, "parser failed somehow near here:", ""},
        {"a = (1 = 2)", -1, "use => for assignments in arrays", ""},
        {"x ! 1", -1, "unexpected exclamation-marks: !", ""},
        {"e = env.HX_CONF_TEST\n", 0, "", "global{var.e=\"from-env\"}"},
        {"e = env.HX_CONF_UNSET_X\n", -1, "Undefined env variable: HX_CONF_UNSET_X", ""},
        {"env.PATH = 1", -1, "Setting env variable is not supported in conditional 0 global: env.PATH", ""},
        {"y = nothing\n", -1, "Undefined config variable: var.nothing", ""},
        {"x = 1\nx = 2", -1, "Duplicate config variable in conditional 0 global: var.x", ""},
        {"server.port = 80\n$HTTP[\"host\"] == \"a\" { server.port = 81 }", 0, "",
         "global{server.port=80} global/HTTPhost==a{server.port=81}"},
        {"x = 1\n$HTTP[\"host\"] == \"a\" { x += 2 }", 0, "", "global{var.x=1} global/HTTPhost==a{var.x=3}"},
        {"$HTTP[\"host\"] == \"a\" { x = 1 }\n$HTTP[\"host\"] == \"a\" { x = 2 }", -1,
         "Duplicate config variable in conditional 1 global/HTTPhost==a: var.x", ""},
        {"$HTTP[\"host\"] == \"a\" { x = 1 } y = 2", -1, "parser failed somehow near here:", ""},
        {"$HTTP[\"url\"] == \"/a\" { x = 1 }\nelse $HTTP[\"url\"] == \"/b\" { x = 2 }\n", 0, "",
         "global{} global/HTTPurl==/a{var.x=1} global/HTTPurl==/b{var.x=2}"},
        {"$HTTP[\"url\"] == \"/a\" { }\nelse $HTTP[\"url\"] == \"/a\" { }", -1, "unreachable else condition", ""},
        {"$HTTP[\"url\"] == \"/a\" { } else\n", -1, "parser failed somehow near here:", ""},
        {"$HTTP[\"host\"] =~ \"x\" { }", -1, "as you compiled without pcre support", ""},
        {"$HTTP[\"Host\"] == \"x\" { }", -1, "error comp_key HTTP[\"Host\"]", ""},
        {"$HTTP[\"host\"] == 1 { }", -1, "rvalue must be string", ""},
        {"$HTTP[\"host\"] == \"a\" { global { x = 1 } }", 0, "", "global{var.x=1} global/HTTPhost==a{}"},
        {"global { $HTTP[\"host\"] == \"a\" { } }", -1, "Cannot use conditionals inside a global { ... } block", ""},
        {"global { global { x = 1 } }", -1, "Cannot use conditionals inside a global { ... } block", ""},
        {"include 5 + (1)", -1, "data type mismatch", ""},
        {"include (1)", -1, "operand must be string", ""},
        {"$HTTP[\"host\"] == \"a\" {\n$HTTP[\"url\"] == \"/\" { x = 1 }\n}", 0, "",
         "global{} global/HTTPhost==a{} global/HTTPhost==a/HTTPurl==/{var.x=1}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ConfigParse parse;
        EXPECT_EQ(parse.text(c.text), c.result);
        if (*c.message == '\0') {
            EXPECT_EQ(parse.messages(), "");
        } else {
            EXPECT_NE(parse.messages().find(c.message), std::string::npos) << parse.messages();
        }
        if (c.result == 0) {
            EXPECT_EQ(parse.blocks(), c.blocks);
        }
    }
}

TEST(ConfigLanguage, InputEndsAtTheFirstNulByte) {
    ConfigParse parse;
    EXPECT_EQ(parse.text(std::string("x = 1\0y = \"", 11)), 0);
    EXPECT_EQ(parse.blocks(), "global{var.x=1}");
}

TEST(ConfigLanguage, ElseChainLinksBlocks) {
    ConfigParse parse;
    ASSERT_EQ(parse.text("$HTTP[\"url\"] == \"/a\" { }\nelse $HTTP[\"url\"] == \"/b\" { } else $HTTP[\"url\"] == "
                         "\"/c\" { }"),
              0);
    const auto* a = static_cast<const data_config*>(parse.all()->data[1]);
    const auto* b = static_cast<const data_config*>(parse.all()->data[2]);
    const auto* c = static_cast<const data_config*>(parse.all()->data[3]);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->prev, a);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(c->prev, b);
    EXPECT_EQ(a->comp, COMP_HTTP_URL);
    EXPECT_EQ(a->cond, CONFIG_COND_EQ);
    EXPECT_STREQ(a->comp_key->ptr, "HTTP[\"url\"]");
}

TEST(ConfigLanguage, NestingOfTwentyFiveLevelsOnly) {
    for (int levels : {25, 26}) {
        SCOPED_TRACE(levels);
        ConfigParse parens;
        EXPECT_EQ(parens.text("x = " + std::string(levels, '(') + "1" + std::string(levels, ')')), levels == 25 ? 0 : -1);
        std::string blocks;
        for (int i = 0; i < levels; ++i) {
            blocks += (i % 2 == 0 ? "$HTTP[\"url\"] == \"" : "$HTTP[\"host\"] == \"") + std::to_string(i) + "\" {\n";
        }
        blocks += repeat("}\n", levels);
        ConfigParse nested;
        EXPECT_EQ(nested.text(blocks), levels == 25 ? 0 : -1);
        if (levels == 26) {
            EXPECT_NE(nested.messages().find("nested deeper than 25"), std::string::npos);
        }
    }
}

class ConfigFiles : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hx_conf_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        std::filesystem::create_directories(root_ / "sub");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    void write(const std::string& name, const std::string& text) { std::ofstream(root_ / name) << text; }
    std::filesystem::path root_;
};

TEST_F(ConfigFiles, IncludesAreRelativeToTheMainFile) {
    write("main.conf", "include \"sub/a.conf\"\nz = 3\n");
    // Relative to the main file's folder at any depth, not to sub/.
    write("sub/a.conf", "x = 1\ninclude \"sub/b.conf\"\ninclude \"empty.conf\"");
    write("sub/b.conf", "y = x + 1\n");
    write("empty.conf", "");
    ConfigParse parse;
    EXPECT_EQ(parse.file(root_ / "main.conf"), 0) << parse.messages();
    EXPECT_EQ(parse.blocks(), "global{var.x=1;var.y=2;var.z=3}");
}

TEST_F(ConfigFiles, MissingAndSelfIncludesFail) {
    write("main.conf", "include \"none.conf\"\n");
    ConfigParse missing;
    EXPECT_EQ(missing.file(root_ / "main.conf"), -1);
    EXPECT_NE(missing.messages().find("opening configfile "), std::string::npos);

    write("self.conf", "include \"self.conf\"\n");
    ConfigParse self;
    EXPECT_EQ(self.file(root_ / "self.conf"), -1);
    EXPECT_NE(self.messages().find("includes nested deeper than 16"), std::string::npos);
}

TEST_F(ConfigFiles, IncludeShellReadsTheCommandOutputInTheMainFolder) {
    write("main.conf", "include_shell \"printf 'x = \\\"%s\\\"\\ny = 2' $(basename $PWD)\"\n");
    ConfigParse parse;
    EXPECT_EQ(parse.file(root_ / "main.conf"), 0) << parse.messages();
    EXPECT_EQ(parse.blocks(), "global{var.x=\"" + root_.filename().string() + "\";var.y=2}");
}

TEST_F(ConfigFiles, IncludeShellSurvivesAChattyCommand) {
    // 1 MiB on standard error before any output: more than a pipe holds.
    write("main.conf", "include_shell \"head -c 1048576 /dev/zero >&2; printf 'y = 7'\"\n");
    ConfigParse parse;
    EXPECT_EQ(parse.file(root_ / "main.conf"), 0);
    EXPECT_EQ(parse.blocks(), "global{var.y=7}");
    EXPECT_GE(parse.messages().size(), 1048576u);
}

TEST(ConfigProcess, OpenBufferCollectsOutputAndErrorTogether) {
    buffer* in = buffer_init_string("abc");
    buffer* out = buffer_init();
    buffer* err = buffer_init();
    EXPECT_EQ(proc_open_buffer("head -c 200000 /dev/zero >&2; cat", in, out, err), 0);
    EXPECT_EQ(std::string(out->ptr, out->used), std::string("abc", 4));  // the NUL is sent too
    EXPECT_EQ(err->used, 200000u);
    buffer_free(in);
    buffer_free(out);
    buffer_free(err);
}

}  // namespace
}  // namespace hx
