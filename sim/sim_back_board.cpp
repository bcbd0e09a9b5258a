#include "sim/sim_back_board.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "core/clock.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

SimBackBoard::~SimBackBoard() { Stop(); }

bool SimBackBoard::Start(const std::string& devicePath) {
    if (running()) {
        return true;
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "simulated back board: no pseudo-terminal\n");
        Stop();
        return false;
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave_ < 0 || tcgetattr(slave_, &raw) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "simulated back board: can't open %s\n", name);
        Stop();
        return false;
    }
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);

    const std::filesystem::path link(devicePath);
    std::error_code error;
    std::filesystem::create_directories(link.parent_path(), error);
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, error))) {
        std::filesystem::remove(link, error);
    }
    std::filesystem::create_symlink(slavePath_, link, error);
    if (error) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "simulated back board: can't link %s\n", devicePath.c_str());
        Stop();
        return false;
    }
    linkPath_ = devicePath;
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) {
        Stop();
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "simulated back board on %s (%s)\n", devicePath.c_str(), name);
    return true;
}

void SimBackBoard::Stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = write(wake_, &one, sizeof one);
        thread_.join();
    }
    if (!linkPath_.empty()) {
        std::error_code error;
        if (std::filesystem::read_symlink(linkPath_, error) == slavePath_) {
            std::filesystem::remove(linkPath_, error);
        }
        linkPath_.clear();
    }
    CloseFd(wake_);
    CloseFd(slave_);
    CloseFd(master_);
}

std::string SimBackBoard::slavePath() const { return slavePath_; }

void SimBackBoard::SetFault(Fault fault, U32 frames) {
    std::lock_guard lock(mutex_);
    fault_ = fault;
    faultFrames_ = fault == Fault::None ? 0 : frames;
}

void SimBackBoard::SetNetworkSettings(std::optional<SerialNetworkSettings> settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

SerialNetworkSettings SimBackBoard::LoopbackSettings() {
    in_addr listen{};
    U32 own = 0x7F000001;
    if (inet_pton(AF_INET, Profile().listenAddress.c_str(), &listen) == 1 && (ntohl(listen.s_addr) >> 24) == 127) {
        own = ntohl(listen.s_addr);
    }
    return SerialNetworkSettings{SimBoardAddress(16), own, kNetmask, kGateway,
                                 static_cast<U32>(TheClock().WallTime().tv_sec)};
}

U32 SimBackBoard::networkRequests() {
    std::lock_guard lock(mutex_);
    return networkRequests_;
}

U32 SimBackBoard::errorCodeFrames() {
    std::lock_guard lock(mutex_);
    return errorCodeFrames_;
}

std::vector<U32> SimBackBoard::acknowledgedErrorCodes() {
    std::lock_guard lock(mutex_);
    return acknowledged_;
}

bool SimBackBoard::WaitForFrames(U32 frames, int limitMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return framesHandled_ >= frames; });
}

void SimBackBoard::Run() {
    std::vector<U8> buffer;
    for (;;) {
        pollfd waiting[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (poll(waiting, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (waiting[1].revents != 0) {
            return;
        }
        if ((waiting[0].revents & POLLIN) == 0) {
            continue;
        }
        U8 chunk[256];
        const ssize_t count = read(master_, chunk, sizeof chunk);
        if (count <= 0) {
            continue;
        }
        buffer.insert(buffer.end(), chunk, chunk + count);
        for (;;) {
            SerialParseResult parsed = SerialFrame_Parse(buffer);
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(parsed.consumed));
            if (parsed.status == SerialParseStatus::Frame) {
                Handle(parsed.frame);
            } else if (parsed.status == SerialParseStatus::NeedMore) {
                break;
            }
        }
    }
}

std::optional<SimBackBoard::Fault> SimBackBoard::TakeFault() {
    if (faultFrames_ == 0) {
        return std::nullopt;
    }
    if (faultFrames_ != kForever) {
        --faultFrames_;
    }
    return fault_;
}

void SimBackBoard::Handle(const SerialFrame& frame) {
    SerialFrame answer;
    std::optional<Fault> fault;
    {
        std::lock_guard lock(mutex_);
        if (frame.command == UART_CMD_GET_NETWORK) {
            ++networkRequests_;
            fault = TakeFault();
            answer = SerialFrame{frame.slot, UART_CMD_NETWORK,
                                 SerialNetworkSettings_Serialize(settings_.value_or(LoopbackSettings()))};
        } else if (frame.command == UART_CMD_ERROR_CODE && SerialErrorCode_Parse(frame.data)) {
            ++errorCodeFrames_;
            fault = TakeFault();
            if (fault != Fault::Silent) {
                acknowledged_.push_back(*SerialErrorCode_Parse(frame.data));
            }
            answer = SerialFrame{frame.slot, UART_CMD_ERROR_ACK, frame.data};
        } else {
            ++framesHandled_;
            changed_.notify_all();
            return;
        }
    }
    if (fault == Fault::WrongSlot) {
        answer.slot = static_cast<U8>(answer.slot + 1);
    }
    if (fault != Fault::Silent) {
        Send(answer, fault == Fault::BadCrc);
    }
    std::lock_guard lock(mutex_);
    ++framesHandled_;
    changed_.notify_all();
}

void SimBackBoard::Send(const SerialFrame& frame, bool breakCrc) {
    std::vector<U8> bytes = SerialFrame_Serialize(frame);
    if (breakCrc) {
        bytes.back() ^= 0xFF;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(master_, bytes.data() + written, bytes.size() - written);
        if (count <= 0) {
            if (count < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        written += static_cast<std::size_t>(count);
    }
}

namespace {

std::mutex g_instanceMutex;
std::unique_ptr<SimBackBoard> g_instance;

}  // namespace

bool SimBackBoard_Start() {
    if (Profile().backend != HardwareBackend::Sim) {
        return false;
    }
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) {
        g_instance = std::make_unique<SimBackBoard>();
    }
    return g_instance->Start(ResolvePath(Profile().serialDevice));
}

SimBackBoard* SimBackBoard_Instance() {
    std::lock_guard lock(g_instanceMutex);
    return g_instance && g_instance->running() ? g_instance.get() : nullptr;
}

}  // namespace hx
