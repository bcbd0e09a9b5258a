#include "sim/fpga160t.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "core/clock.h"
#include "core/common_fun.h"

namespace hx::sim {

namespace {

constexpr U8 kHeaderByte = 0x47;
constexpr std::size_t kHeadBytes = 8;
constexpr std::size_t kCrcBytes = 4;
// The card's reader refuses a length of 245 or more; the 160T never sends one
// and takes none.
constexpr U16 kMaxDataLength = 244;

std::vector<U8> BuildFrame(U8 sequence, U8 command, std::span<const U8> data) {
    std::vector<U8> frame(kHeadBytes + data.size() + kCrcBytes);
    PutLe32(frame.data(), 0x47474747);
    frame[4] = sequence;
    frame[5] = command;
    PutLe16(frame.data() + 6, static_cast<U16>(data.size()));
    std::copy(data.begin(), data.end(), frame.begin() + kHeadBytes);
    const std::size_t crcAt = kHeadBytes + data.size();
    PutLe32(frame.data() + crcAt, Common_CRC_Calculate(frame.data() + 4, static_cast<U32>(crcAt - 4), kCrcInitLinks));
    return frame;
}

void Reseal(std::vector<U8>& frame) {
    const std::size_t crcAt = frame.size() - kCrcBytes;
    PutLe32(frame.data() + crcAt, Common_CRC_Calculate(frame.data() + 4, static_cast<U32>(crcAt - 4), kCrcInitLinks));
}

std::optional<U32> Lookup(const std::map<U32, U32>& map, U32 key) {
    const auto it = map.find(key);
    return it == map.end() ? std::nullopt : std::optional<U32>(it->second);
}

const char* CommandName(U8 command) {
    switch (command) {
        case k160TStart:
            return "START";
        case k160TEnd:
            return "END";
        case k160TParameters:
            return "PARAMETERS";
        case k160TStatus:
            return "STATUS";
        case k160TReset9119:
            return "RESET9119";
        case k160TWriteFpga:
            return "WRITEFPGA";
        case k160TReadFpga:
            return "READFPGA";
        case k160TClose9119:
            return "CLOSE9119";
        case k160TWrite9119:
            return "WRITE9119";
        case k160TRead9119:
            return "READ9119";
        default:
            return "OTHER";
    }
}

std::vector<U8> Word(U32 value) {
    std::vector<U8> bytes(4);
    PutLe32(bytes.data(), value);
    return bytes;
}

}  // namespace

Fpga160T::Fpga160T(Uart160THook& hook, std::string logPath)
    : hook_(hook), logPath_(std::move(logPath)), startMicros_(TheClock().MonotonicMicros()) {
    status_[k160TTemperatureWord] = k160TDefaultTemperature;
    hook_.AttachPeer([this](U8 byte) { Receive(byte); });
}

void Fpga160T::Receive(U8 byte) {
    std::lock_guard lock(mutex_);
    input_.push_back(byte);
    for (;;) {
        // Stay in step with the header: drop bytes until the buffer could be
        // the start of a frame.
        const auto couldStartFrame = [this](std::size_t at) {
            for (std::size_t i = at; i < input_.size() && i < at + 4; ++i) {
                if (input_[i] != kHeaderByte) {
                    return false;
                }
            }
            return true;
        };
        std::size_t skip = 0;
        while (skip < input_.size() && !couldStartFrame(skip)) {
            ++skip;
        }
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(skip));
        if (input_.size() < kHeadBytes) {
            return;
        }
        const U16 length = GetLe16(input_.data() + 6);
        if (length > kMaxDataLength) {
            ++dropped_;
            input_.erase(input_.begin());
            continue;
        }
        const std::size_t size = kHeadBytes + length + kCrcBytes;
        if (input_.size() < size) {
            return;
        }
        const std::vector<U8> frame(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(size));
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(size));
        const U32 crc = Common_CRC_Calculate(frame.data() + 4, static_cast<U32>(size - kCrcBytes - 4), kCrcInitLinks);
        if (crc != GetLe32(frame.data() + size - kCrcBytes)) {
            ++dropped_;
            Log("frame with a bad CRC dropped");
            continue;
        }
        Handle(frame[4], frame[5], std::span<const U8>(frame).subspan(kHeadBytes, length));
    }
}

