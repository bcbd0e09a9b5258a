#include "support/http_modules.h"

#include <sstream>

namespace hx::test {

namespace {

// The build's module folder and the modules in it, from tests/CMakeLists.txt.
constexpr char kBuiltModulesDir[] = HX_HTTP_MODULES_DIR;
constexpr char kBuiltModules[] = HX_HTTP_MODULES;

}  // namespace

std::filesystem::path HttpModulesDir(const std::filesystem::path& dataRoot) {
    const std::filesystem::path dir = dataRoot / "vandik_app/tools/webserver/lib";
    std::filesystem::create_directories(dir);
    return dir;
}

void InstallHttpModule(const std::filesystem::path& dataRoot, const std::filesystem::path& file) {
    const std::filesystem::path target = HttpModulesDir(dataRoot) / file.filename();
    // A copy over a module the process has mapped would change it under the
    // loader's feet: the new file takes the name, the old stays mapped.
    std::filesystem::remove(target);
    std::filesystem::copy_file(file, target);
}

void InstallHttpModules(const std::filesystem::path& dataRoot) {
    std::istringstream names(kBuiltModules);
    std::string name;
    while (names >> name) {
        InstallHttpModule(dataRoot, std::filesystem::path(kBuiltModulesDir) / (name + ".so"));
    }
}

}  // namespace hx::test
