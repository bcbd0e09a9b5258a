#include "sim/chassis/sim_chassis.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "chassis/ipcomm_cmd.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"
#include "core/clock.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "sim/chassis/chassis_decode.h"

namespace hx {

struct SimChassis::Board {
    U32 slot = 0;
    U32 address = 0;
    int listener = -1;
    SimAnswer answer = SimAnswer::Success;
    U32 answerCount = 0;
    U32 exchanges = 0;
    std::map<std::pair<U8, U16>, std::vector<U8>> partial;
    std::thread thread;
};

const char* SimAnswer_Name(SimAnswer answer) {
    switch (answer) {
        case SimAnswer::Success: return "success";
        case SimAnswer::Error: return "error";
        case SimAnswer::Close: return "close without a reply";
        case SimAnswer::Stall: return "stall";
    }
    return "?";
}

namespace {

struct Packet {
    U8 fromSlot = 0;
    U16 command = 0;
    U32 index = 0;
    U32 count = 0;
    std::vector<U8> data;
};

// The chassis's own reading of a packet: the card's reassembly store belongs
// to the card's server thread and is not touched here.
std::optional<Packet> ReadPacket(const std::vector<U8>& block) {
    const U32 expected = IPComm_ExpectedLength(block);
    if (block.size() < 20 || expected != block.size()) {
        return std::nullopt;
    }
    const U32 length = GetLe32(block.data() + 12);
    if (GetLe32(block.data() + block.size() - 4) !=
        Common_CRCCalculate(block.data(), kIPCommHeaderSize + length, kIPCommCrcInitial)) {
        return std::nullopt;
    }
    return Packet{block[0], GetLe16(block.data() + 2), GetLe32(block.data() + 4), GetLe32(block.data() + 8),
                  std::vector<U8>(block.begin() + 16, block.begin() + 16 + length)};
}

void Answer(int connection, U32 slot, U16 command) {
    IPCommWire wire;
    IPComm_Build(command, nullptr, 0, 0, 1, &wire, static_cast<U8>(slot));
    IPComm_WriteBlock(connection, std::span(wire.bytes.data(), wire.length), 1000);
}

const char* OutcomeName(IPCommExchange outcome) {
    switch (outcome) {
        case IPCommExchange::Success: return "success";
        case IPCommExchange::ErrorReply: return "error";
        case IPCommExchange::Closed: return "closed without a reply";
        case IPCommExchange::TimedOut: return "no reply in time";
        case IPCommExchange::BadReply: return "a reply that does not parse";
        case IPCommExchange::Refused: return "refused (not listening)";
        case IPCommExchange::NoSocket: return "no socket";
    }
    return "?";
}

std::string PacketText(U32 index, U32 count, std::size_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "packet %u of %u, %zu bytes", index + 1, count, bytes);
    return text;
}

constexpr std::uint64_t kPeerRetryMicros = 250'000;

}  // namespace

SimChassis::SimChassis() = default;

SimChassis::~SimChassis() { Stop(); }

bool SimChassis::Listen(Board& board) {
    board.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(board.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(board.address);
    if (bind(board.listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(board.listener, 16) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "sim chassis: slot %u cannot listen at %s:%u: %s\n", board.slot,
               IPComm_AddressText(board.address).c_str(), port_, std::strerror(errno));
        close(board.listener);
        board.listener = -1;
        return false;
    }
    if (port_ == 0) {
        socklen_t length = sizeof address;
        getsockname(board.listener, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    return true;
}

bool SimChassis::Start(const std::vector<U32>& slots, U16 port) {
    stopping_ = false;
    port_ = port;
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (U32 slot : slots) {
        auto board = std::make_unique<Board>();
        board->slot = slot;
        board->address = SimBoardAddress(slot);
        if (!Listen(*board)) {
            Stop();
            return false;
        }
        boards_[slot] = std::move(board);
    }
    for (auto& [slot, board] : boards_) {
        Board* raw = board.get();
        board->thread = std::thread([this, raw] { Run(*raw); });
    }
    return true;
}

void SimChassis::Stop() {
    stopping_ = true;
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
    }
    for (auto& [slot, board] : boards_) {
        if (board->thread.joinable()) {
            board->thread.join();
        }
        if (board->listener >= 0) {
            close(board->listener);
        }
    }
    boards_.clear();
    if (wake_ >= 0) {
        close(wake_);
        wake_ = -1;
    }
}

void SimChassis::Run(Board& board) {
    for (;;) {
        int listener = -1;
        {
            std::lock_guard lock(mutex_);
            listener = board.listener;
        }
        pollfd fds[2] = {{wake_, POLLIN, 0}, {listener, POLLIN, 0}};
        const int ready = poll(fds, listener >= 0 ? 2 : 1, 20);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            return;
        }
        if (listener < 0 || !(fds[1].revents & POLLIN)) {
            continue;
        }
        const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            Serve(board, connection);
            close(connection);
        }
    }
}

