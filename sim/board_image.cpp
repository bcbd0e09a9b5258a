#include "sim/board_image.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/network.h"
#include "platform/resource.h"
#include "sim/tar_writer.h"
#include "snmp/qam_mib_text.h"

extern "C" const char sim_webserver_conf[];
extern "C" const char sim_webserver_conf_end[];

namespace hx {

namespace {

constexpr const char* kWebserverConfPath = "/vandik_app/tools/webserver/config/webserver.conf";
constexpr const char* kWebIndexPath = "/vandik_app/web/index.html";
constexpr const char* kEraseDataScriptPath = "/vandik_app/app/EraseDataMtd.sh";
constexpr const char* kCopyToFlashScriptPath = "/vandik_app/app/copy2jffs2.sh";

// The browser pages are not part of this program; a PC run serves this one
// in their place, so the web server has something to answer with.
constexpr std::string_view kPlaceholderPage =
    "<!DOCTYPE html>\n"
    "<html>\n"
    "<head><meta charset=\"utf-8\"><title>QAM modulator card</title></head>\n"
    "<body>\n"
    "<h1>QAM modulator card</h1>\n"
    "<p>Placeholder page of the simulated board: the card's web pages are not installed.</p>\n"
    "</body>\n"
    "</html>\n";

// The chassis model that the card's upgrade files and version file name.
constexpr int kMachineType = 26;

std::vector<U8> Iperf3Script() {
    const std::string script = "#!/bin/sh\necho \"" + std::string(kSimIperf3Line) + "\"\nexit 0\n";
    return {script.begin(), script.end()};
}

std::vector<U8> ShippedVersionFile() {
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddNumberToObject(root.get(), "MachineType", kMachineType);
    cJSON_AddNumberToObject(root.get(), "BoardType", kQamBoardType);
    cJSON_AddNumberToObject(root.get(), "BigVerNum", kDefaultSoftVersion >> 16 & 0xFF);
    cJSON_AddNumberToObject(root.get(), "MidVerNum", kDefaultSoftVersion >> 8 & 0xFF);
    cJSON_AddNumberToObject(root.get(), "MinVerNum", kDefaultSoftVersion & 0xFF);
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_Print(root.get()), cJSON_free);
    const std::string_view view(text.get());
    return {view.begin(), view.end()};
}

// The board's own scripts: the card names them only, and the simulated board
// records their runs instead of running them, so a line saying so is enough.
std::vector<U8> PlaceholderScript(std::string_view name) {
    const std::string script =
        "#!/bin/sh\necho \"" + std::string(name) + " placeholder of the simulated board: nothing done\"\nexit 0\n";
    return {script.begin(), script.end()};
}

// Writes the file unless it exists; false (logged) when it cannot be written.
bool SeedFile(const char* logicalPath, const std::vector<U8>& content) {
    const std::string path = ResolvePath(logicalPath);
    if (std::filesystem::exists(path)) {
        return true;
    }
    if (!File_MakeDirectories(std::filesystem::path(path).parent_path().string()) || !File_WriteAtomic(path, content)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "simulated board image: can't write %s\n", logicalPath);
        return false;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "simulated board image: placeholder %s\n", logicalPath);
    return true;
}

}  // namespace

std::vector<U8> SimBoardImage_TarOneFile(std::string_view name, U32 mode, std::span<const U8> content) {
    const sim::SimTarMember member{std::string(name), std::vector<U8>(content.begin(), content.end()), mode};
    return sim::SimTar_Write(std::span(&member, 1));
}

bool SimBoardImage_Seed() {
    if (Profile().backend != HardwareBackend::Sim) {
        return false;
    }
    const std::vector<U8> script = Iperf3Script();
    bool seeded = SeedFile(kIperf3Archive, SimBoardImage_TarOneFile("iperf3", 0755, script));
    seeded = SeedFile(kShippedVersionPath, ShippedVersionFile()) && seeded;
    seeded = SeedFile(kEraseDataScriptPath, PlaceholderScript("EraseDataMtd.sh")) && seeded;
    seeded = SeedFile(kCopyToFlashScriptPath, PlaceholderScript("copy2jffs2.sh")) && seeded;
    // One MIB file per slot, as the card's image ships them; the MIB export picks the board's own.
    const std::vector<U8> mib(kQamMibText.begin(), kQamMibText.end());
    for (unsigned slot = 1; slot <= kQamMibSlotFiles; ++slot) {
        char path[64];
        std::snprintf(path, sizeof path, kQamMibPathFormat, slot);
        seeded = SeedFile(path, mib) && seeded;
    }
    const std::string_view conf = SimBoardImage_WebserverConf();
    seeded = SeedFile(kWebserverConfPath, std::vector<U8>(conf.begin(), conf.end())) && seeded;
    seeded = SeedFile(kWebIndexPath, std::vector<U8>(kPlaceholderPage.begin(), kPlaceholderPage.end())) && seeded;
    return seeded;
}

std::string_view SimBoardImage_PlaceholderPage() {
    return kPlaceholderPage;
}

std::string_view SimBoardImage_WebserverConf() {
    return {sim_webserver_conf, static_cast<std::size_t>(sim_webserver_conf_end - sim_webserver_conf)};
}

}  // namespace hx
