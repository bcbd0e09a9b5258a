// Simulated chassis peers on the inter-board link: each board (back board,
// input cards, EIT board) listens at its own loopback address from the run
// profile's table (SimBoardAddress) on one shared port, joins the packets it
// receives into messages, records them, and answers as set per board: success,
// error, close without a reply, stall (hold the connection, answer nothing),
// or refuse (not listening).
//
// One thread per board; all recorded state is behind one mutex. Used by tests
// and by the PC run (main starts the back board and an EIT board).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/types.h"

namespace hx {

enum class SimAnswer { Success, Error, Close, Stall };

struct SimReceivedMessage {
    U32 slot;       // the board that received it
    U8 fromSlot;    // the sender's slot byte
    U16 command;
    std::vector<U8> data;
};

class SimChassis {
public:
    static constexpr U32 kForever = std::numeric_limits<U32>::max();

    SimChassis();
    ~SimChassis();
    SimChassis(const SimChassis&) = delete;
    SimChassis& operator=(const SimChassis&) = delete;

    // Starts one board per slot at SimBoardAddress(slot):`port` (0: the first
    // board takes a free port, the others share it). False (logged) on failure.
    bool Start(const std::vector<U32>& slots, U16 port);
    void Stop();
    U16 port() const { return port_; }

    // The next `count` exchanges with `slot` get `answer`, then success again.
    void SetAnswer(U32 slot, SimAnswer answer, U32 count = kForever);
    // The next `count` exchanges with any board are answered with an error.
    void FailNextExchanges(U32 count);
    // Stops (true) or resumes (false) listening on `slot`'s address.
    bool Refuse(U32 slot, bool refuse);
    // Prints every packet and message to this sink (the chassis-sim program).
    void SetPrinter(std::function<void(const std::string&)> printer);

    // Complete messages acknowledged so far, oldest first; taking clears them.
    std::vector<SimReceivedMessage> Take();
    U32 Exchanges(U32 slot);
    // Waits (real time, at most `limitMs`) until `count` messages are held.
    bool WaitForMessages(std::size_t count, int limitMs = 5000);

private:
    struct Board;
    void Run(Board& board);
    void Serve(Board& board, int connection);
    bool Listen(Board& board);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<U32, std::unique_ptr<Board>> boards_;
    std::vector<SimReceivedMessage> messages_;
    U32 failAll_ = 0;
    std::function<void(const std::string&)> printer_;
    U16 port_ = 0;
    int wake_ = -1;
};

// The PC run's chassis (back board and EIT board), started by main before
// start-up on the sim profile.
void SimChassis_Start();

}  // namespace hx
