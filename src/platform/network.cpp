#include "platform/network.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/fpga_net.h"
#include "platform/fpga_reg.h"
#include "platform/ip_monitor.h"
#include "platform/mdio.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "sim/sim_network.h"

namespace hx {

namespace {

// Longest network test command accepted from the back board.
constexpr std::size_t kNetworkTestMaxText = 1024;

void Run(std::vector<std::string> argv) {
    const CommandResult result = Command_Run(Command{std::move(argv), std::nullopt});
    if (result.executed && result.status != 0) {
        HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_SYS, "command exited with %d\n", result.status);
    }
}

// Leaves only 1000 Mbit/s full duplex advertised and restarts negotiation, so
// the link never settles on a slower mode the TS output cannot live with.
bool SetUpPhy(MdioBus& bus, U32 port) {
    const auto advertise = bus.Read(port, kPhyAdvertise);
    const auto giga = bus.Read(port, kPhyGigaControl);
    const auto control = bus.Read(port, kPhyControl);
    if (!advertise || !giga || !control) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "PHY %u does not answer\n", port);
        return false;
    }
    const U16 slowModes = kPhyAdvertise10Half | kPhyAdvertise10Full | kPhyAdvertise100Half | kPhyAdvertise100Full;
    const bool written = bus.Write(port, kPhyAdvertise, static_cast<U16>(*advertise & ~slowModes)) &&
                         bus.Write(port, kPhyGigaControl, static_cast<U16>((*giga & ~kPhyGigaHalf) | kPhyGigaFull)) &&
                         bus.Write(port, kPhyControl,
                                   static_cast<U16>(*control | kPhyControlAutoNeg | kPhyControlRestartAutoNeg));
    if (!written) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "PHY %u set-up failed\n", port);
        return false;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "PHY %u set to 1000M full duplex, auto-negotiation restarted\n", port);
    return true;
}

bool IsNetworkTestWordChar(unsigned char c) {
    return std::isalnum(c) != 0 || (c != '\0' && std::strchr(".:_=/-,", c) != nullptr);
}

// Splits the back board's command text into words; nullopt unless its first
// word ends in "iperf3" (the back board may name its own path to the tool) and
// every word is safe.
std::optional<std::vector<std::string>> NetworkTestWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t position = 0;
    while (position < text.size()) {
        if (text[position] == ' ') {
            ++position;
            continue;
        }
        std::size_t end = position;
        while (end < text.size() && text[end] != ' ') {
            if (!IsNetworkTestWordChar(static_cast<unsigned char>(text[end]))) {
                return std::nullopt;
            }
            ++end;
        }
        words.emplace_back(text.substr(position, end - position));
        position = end;
    }
    constexpr std::string_view kTool = "iperf3";
    if (words.empty() || !words.front().ends_with(kTool)) {
        return std::nullopt;
    }
    return words;
}

}  // namespace

bool IPconfig_IsValidSettings(U32 u32BackBoardIP, U32 u32OwnIP, U32 u32Mask) {
    auto unicast = [](U32 address) { return address != 0 && address < 0xE0000000u; };
    const U32 hostBits = ~u32Mask;
    const bool contiguous = (hostBits & (hostBits + 1)) == 0;
    return unicast(u32BackBoardIP) && unicast(u32OwnIP) && u32Mask != 0 && contiguous;
}

U32 IPconfig_DeriveIP1(U32 u32IP) {
    const U32 thirdOctet = ((u32IP >> 8) + 1) & 0xFF;
    return (u32IP & 0xFFFF00FFu) | thirdOctet << 8;
}

std::string Network_AddressText(U32 u32IP) {
    char text[16];
    Common_AddrU32toString(text, u32IP);
    return text;
}

U32 IPconfig_SetIP(U32 u32IP) {
    Resource_getSelfHandle()->u32IPAddress = u32IP;
    FPGA_setIP0Filter(u32IP);
    Run({"ifconfig", "eth0", Network_AddressText(u32IP), "netmask", Network_AddressText(kLocalNetmask)});
    GetQAMIPMonitor_Handle()->u32IP1 = IPconfig_DeriveIP1(u32IP);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "eth0 address %s\n", Network_AddressText(u32IP).c_str());
    return VK_SUCCESS;
}

U32 IPconfig_SetLocalMask(U32 u32MaskIP) {
    Run({"ifconfig", "eth0", "netmask", Network_AddressText(u32MaskIP)});
    return VK_SUCCESS;
}

