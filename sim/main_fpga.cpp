#include "sim/main_fpga.h"

#include "core/clock.h"
#include "core/run_profile.h"

namespace hx::sim {

MainFpgaConfig MainFpgaConfig_FromProfile() {
    const RunProfile& profile = Profile();
    MainFpgaConfig config;
    config.logicVersion = profile.simLogicVersion;
    config.slotNumber = profile.simSlotId;
    config.configPort.failLoads = profile.simBitstreamFails;
    config.ledLogPath = ResolvePath("/sim/led.log");
    config.fpga160tLogPath = ResolvePath("/sim/160t.log");
    config.tsFolder = ResolvePath("/sim/ts");
    config.routingPath = ResolvePath("/sim/routing.txt");
    return config;
}

MainFpga::MainFpga(const MainFpgaConfig& config)
    : identity_(config.logicVersion, config.slotNumber),
      led_(config.ledLogPath),
      configPort_(config.configPort),
      uart_([this] { return configPort_.Loaded(); }),
      fpga160t_(uart_, config.fpga160tLogPath),
      siInsertion_(config.tsFolder),
      routing_(config.routingPath) {
    for (RegisterModel* model : std::initializer_list<RegisterModel*>{&identity_, &led_, &uart_, &configPort_, &ipMonitor_,
                                                                      &siInsertion_, &meters_, &rateWords_, &routing_}) {
        Attach(*model);
    }
}

void MainFpga::Attach(RegisterModel& model) {
    models_.push_back(&model);
    for (U32 index : model.Registers()) {
        owner_[index] = static_cast<U8>(models_.size());
    }
}

U32 MainFpga::Read(U32 index) {
    if (index >= kRegisterCount) {
        return 0;
    }
    if (const U8 owner = owner_[index]; owner != 0) {
        if (const std::optional<U32> value = models_[owner - 1]->Read(index)) {
            return *value;
        }
    }
    return words_[index].load(std::memory_order_relaxed);
}

void MainFpga::Write(U32 index, U32 value) {
    if (index >= kRegisterCount) {
        return;
    }
    if (logging_.load(std::memory_order_relaxed)) {
        const std::uint64_t now = TheClock().MonotonicMicros();
        std::lock_guard lock(logMutex_);
        log_.push_back(RegisterWrite{index, value, now});
    }
    words_[index].store(value, std::memory_order_relaxed);
    if (const U8 owner = owner_[index]; owner != 0) {
        models_[owner - 1]->Write(index, value);
    }
}

U32 MainFpga::Peek(U32 index) const { return index < kRegisterCount ? words_[index].load(std::memory_order_relaxed) : 0; }

void MainFpga::StartWriteLog() { logging_.store(true); }

void MainFpga::StopWriteLog() { logging_.store(false); }

std::vector<RegisterWrite> MainFpga::TakeWriteLog() {
    std::lock_guard lock(logMutex_);
    return std::exchange(log_, {});
}

}  // namespace hx::sim
