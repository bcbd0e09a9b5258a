#include "core/run_profile.h"

#include <cstdlib>
#include <string>

#include "core/common_fun.h"

namespace hx {

namespace {

constexpr U32 kMaxSimSpeedUp = 1000;

RunProfile& MutableProfile() {
    static RunProfile profile = CardProfile();
    return profile;
}

}  // namespace

RunProfile CardProfile() {
    RunProfile profile;
    profile.dataRoot = "/";
    profile.backend = HardwareBackend::Card;
    return profile;
}

RunProfile SimProfile(const std::filesystem::path& root) {
    RunProfile profile;
    profile.dataRoot = std::filesystem::absolute(root).lexically_normal();
    profile.backend = HardwareBackend::Sim;
    profile.listenAddress = "127.0.0.1";
    profile.interBoardPort = 8000;
    profile.managementPort = 3030;
    profile.httpPort = 8080;
    profile.snmpPort = 1161;
    profile.registerDevice = "/dev/mem";
    profile.serialDevice = "/sim/ttyPS1";
    profile.serialReadTimeoutMs = 100;
    profile.fallbackBackBoardAddress = 0x7F00010A;  // 127.0.1.10
    profile.fallbackOwnAddressBase = 0x7F00010B;    // 127.0.1.11
    return profile;
}

U32 SimBoardAddress(U32 slot) { return slot == 16 ? 0x7F000010u : 0x7F000020u + (slot & 0xFF); }

const RunProfile& Profile() { return MutableProfile(); }

void SetProfile(const RunProfile& profile) { MutableProfile() = profile; }

std::string ResolvePath(std::string_view logicalPath) {
    const std::filesystem::path& root = Profile().dataRoot;
    if (root.empty() || root == "/") {
        return std::string(logicalPath);
    }
    std::string_view relative = logicalPath;
    while (!relative.empty() && relative.front() == '/') {
        relative.remove_prefix(1);
    }
    std::string resolved = root.string();
    if (resolved.back() != '/') {
        resolved.push_back('/');
    }
    resolved.append(relative);
    return resolved;
}

bool IsInsideDataRoot(const std::filesystem::path& realPath) {
    const std::filesystem::path root = Profile().dataRoot.lexically_normal();
    const std::filesystem::path path = std::filesystem::absolute(realPath).lexically_normal();
    if (root == "/") {
        return true;
    }
    auto rootIt = root.begin();
    auto pathIt = path.begin();
    for (; rootIt != root.end(); ++rootIt, ++pathIt) {
        if (rootIt->empty()) {
            continue;  // trailing separator of the root
        }
        if (pathIt == path.end() || *pathIt != *rootIt) {
            return false;
        }
    }
    return true;
}

bool PrepareDataRoot() {
    if (Profile().backend == HardwareBackend::Card) {
        return true;
    }
    bool ok = true;
    for (const char* folder : {"/vandik_data/log", "/vandik_app", "/tmp", "/var/tmp", "/sim"}) {
        std::error_code error;
        std::filesystem::create_directories(ResolvePath(folder), error);
        ok = ok && !error;
    }
    return ok;
}

std::string RunProfileUsage() {
    return "usage: hx_qam [options]\n"
           "  --hardware sim|card     hardware back end (default sim)\n"
           "  --data-root DIR         folder holding /vandik_data, /vandik_app, /tmp ... (sim default ./var)\n"
           "  --listen ADDR           listening address (sim default 127.0.0.1)\n"
           "  --inter-board-port N    inter-board server port (default 8000)\n"
           "  --nms-port N            network-management port (sim default 3030)\n"
           "  --http-port N           web server port (sim default 8080)\n"
           "  --snmp-port N           SNMP agent port (sim default 1161)\n"
           "  --slot N                slot the simulated board sits in (default 3)\n"
           "  --hardware-version N    simulated hardware-version pins\n"
           "  --plugged-slots MASK    simulated plugged slots, bit n for slot n\n"
           "  --sim-fail-bitstream    make the simulated 160T configuration fail\n"
           "  --custom-variant        turn on the customer-variant switch\n"
           "  --sim-speed-up N        simulated board only: the card's fixed waits (start-up,\n"
           "                          160T acknowledgements, timers) run N times faster, 1-1000\n"
           "                          (default 1, real time)\n"
           "  --once                  run the start-up steps, then exit\n";
}

std::optional<RunProfile> ParseRunProfile(const std::vector<std::string>& args, std::string& error) {
    bool card = false;
    std::optional<std::string> root;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--hardware" && i + 1 < args.size()) {
            const std::string& value = args[i + 1];
            if (value != "sim" && value != "card") {
                error = "--hardware takes sim or card";
                return std::nullopt;
            }
            card = value == "card";
        }
        if (args[i] == "--data-root" && i + 1 < args.size()) {
            root = args[i + 1];
        }
    }
    RunProfile profile = card ? CardProfile() : SimProfile(root.value_or("var"));
    if (root) {
        profile.dataRoot = std::filesystem::absolute(*root).lexically_normal();
    }

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = option + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](U32 max, U32& out) {
            std::string text;
            if (!value(text)) {
                return false;
            }
            const std::optional<U32> parsed = Common_ParseNumber(text, max);
            if (!parsed) {
                error = option + ": bad number '" + text + "'";
                return false;
            }
            out = *parsed;
            return true;
        };
        auto port = [&](U16& out) {
            U32 parsed = 0;
            if (!number(65535, parsed)) {
                return false;
            }
            out = static_cast<U16>(parsed);
            return true;
        };
        std::string text;
        bool ok = true;
        if (option == "--hardware" || option == "--data-root") {
            ok = value(text);
        } else if (option == "--listen") {
            ok = value(profile.listenAddress);
        } else if (option == "--inter-board-port") {
            ok = port(profile.interBoardPort);
        } else if (option == "--nms-port") {
            ok = port(profile.managementPort);
        } else if (option == "--http-port") {
            ok = port(profile.httpPort);
        } else if (option == "--snmp-port") {
            ok = port(profile.snmpPort);
        } else if (option == "--slot") {
            ok = number(15, profile.simSlotId);
        } else if (option == "--hardware-version") {
            ok = number(0xFFFFFFFFu, profile.simHardwareVersion);
        } else if (option == "--plugged-slots") {
            ok = number(0xFFFFFFFFu, profile.simPluggedSlots);
        } else if (option == "--sim-fail-bitstream") {
            profile.simBitstreamFails = true;
        } else if (option == "--sim-speed-up") {
            ok = number(kMaxSimSpeedUp, profile.simSpeedUp);
            if (ok && (profile.simSpeedUp == 0 || card)) {
                error = card ? "--sim-speed-up is for the simulated board only" : "--sim-speed-up takes 1 to 1000";
                return std::nullopt;
            }
        } else if (option == "--custom-variant") {
            profile.customVariant = true;
        } else if (option == "--once") {
            profile.exitAfterStartup = true;
        } else {
            error = "unknown option '" + option + "'";
            return std::nullopt;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    return profile;
}

void ExportRunProfileEnvironment(const RunProfile& profile) {
    std::string root = profile.dataRoot.string();
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    ::setenv("HX_DATA_ROOT", root.c_str(), 1);
    ::setenv("HX_LISTEN_ADDRESS", profile.listenAddress.c_str(), 1);
    ::setenv("HX_HTTP_PORT", std::to_string(profile.httpPort).c_str(), 1);
}

}  // namespace hx
