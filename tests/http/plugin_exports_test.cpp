// The program's side of the module interface: it exports exactly the
// routines of src/http/plugin_exports.list, and the web server's modules
// find every symbol they need in it (and libc) when loaded with immediate
// binding, as the loader loads them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "support/http_modules.h"
#include "support/test_env.h"

namespace hx {
namespace {

// The names of the list: lines "    name;", beside comments and braces.
std::set<std::string> ListedRoutines() {
    std::ifstream list(HX_PLUGIN_EXPORTS_LIST);
    std::set<std::string> names;
    for (std::string line; std::getline(list, line);) {
        const size_t start = line.find_first_not_of(" \t");
        const size_t end = line.find(';');
        if (start == std::string::npos || end == std::string::npos || end <= start) {
            continue;
        }
        const std::string name = line.substr(start, end - start);
        if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") ==
            std::string::npos) {
            names.insert(name);
        }
    }
    return names;
}

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, got);
    }
    ::pclose(pipe);
    return output;
}

// The functions this test program defines and exports ("T"): its own
// routines. Copy-relocated data and weak template code other libraries bind
// to are not the program's interface.
std::set<std::string> ExportedRoutines() {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::istringstream lines(RunCommand("nm -D --defined-only '" + program + "'"));
    std::set<std::string> names;
    std::string address, type, name;
    while (lines >> address >> type >> name) {
        if (type == "T") {
            names.insert(name);
        }
    }
    return names;
}

TEST(PluginExports, TheProgramExportsExactlyTheListedRoutines) {
    const std::set<std::string> listed = ListedRoutines();
    ASSERT_GT(listed.size(), 150u);
    const std::set<std::string> exported = ExportedRoutines();
    ASSERT_FALSE(exported.empty()) << "nm gave nothing";
    for (const std::string& name : exported) {
        EXPECT_TRUE(listed.count(name)) << name << " is exported but not listed";
    }
    // Also those with no caller inside the program.
    for (const std::string& name : listed) {
        EXPECT_TRUE(exported.count(name)) << name << " is listed but not in the program";
    }
}

TEST(PluginExports, EachModuleBindsToTheProgramAndLibcAlone) {
    test::TestEnvironment env;
    test::InstallHttpModules(env.root());
    const std::filesystem::path dir = test::HttpModulesDir(env.root());
    // The sanitizer runtimes come with the instrumented build.
    const std::set<std::string> allowed = {"libc.so.6", "libasan.so.8", "libubsan.so.1"};
    for (const char* module : {"mod_indexfile", "mod_dirlisting", "mod_staticfile"}) {
        SCOPED_TRACE(module);
        const std::string path = (dir / (std::string(module) + ".so")).string();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        EXPECT_NE(dlsym(handle, (std::string(module) + "_plugin_init").c_str()), nullptr);
        dlclose(handle);

        const std::string dynamic = RunCommand("readelf -d '" + path + "'");
        ASSERT_NE(dynamic.find("(NEEDED)"), std::string::npos) << dynamic;
        const std::string mark = "Shared library: [";
        for (size_t at = dynamic.find(mark); at != std::string::npos; at = dynamic.find(mark, at)) {
            at += mark.size();
            const std::string library = dynamic.substr(at, dynamic.find(']', at) - at);
            EXPECT_TRUE(allowed.count(library)) << "needs " << library;
        }
    }
}

}  // namespace
}  // namespace hx
