// MDIO seam: register access to the board's two Ethernet PHYs (port 0 is
// eth0, port 1 is eth1), clause-22 registers 0-31.
//
// The back end is the card's PHY management registers of the Zynq Ethernet
// controllers, mapped from "/dev/mem", unless the program's start-up handed in
// another source (the simulated board's two PHYs, sim/sim_phy.h). Only
// PHY_Init uses it, in the main thread at start-up; the back ends take no lock
// of their own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "core/types.h"
#include "platform/physical_window.h"

namespace hx {

constexpr U32 kPhyPorts = 2;

// Clause-22 registers and bits the set-up touches.
constexpr U32 kPhyControl = 0;           // BMCR
constexpr U16 kPhyControlAutoNeg = 0x1000;
constexpr U16 kPhyControlRestartAutoNeg = 0x0200;
constexpr U32 kPhyStatus = 1;            // BMSR
constexpr U16 kPhyStatusAutoNegDone = 0x0020;
constexpr U32 kPhyAdvertise = 4;         // ANAR
constexpr U16 kPhyAdvertise10Half = 0x0020;
constexpr U16 kPhyAdvertise10Full = 0x0040;
constexpr U16 kPhyAdvertise100Half = 0x0080;
constexpr U16 kPhyAdvertise100Full = 0x0100;
constexpr U32 kPhyGigaControl = 9;       // 1000BASE-T control
constexpr U16 kPhyGigaHalf = 0x0100;
constexpr U16 kPhyGigaFull = 0x0200;

class MdioBus {
public:
    virtual ~MdioBus() = default;
    // nullopt when the PHY does not answer.
    virtual std::optional<U16> Read(U32 port, U32 reg) = 0;
    virtual bool Write(U32 port, U32 reg, U16 value) = 0;
};

// The card's back end: the PHY maintenance register of each Ethernet
// controller (controller n at byte n * 0x1000 of the mapping; the PHY at
// address 0 of its controller's bus). `device` and `offset` are parameters so
// tests can map a plain file.
class CardMdioBus final : public MdioBus {
public:
    static constexpr U32 kControllersBase = 0xE000B000;  // GEM0, GEM1 follows at +0x1000
    static constexpr std::size_t kWindow = 0x2000;
    static constexpr std::size_t kNetworkStatus = 0x08;
    static constexpr U32 kManagementIdle = 1u << 2;
    static constexpr std::size_t kPhyMaintenance = 0x34;

    CardMdioBus(const std::string& device, off_t offset);

    bool mapped() const { return window_ != nullptr; }
    std::optional<U16> Read(U32 port, U32 reg) override;
    bool Write(U32 port, U32 reg, U16 value) override;

    // The maintenance word of one clause-22 operation (read when `read`).
    static U32 MaintenanceWord(bool read, U32 phyAddress, U32 reg, U16 data);

private:
    bool WaitIdle(U32 port);
    volatile U32* Word(U32 port, std::size_t offset);

    std::unique_ptr<PhysicalWindow> window_;
};

// The back end's bus (created on first use), or the one a test set. Off the
// card with no source handed in, a bus on which no PHY answers: the card's
// devices are never opened there.
MdioBus& Mdio_Bus();
// nullptr goes back to the back end's bus. The bus must outlive its use.
void Mdio_SetBus(MdioBus* bus);

// The seam for the program's start-up, which sets it before PHY_Init: a source
// of MDIO buses used instead of the card's. nullptr gives the card's back. A
// change drops the bus made so far; the next use makes a new one.
using MdioBusSource = std::unique_ptr<MdioBus> (*)();
void Mdio_SetBusSource(MdioBusSource source);

}  // namespace hx
