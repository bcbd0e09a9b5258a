// The processor's GPIO pins on the simulated board, behind the sysfs files
// under "/sys/class/gpio" in the data root.
//
// The model keeps one input level per pin (0-128), taken from the run
// profile: pins 24, 25 and 26 carry the hardware version's bits 0, 1 and 2;
// the plug-detect pins read 0 where the slot holds a card; every other pin
// reads 1. Pins 24 and 26 are also the plug pins of slots 3 and 5: one wire
// with two drivers reads 0 when either pulls it low.
//
// It answers the command runner's "echo N > /sys/class/gpio/export" (N = pin
// + 906) as the kernel would: it creates "gpioN/direction" ("in\n") and
// "gpioN/value" (the level, "0\n" or "1\n"). Exporting a pin that is already
// exported, or any other echo, fails with status 1. Installed on the
// simulated board's power-on; tests may install one of their own.
#pragma once

#include <array>

#include "core/command_runner.h"
#include "core/types.h"

namespace hx::sim {

constexpr U32 kGpioPins = 129;
constexpr U32 kGpioLinuxBase = 906;

class GpioModel {
public:
    GpioModel(U32 hardwareVersion, U32 pluggedSlots);

    U8 Level(U32 pin) const { return pin < kGpioPins ? levels_[pin] : 1; }
    CommandResult HandleEcho(const Command& command) const;

private:
    std::array<U8, kGpioPins> levels_;
};

// Makes `model` answer the runner's echo commands (it is copied).
void GpioModel_Install(const GpioModel& model);
// A model with the run profile's hardware version and plugged slots.
GpioModel GpioModel_FromProfile();

}  // namespace hx::sim
