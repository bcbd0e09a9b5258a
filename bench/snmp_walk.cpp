// Walking the card's SNMP agent: the board subtree (1.3.6.1.4.1.53117.8)
// against MIB-II (1.3.6.1.2.1, the library's system and snmp groups and
// sysORTable), with GETNEXT and with GETBULK (max-repetitions 10).
//
// The agent runs in the card program, started as a child process on the
// simulated board in a temporary data root (net-snmp is not reentrant: an
// agent and a client in one process would share its state); net-snmp's own
// client walks it over 127.0.0.1, one synchronous request at a time.
//
// Counters: varbinds per second of each walk and the board/MIB-II ratio. A
// board subtree that registers nothing yet gives a board rate of 0.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "sim/chassis/sim_chassis.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

extern char** environ;

namespace hx::bench {
namespace {

using Clock = std::chrono::steady_clock;

const std::vector<oid> kBoardSubtree = {1, 3, 6, 1, 4, 1, 53117, 8};
const std::vector<oid> kMib2Subtree = {1, 3, 6, 1, 2, 1};
constexpr long kBulkRepetitions = 10;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The card program with a read-only community for the walks, killed by its
// process id at the end (SIGTERM would stop only its agent).
class CardAgent {
public:
    CardAgent() {
        WriteConfiguration();
        port_ = SimChassis_FreeUdpLoopbackPort();
        const std::string root = Profile().dataRoot.string();
        const std::string output = ResolvePath("/card-output.txt");
        std::vector<std::string> argv = {HX_QAM_BINARY,
                                         "--data-root",
                                         root,
                                         "--inter-board-port",
                                         std::to_string(interBoard_.port()),
                                         "--http-port",
                                         "0",
                                         "--nms-port",
                                         "0",
                                         "--snmp-port",
                                         std::to_string(port_),
                                         "--sim-speed-up",
                                         "100"};
        std::vector<char*> arguments;
        for (std::string& argument : argv) {
            arguments.push_back(argument.data());
        }
        arguments.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int result = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, arguments.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start the card program");
        }
        const std::string log = ResolvePath("/var/log/snmpd.log");
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (ReadFile(log).find("NET-SNMP version") == std::string::npos) {
            if (Clock::now() > deadline) {
                throw std::runtime_error("the card's SNMP agent did not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~CardAgent() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    CardAgent(const CardAgent&) = delete;
    CardAgent& operator=(const CardAgent&) = delete;

    std::string address() const { return "udp:127.0.0.1:" + std::to_string(port_); }

private:
    static void WriteConfiguration() {
        const std::string folder = ResolvePath("/vandik_app/app");
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/snmpd.conf") << "rocommunity public 127.0.0.1\n";
        std::ofstream(folder + "/snmp.conf") << "mibs :\n";
    }

    SimPortHold interBoard_;
    pid_t pid_ = -1;
    U16 port_ = 0;
};

// One client session of the library (this process's only net-snmp user).
class WalkClient {
public:
    explicit WalkClient(const std::string& address) : peer_(address) {
        const std::string persistent = ResolvePath("/client");
        std::filesystem::create_directories(persistent);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, persistent.c_str());
        setenv("MIBS", "", 1);
        init_snmp("hx-snmp-walk-bench");
        netsnmp_session settings;
        snmp_sess_init(&settings);
        settings.version = SNMP_VERSION_2c;
        settings.peername = peer_.data();
        settings.community = reinterpret_cast<u_char*>(community_.data());
        settings.community_len = community_.size();
        settings.timeout = 2'000'000;
        settings.retries = 1;
        session_ = snmp_open(&settings);
        if (session_ == nullptr) {
            throw std::runtime_error("cannot open an SNMP session");
        }
    }
    ~WalkClient() {
        if (session_ != nullptr) {
            snmp_close(session_);
        }
        snmp_shutdown("hx-snmp-walk-bench");
    }
    WalkClient(const WalkClient&) = delete;
    WalkClient& operator=(const WalkClient&) = delete;

    // Varbinds inside `subtree`, walked with GETNEXT (repetitions 0) or
    // GETBULK; -1 when a request failed.
    long Walk(const std::vector<oid>& subtree, long repetitions) {
        std::vector<oid> cursor = subtree;
        long count = 0;
        for (;;) {
            netsnmp_pdu* request = snmp_pdu_create(repetitions > 0 ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT);
            if (repetitions > 0) {
                request->errstat = 0;             // non-repeaters
                request->errindex = repetitions;  // max-repetitions
            }
            snmp_add_null_var(request, cursor.data(), cursor.size());
            netsnmp_pdu* response = nullptr;
            const int status = snmp_synch_response(session_, request, &response);
            if (status != STAT_SUCCESS || response == nullptr || response->errstat != SNMP_ERR_NOERROR) {
                if (response != nullptr) {
                    snmp_free_pdu(response);
                }
                return -1;
            }
            bool done = response->variables == nullptr;
            for (netsnmp_variable_list* variable = response->variables; variable != nullptr && !done;
                 variable = variable->next_variable) {
                if (variable->type == SNMP_ENDOFMIBVIEW || variable->type == SNMP_NOSUCHOBJECT ||
                    variable->type == SNMP_NOSUCHINSTANCE ||
                    netsnmp_oid_is_subtree(subtree.data(), subtree.size(), variable->name,
                                           variable->name_length) != 0) {
                    done = true;
                    break;
                }
                ++count;
                cursor.assign(variable->name, variable->name + variable->name_length);
            }
            snmp_free_pdu(response);
            if (done) {
                return count;
            }
        }
    }

private:
    std::string peer_;
    std::string community_ = "public";
    netsnmp_session* session_ = nullptr;
};

// The card, its agent and the client, set up once for the program.
WalkClient& Client() {
    static BenchDataRoot root;
    static CardAgent card;
    static WalkClient client(card.address());
    return client;
}

// Each iteration walks the board subtree and MIB-II once; their varbind rates
// are taken from the time of each walk alone.
void WalkBoardAndMib2(benchmark::State& state, long repetitions) {
    WalkClient* client = nullptr;
    try {
        client = &Client();
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    double boardSeconds = 0;
    double mib2Seconds = 0;
    long boardVarbinds = 0;
    long mib2Varbinds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const long board = client->Walk(kBoardSubtree, repetitions);
        const auto middle = Clock::now();
        const long mib2 = client->Walk(kMib2Subtree, repetitions);
        const auto end = Clock::now();
        if (board < 0 || mib2 < 0) {
            state.SkipWithError("a walk request failed");
            return;
        }
        boardVarbinds += board;
        mib2Varbinds += mib2;
        boardSeconds += std::chrono::duration<double>(middle - start).count();
        mib2Seconds += std::chrono::duration<double>(end - middle).count();
    }
    const double boardRate = boardSeconds > 0 ? static_cast<double>(boardVarbinds) / boardSeconds : 0;
    const double mib2Rate = mib2Seconds > 0 ? static_cast<double>(mib2Varbinds) / mib2Seconds : 0;
    state.counters["board_varbinds_per_s"] = boardRate;
    state.counters["mib2_varbinds_per_s"] = mib2Rate;
    state.counters["board_to_mib2"] = mib2Rate > 0 ? boardRate / mib2Rate : 0;
    state.counters["board_varbinds"] = static_cast<double>(boardVarbinds) / static_cast<double>(state.iterations());
    state.counters["mib2_varbinds"] = static_cast<double>(mib2Varbinds) / static_cast<double>(state.iterations());
    if (boardVarbinds == 0) {
        state.SetLabel("board subtree empty");
    }
}

void BM_SnmpWalkGetNext(benchmark::State& state) { WalkBoardAndMib2(state, 0); }
void BM_SnmpWalkGetBulk10(benchmark::State& state) { WalkBoardAndMib2(state, kBulkRepetitions); }

BENCHMARK(BM_SnmpWalkGetNext)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SnmpWalkGetBulk10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace hx::bench
