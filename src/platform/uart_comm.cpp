#include "platform/uart_comm.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>

#include "core/clock.h"
#include "core/command_runner.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/network.h"
#include "platform/resource.h"
#include "platform/serial_frame.h"

namespace hx {

namespace {

std::mutex s_UartCommMutex;
int s_fd = -1;

// Under s_UartCommMutex.
void CloseLine() {
    if (s_fd >= 0) {
        close(s_fd);
        s_fd = -1;
    }
}

using Deadline = std::chrono::steady_clock::time_point;

int MillisecondsLeft(Deadline deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WriteAll(int fd, const std::vector<U8>& bytes, Deadline deadline) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(fd, bytes.data() + written, bytes.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd waiting{fd, POLLOUT, 0};
        if (poll(&waiting, 1, MillisecondsLeft(deadline)) <= 0) {
            return false;
        }
    }
    return true;
}

// Reads until one checked frame arrived. Noise and impossible headers are
// skipped (resynchronising on the next header); a frame with a bad CRC ends
// the exchange.
U32 ReadFrame(int fd, Deadline deadline, SerialFrame& frame) {
    std::vector<U8> buffer;
    for (;;) {
        SerialParseResult parsed = SerialFrame_Parse(buffer);
        if (parsed.status == SerialParseStatus::Frame) {
            frame = std::move(parsed.frame);
            return VK_SUCCESS;
        }
        if (parsed.status == SerialParseStatus::BadCrc) {
            return VK_ERR_CRC;
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(parsed.consumed));
        if (parsed.status == SerialParseStatus::BadLength) {
            continue;
        }
        pollfd waiting{fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return VK_ERR_COMM_UART_RECV_MISS;
        }
        U8 chunk[kSerialMaxFrame];
        const ssize_t count = read(fd, chunk, sizeof chunk);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (count <= 0) {
            return VK_ERR_COMM_UART_RECV_MISS;
        }
        buffer.insert(buffer.end(), chunk, chunk + count);
    }
}

// One request and its answer, which must be for the same slot and carry the
// expected command and data length.
U32 Exchange(const SerialFrame& request, U8 answerCommand, std::size_t answerLength, SerialFrame& answer) {
    std::lock_guard lock(s_UartCommMutex);
    if (s_fd < 0) {
        return VK_ERR_COMM_UART_RECV_MISS;
    }
    const Deadline deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Profile().serialReadTimeoutMs);
    // Whatever arrived since the last exchange is stale: a late answer to an
    // earlier request must not be taken for this one.
    tcflush(s_fd, TCIFLUSH);
    if (!WriteAll(s_fd, SerialFrame_Serialize(request), deadline)) {
        return VK_ERR_COMM_UART_RECV_MISS;
    }
    const U32 result = ReadFrame(s_fd, deadline, answer);
    if (result != VK_SUCCESS) {
        return result;
    }
    if (answer.slot != request.slot) {
        return VK_ERR_COMM_UART_RECV_SLOT;
    }
    if (answer.command != answerCommand || answer.data.size() != answerLength) {
        return VK_ERR_COMM_UART_RECV_HEADER;
    }
    return VK_SUCCESS;
}

void ApplyNetworkSettings(const SerialNetworkSettings& settings) {
    Resource_SetBackBoardIpAddr(settings.backBoardIP);
    IPconfig_SetIP(settings.ownIP);
    IPconfig_SetLocalMask(settings.netmask);
    IPconfig_SetDefaultGate(settings.gateway);
    if (settings.utcSeconds != 0) {
        std::string when = std::to_string(settings.utcSeconds);
        when.insert(when.begin(), '@');
        Command_Run({"date", "-s", when});
    }
    Status_SetIPReqflag(HX_TRUE);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Network from back board %s: own %s mask %s gateway %s\n",
           Network_AddressText(settings.backBoardIP).c_str(), Network_AddressText(settings.ownIP).c_str(),
           Network_AddressText(settings.netmask).c_str(), Network_AddressText(settings.gateway).c_str());
}

}  // namespace

U32 UartComm_init() {
    std::lock_guard lock(s_UartCommMutex);
    CloseLine();
    const std::string& device = Profile().serialDevice;
    const std::string path = ResolvePath(device);
    FileDescriptor line(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.valid()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Can't open %s\n", device.c_str());
        return VK_ERR_FAILURE;
    }
    termios settings{};
    if (tcgetattr(line.get(), &settings) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "%s is no serial port\n", device.c_str());
        return VK_ERR_FAILURE;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(line.get(), TCSANOW, &settings) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Can't set up %s\n", device.c_str());
        return VK_ERR_FAILURE;
    }
    s_fd = line.release();
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Serial link to the back board on %s\n", device.c_str());
    return VK_SUCCESS;
}

void UartComm_Close() {
    std::lock_guard lock(s_UartCommMutex);
    CloseLine();
}

U32 UartComm_GetIpAddr(U32 u32Slot) {
    if (Status_GetIPReqflag()) {
        return VK_SUCCESS;
    }
    const SerialFrame request{static_cast<U8>(u32Slot), UART_CMD_GET_NETWORK, {}};
    for (U32 attempt = 0; attempt < kUartGetIpTries; ++attempt) {
        if (attempt > 0) {
            TheClock().SleepMicros(kUartGetIpGapMicros);
        }
        SerialFrame answer;
        const U32 result = Exchange(request, UART_CMD_NETWORK, kSerialNetworkSettingsSize, answer);
        if (result != VK_SUCCESS) {
            HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "network request %u failed: %u\n", attempt + 1, result);
            continue;
        }
        const SerialNetworkSettings settings = *SerialNetworkSettings_Parse(answer.data);
        if (!IPconfig_IsValidSettings(settings.backBoardIP, settings.ownIP, settings.netmask)) {
            HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_SYS, "Network settings refused: back board %s own %s mask %s\n",
                   Network_AddressText(settings.backBoardIP).c_str(), Network_AddressText(settings.ownIP).c_str(),
                   Network_AddressText(settings.netmask).c_str());
            continue;
        }
        ApplyNetworkSettings(settings);
        return VK_SUCCESS;
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Uart Comm Error!\n");
    const RunProfile& profile = Profile();
    Resource_SetBackBoardIpAddr(profile.fallbackBackBoardAddress);
    IPconfig_SetIP(profile.fallbackOwnAddressBase + u32Slot);
    return VK_ERR_CONFIG_TIMEOUOT;
}

U32 UartComm_SendErrorCodeToBB(U32 u32ErrCode) {
    const SerialFrame report{static_cast<U8>(Status_GetSlotID()), UART_CMD_ERROR_CODE,
                             SerialErrorCode_Serialize(u32ErrCode)};
    for (U32 attempt = 0; attempt < kUartErrorCodeTries; ++attempt) {
        SerialFrame answer;
        if (Exchange(report, UART_CMD_ERROR_ACK, 4, answer) == VK_SUCCESS &&
            SerialErrorCode_Parse(answer.data) == u32ErrCode) {
            return VK_SUCCESS;
        }
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Send err code failed, time out cnt %d\n", static_cast<int>(kUartErrorCodeTries));
    return VK_ERR_COMM_UART_RECV_MISS;
}

}  // namespace hx