void Fpga160T::Handle(U8 sequence, U8 command, std::span<const U8> data) {
    frames_.push_back(Received160TFrame{sequence, command, {data.begin(), data.end()}, TheClock().MonotonicMicros()});
    char text[96];
    if (data.size() >= 8) {
        std::snprintf(text, sizeof text, "seq %3u  %-10s {%u, %u}", sequence, CommandName(command), GetLe32(data.data()),
                      GetLe32(data.data() + 4));
    } else if (data.size() >= 4) {
        std::snprintf(text, sizeof text, "seq %3u  %-10s {%u}", sequence, CommandName(command), GetLe32(data.data()));
    } else {
        std::snprintf(text, sizeof text, "seq %3u  %s", sequence, CommandName(command));
    }
    Log(text);
    if (burstOpen_ && command != k160TParameters && command != k160TEnd) {
        bursts_.back().interrupted = true;
    }
    const std::optional<std::vector<U8>> replyData = ReplyData(command, data);
    const ReplyFault fault = TakeFault(command);
    if (!replyData || fault.kind == ReplyFault::Kind::NoAnswer) {
        return;
    }
    std::vector<U8> reply = BuildFrame(sequence, command, *replyData);
    std::uint64_t visibleAt = 0;
    using Kind = ReplyFault::Kind;
    switch (fault.kind) {
        case Kind::BadCrc:
            reply.back() ^= 0x5A;
            break;
        case Kind::WrongSequence:
            reply[4] = static_cast<U8>(sequence + 1);
            Reseal(reply);
            break;
        case Kind::WrongCommand:
            reply[5] = static_cast<U8>(command + 1);
            Reseal(reply);
            break;
        case Kind::AckNotFF:
            if (reply.size() > 11) {
                reply[11] = 0x00;
                Reseal(reply);
            }
            break;
        case Kind::PartialThenSilence:
            reply.resize(kHeadBytes + 2);
            break;
        case Kind::Length245:
            PutLe16(reply.data() + 6, 245);
            break;
        case Kind::WrongHeader:
            reply[0] = 0x48;
            break;
        case Kind::Delayed:
            visibleAt = TheClock().MonotonicMicros() + fault.delayMicros;
            break;
        default:
            break;
    }
    hook_.SendToCard(reply, visibleAt);
}

void Fpga160T::Log(const char* text) {
    if (logPath_.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(logPath_).parent_path(), ignored);
    if (std::FILE* log = std::fopen(logPath_.c_str(), "a")) {
        const double seconds = static_cast<double>(TheClock().MonotonicMicros() - startMicros_) / 1e6;
        std::fprintf(log, "%10.3f s  %s\n", seconds, text);
        std::fclose(log);
    }
}

std::optional<std::vector<U8>> Fpga160T::ReplyData(U8 command, std::span<const U8> data) {
    static const std::vector<U8> kAck = {0x00, 0x00, 0x00, 0xFF};
    const bool hasPair = data.size() >= 8;
    const U32 address = data.size() >= 4 ? GetLe32(data.data()) : 0;
    const U32 value = hasPair ? GetLe32(data.data() + 4) : 0;
    switch (command) {
        case k160TStart:
            if (burstOpen_) {
                bursts_.back().interrupted = true;
            }
            bursts_.emplace_back();
            burstOpen_ = true;
            return kAck;
        case k160TParameters:
            if (hasPair) {
                parameters_[address] = value;
                if (burstOpen_) {
                    bursts_.back().pairs.push_back({address, value});
                }
            }
            return kAck;
        case k160TEnd:
            if (burstOpen_) {
                bursts_.back().end = Parameter160T{address, value};
                burstOpen_ = false;
            }
            return kAck;
        case k160TWriteFpga:
            if (hasPair) {
                registers_[address] = value;
            }
            return kAck;
        case k160TWrite9119:
        case k160TClose9119:
            if (hasPair) {
                dac_[address] = value;
            }
            return kAck;
        case k160TReset9119:
            ++dacResets_;
            return kAck;
        case k160TReadFpga:
            return Word(Lookup(registers_, address).value_or(0));
        case k160TRead9119:
            return Word(Lookup(dac_, address).value_or(0));
        case k160TStatus: {
            std::vector<U8> words(status_.size() * 4);
            for (std::size_t i = 0; i < status_.size(); ++i) {
                PutLe32(words.data() + 4 * i, status_[i]);
            }
            return words;
        }
        default:
            return std::nullopt;
    }
}