SimAnswer SimChassis::PickAnswer(Board& board, U16 command) {
    // Caller holds mutex_.
    if (failAll_ > 0) {
        --failAll_;
        return SimAnswer::Error;
    }
    auto take = [](SimAnswer answer, U32& count) {
        if (count != kForever) {
            --count;
        }
        return answer;
    };
    if (auto found = commandAnswers_.find(command); found != commandAnswers_.end() && found->second.second > 0) {
        return take(found->second.first, found->second.second);
    }
    if (board.answerCount > 0) {
        return take(board.answer, board.answerCount);
    }
    return SimAnswer::Success;
}

void SimChassis::Print(const std::string& line) {
    std::function<void(const std::string&)> printer;
    {
        std::lock_guard lock(mutex_);
        printer = printer_;
    }
    if (printer) {
        printer(line);
    }
}

void SimChassis::Serve(Board& board, int connection) {
    const std::vector<U8> block = IPComm_ReceiveBlock(connection, 2000);
    const std::optional<Packet> packet = ReadPacket(block);
    SimAnswer answer = SimAnswer::Error;
    {
        std::lock_guard lock(mutex_);
        ++board.exchanges;
        if (packet) {
            answer = PickAnswer(board, packet->command);
        }
        changed_.notify_all();
    }
    const std::string who = "slot " + std::to_string(board.slot);
    if (!packet) {
        Print(who + " <- a block of " + std::to_string(block.size()) + " bytes that is no packet: answered error");
        Answer(connection, board.slot, IPCOMM_DATA_ERROR);
        return;
    }
    Print(who + " <- slot " + std::to_string(packet->fromSlot) + ": " + SimChassis_CommandText(packet->command) +
          ", " + PacketText(packet->index, packet->count, packet->data.size()) + ": " + SimAnswer_Name(answer));
    switch (answer) {
        case SimAnswer::Error:
            Answer(connection, board.slot, IPCOMM_DATA_ERROR);
            return;
        case SimAnswer::Close:
            return;
        case SimAnswer::Stall: {
            pollfd fds[2] = {{wake_, POLLIN, 0}, {connection, POLLIN, 0}};
            poll(fds, 2, 60'000);  // until the sender gives up or the chassis stops
            return;
        }
        case SimAnswer::Success:
            break;
    }
    // A message is recorded once its last packet is acknowledged, so a
    // repeated packet is never recorded twice.
    std::optional<SimReceivedMessage> complete;
    {
        std::lock_guard lock(mutex_);
        std::vector<U8>& joined = board.partial[{packet->fromSlot, packet->command}];
        if (packet->index == 0) {
            joined.clear();
        }
        joined.insert(joined.end(), packet->data.begin(), packet->data.end());
        if (packet->count <= 1 || packet->index + 1 == packet->count) {
            complete = SimReceivedMessage{board.slot, packet->fromSlot, packet->command, joined};
            board.partial.erase({packet->fromSlot, packet->command});
            messages_.push_back(*complete);
            changed_.notify_all();
        }
    }
    // A drop order is taken (and a held one recorded) before the
    // acknowledgement, so whoever sent it finds it held once its send is
    // done; the answer itself follows the acknowledgement, since the card
    // counts the order only once its send succeeded.
    const std::optional<Feed> feed = complete ? TakeDroppedFeed(board.slot, *complete) : std::nullopt;
    Answer(connection, board.slot, IPCOMM_SUCCESS_CMD);
    if (complete) {
        for (const std::string& line : SimChassis_DescribePayload(complete->command, complete->data)) {
            Print("    " + line);
        }
        if (feed) {
            AnswerDrop(board.slot, *feed);
        }
    }
}

std::optional<SimChassis::Feed> SimChassis::TakeDroppedFeed(U32 slot, const SimReceivedMessage& message) {
    if (message.command != IPCOMM_SEND_DEL_DESTCHANNEL || message.data.size() < 4) {
        return std::nullopt;
    }
    const U32 channel = GetLe32(message.data.data());
    std::lock_guard lock(mutex_);
    auto found = channel <= 0xFFFF ? feeds_.find({slot, static_cast<U16>(channel)}) : feeds_.end();
    if (found == feeds_.end()) {
        return std::nullopt;
    }
    Feed feed = std::move(found->second);
    feeds_.erase(found);
    switch (dropMode_) {
        case SimDropMode::Answer:
            return feed;
        case SimDropMode::Hold:
            heldDrops_.emplace_back(slot, std::move(feed));
            return std::nullopt;
        case SimDropMode::Silent:
            return std::nullopt;
    }
    return std::nullopt;
}

void SimChassis::AnswerDrop(U32 slot, const Feed& feed) {
    for (const SimMessage& message : feed.answer) {
        if (!Send(slot, feed.cardAddress, feed.cardPort, message.command, message.payload).ok()) {
            return;
        }
    }
}

void SimChassis::SetChannelFeed(U32 slot, U16 channel, U32 cardAddress, U16 cardPort, std::vector<SimMessage> answer) {
    std::lock_guard lock(mutex_);
    feeds_[{slot, channel}] = Feed{cardAddress, cardPort, std::move(answer)};
}

void SimChassis::SetDropMode(SimDropMode mode) {
    std::lock_guard lock(mutex_);
    dropMode_ = mode;
}

U32 SimChassis::ReleaseDrops() {
    std::vector<std::pair<U32, Feed>> held;
    {
        std::lock_guard lock(mutex_);
        held = std::exchange(heldDrops_, {});
    }
    for (const auto& [slot, feed] : held) {
        AnswerDrop(slot, feed);
    }
    return static_cast<U32>(held.size());
}

SimSendResult SimChassis::Send(U32 fromSlot, U32 address, U16 port, U16 command, std::span<const U8> data,
                               U32 waitForPeerMs) {
    const U32 count = data.empty() ? 1 : static_cast<U32>((data.size() + kIPCommMaxData - 1) / kIPCommMaxData);
    const std::string who = "slot " + std::to_string(fromSlot) + " -> " + IPComm_AddressText(address) + ":" +
                            std::to_string(port) + ": ";
    Print(who + SimChassis_CommandText(command) + ", " + std::to_string(data.size()) + " bytes in " +
          std::to_string(count) + (count == 1 ? " packet" : " packets"));
    if (!data.empty()) {
        for (const std::string& line : SimChassis_DescribePayload(command, data)) {
            Print("    " + line);
        }
    }
    SimSendResult result;
    U32 waitedMs = 0;
    for (U32 index = 0; index < count && !stopping_; ++index) {
        const std::size_t offset = std::size_t{index} * kIPCommMaxData;
        const U32 length = static_cast<U32>(std::min<std::size_t>(kIPCommMaxData, data.size() - std::min(data.size(), offset)));
        U16 reply = 0;
        for (;;) {
            result.outcome = IPComm_ExchangeOnce(address, port, static_cast<U8>(fromSlot), command,
                                                 data.empty() ? nullptr : data.data() + offset, length, index, count,
                                                 &reply);
            if (result.outcome != IPCommExchange::Refused || index != 0 || waitedMs >= waitForPeerMs || stopping_) {
                break;
            }
            if (waitedMs == 0) {
                Print(who + "not listening yet; trying again for at most " + std::to_string(waitForPeerMs / 1000) +
                      " s");
            }
            TheClock().SleepMicros(kPeerRetryMicros);
            waitedMs += static_cast<U32>(kPeerRetryMicros / 1000);
        }
        Print("  " + PacketText(index, count, length) + ": " + OutcomeName(result.outcome));
        if (!result.ok()) {
            return result;
        }
        ++result.packets;
    }
    if (stopping_ && result.packets < count) {
        result.outcome = IPCommExchange::Closed;
    }
    return result;
}

void SimChassis::SetAnswer(U32 slot, SimAnswer answer, U32 count) {
    std::lock_guard lock(mutex_);
    if (auto found = boards_.find(slot); found != boards_.end()) {
        found->second->answer = answer;
        found->second->answerCount = count;
    }
}

void SimChassis::SetCommandAnswer(U16 command, SimAnswer answer, U32 count) {
    std::lock_guard lock(mutex_);
    commandAnswers_[command] = {answer, count};
}

void SimChassis::FailNextExchanges(U32 count) {
    std::lock_guard lock(mutex_);
    failAll_ = count;
}

bool SimChassis::Refuse(U32 slot, bool refuse) {
    std::lock_guard lock(mutex_);
    auto found = boards_.find(slot);
    if (found == boards_.end()) {
        return false;
    }
    Board& board = *found->second;
    if (refuse && board.listener >= 0) {
        // The board's thread may be polling this socket, which keeps it open
        // past close(); shutting it down refuses new peers at once.
        shutdown(board.listener, SHUT_RDWR);
        close(board.listener);
        board.listener = -1;
        return true;
    }
    return refuse || board.listener >= 0 || Listen(board);
}

void SimChassis::SetPrinter(std::function<void(const std::string&)> printer) {
    std::lock_guard lock(mutex_);
    printer_ = std::move(printer);
}

std::vector<SimReceivedMessage> SimChassis::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(messages_, {});
}

U32 SimChassis::Exchanges(U32 slot) {
    std::lock_guard lock(mutex_);
    auto found = boards_.find(slot);
    return found == boards_.end() ? 0 : found->second->exchanges;
}

bool SimChassis::WaitForMessages(std::size_t count, int limitMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return messages_.size() >= count; });
}

SimPortHold::SimPortHold() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    // SO_REUSEADDR and never listening: an explicit bind with SO_REUSEADDR
    // (the card's server, the simulated boards) still gets the port, while
    // the kernel hands it to no one asking for any free port.
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
}

SimPortHold::~SimPortHold() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

U16 SimChassis_FreeLoopbackPort() { return SimPortHold().port(); }

U16 SimChassis_FreeUdpLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    U16 port = 0;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace hx
