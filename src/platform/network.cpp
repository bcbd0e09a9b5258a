#include "platform/network.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
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

namespace hx {

namespace {

std::atomic<NetworkInterfaceSource> g_interfaceSource{nullptr};

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

// The iperf3 client options the back board may use, each with its value
// checked against a bound; everything else (server mode, daemon, log and pid
// files, file transfer, titles, ...) is refused. Values are handed to the
// tool in one canonical form, whatever form they came in.
enum class TestValue { None, Address, Port, Duration, Bitrate, Streams, Interval, Length, Window, Format };

struct TestOption {
    char shortName;
    std::string_view longName;
    TestValue value;
};

constexpr TestOption kTestOptions[] = {
    {'c', "client", TestValue::Address},  {'p', "port", TestValue::Port},
    {'t', "time", TestValue::Duration},   {'u', "udp", TestValue::None},
    {'b', "bitrate", TestValue::Bitrate}, {'b', "bandwidth", TestValue::Bitrate},
    {'P', "parallel", TestValue::Streams}, {'R', "reverse", TestValue::None},
    {'i', "interval", TestValue::Interval}, {'l', "length", TestValue::Length},
    {'w', "window", TestValue::Window},   {'f', "format", TestValue::Format},
};

constexpr std::uint64_t kMaxTestBitrate = 1'000'000'000;  // the port's line rate, bit/s
constexpr std::uint64_t kMaxTestLength = 1u << 20;        // the tool's largest buffer
constexpr std::uint64_t kMaxTestWindow = 16u << 20;
constexpr std::size_t kMaxTestValueText = 253;            // a full DNS name

const TestOption* FindTestOption(std::string_view word) {
    for (const TestOption& option : kTestOptions) {
        if (word.size() == 2 && word[0] == '-' && word[1] == option.shortName) {
            return &option;
        }
        if (word.starts_with("--") && word.substr(2) == option.longName) {
            return &option;
        }
    }
    return nullptr;
}

bool AllOf(std::string_view text, bool (*accepted)(char)) {
    return std::all_of(text.begin(), text.end(), accepted);
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A host name (letters, digits and inner hyphens in dot-separated labels) or
// an IPv4 address.
bool IsServerAddress(std::string_view text) {
    in_addr ipv4{};
    if (inet_pton(AF_INET, std::string(text).c_str(), &ipv4) == 1) {
        return true;
    }
    if (text.empty() || text.size() > kMaxTestValueText) {
        return false;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view label = text.substr(start, dot - start);
        const bool labelChars = AllOf(label, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-'; });
        if (label.empty() || label.size() > 63 || !labelChars || label.front() == '-' || label.back() == '-') {
            return false;
        }
        start = dot + 1;
    }
    // All digits and dots would be an address inet_pton refused.
    return !AllOf(text, [](char c) { return IsDigit(c) || c == '.'; });
}

// "<digits>[.<digits>]", nothing else (no sign, exponent or hex).
std::optional<double> ParseDecimal(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > 12 || !AllOf(whole, IsDigit) || !AllOf(fraction, IsDigit) ||
        (point != std::string_view::npos && (fraction.empty() || fraction.size() > 6))) {
        return std::nullopt;
    }
    double number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

// A decimal followed by an optional k, m or g (either case) that multiplies
// it by `unit`, `unit`^2 or `unit`^3; the whole units, from 1 to `max`.
std::optional<std::uint64_t> ParseQuantity(std::string_view text, std::uint64_t unit, std::uint64_t max) {
    std::uint64_t scale = 1;
    if (!text.empty()) {
        switch (std::tolower(static_cast<unsigned char>(text.back()))) {
            case 'k': scale = unit; break;
            case 'm': scale = unit * unit; break;
            case 'g': scale = unit * unit * unit; break;
            default: break;
        }
        if (scale != 1) {
            text.remove_suffix(1);
        }
    }
    const auto number = ParseDecimal(text);
    if (!number) {
        return std::nullopt;
    }
    const double value = *number * static_cast<double>(scale);
    if (value < 1 || value > static_cast<double>(max)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

// The value in the form the tool gets it, or nullopt when it is out of bounds.
std::optional<std::string> CheckTestValue(TestValue kind, std::string_view text, U32& durationSeconds) {
    auto whole = [&](U32 low, U32 high) -> std::optional<std::string> {
        const auto number = AllOf(text, IsDigit) ? Common_ParseNumber(text, high) : std::nullopt;
        if (!number || *number < low) {
            return std::nullopt;
        }
        return std::to_string(*number);
    };
    auto quantity = [&](std::uint64_t unit, std::uint64_t max) -> std::optional<std::string> {
        const auto number = ParseQuantity(text, unit, max);
        return number ? std::optional(std::to_string(*number)) : std::nullopt;
    };
    switch (kind) {
        case TestValue::Address:
            return IsServerAddress(text) ? std::optional(std::string(text)) : std::nullopt;
        case TestValue::Port:
            return whole(1, 65535);
        case TestValue::Duration: {
            auto seconds = whole(1, kNetworkTestMaxSeconds);
            if (seconds) {
                durationSeconds = static_cast<U32>(std::stoul(*seconds));
            }
            return seconds;
        }
        case TestValue::Streams:
            return whole(1, kNetworkTestMaxStreams);
        case TestValue::Bitrate:
            return quantity(1000, kMaxTestBitrate);
        case TestValue::Length:
            return quantity(1024, kMaxTestLength);
        case TestValue::Window:
            return quantity(1024, kMaxTestWindow);
        case TestValue::Interval: {
            // 0 turns the reports off; otherwise the tool takes 0.1 to 60 s.
            const auto seconds = ParseDecimal(text);
            if (seconds && (*seconds == 0 || (*seconds >= 0.1 && *seconds <= kNetworkTestMaxSeconds))) {
                return std::string(text);
            }
            return std::nullopt;
        }
        case TestValue::Format:
            return text.size() == 1 && std::strchr("kmgtKMGT", text[0]) != nullptr ? std::optional(std::string(text))
                                                                                  : std::nullopt;
        case TestValue::None:
            break;
    }
    return std::nullopt;
}

struct NetworkTestRun {
    std::vector<std::string> argv;  // the board's own tool and the accepted options
    U32 durationSeconds = kNetworkTestDefaultSeconds;
};

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::size_t position = 0; position < text.size();) {
        const std::size_t end = std::min(text.find(' ', position), text.size());
        if (end > position) {
            words.push_back(text.substr(position, end - position));
        }
        position = end + 1;
    }
    return words;
}

// The test the back board's text asks for; nullopt (with the reason in
// `refusal`) unless its first word names iperf3, by any path, and every other
// word is an allowed client option or its value, the server named.
std::optional<NetworkTestRun> PlanNetworkTest(std::string_view text, std::string& refusal) {
    const std::vector<std::string_view> words = SplitWords(text);
    const bool pathChars = !words.empty() && AllOf(words.front(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || std::strchr("._-/", c) != nullptr;
    });
    if (!pathChars || words.front().substr(words.front().rfind('/') + 1) != "iperf3") {
        refusal = "not the network test tool";
        return std::nullopt;
    }
    NetworkTestRun run;
    run.argv.push_back(kIperf3Program);
    std::string seen;  // short names of the options given
    for (std::size_t i = 1; i < words.size(); ++i) {
        std::string_view word = words[i];
        std::optional<std::string_view> value;
        if (const std::size_t equals = word.find('='); word.starts_with("--") && equals != std::string_view::npos) {
            value = word.substr(equals + 1);
            word = word.substr(0, equals);
        } else if (word.size() > 2 && word[0] == '-' && word[1] != '-') {
            value = word.substr(2);  // "-t10"
            word = word.substr(0, 2);
        }
        const TestOption* option = FindTestOption(word);
        if (option == nullptr) {
            refusal = "option " + std::string(word) + " not allowed";
            return std::nullopt;
        }
        if (seen.find(option->shortName) != std::string::npos) {
            refusal = "option " + std::string(word) + " given twice";
            return std::nullopt;
        }
        seen += option->shortName;
        run.argv.push_back(std::string("-") + option->shortName);
        if (option->value == TestValue::None) {
            if (value) {
                refusal = "option " + std::string(word) + " takes no value";
                return std::nullopt;
            }
            continue;
        }
        if (!value) {
            if (++i == words.size()) {
                refusal = "option " + std::string(word) + " without its value";
                return std::nullopt;
            }
            value = words[i];
        }
        const auto checked = value->size() <= kMaxTestValueText
                                 ? CheckTestValue(option->value, *value, run.durationSeconds)
                                 : std::nullopt;
        if (!checked) {
            refusal = "value of " + std::string(word) + " out of bounds";
            return std::nullopt;
        }
        run.argv.push_back(*checked);
    }
    if (seen.find('c') == std::string::npos) {
        refusal = "no server named";
        return std::nullopt;
    }
    return run;
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

void Network_SetInterfaceSource(NetworkInterfaceSource source) { g_interfaceSource.store(source); }

std::optional<MacAddress> Network_ReadMac(std::string_view interfaceName) {
    const std::string logical = "/sys/class/net/" + std::string(interfaceName) + "/address";
    const std::string path = ResolvePath(logical);
    const NetworkInterfaceSource source = g_interfaceSource.load();
    if (source != nullptr && !std::filesystem::exists(path)) {
        source(interfaceName);
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
    std::string refusal = "longer than " + std::to_string(kNetworkTestMaxText) + " bytes";
    std::optional<NetworkTestRun> run;
    if (length <= kNetworkTestMaxText) {
        run = PlanNetworkTest(std::string_view(text, length), refusal);
    }
    if (!run) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[NetWorkQualityTest] refused command (%s):%.*s\n", refusal.c_str(),
               static_cast<int>(std::min<std::size_t>(length, 64)), text);
        return VK_ERR_PARAMS;
    }
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
        Command command{run->argv, std::nullopt};
        command.argv.insert(command.argv.end(), variant.extra.begin(), variant.extra.end());
        // A server that never answers, or a run that does not end, must not
        // hold the inter-board server (which runs this) beyond the test.
        command.timeLimit = std::chrono::seconds(run->durationSeconds + kNetworkTestMarginSeconds);
        const std::string shown = Command_Text(command);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "%s test command:%s\n", variant.label, shown.c_str());
        const CommandResult result = Command_Run(command);
        if (result.timedOut) {
            HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_SYS, "%s test ended at its time limit\n", variant.label);
        }
    }
    return VK_SUCCESS;
}

}  // namespace hx