ReplyFault Fpga160T::TakeFault(U8 command) {
    if (const auto it = commandFaults_.find(command); it != commandFaults_.end()) {
        return it->second;
    }
    if (nextFaultFrames_ > 0) {
        if (framesBeforeFault_ > 0) {
            --framesBeforeFault_;
            return {};
        }
        --nextFaultFrames_;
        return nextFault_;
    }
    return {};
}

std::vector<Received160TFrame> Fpga160T::Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<Received160TFrame> Fpga160T::TakeFrames() {
    std::lock_guard lock(mutex_);
    return std::exchange(frames_, {});
}

std::vector<Burst160T> Fpga160T::Bursts() {
    std::lock_guard lock(mutex_);
    return bursts_;
}

std::map<U32, U32> Fpga160T::ParameterMap() {
    std::lock_guard lock(mutex_);
    return parameters_;
}

U32 Fpga160T::DroppedFrames() {
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::optional<U32> Fpga160T::Register(U32 address) {
    std::lock_guard lock(mutex_);
    return Lookup(registers_, address);
}

void Fpga160T::SetRegister(U32 address, U32 value) {
    std::lock_guard lock(mutex_);
    registers_[address] = value;
}

std::optional<U32> Fpga160T::DacRegister(U32 address) {
    std::lock_guard lock(mutex_);
    return Lookup(dac_, address);
}

void Fpga160T::SetDacRegister(U32 address, U32 value) {
    std::lock_guard lock(mutex_);
    dac_[address] = value;
}

U32 Fpga160T::DacResets() {
    std::lock_guard lock(mutex_);
    return dacResets_;
}

void Fpga160T::SetTemperature(U32 degrees) { SetStatusWord(k160TTemperatureWord, degrees); }

void Fpga160T::SetStatusWord(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    if (index < status_.size()) {
        status_[index] = value;
    }
}

void Fpga160T::SetChannelRates(U32 channel, U16 total, U16 effective) {
    if (channel >= 16) {
        return;
    }
    std::lock_guard lock(mutex_);
    const U32 shift = channel % 2 == 0 ? 0 : 16;
    const U32 keep = channel % 2 == 0 ? 0xFFFF0000u : 0x0000FFFFu;
    U32& totalWord = status_[k160TTotalRateWord + channel / 2];
    U32& effectiveWord = status_[k160TEffectiveRateWord + channel / 2];
    totalWord = (totalWord & keep) | static_cast<U32>(total) << shift;
    effectiveWord = (effectiveWord & keep) | static_cast<U32>(effective) << shift;
}

void Fpga160T::FailNext(ReplyFault fault, U32 frames, U32 after) {
    std::lock_guard lock(mutex_);
    nextFault_ = fault;
    nextFaultFrames_ = frames;
    framesBeforeFault_ = after;
}

void Fpga160T::FailCommand(U8 command, ReplyFault fault) {
    std::lock_guard lock(mutex_);
    commandFaults_[command] = fault;
}

void Fpga160T::ClearFaults() {
    std::lock_guard lock(mutex_);
    nextFault_ = {};
    nextFaultFrames_ = 0;
    framesBeforeFault_ = 0;
    commandFaults_.clear();
}

void Fpga160T::HoldTransmitFull(bool full) { hook_.HoldTransmitFull(full); }

}  // namespace hx::sim
