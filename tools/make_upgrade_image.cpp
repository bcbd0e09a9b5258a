// make-upgrade-image: writes a made-up firmware image for the card, from
// header fields, a version text and a payload tar of chosen members
// (sim/upgrade_image.h). For trying an upgrade on a PC run by hand, and for
// the upgrade tests' fuzz seeds; every field a check reads can be set wrong.
//
// Exit status: 0 written, 1 the output could not be written or a member file
// read, 2 bad arguments.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common_fun.h"
#include "sim/upgrade_image.h"

namespace {

using hx::U32;
using hx::U8;
using hx::sim::SimTarKind;
using hx::sim::SimTarMember;

const char* const kUsage =
    "usage: make-upgrade-image -o FILE [options] [members]\n"
    "\n"
    "Writes a firmware image: a 256-byte header, then a tar payload of the\n"
    "members given, in order.\n"
    "\n"
    "Header:\n"
    "  --version TEXT       software version text (default V1.2.0; the card\n"
    "                       takes only versions above 1.1.13)\n"
    "  --board-type N       default 33, the QAM card\n"
    "  --machine-type N     default 26\n"
    "  --sync N             sync word (default 0x99999999)\n"
    "  --data-length N      payload length written in the header (default:\n"
    "                       the payload's size)\n"
    "  --crc N              payload CRC written in the header (default: the\n"
    "                       payload's CRC-32/MPEG-2)\n"
    "  --short N            leave the payload's last N bytes out of the file\n"
    "\n"
    "Members (a working image needs \"zz.zz\" and \"run.sh\" at the top):\n"
    "  --text NAME=TEXT     a file holding TEXT (\"--text zz.zz=\" for an empty one)\n"
    "  --file NAME=PATH     a file holding the bytes of PATH\n"
    "  --script NAME=TEXT   as --text, executable\n"
    "  --dir NAME           a folder\n"
    "  --symlink NAME=TARGET  a symbolic link\n"
    "\n"
    "Numbers are decimal or 0x hexadecimal.\n";

int Usage(const std::string& error) {
    std::fprintf(stderr, "make-upgrade-image: %s\n\n%s", error.c_str(), kUsage);
    return 2;
}

// NAME=VALUE, the name not empty.
std::optional<std::pair<std::string, std::string>> Split(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        return std::nullopt;
    }
    return std::make_pair(text.substr(0, equals), text.substr(equals + 1));
}

std::vector<U8> Bytes(const std::string& text) { return std::vector<U8>(text.begin(), text.end()); }

}  // namespace

int main(int argc, char** argv) {
    hx::sim::SimUpgradeImage image;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            return Usage("missing value after " + option);
        }
        const std::string value = argv[++i];
        const auto number = [&]() { return hx::Common_ParseNumber(value, 0xFFFFFFFFu); };
        const auto pair = Split(value);
        if (option == "-o" || option == "--output") {
            output = value;
        } else if (option == "--version") {
            image.softwareVersion = value;
        } else if (option == "--board-type" || option == "--machine-type" || option == "--sync" ||
                   option == "--data-length" || option == "--crc" || option == "--short") {
            const std::optional<U32> parsed = number();
            if (!parsed) {
                return Usage("not a number: " + value);
            }
            if (option == "--board-type") {
                image.boardType = *parsed;
            } else if (option == "--machine-type") {
                image.machineType = *parsed;
            } else if (option == "--sync") {
                image.syncFlag = *parsed;
            } else if (option == "--data-length") {
                image.dataLength = *parsed;
            } else if (option == "--crc") {
                image.dataCrc = *parsed;
            } else {
                image.missingBytes = *parsed;
            }
        } else if (option == "--dir") {
            image.members.push_back(SimTarMember{value, {}, 0755, SimTarKind::Folder});
        } else if (option == "--text" || option == "--script" || option == "--file" || option == "--symlink") {
            if (!pair) {
                return Usage(option + " takes NAME=VALUE: " + value);
            }
            const auto& [name, content] = *pair;
            if (option == "--text") {
                image.members.push_back(SimTarMember{name, Bytes(content), 0644});
            } else if (option == "--script") {
                image.members.push_back(SimTarMember{name, Bytes(content), 0755});
            } else if (option == "--symlink") {
                image.members.push_back(SimTarMember{name, {}, 0777, SimTarKind::SymbolicLink, content});
            } else {
                std::ifstream in(content, std::ios::binary);
                if (!in) {
                    std::fprintf(stderr, "make-upgrade-image: cannot read %s\n", content.c_str());
                    return 1;
                }
                image.members.push_back(SimTarMember{
                    name, std::vector<U8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), 0644});
            }
        } else {
            return Usage("unknown option " + option);
        }
    }
    if (output.empty()) {
        return Usage("no output file (-o FILE)");
    }
    const std::vector<U8> bytes = hx::sim::SimUpgradeImage_Build(image);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make-upgrade-image: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes, version %s, %zu members\n", output.c_str(), bytes.size(),
                image.softwareVersion.c_str(), image.members.size());
    return 0;
}