U32 IPconfig_SetDefaultGate(U32 u32Gate) {
    Run({"route", "del", "default"});
    Run({"route", "add", "default", "gw", Network_AddressText(u32Gate)});
    REG_Write(kRegGateway, u32Gate);
    return VK_SUCCESS;
}

U32 IPconfig_SetIP1() {
    QAM_IPMonitorPara* monitor = GetQAMIPMonitor_Handle();
    std::optional<MacAddress> mac;
    if (monitor->u8Mac1LicFlag != 0) {
        mac.emplace();
        std::memcpy(mac->data(), monitor->aru8Mac1, mac->size());
        Run({"ifconfig", "eth1", "hw", "ether", Network_FormatMac(*mac)});
    } else {
        mac = Network_ReadMac("eth1");
    }
    Run({"ifconfig", "eth1", Network_AddressText(monitor->u32IP1), "netmask", Network_AddressText(kLocalNetmask)});
    if (mac) {
        FPGA_SetMacAddr(mac->data(), 1);
    } else {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "eth1 MAC unknown, MAC filter not set\n");
    }
    return SetQAM_IPMonitor(monitor);
}

std::optional<MacAddress> Network_ParseMac(std::string_view text) {
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    if (text.size() != 17) {
        return std::nullopt;
    }
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':') {
            return std::nullopt;
        }
        unsigned value = 0;
        for (std::size_t digit = 0; digit < 2; ++digit) {
            const char c = text[at + digit];
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                                  : std::tolower(c) - 'a' + 10);
        }
        mac[i] = static_cast<U8>(value);
    }
    return mac;
}

std::string Network_FormatMac(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::optional<MacAddress> Network_ReadMac(std::string_view interfaceName) {
    const std::string logical = "/sys/class/net/" + std::string(interfaceName) + "/address";
    const std::string path = ResolvePath(logical);
    if (Profile().backend == HardwareBackend::Sim && !std::filesystem::exists(path)) {
        SimNetwork_CreateInterface(interfaceName);
    }
    const auto bytes = File_ReadAll(path);
    if (!bytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Can't read %s\n", logical.c_str());
        return std::nullopt;
    }
    const auto mac = Network_ParseMac(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!mac) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "%s holds no MAC address\n", logical.c_str());
    }
    return mac;
}

void PHY_Init() {
    // The PHYs share one reset line driven by the main FPGA.
    FPGA_PhyReset();
    MdioBus& bus = Mdio_Bus();
    for (U32 port = 0; port < kPhyPorts; ++port) {
        SetUpPhy(bus, port);
    }
}

void Iperf3SoftwareInit() {
    File_MakeDirectories(ResolvePath(kIperf3Folder));
    Run({"tar", "-xf", kIperf3Archive, "-C", kIperf3Folder});
    if (!std::filesystem::exists(ResolvePath(kIperf3Program))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "iperf3 not available: %s did not unpack\n", kIperf3Archive);
        return;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "iperf3 unpacked to %s\n", kIperf3Folder);
}

U32 NetWorkQualityTest(const U8* pu8Command) {
    if (pu8Command == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[NetWorkQualityTest] error input\n");
        return VK_ERR_PARAMS;
    }
    const char* text = reinterpret_cast<const char*>(pu8Command);
    const std::size_t length = strnlen(text, kNetworkTestMaxText + 1);
    std::optional<std::vector<std::string>> words;
    if (length <= kNetworkTestMaxText) {
        words = NetworkTestWords(std::string_view(text, length));
    }
    if (!words) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[NetWorkQualityTest] refused command:%.*s\n",
               static_cast<int>(std::min<std::size_t>(length, 64)), text);
        return VK_ERR_PARAMS;
    }
    // The back board names the tool; the board runs its own unpacked copy.
    words->front() = kIperf3Program;
    struct Variant {
        const char* label;
        std::vector<std::string> extra;
    };
    const Variant variants[] = {
        {"TCP Uplink", {"-R"}},
        {"UDP Downlink", {"-u"}},
        {"UDP Uplink", {"-u", "-R"}},
    };
    for (const Variant& variant : variants) {
        Command command{*words, std::nullopt};
        command.argv.insert(command.argv.end(), variant.extra.begin(), variant.extra.end());
        const std::string shown = Command_Text(command);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "%s test command:%s\n", variant.label, shown.c_str());
        Command_Run(command);
    }
    return VK_SUCCESS;
}

}  // namespace hx
