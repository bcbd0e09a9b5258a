// Simulated Ethernet PHYs: two gigabit copper PHYs behind the MDIO seam
// (platform/mdio.h), for the simulated board and for tests.
//
// Each PHY keeps its 32 clause-22 registers with power-on values of a typical
// 10/100/1000 PHY. Writing the control register with the reset bit restores
// them; the restart-auto-negotiation bit clears itself, is counted and marks
// negotiation complete with what both ends advertise (the link partner offers
// everything). Used from the thread that runs PHY_Init; internally locked so a
// test may look from another thread.
#pragma once

#include <array>
#include <mutex>
#include <optional>

#include "core/types.h"
#include "platform/mdio.h"

namespace hx {

class SimPhy {
public:
    SimPhy();
    U16 Read(U32 reg);
    void Write(U32 reg, U16 value);

    U32 autoNegotiationRestarts();
    // Speed (10, 100, 1000) and duplex of the last completed negotiation; 0 before.
    U32 negotiatedSpeed();
    bool negotiatedFullDuplex();

private:
    void ResetRegisters();
    void Negotiate();

    std::mutex mutex_;
    std::array<U16, 32> registers_{};
    U32 restarts_ = 0;
    U32 speed_ = 0;
    bool fullDuplex_ = false;
};

class SimMdioBus final : public MdioBus {
public:
    std::optional<U16> Read(U32 port, U32 reg) override;
    bool Write(U32 port, U32 reg, U16 value) override;
    SimPhy& phy(U32 port) { return phys_[port]; }

private:
    std::array<SimPhy, kPhyPorts> phys_;
};

}  // namespace hx
