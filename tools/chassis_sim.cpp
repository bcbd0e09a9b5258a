// chassis-sim: the simulated chassis around the card on a PC. The back board
// (slot 16), an input card and an EIT board listen at their loopback addresses
// on the inter-board port, print every packet they receive and send, and play
// the plan of sim/chassis/chassis_plan.h against the card; with
// --back-board-only the back board alone, for a card restarting on the
// configuration it saved. Runs until SIGINT or SIGTERM. Contacts nothing
// outside 127.0.0.0/8.
#include <arpa/inet.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"

namespace {

const char* const kUsage =
    "usage: chassis-sim [options]\n"
    "  --data-root DIR        the card's data root (default ./var)\n"
    "  --port N               inter-board port of every board (default 8000)\n"
    "  --card ADDR            the card's address, within 127.0.0.0/8 (default 127.0.0.1)\n"
    "  --card-slot N          the card's slot (default 3)\n"
    "  --input-slot N         the input card's slot (default 5)\n"
    "  --eit-slot N           the EIT board's slot (default 7)\n"
    "  --wait SECONDS         how long to wait for the card's port (default 60)\n"
    "  --back-board-only      only the back board: it announces itself and the card;\n"
    "                         no input card or EIT board listens or sends\n"
    "  --answer CMD=ANSWER    how every board answers a command (name or code):\n"
    "                         success, error, close (no reply) or stall\n"
    "  --board SLOT=ANSWER    how one board answers: success, error, close, stall,\n"
    "                         or refuse (not listening)\n";

struct Options {
    std::string dataRoot = "var";
    hx::SimChassisPlan plan;
    std::vector<std::pair<hx::U16, hx::SimAnswer>> commandAnswers;
    std::vector<std::pair<hx::U32, std::string>> boardAnswers;
};

bool ParseUnsigned(const std::string& text, hx::U32 max, unsigned long& out) {
    const std::optional<hx::U32> value = hx::Common_ParseNumber(text, max);
    if (value) {
        out = *value;
    }
    return value.has_value();
}

bool ParseAnswer(const std::string& text, hx::SimAnswer& out) {
    static const std::pair<const char*, hx::SimAnswer> kAnswers[] = {
        {"success", hx::SimAnswer::Success}, {"error", hx::SimAnswer::Error},
        {"close", hx::SimAnswer::Close},     {"stall", hx::SimAnswer::Stall}};
    for (const auto& [name, answer] : kAnswers) {
        if (text == name) {
            out = answer;
            return true;
        }
    }
    return false;
}

bool ParseCommand(const std::string& text, hx::U16& out) {
    unsigned long code = 0;
    if (ParseUnsigned(text, 0xFFFF, code)) {
        out = static_cast<hx::U16>(code);
        return true;
    }
    const hx::U32 named = hx::IPComm_CommandCode(text.c_str());
    if (named > 0xFFFF) {
        return false;
    }
    out = static_cast<hx::U16>(named);
    return true;
}

// "LEFT=RIGHT" split at the first '='.
bool Split(const std::string& text, std::string& left, std::string& right) {
    const std::size_t at = text.find('=');
    if (at == std::string::npos) {
        return false;
    }
    left = text.substr(0, at);
    right = text.substr(at + 1);
    return true;
}

bool Parse(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--back-board-only") {
            options.plan.backBoardOnly = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = option == "--help" ? "" : "unknown option or missing value: " + option;
            return false;
        }
        const std::string& value = args[++i];
        unsigned long number = 0;
        std::string left;
        std::string right;
        if (option == "--data-root") {
            options.dataRoot = value;
        } else if (option == "--port" && ParseUnsigned(value, 65535, number) && number != 0) {
            options.plan.port = static_cast<hx::U16>(number);
        } else if (option == "--card") {
            in_addr address{};
            if (inet_pton(AF_INET, value.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127) {
                error = "--card takes an address within 127.0.0.0/8: " + value;
                return false;
            }
            options.plan.cardAddress = ntohl(address.s_addr);
        } else if (option == "--card-slot" && ParseUnsigned(value, 15, number)) {
            options.plan.cardSlot = static_cast<hx::U32>(number);
        } else if (option == "--input-slot" && ParseUnsigned(value, 15, number)) {
            options.plan.inputSlot = static_cast<hx::U32>(number);
        } else if (option == "--eit-slot" && ParseUnsigned(value, 15, number)) {
            options.plan.eitSlot = static_cast<hx::U32>(number);
        } else if (option == "--wait" && ParseUnsigned(value, 3600, number)) {
            options.plan.waitForCardMs = static_cast<hx::U32>(number * 1000);
        } else if (option == "--answer" && Split(value, left, right)) {
            hx::U16 command = 0;
            hx::SimAnswer answer{};
            if (!ParseCommand(left, command) || !ParseAnswer(right, answer)) {
                error = "--answer takes CMD=success|error|close|stall: " + value;
                return false;
            }
            options.commandAnswers.emplace_back(command, answer);
        } else if (option == "--board" && Split(value, left, right) && ParseUnsigned(left, 16, number)) {
            hx::SimAnswer answer{};
            if (right != "refuse" && !ParseAnswer(right, answer)) {
                error = "--board takes SLOT=success|error|close|stall|refuse: " + value;
                return false;
            }
            options.boardAnswers.emplace_back(static_cast<hx::U32>(number), right);
        } else {
            error = "unknown option or bad value: " + option + " " + value;
            return false;
        }
    }
    const hx::U32 slots[] = {options.plan.cardSlot, options.plan.inputSlot, options.plan.eitSlot};
    if (slots[0] == slots[1] || slots[0] == slots[2] || slots[1] == slots[2]) {
        error = "the card, the input card and the EIT board need slots of their own";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Options options;
    std::string error;
    if (!Parse(args, options, error)) {
        std::fprintf(stderr, "chassis-sim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    // Lines go out whole and at once: the run script prefixes and interleaves them.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    hx::RunProfile profile = hx::SimProfile(options.dataRoot);
    profile.interBoardPort = options.plan.port;
    hx::SetProfile(profile);
    // The card library's log lines stay out of the chassis's output (they
    // would repeat every refused connect while the card starts); the chassis
    // prints each exchange's outcome itself.
    hx::Log_SetConsoleSink([](std::string_view) {});

    // SIGINT and SIGTERM are taken by sigwait below, in this thread only.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    hx::SimChassis chassis;
    chassis.SetPrinter([](const std::string& line) { std::printf("%s\n", line.c_str()); });
    if (!chassis.Start(hx::SimChassis_PlanSlots(options.plan), options.plan.port)) {
        std::fprintf(stderr, "chassis-sim: the boards cannot listen on port %u\n", options.plan.port);
        return 1;
    }
    for (const auto& [command, answer] : options.commandAnswers) {
        chassis.SetCommandAnswer(command, answer);
    }
    for (const auto& [slot, answer] : options.boardAnswers) {
        hx::SimAnswer parsed{};
        if (answer == "refuse") {
            chassis.Refuse(slot, true);
        } else if (ParseAnswer(answer, parsed)) {
            chassis.SetAnswer(slot, parsed);
        }
    }
    std::printf("back board: slot 16 at %s:%u\n", hx::IPComm_AddressText(hx::SimBoardAddress(16)).c_str(),
                options.plan.port);
    if (!options.plan.backBoardOnly) {
        std::printf("input card: slot %u at %s:%u\n", options.plan.inputSlot,
                    hx::IPComm_AddressText(hx::SimBoardAddress(options.plan.inputSlot)).c_str(), options.plan.port);
        std::printf("EIT board : slot %u at %s:%u\n", options.plan.eitSlot,
                    hx::IPComm_AddressText(hx::SimBoardAddress(options.plan.eitSlot)).c_str(), options.plan.port);
    }
    std::printf("the card  : slot %u at %s:%u\n", options.plan.cardSlot,
                hx::IPComm_AddressText(options.plan.cardAddress).c_str(), options.plan.port);

    std::atomic<bool> planDone{false};
    std::thread plan([&] {
        const bool ok = hx::SimChassis_RunPlan(chassis, options.plan);
        std::printf(ok ? "the card took every message; listening on\n"
                       : "the card did not take every message (see above); listening on\n");
        planDone = true;
    });

    const timespec second{1, 0};
    int received = -1;
    while (received < 0) {
        received = sigtimedwait(&stopSignals, nullptr, &second);
        chassis.Take();  // printed already; nothing keeps them here
    }
    std::printf("stopping on signal %d\n", received);
    chassis.Stop();
    if (!planDone) {
        // A send may still wait for the card's reply; nothing is left to tidy.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    plan.join();
    return 0;
}
