// Simulated chassis peers on the inter-board link: each board (back board,
// input cards, EIT board) listens at its own loopback address from the run
// profile's table (SimBoardAddress) on one shared port, joins the packets it
// receives into messages, records them, and answers as set per command or per
// board: success, error, close without a reply, stall (hold the connection,
// answer nothing); a board can also refuse (not listen). A board can send too
// (Send): a message cut into packets, one connection each, as a peer sends it.
//
// With a printer set, every packet received or sent is printed with its header
// and answer, and every whole message with its decoded payload
// (chassis_decode.h).
//
// An input card also answers the card's order to drop an output channel it
// feeds (2068): once the order is acknowledged it sends the card the delete
// orders of its programs there and then the apply command (271), as set with
// SetChannelFeed; a test can hold those answers back or make the cards silent.
//
// One thread per board; all recorded state is behind one mutex, never held
// across a network wait. Send runs in the caller's thread. Used by tests and
// by the chassis-sim program (chassis_plan.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "chassis/ipcomm_client.h"
#include "core/types.h"

namespace hx {

enum class SimAnswer { Success, Error, Close, Stall };

const char* SimAnswer_Name(SimAnswer answer);

// The outcome of a Send: how the last exchange went and how many packets
// were answered with success.
struct SimSendResult {
    IPCommExchange outcome = IPCommExchange::Refused;
    U32 packets = 0;
    bool ok() const { return outcome == IPCommExchange::Success; }
};

// A message a board sends on its own: command and payload.
struct SimMessage {
    U16 command;
    std::vector<U8> payload;
};

// How the input cards answer an order to drop a channel they feed.
enum class SimDropMode {
    Answer,  // at once, from the board's thread
    Hold,    // kept until ReleaseDrops
    Silent,  // never: the order is acknowledged and forgotten
};

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
    // The next `count` packets of `command`, at any board, get `answer`; this
    // comes before the board's own setting.
    void SetCommandAnswer(U16 command, SimAnswer answer, U32 count = kForever);
    // The next `count` exchanges with any board are answered with an error.
    void FailNextExchanges(U32 count);
    // Stops (true) or resumes (false) listening on `slot`'s address.
    bool Refuse(U32 slot, bool refuse);
    // Board `slot` feeds output `channel` of the card at `cardAddress`:`cardPort`:
    // an acknowledged 2068 for that channel is answered with `answer`, sent
    // to the card one message after the other; the board then no longer feeds
    // the channel.
    void SetChannelFeed(U32 slot, U16 channel, U32 cardAddress, U16 cardPort, std::vector<SimMessage> answer);
    void SetDropMode(SimDropMode mode);
    // Sends the answers held back so far, in the caller's thread; how many
    // drop orders were answered.
    U32 ReleaseDrops();
    // Prints every packet and message to this sink (the chassis-sim program).
    void SetPrinter(std::function<void(const std::string&)> printer);

    // Sends a message as board `fromSlot` to `address`:`port`: packets of at
    // most 1,400 data bytes, each on a connection of its own, no repeats; it
    // ends at the first packet not answered with success. While the first
    // packet is refused (the peer not listening yet) it is tried again every
    // 250 ms (TheClock) for at most `waitForPeerMs`. Returns early once Stop
    // is called.
    SimSendResult Send(U32 fromSlot, U32 address, U16 port, U16 command, std::span<const U8> data,
                       U32 waitForPeerMs = 0);

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
    SimAnswer PickAnswer(Board& board, U16 command);
    void Print(const std::string& line);
    struct Feed {
        U32 cardAddress = 0;
        U16 cardPort = 0;
        std::vector<SimMessage> answer;
    };
    // The feed a received message asks to drop, taken (nothing for others).
    std::optional<Feed> TakeDroppedFeed(U32 slot, const SimReceivedMessage& message);
    void AnswerDrop(U32 slot, const Feed& feed);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<U32, std::unique_ptr<Board>> boards_;
    std::vector<SimReceivedMessage> messages_;
    U32 failAll_ = 0;
    std::map<U16, std::pair<SimAnswer, U32>> commandAnswers_;
    std::map<std::pair<U32, U16>, Feed> feeds_;  // by (slot, output channel)
    SimDropMode dropMode_ = SimDropMode::Answer;
    std::vector<std::pair<U32, Feed>> heldDrops_;
    std::atomic<bool> stopping_{false};
    std::function<void(const std::string&)> printer_;
    U16 port_ = 0;
    int wake_ = -1;
};

// A free port of 127.0.0.1, kept for the holder while it lives: the card's
// server (at 127.0.0.1) and a simulated chassis (at its boards' addresses)
// bind it with SO_REUSEADDR as usual, but nobody asking the kernel for a free
// port gets it in the meantime. port() is 0 when none could be had.
class SimPortHold {
public:
    SimPortHold();
    ~SimPortHold();
    SimPortHold(const SimPortHold&) = delete;
    SimPortHold& operator=(const SimPortHold&) = delete;
    U16 port() const { return port_; }

private:
    int fd_ = -1;
    U16 port_ = 0;
};

// A port the kernel has just handed out on loopback, free again once this
// returns (another process may take it before it is bound: hold it with
// SimPortHold where that matters). 0 when none could be had.
U16 SimChassis_FreeLoopbackPort();
// The same for a UDP port (the card's SNMP agent); nothing holds it.
U16 SimChassis_FreeUdpLoopbackPort();

}  // namespace hx
