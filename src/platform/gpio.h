// The processor's GPIO pins through the kernel's sysfs interface under
// "/sys/class/gpio" (in the data root on the simulated board, where
// sim/gpio_model.h answers the exports): the hardware version pins and the
// plug-detect pins of the 16 slots.
//
// Callers: the LED code (green colour by hardware version), the web pages and
// the QAM defaults (hardware version), any thread. Each call opens and closes
// its files; there is no shared state and no lock. Exports go through the
// command runner; the 1 ms pauses of the plug scan through TheClock().
#pragma once

#include <array>

#include "core/types.h"

namespace hx {

constexpr const char* kGpioSysfsRoot = "/sys/class/gpio";

// Plug-detect pin of each chassis slot 0-15.
constexpr std::array<U32, 16> kPlugPins = {16, 18, 22, 24, 45, 26, 32, 50, 34, 36, 37, 51, 43, 39, 41, 28};

enum GpioDirection : U32 { GPIO_OUT = 0, GPIO_IN = 1 };

// Result codes of the GPIO operations.
enum GpioResult : U32 {
    GPIO_OK = 0,
    GPIO_ERR_PIN = 1,
    GPIO_ERR_OPEN_DIRECTION = 2,
    GPIO_ERR_WRITE_DIRECTION = 3,
    GPIO_ERR_DIRECTION_VALUE = 4,
    GPIO_ERR_SET_DIRECTION = 5,
    GPIO_ERR_OPEN_VALUE = 6,
    GPIO_ERR_WRITE_VALUE = 7,
    GPIO_ERR_READ_VALUE = 8,
    GPIO_ERR_EXPORT = 9,
};

// Linux number of processor pin n: n + 906 for n up to 128; 0 (invalid) above.
U32 GPIO_GetLinuxGPIONum(U32 n);
// Exports the pin ("echo N > /sys/class/gpio/export") and checks that its
// folder appeared: 0, 1 (invalid pin) or 9 (no folder).
U32 GPIO_CreateGPIOController(U32 n);
// Writes "out" (GPIO_OUT) or "in" (GPIO_IN) as a 128-byte NUL-padded buffer to
// the pin's direction file: 0, 1, 2 (open), 3 (short write), 4 (other value).
U32 GPIO_SetGPIODirection(U32 n, U32 dir);
// Exports the pin when needed, sets it as output and writes "1" or "0" (5
// bytes, NUL-padded): 0, 1, 9, 5 (direction), 6 (open), 7 (short write).
U32 GPIO_SetGpio(U32 n, U32 value);
// Exports the pin when needed, sets it as input and reads its value file,
// which must hold exactly a digit and a newline: 0 with *pValue set, 1, 9, 5,
// 6, or 8 (anything else read back). A null pValue gives 1.
U32 GPIO_GetGpio(U32 n, U32* pValue);

// Hardware version from pins 24, 25, 26 as bits 0, 1, 2 (a pin reading 1 sets
// its bit; a pin that cannot be read sets none): 0..7.
U32 PIN_GetHWVerSion();
// Bit n of *SubBoardStatus set when slot n's plug pin reads 0; a pin that
// cannot be read counts as not plugged. 1 ms after each read.
void PIN_CheckPlug(U16* SubBoardStatus);

}  // namespace hx
