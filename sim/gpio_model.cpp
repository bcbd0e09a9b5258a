#include "sim/gpio_model.h"

#include <charconv>
#include <filesystem>
#include <fstream>

#include "core/run_profile.h"
#include "platform/gpio.h"

namespace hx::sim {

namespace {

constexpr std::array<U32, 3> kVersionPins = {24, 25, 26};

std::string PinFolder(U32 linuxNumber) {
    return ResolvePath(std::string(kGpioSysfsRoot) + "/gpio" + std::to_string(linuxNumber));
}

}  // namespace

GpioModel::GpioModel(U32 hardwareVersion, U32 pluggedSlots) {
    levels_.fill(1);
    for (U32 bit = 0; bit < kVersionPins.size(); ++bit) {
        levels_[kVersionPins[bit]] = (hardwareVersion >> bit) & 1;
    }
    for (U32 slot = 0; slot < kPlugPins.size(); ++slot) {
        if ((pluggedSlots >> slot) & 1) {
            levels_[kPlugPins[slot]] = 0;
        }
    }
}

CommandResult GpioModel::HandleEcho(const Command& command) const {
    const CommandResult refused{1, true, {}};
    if (command.argv.size() != 2 || !command.stdoutFile || *command.stdoutFile != std::string(kGpioSysfsRoot) + "/export") {
        return refused;
    }
    const std::string& text = command.argv[1];
    U32 linuxNumber = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), linuxNumber);
    if (error != std::errc() || end != text.data() + text.size() || linuxNumber < kGpioLinuxBase ||
        linuxNumber - kGpioLinuxBase >= kGpioPins) {
        return refused;
    }
    const std::filesystem::path folder = PinFolder(linuxNumber);
    std::error_code failure;
    if (std::filesystem::exists(folder, failure) || !std::filesystem::create_directories(folder, failure)) {
        return refused;  // the kernel answers "busy" for a pin exported twice
    }
    std::ofstream(folder / "direction") << "in\n";
    std::ofstream(folder / "value") << (Level(linuxNumber - kGpioLinuxBase) != 0 ? "1\n" : "0\n");
    return CommandResult{0, true, {}};
}

void GpioModel_Install(const GpioModel& model) {
    Command_SetSimHandler("echo", [model](const Command& command) { return model.HandleEcho(command); });
}

GpioModel GpioModel_FromProfile() { return GpioModel(Profile().simHardwareVersion, Profile().simPluggedSlots); }

}  // namespace hx::sim
