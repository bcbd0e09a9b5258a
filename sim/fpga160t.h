// The simulated 160T: the second FPGA as the card's command link sees it,
// attached to the UART hook of the simulated main FPGA (sim/uart160t_hook.h).
//
// It parses the card's frames (header 0x47474747, sequence, command, length,
// data, CRC-32 with initial value 0x04C11DB7 over bytes 4 to the end of the
// data, all little-endian) on its own, so a fault in the card's codec shows
// up against it. Frames with a bad CRC are dropped. Before the configuration
// port has reported a load done, the hook hands it nothing and takes nothing
// from it: the 160T is silent.
//
// Replies:
//   - START, END, PARAMETERS, WRITEFPGA, RESET9119, CLOSE9119 and WRITE9119 are
//     acknowledged with the same sequence and command, length 4, data
//     00 00 00 FF;
//   - STATUS gets 49 words: word 48 the temperature in degrees C (45 until a
//     test sets it), words 16-23 and 32-39 the total and effective rates, two
//     channels a word, low half the even channel;
//   - READFPGA and READ9119 get one data word, the register asked for;
//   - anything else gets no answer.
// It keeps what it was sent for tests to read: every frame, every burst
// (START ... END) with its pairs, the merged parameter map, its registers and
// the DAC's; and appends one line per frame to a text log ("sim/160t.log" in
// the data root on the simulated board): the seconds since it was created,
// the sequence, the command and its {address, value}. Tests make it misbehave for the next n frames or for one command
// (ReplyFault), and can hold the card's transmit FIFO full.
//
// It runs inside the card's register writes (under g_reg_mutex) and never
// touches the register window; its state has its own mutex, so a test thread
// may read it while a card thread talks to it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/types.h"
#include "sim/uart160t_hook.h"

namespace hx::sim {

// Command codes of the link, as the 160T knows them.
enum Fpga160TCommand : U8 {
    k160TStart = 1,
    k160TEnd = 2,
    k160TParameters = 3,
    k160TStatus = 4,
    k160TReset9119 = 9,
    k160TWriteFpga = 11,
    k160TReadFpga = 12,
    k160TClose9119 = 13,
    k160TWrite9119 = 14,
    k160TRead9119 = 15,
};

constexpr U32 k160TStatusWords = 49;
constexpr U32 k160TTemperatureWord = 48;
constexpr U32 k160TTotalRateWord = 16;
constexpr U32 k160TEffectiveRateWord = 32;
constexpr U32 k160TDefaultTemperature = 45;

struct ReplyFault {
    enum class Kind {
        None,
        NoAnswer,
        BadCrc,
        WrongSequence,     // sequence byte one above the request's
        WrongCommand,      // command byte one above the request's
        AckNotFF,          // byte 11 of the reply is 0x00
        PartialThenSilence,  // the header and two more bytes, then nothing
        Length245,         // the header declares 245 data bytes
        WrongHeader,       // header word 0x47474748
        Delayed,           // the whole reply, `delayMicros` late
    };
    Kind kind = Kind::None;
    std::uint64_t delayMicros = 0;
};

struct Received160TFrame {
    U8 sequence;
    U8 command;
    std::vector<U8> data;
    std::uint64_t micros;  // TheClock() when its last byte arrived
};

struct Parameter160T {
    U32 address;
    U32 value;
    bool operator==(const Parameter160T&) const = default;
};

struct Burst160T {
    std::vector<Parameter160T> pairs;
    std::optional<Parameter160T> end;  // set when END closed it
    bool interrupted = false;          // another frame than PARAMETERS came in between
};

class Fpga160T {
public:
    // Attaches itself to the hook as its peer. `logPath`: real path of the
    // frame log; empty keeps none.
    explicit Fpga160T(Uart160THook& hook, std::string logPath = {});
    Fpga160T(const Fpga160T&) = delete;
    Fpga160T& operator=(const Fpga160T&) = delete;

    // One byte from the card.
    void Receive(U8 byte);

    // What the card sent.
    std::vector<Received160TFrame> Frames();
    std::vector<Received160TFrame> TakeFrames();
    std::vector<Burst160T> Bursts();
    std::map<U32, U32> ParameterMap();
    U32 DroppedFrames();

    // 160T registers (WRITEFPGA, READFPGA) and AD9119 registers (WRITE9119,
    // CLOSE9119, READ9119).
    std::optional<U32> Register(U32 address);
    void SetRegister(U32 address, U32 value);
    std::optional<U32> DacRegister(U32 address);
    void SetDacRegister(U32 address, U32 value);
    U32 DacResets();

    // The status reply.
    void SetTemperature(U32 degrees);
    void SetStatusWord(U32 index, U32 value);
    // Total and effective rate of a channel 0-15, in the status words' units.
    void SetChannelRates(U32 channel, U16 total, U16 effective);

    // Faults: `frames` frames after the next `after` ones, or every frame of
    // one command until cleared (a command's fault wins over the counted one).
    void FailNext(ReplyFault fault, U32 frames = 1, U32 after = 0);
    void FailCommand(U8 command, ReplyFault fault);
    void ClearFaults();
    void HoldTransmitFull(bool full);

private:
    void Handle(U8 sequence, U8 command, std::span<const U8> data);
    void Log(const char* text);
    std::optional<std::vector<U8>> ReplyData(U8 command, std::span<const U8> data);
    ReplyFault TakeFault(U8 command);

    Uart160THook& hook_;
    const std::string logPath_;
    const std::uint64_t startMicros_;
    std::mutex mutex_;
    std::vector<U8> input_;
    std::vector<Received160TFrame> frames_;
    std::vector<Burst160T> bursts_;
    bool burstOpen_ = false;
    std::map<U32, U32> parameters_;
    std::map<U32, U32> registers_;
    std::map<U32, U32> dac_;
    U32 dacResets_ = 0;
    U32 dropped_ = 0;
    std::array<U32, k160TStatusWords> status_{};
    ReplyFault nextFault_;
    U32 nextFaultFrames_ = 0;
    U32 framesBeforeFault_ = 0;
    std::map<U8, ReplyFault> commandFaults_;
};

}  // namespace hx::sim
