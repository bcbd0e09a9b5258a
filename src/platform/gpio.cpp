#include "platform/gpio.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/clock.h"
#include "core/command_runner.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {

namespace {

constexpr U32 kLastPin = 128;
constexpr U32 kLinuxBase = 906;
constexpr std::size_t kDirectionBytes = 128;
constexpr std::size_t kValueBytes = 5;
constexpr std::array<U32, 3> kVersionPins = {24, 25, 26};

// Logical path of one of the pin's files ("" for its folder).
std::string PinPath(U32 linuxNumber, const char* file) {
    return std::string(kGpioSysfsRoot) + "/gpio" + std::to_string(linuxNumber) + "/" + file;
}

bool PinExported(U32 linuxNumber) {
    std::error_code ignored;
    return std::filesystem::is_directory(ResolvePath(PinPath(linuxNumber, "")), ignored);
}

// The steps GPIO_SetGpio and GPIO_GetGpio share: export when needed, then
// set the direction. 0 or the failing step's code.
U32 PreparePin(U32 n, U32 linuxNumber, U32 direction) {
    if (!PinExported(linuxNumber)) {
        HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_HW, "GPIO%u need to creat controller!\n", n);
        if (GPIO_CreateGPIOController(n) != GPIO_OK) {
            return GPIO_ERR_EXPORT;
        }
    }
    if (GPIO_SetGPIODirection(n, direction) != GPIO_OK) {
        HX_LOG(direction == GPIO_IN ? LOG_LEVEL_INFO : LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIO set direction error!\n");
        return GPIO_ERR_SET_DIRECTION;
    }
    return GPIO_OK;
}

}  // namespace

U32 GPIO_GetLinuxGPIONum(U32 n) { return n <= kLastPin ? n + kLinuxBase : 0; }

U32 GPIO_CreateGPIOController(U32 n) {
    const U32 linuxNumber = GPIO_GetLinuxGPIONum(n);
    if (linuxNumber == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIO index %u is error!\n", n);
        return GPIO_ERR_PIN;
    }
    const Command command{{"echo", std::to_string(linuxNumber)}, std::string(kGpioSysfsRoot) + "/export"};
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "Command: [%s]\n", Command_Text(command).c_str());
    Command_Run(command);
    if (!PinExported(linuxNumber)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIO%u create controller fail!\n", linuxNumber);
        return GPIO_ERR_EXPORT;
    }
    return GPIO_OK;
}

U32 GPIO_SetGPIODirection(U32 n, U32 dir) {
    const U32 linuxNumber = GPIO_GetLinuxGPIONum(n);
    if (linuxNumber == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIO index %u is error!\n", n);
        return GPIO_ERR_PIN;
    }
    if (dir != GPIO_OUT && dir != GPIO_IN) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIODirection set %u is error!\n", dir);
        return GPIO_ERR_DIRECTION_VALUE;
    }
    const std::string path = PinPath(linuxNumber, "direction");
    FileDescriptor file(::open(ResolvePath(path).c_str(), O_RDWR | O_CLOEXEC));
    if (!file.valid()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't open gpio [%u] controller [%s]!\n", linuxNumber, path.c_str());
        return GPIO_ERR_OPEN_DIRECTION;
    }
    std::array<char, kDirectionBytes> buffer{};
    std::strcpy(buffer.data(), dir == GPIO_OUT ? "out" : "in");
    if (::write(file.get(), buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't write gpio [%u] controller [%s]!\n", linuxNumber, path.c_str());
        return GPIO_ERR_WRITE_DIRECTION;
    }
    return GPIO_OK;
}

U32 GPIO_SetGpio(U32 n, U32 value) {
    const U32 linuxNumber = GPIO_GetLinuxGPIONum(n);
    if (linuxNumber == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIO index %u is error!\n", n);
        return GPIO_ERR_PIN;
    }
    if (const U32 prepared = PreparePin(n, linuxNumber, GPIO_OUT); prepared != GPIO_OK) {
        return prepared;
    }
    const std::string path = PinPath(linuxNumber, "value");
    FileDescriptor file(::open(ResolvePath(path).c_str(), O_RDWR | O_CLOEXEC));
    if (!file.valid()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't open gpio [%u] controller [%s]!\n", linuxNumber, path.c_str());
        return GPIO_ERR_OPEN_VALUE;
    }
    std::array<char, kValueBytes> buffer{};
    buffer[0] = value != 0 ? '1' : '0';
    if (::write(file.get(), buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't write gpio [%u] controller [%s]!\n", linuxNumber, path.c_str());
        return GPIO_ERR_WRITE_VALUE;
    }
    return GPIO_OK;
}

U32 GPIO_GetGpio(U32 n, U32* pValue) {
    const U32 linuxNumber = GPIO_GetLinuxGPIONum(n);
    if (linuxNumber == 0 || pValue == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "GPIO index %u is error!\n", n);
        return GPIO_ERR_PIN;
    }
    if (const U32 prepared = PreparePin(n, linuxNumber, GPIO_IN); prepared != GPIO_OK) {
        return prepared;
    }
    const std::string path = PinPath(linuxNumber, "value");
    FileDescriptor file(::open(ResolvePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't open gpio [%u] controller [%s]!\n", linuxNumber, path.c_str());
        return GPIO_ERR_OPEN_VALUE;
    }
    std::array<char, kValueBytes> buffer{};
    const ssize_t got = ::read(file.get(), buffer.data(), buffer.size());
    if (got != 2 || buffer[0] < '0' || buffer[0] > '9' || buffer[1] != '\n') {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't read gpio [%u] controller [%s]!\n", linuxNumber, path.c_str());
        return GPIO_ERR_READ_VALUE;
    }
    *pValue = static_cast<U32>(buffer[0] - '0');
    return GPIO_OK;
}

U32 PIN_GetHWVerSion() {
    U32 version = 0;
    for (U32 bit = 0; bit < kVersionPins.size(); ++bit) {
        U32 level = 0;
        if (GPIO_GetGpio(kVersionPins[bit], &level) == GPIO_OK && level == 1) {
            version |= 1u << bit;
        }
    }
    return version;
}

void PIN_CheckPlug(U16* SubBoardStatus) {
    if (SubBoardStatus == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Param is NULL\n");
        return;
    }
    *SubBoardStatus = 0;
    for (U32 slot = 0; slot < kPlugPins.size(); ++slot) {
        U32 level = 1;
        if (GPIO_GetGpio(kPlugPins[slot], &level) == GPIO_OK && level == 0) {
            *SubBoardStatus = static_cast<U16>(*SubBoardStatus | (1u << slot));
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "The interfaces %u Plugged!\n", slot);
        }
        TheClock().SleepMicros(1000);
    }
}

}  // namespace hx
