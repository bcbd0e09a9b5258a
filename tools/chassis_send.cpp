// chassis-send: sends one inter-board message, as another board of the chassis
// would, and reports what each packet got back. For trying the card (or a
// simulated board) by hand and for end-to-end tests.
//
// The message is cut into packets of 1,400 data bytes; each packet is one
// exchange on a connection of its own, never retried. The first packet that
// is not answered with success ends the run. Exit status: 0 when every packet
// got success, 1 when one did not, 2 for bad arguments.
//
// On a PC only loopback (127.0.0.0/8) is ever contacted: any other address is
// refused before a socket is opened.
#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr U32 kDefaultFromSlot = 16;  // the back board

const char* const kUsage =
    "usage: chassis-send [options] COMMAND [VALUE...]\n"
    "\n"
    "Sends one inter-board message and prints each packet and its answer.\n"
    "\n"
    "COMMAND is a command name (SEND_SUBPLUGFLAG or IPCOMM_SEND_SUBPLUGFLAG)\n"
    "or a code (513, 0x201).\n"
    "\n"
    "VALUE depends on the command:\n"
    "  513 SEND_SUBPLUGFLAG        plug mask, e.g. 0x0018 (2 bytes)\n"
    "  514 SEND_IP                 back-board address, own address, netmask,\n"
    "                              gateway, as four dotted addresses\n"
    "  516 SEND_BACKUPPARA         none: the card imports <slot>conf.tar from the\n"
    "                              back board's FTP folder (var/sim/ftp on a PC)\n"
    "  517 SEND_EXPORTPARA         none: the card exports <slot>conf.tar there\n"
    "  524 USER_AUTHORITY_CONFIG   the rights JSON text (or --file)\n"
    "  3841 SEND_UPGRADE           a firmware image: --file, e.g. one that\n"
    "                              make-upgrade-image wrote\n"
    "  3843 FTP_UPGRADE            image size in bytes: the card fetches\n"
    "                              upgradefile from the back board's FTP folder\n"
    "  3846 SEND_IPERF3_TO_SUBB    the command text\n"
    "  any other                   hex bytes (\"01 02 ff\" or \"0102ff\"); none for\n"
    "                              a bare command\n"
    "\n"
    "Options:\n"
    "  --from SLOT      sender slot written in the header (default 16, the back board)\n"
    "  --to ADDRESS     the receiver's address (default 127.0.0.1, the card on a PC)\n"
    "  --to-slot SLOT   the receiver by slot, at its simulated-chassis address\n"
    "                   (back board 127.0.0.16, slot n 127.0.0.(32 + n))\n"
    "  --port PORT      the inter-board port (default 8000)\n"
    "  --file PATH      take the data from a file instead of VALUE\n"
    "  --hex BYTES      take the data as hex bytes, whatever the command\n"
    "  --timeout MS     how long to wait for each answer (default 30000)\n"
    "  --help           this text\n"
    "\n"
    "Data longer than 1,400 bytes goes out in numbered packets, one connection\n"
    "each, without retries. Answers: success, error, closed (no reply),\n"
    "time-out, refused (nothing listening), bad reply.\n"
    "\n"
    "This is a PC tool: it only talks to loopback addresses (127.0.0.0/8) and\n"
    "refuses any other.\n"
    "\n"
    "Exit status: 0 when every packet got success, 1 when one did not,\n"
    "2 for bad arguments.\n";

