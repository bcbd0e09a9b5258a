// The card's back end of the register window: the main FPGA's registers mapped
// from physical memory ("/dev/mem", 1 MiB at 0x83C00000), register i at byte
// 16·i, each read and written as one volatile 32-bit word.
//
// The device path and the offset are parameters so that a test can map an
// ordinary file in their place. Created once by REG_Map on the card profile;
// the window's g_reg_mutex serialises its accesses.
#pragma once

#include <memory>
#include <string>

#include "platform/physical_window.h"
#include "platform/register_bus.h"

namespace hx {

constexpr U32 kRegisterWindowAddress = 0x83C00000;

class MappedRegisterBus final : public RegisterBus {
public:
    using OpenError = PhysicalWindow::MapError;

    // Maps kRegisterWindowBytes of `path` at `offset` (PhysicalWindow::Map).
    // nullptr and `error` set when either step fails.
    static std::unique_ptr<MappedRegisterBus> Open(const std::string& path, off_t offset, OpenError& error);

    U32 Read(U32 index) override;
    void Write(U32 index, U32 value) override;

private:
    explicit MappedRegisterBus(std::unique_ptr<PhysicalWindow> window) : window_(std::move(window)) {}
    volatile U32* Word(U32 index) const;

    std::unique_ptr<PhysicalWindow> window_;
};

}  // namespace hx
