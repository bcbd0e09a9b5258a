// The web server's modules in a test's data root: the server loads them from
// "/vandik_app/tools/webserver/lib" there, as on the card.
#pragma once

#include <filesystem>
#include <string>

namespace hx::test {

// The module folder under `dataRoot` (created when missing).
std::filesystem::path HttpModulesDir(const std::filesystem::path& dataRoot);

// Copies the built mod_indexfile, mod_dirlisting and mod_staticfile into the
// module folder of `dataRoot`, replacing what is there.
void InstallHttpModules(const std::filesystem::path& dataRoot);

// Copies one more shared object (a test's own module) into that folder,
// under its own file name.
void InstallHttpModule(const std::filesystem::path& dataRoot, const std::filesystem::path& file);

}  // namespace hx::test