std::optional<U32> ParseAddress(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

// By default the card as a PC run has it: the simulated board's profile
// (127.0.0.1, port 8000).
struct Options {
    U16 command = 0;
    U8 fromSlot = kDefaultFromSlot;
    U32 address = ParseAddress(SimProfile(".").listenAddress).value_or(0x7F000001);
    U16 port = SimProfile(".").interBoardPort;
    U32 timeoutMs = 30000;
    std::vector<U8> data;
};

std::optional<U16> ParseCommand(std::string text) {
    if (const std::optional<U32> code = Common_ParseNumber(text, 0xFFFF)) {
        return static_cast<U16>(*code);
    }
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    U32 code = IPComm_CommandCode(text.c_str());
    if (code == 0xFFFFFFFFu) {
        code = IPComm_CommandCode(("IPCOMM_" + text).c_str());
    }
    if (code > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<U16>(code);
}

// Hex digits, pairs optionally separated by spaces, ':' or ','.
std::optional<std::vector<U8>> ParseHex(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits.push_back(c);
        } else if (c != ' ' && c != ':' && c != ',' && c != '\t') {
            return std::nullopt;
        }
    }
    if (digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<U8> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<U8>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::optional<std::vector<U8>> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<U8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Join(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

// The data of a typed command from its values; an error text otherwise.
std::optional<std::vector<U8>> TypedData(U16 command, const std::vector<std::string>& values, std::string& error) {
    switch (command) {
        case IPCOMM_SEND_SUBPLUGFLAG: {
            const std::optional<U32> mask = values.size() == 1 ? Common_ParseNumber(values[0], 0xFFFF) : std::nullopt;
            if (!mask) {
                error = "513 takes one plug mask (0 to 0xFFFF)";
                return std::nullopt;
            }
            std::vector<U8> data(2);
            PutLe16(data.data(), static_cast<U16>(*mask));
            return data;
        }
        case IPCOMM_SEND_IP: {
            if (values.size() != 4) {
                error = "514 takes four addresses: back board, own, netmask, gateway";
                return std::nullopt;
            }
            std::vector<U8> data(16);
            for (std::size_t i = 0; i < 4; ++i) {
                const std::optional<U32> address = ParseAddress(values[i]);
                if (!address) {
                    error = "not a dotted address: " + values[i];
                    return std::nullopt;
                }
                PutLe32(data.data() + 4 * i, *address);
            }
            return data;
        }
        case IPCOMM_USER_AUTHORITY_CONFIG:
        case IPCOMM_SEND_IPERF3_TO_SUBB: {
            if (values.empty()) {
                error = command == IPCOMM_USER_AUTHORITY_CONFIG ? "524 takes the rights JSON text (or --file)"
                                                                : "3846 takes the command text";
                return std::nullopt;
            }
            const std::string text = Join(values);
            return std::vector<U8>(text.begin(), text.end());
        }
        case IPCOMM_FTP_UPGRADE: {
            const std::optional<U32> size =
                values.size() == 1 ? Common_ParseNumber(values[0], 0xFFFFFFFFu) : std::nullopt;
            if (!size) {
                error = "3843 takes one image size in bytes";
                return std::nullopt;
            }
            std::vector<U8> data(4);
            PutBe32(data.data(), *size);
            return data;
        }
        default: {
            std::optional<std::vector<U8>> bytes = ParseHex(Join(values));
            if (!bytes) {
                error = "not hex bytes: " + Join(values);
            }
            return bytes;
        }
    }
}

// Fills `options` from the command line; false with a message in `error`.
bool ParseArguments(int argc, char** argv, Options& options, std::string& error, bool& help) {
    std::vector<std::string> values;
    std::optional<std::string> file;
    std::optional<std::string> hex;
    std::optional<U16> command;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            help = true;
            return true;
        }
        const bool takesValue = argument == "--from" || argument == "--to" || argument == "--to-slot" ||
                                argument == "--port" || argument == "--file" || argument == "--hex" ||
                                argument == "--timeout";
        if (takesValue) {
            if (i + 1 >= argc) {
                error = argument + " needs a value";
                return false;
            }
            const std::string value = argv[++i];
            if (argument == "--from") {
                const std::optional<U32> slot = Common_ParseNumber(value, 255);
                if (!slot) {
                    error = "bad slot: " + value;
                    return false;
                }
                options.fromSlot = static_cast<U8>(*slot);
            } else if (argument == "--to") {
                const std::optional<U32> address = ParseAddress(value);
                if (!address) {
                    error = "not a dotted address: " + value;
                    return false;
                }
                options.address = *address;
            } else if (argument == "--to-slot") {
                const std::optional<U32> slot = Common_ParseNumber(value, 16);
                if (!slot) {
                    error = "bad slot (0 to 16): " + value;
                    return false;
                }
                options.address = SimBoardAddress(*slot);
            } else if (argument == "--port") {
                const std::optional<U32> port = Common_ParseNumber(value, 0xFFFF);
                if (!port || *port == 0) {
                    error = "bad port: " + value;
                    return false;
                }
                options.port = static_cast<U16>(*port);
            } else if (argument == "--timeout") {
                const std::optional<U32> limit = Common_ParseNumber(value, 3'600'000);
                if (!limit || *limit == 0) {
                    error = "bad time-out: " + value;
                    return false;
                }
                options.timeoutMs = *limit;
            } else if (argument == "--file") {
                file = value;
            } else {
                hex = value;
            }
            continue;
        }
        if (argument.starts_with("--")) {
            error = "unknown option: " + argument;
            return false;
        }
        if (!command) {
            command = ParseCommand(argument);
            if (!command) {
                error = "unknown command: " + argument;
                return false;
            }
            continue;
        }
        values.push_back(argument);
    }
    if (!command) {
        error = "no command given";
        return false;
    }
    options.command = *command;
    if ((file ? 1 : 0) + (hex ? 1 : 0) + (values.empty() ? 0 : 1) > 1) {
        error = "give the data once: VALUE, --file or --hex";
        return false;
    }
    if ((options.address >> 24) != 127) {
        error = "refusing " + IPComm_AddressText(options.address) +
                ": chassis-send only talks to loopback addresses (127.0.0.0/8)";
        return false;
    }
    std::optional<std::vector<U8>> data;
    if (file) {
        data = ReadFile(*file);
        if (!data) {
            error = "cannot read " + *file;
        }
    } else if (hex) {
        data = ParseHex(*hex);
        if (!data) {
            error = "not hex bytes: " + *hex;
        }
    } else {
        data = TypedData(options.command, values, error);
    }
    if (!data) {
        return false;
    }
    if (data->size() > std::size_t{kIPCommMaxData} * 0xFFFFu) {
        error = "data too long";
        return false;
    }
    options.data = std::move(*data);
    return true;
}

std::string CommandText(U32 code) {
    const char* name = IPComm_CommandName(code);
    return std::to_string(code) + " " + (name == nullptr ? "(unknown)" : name);
}

// Sends every packet; true when each was answered with success.
bool SendAll(const Options& options) {
    const U32 length = static_cast<U32>(options.data.size());
    const U32 count = length == 0 ? 1 : (length + kIPCommMaxData - 1) / kIPCommMaxData;
    const std::string target = IPComm_AddressText(options.address) + ":" + std::to_string(options.port);
    for (U32 index = 0; index < count; ++index) {
        const U32 offset = index * kIPCommMaxData;
        const U32 size = std::min(kIPCommMaxData, length - offset);
        const U8* data = size == 0 ? nullptr : options.data.data() + offset;
        IPCommWire wire;
        IPComm_Build(options.command, data, size, index, count, &wire, options.fromSlot);
        std::printf("packet %u/%u to %s: slot %u, command %s, index %u, count %u, length %u, crc 0x%08x, "
                    "%u bytes on the wire\n",
                    index + 1, count, target.c_str(), options.fromSlot, CommandText(options.command).c_str(), index,
                    count, size, GetLe32(wire.bytes.data() + wire.length - 4), wire.length);

        U16 reply = 0;
        const IPCommExchange outcome = IPComm_ExchangeOnce(options.address, options.port, options.fromSlot,
                                                           options.command, data, size, index, count, &reply);
        switch (outcome) {
            case IPCommExchange::Success:
                std::printf("answer: success (%s)\n", CommandText(reply).c_str());
                continue;
            case IPCommExchange::ErrorReply:
                std::printf("answer: error (%s)\n", CommandText(reply).c_str());
                break;
            case IPCommExchange::Closed:
                std::printf("answer: closed (the peer closed the connection without a reply)\n");
                break;
            case IPCommExchange::TimedOut:
                std::printf("answer: time-out (no whole reply within %u ms)\n", options.timeoutMs);
                break;
            case IPCommExchange::BadReply:
                std::printf("answer: bad reply (the reply packet does not parse)\n");
                break;
            case IPCommExchange::Refused:
                std::printf("answer: refused (nothing listens at %s)\n", target.c_str());
                break;
            case IPCommExchange::NoSocket:
                std::printf("answer: no socket (the socket could not be opened)\n");
                break;
        }
        if (index + 1 < count) {
            std::printf("stopped: packets %u to %u not sent\n", index + 2, count);
        }
        return false;
    }
    return true;
}

int Run(int argc, char** argv) {
    Options options;
    std::string error;
    bool help = false;
    if (!ParseArguments(argc, argv, options, error, help)) {
        std::fprintf(stderr, "chassis-send: %s\n(chassis-send --help shows the usage)\n", error.c_str());
        return kExitUsage;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    // The outcome of each packet is printed below; the socket layer's own log
    // lines would only repeat it.
    Log_SetConsoleSink([](std::string_view) {});
    // The exchange takes its waits from the run profile.
    RunProfile profile = SimProfile(".");
    profile.interBoardReplyTimeoutMs = options.timeoutMs;
    SetProfile(profile);
    const bool delivered = SendAll(options);
    std::fflush(stdout);
    return delivered ? kExitSuccess : kExitFailed;
}

}  // namespace
}  // namespace hx

int main(int argc, char** argv) { return hx::Run(argc, argv); }
