#include "platform/mdio.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "core/clock.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {

namespace {

// The controller finishes a management frame in about 30 µs at the default
// MDC rate; a few hundred µs without idle means the controller is stuck.
constexpr int kIdlePolls = 100;
constexpr std::uint64_t kIdlePollMicros = 10;

std::atomic<MdioBus*> g_testBus{nullptr};

class AbsentMdioBus final : public MdioBus {
public:
    std::optional<U16> Read(U32, U32) override { return std::nullopt; }
    bool Write(U32, U32, U16) override { return false; }
};

// The back end's source and the bus made from it.
std::mutex g_backEndMutex;
MdioBusSource g_source = nullptr;
std::unique_ptr<MdioBus> g_backEnd;

MdioBus& BackEndBus() {
    std::lock_guard lock(g_backEndMutex);
    if (!g_backEnd) {
        if (g_source != nullptr) {
            g_backEnd = g_source();
        } else if (Profile().backend == HardwareBackend::Card) {
            g_backEnd = std::make_unique<CardMdioBus>(Profile().registerDevice, CardMdioBus::kControllersBase);
        } else {
            g_backEnd = std::make_unique<AbsentMdioBus>();
        }
    }
    return *g_backEnd;
}

}  // namespace

CardMdioBus::CardMdioBus(const std::string& device, off_t offset) {
    PhysicalWindow::MapError error = PhysicalWindow::MapError::None;
    window_ = PhysicalWindow::Map(device, offset, kWindow, error);
    if (error == PhysicalWindow::MapError::Open) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't open %s for the PHY management registers.\n\n", device.c_str());
    } else if (error == PhysicalWindow::MapError::Map) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't map the PHY management registers.\n\n");
    }
}

U32 CardMdioBus::MaintenanceWord(bool read, U32 phyAddress, U32 reg, U16 data) {
    // Clause 22 start (01), operation (10 read, 01 write), PHY and register
    // address, the fixed turnaround bits (10), then the data.
    return 1u << 30 | (read ? 2u : 1u) << 28 | (phyAddress & 0x1F) << 23 | (reg & 0x1F) << 18 | 2u << 16 | data;
}

volatile U32* CardMdioBus::Word(U32 port, std::size_t offset) {
    return window_->Word(port * 0x1000 + offset);
}

bool CardMdioBus::WaitIdle(U32 port) {
    for (int poll = 0; poll < kIdlePolls; ++poll) {
        if ((*Word(port, kNetworkStatus) & kManagementIdle) != 0) {
            return true;
        }
        TheClock().SleepMicros(kIdlePollMicros);
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "PHY %u management port stays busy\n", port);
    return false;
}

std::optional<U16> CardMdioBus::Read(U32 port, U32 reg) {
    if (window_ == nullptr || port >= kPhyPorts || !WaitIdle(port)) {
        return std::nullopt;
    }
    *Word(port, kPhyMaintenance) = MaintenanceWord(true, 0, reg, 0);
    if (!WaitIdle(port)) {
        return std::nullopt;
    }
    return static_cast<U16>(*Word(port, kPhyMaintenance) & 0xFFFF);
}

bool CardMdioBus::Write(U32 port, U32 reg, U16 value) {
    if (window_ == nullptr || port >= kPhyPorts || !WaitIdle(port)) {
        return false;
    }
    *Word(port, kPhyMaintenance) = MaintenanceWord(false, 0, reg, value);
    return WaitIdle(port);
}

MdioBus& Mdio_Bus() {
    MdioBus* bus = g_testBus.load(std::memory_order_acquire);
    return bus != nullptr ? *bus : BackEndBus();
}

void Mdio_SetBus(MdioBus* bus) { g_testBus.store(bus, std::memory_order_release); }

void Mdio_SetBusSource(MdioBusSource source) {
    std::lock_guard lock(g_backEndMutex);
    g_source = source;
    g_backEnd.reset();
}

}  // namespace hx
