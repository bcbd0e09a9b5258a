// Run profile: the one place that decides where the card application lives.
//
// The card's fixed paths ("/vandik_data/...", "/vandik_app/...", "/tmp/...",
// "/var/...", "/sys/class/gpio/...") are resolved under one data root: "/" on the
// card, a local folder on a PC. The profile also picks the hardware back end
// (the simulated board unless the card's devices are chosen explicitly), the
// listening address and ports, and the knobs of the simulated hardware.
//
// Callers: main (from the command line) before any thread starts, and tests,
// which set a fresh profile per case while no card thread runs. Readers take a
// const reference without a lock; the profile does not change while threads run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace hx {

enum class HardwareBackend { Sim, Card };

struct RunProfile {
    std::filesystem::path dataRoot = "/";
    HardwareBackend backend = HardwareBackend::Sim;

    // Listening sockets. The card serves every interface on the well-known ports;
    // a PC run keeps to loopback and to ports an ordinary user may open.
    std::string listenAddress = "0.0.0.0";
    U16 interBoardPort = 8000;
    U16 managementPort = 30;
    U16 httpPort = 80;
    U16 snmpPort = 161;

    // Inter-board link time-outs: a stalled peer holds a sender or the server
    // only this long, and the exchange counts as a failed attempt.
    U32 interBoardConnectTimeoutMs = 3000;
    U32 interBoardServerTimeoutMs = 5000;   // server: receiving a packet, writing the reply
    U32 interBoardReplyTimeoutMs = 30000;   // client: waiting for the reply

    // Card devices (never opened on the sim back end).
    std::string registerDevice = "/dev/mem";
    // The back-board serial line. A logical path: on the simulated board it
    // resolves under the data root, where the simulated back board links it to
    // its pseudo-terminal.
    std::string serialDevice = "/dev/ttyPS1";
    // How long one serial exchange waits for the back board's answer.
    U32 serialReadTimeoutMs = 100;

    // Addresses taken when the back board never answers on the serial line:
    // the back board's, and the base to which the own slot number is added.
    U32 fallbackBackBoardAddress = 0xC0A8010A;  // 192.168.1.10
    U32 fallbackOwnAddressBase = 0xC0A8010B;    // 192.168.1.11

    // Simulated board.
    U32 simSlotId = 3;             // what the slot register reads
    U32 simHardwareVersion = 0;    // levels of the version GPIO pins
    U32 simPluggedSlots = 0;       // bit n set: slot n holds a card
    bool simBitstreamFails = false;
    U32 simLogicVersion = 0x0101;  // what the logic version register reads
    bool customVariant = false;    // the customer-variant switch, off by default
    // The card's fixed waits (start-up's 5 s, the 160T's acknowledgement
    // waits, the tick timer, the LED and poll periods ...) run this many times
    // faster on the simulated board (main installs a FastClock); 1 keeps real
    // time. The card itself always waits in real time.
    U32 simSpeedUp = 1;

    bool exitAfterStartup = false; // run the start-up steps once, then return
};

// The card profile: data root "/", real devices, well-known ports.
RunProfile CardProfile();
// The PC profile: data root `root`, simulated hardware, loopback, high ports.
RunProfile SimProfile(const std::filesystem::path& root);

const RunProfile& Profile();
void SetProfile(const RunProfile& profile);

// The loopback address of each board of the simulated chassis: the back board
// (slot 16) at 127.0.0.16, card slot n at 127.0.0.(32 + n). The simulated back
// board hands these out, and the simulated chassis listens on them.
U32 SimBoardAddress(U32 slot);

// Resolve one of the card's fixed absolute paths under the data root. The
// logical path is what logs show; the returned path is what is opened.
std::string ResolvePath(std::string_view logicalPath);

// True when `realPath` lies inside the data root (after normalisation), so a
// file tool given it cannot touch the rest of the host.
bool IsInsideDataRoot(const std::filesystem::path& realPath);

// Builds the profile from the command line. Unknown options and bad values
// give std::nullopt and a message in `error`.
std::optional<RunProfile> ParseRunProfile(const std::vector<std::string>& args, std::string& error);

std::string RunProfileUsage();

// Puts the data root (without a trailing '/', so "" on the card), the listen
// address and the HTTP port into the environment as HX_DATA_ROOT,
// HX_LISTEN_ADDRESS and HX_HTTP_PORT, where the web server's configuration
// file reads them. Changes the process environment: call before any thread
// starts.
void ExportRunProfileEnvironment(const RunProfile& profile);

// On the simulated board, creates the folders a freshly flashed card has
// ("/vandik_data/log", "/vandik_app", "/tmp", "/var/tmp" where the HTTP
// server spools uploads, and "/sim" for the stand-in hardware's outputs)
// under the data root. Does nothing on the card.
bool PrepareDataRoot();

}  // namespace hx
