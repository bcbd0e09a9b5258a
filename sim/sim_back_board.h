// Simulated back board on the serial link: a thread on the master side of a
// pseudo-terminal whose slave is linked at the serial device path of the sim
// run profile (the data root's "/sim/ttyPS1"), so the card's serial code opens
// and drives it exactly as it would drive "/dev/ttyPS1".
//
// It answers network-settings requests with loopback addresses (own = the
// address the PC run listens on) or with addresses a test gives, and
// acknowledges and records error codes. A test can make it silent, break the
// CRC of its answers, or answer for another slot, for a number of frames or
// for good. All state is behind one mutex; the thread runs until Stop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/types.h"
#include "platform/serial_frame.h"

namespace hx {

class SimBackBoard {
public:
    enum class Fault {
        None,
        Silent,     // receives and counts, answers nothing
        BadCrc,     // answers with a broken CRC
        WrongSlot,  // answers for the next slot up
    };
    static constexpr U32 kForever = std::numeric_limits<U32>::max();
    static constexpr U32 kBackBoardAddress = 0x7F000010;  // 127.0.0.16
    static constexpr U32 kNetmask = 0xFF000000;           // the loopback /8
    static constexpr U32 kGateway = 0x7F0000FE;           // 127.0.0.254

    SimBackBoard() = default;
    ~SimBackBoard();
    SimBackBoard(const SimBackBoard&) = delete;
    SimBackBoard& operator=(const SimBackBoard&) = delete;

    // Opens the pseudo-terminal, links `devicePath` (a real path; a stale link
    // there is replaced) to its slave and starts the thread. False (logged)
    // when any step fails.
    bool Start(const std::string& devicePath);
    // Stops the thread, removes the link and closes the terminal.
    void Stop();
    bool running() const { return thread_.joinable(); }
    std::string slavePath() const;

    // The next `frames` frames that would be answered get `fault` instead.
    void SetFault(Fault fault, U32 frames = kForever);
    // Answers carry these settings as given (UTC included); nullopt goes back
    // to the loopback defaults with the clock's current UTC.
    void SetNetworkSettings(std::optional<SerialNetworkSettings> settings);
    // The loopback defaults: own = the run profile's listening address when
    // it is a loopback address, else 127.0.0.1.
    static SerialNetworkSettings LoopbackSettings();

    U32 networkRequests();
    U32 errorCodeFrames();
    // Codes acknowledged, in order.
    std::vector<U32> acknowledgedErrorCodes();
    // Waits (at most `limitMs` of real time) until this many frames in all
    // have been handled; false on time-out.
    bool WaitForFrames(U32 frames, int limitMs = 5000);

private:
    void Run();
    void Handle(const SerialFrame& frame);
    void Send(const SerialFrame& frame, bool breakCrc);
    std::optional<Fault> TakeFault();

    int master_ = -1;
    int slave_ = -1;   // held open so the line stays up between the card's opens
    int wake_ = -1;    // eventfd that ends the thread
    std::string slavePath_;
    std::string linkPath_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    Fault fault_ = Fault::None;
    U32 faultFrames_ = 0;
    std::optional<SerialNetworkSettings> settings_;
    U32 framesHandled_ = 0;
    U32 networkRequests_ = 0;
    U32 errorCodeFrames_ = 0;
    std::vector<U32> acknowledged_;
};

// Start-up hook of the simulated board: starts the process-wide simulated back
// board on the run profile's serial device, so it must run before
// UartComm_init. Does nothing and returns false on the card profile; true
// when the board runs (already or now).
bool SimBackBoard_Start();
// The process-wide board once started, else null.
SimBackBoard* SimBackBoard_Instance();

}  // namespace hx
