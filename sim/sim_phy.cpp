#include "sim/sim_phy.h"

namespace hx {

namespace {

constexpr U32 kPartnerGiga = 10;  // 1000BASE-T status: what the link partner can do

}  // namespace

SimPhy::SimPhy() { ResetRegisters(); }

void SimPhy::ResetRegisters() {
    registers_.fill(0);
    registers_[kPhyControl] = 0x1140;      // auto-negotiation on, full duplex, 1000 Mbit/s
    registers_[kPhyStatus] = 0x7949;       // 10/100 capable, extended status, link down
    registers_[2] = 0x0141;                // PHY identifier
    registers_[3] = 0x0DD1;
    registers_[kPhyAdvertise] = 0x01E1;    // 10/100 half and full, selector IEEE 802.3
    registers_[5] = 0x0000;                // link partner ability (until negotiated)
    registers_[kPhyGigaControl] = 0x0300;  // 1000 half and full
    registers_[15] = 0x3000;               // 1000BASE-T half and full capable
}

U16 SimPhy::Read(U32 reg) {
    std::lock_guard lock(mutex_);
    return registers_[reg & 0x1F];
}

void SimPhy::Write(U32 reg, U16 value) {
    std::lock_guard lock(mutex_);
    reg &= 0x1F;
    if (reg == kPhyControl && (value & 0x8000) != 0) {
        ResetRegisters();
        return;
    }
    if (reg == kPhyStatus || reg == 2 || reg == 3 || reg == 5 || reg == kPartnerGiga || reg == 15) {
        return;  // read-only
    }
    registers_[reg] = value;
    if (reg == kPhyControl && (value & kPhyControlRestartAutoNeg) != 0) {
        registers_[kPhyControl] = static_cast<U16>(value & ~kPhyControlRestartAutoNeg);
        ++restarts_;
        Negotiate();
    }
}

void SimPhy::Negotiate() {
    const U16 advertised = registers_[kPhyAdvertise];
    const U16 giga = registers_[kPhyGigaControl];
    registers_[5] = 0x45E1;                              // partner: 10/100 half and full
    registers_[kPartnerGiga] = 0x0C00;                   // partner: 1000 half and full
    registers_[kPhyStatus] = static_cast<U16>(registers_[kPhyStatus] | kPhyStatusAutoNegDone | 0x0004);
    // Highest common mode, as IEEE 802.3 priority resolution picks it; the
    // partner offers every mode.
    struct Mode {
        bool offered;
        U32 speed;
        bool fullDuplex;
    };
    const Mode modes[] = {
        {(giga & kPhyGigaFull) != 0, 1000, true},         {(giga & kPhyGigaHalf) != 0, 1000, false},
        {(advertised & kPhyAdvertise100Full) != 0, 100, true}, {(advertised & kPhyAdvertise100Half) != 0, 100, false},
        {(advertised & kPhyAdvertise10Full) != 0, 10, true},   {(advertised & kPhyAdvertise10Half) != 0, 10, false},
    };
    speed_ = 0;
    fullDuplex_ = false;
    for (const Mode& mode : modes) {
        if (mode.offered) {
            speed_ = mode.speed;
            fullDuplex_ = mode.fullDuplex;
            return;
        }
    }
    registers_[kPhyStatus] = static_cast<U16>(registers_[kPhyStatus] & ~0x0004);  // no common mode: no link
}

U32 SimPhy::autoNegotiationRestarts() {
    std::lock_guard lock(mutex_);
    return restarts_;
}

U32 SimPhy::negotiatedSpeed() {
    std::lock_guard lock(mutex_);
    return speed_;
}

bool SimPhy::negotiatedFullDuplex() {
    std::lock_guard lock(mutex_);
    return fullDuplex_;
}

std::optional<U16> SimMdioBus::Read(U32 port, U32 reg) {
    if (port >= kPhyPorts || reg > 31) {
        return std::nullopt;
    }
    return phys_[port].Read(reg);
}

bool SimMdioBus::Write(U32 port, U32 reg, U16 value) {
    if (port >= kPhyPorts || reg > 31) {
        return false;
    }
    phys_[port].Write(reg, value);
    return true;
}

}  // namespace hx
