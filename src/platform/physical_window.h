// A window of the processor's physical address space, mapped from a memory
// device ("/dev/mem" on the card): how the card reaches the main FPGA's
// registers and the Ethernet controllers' PHY management registers.
//
// The device path and the offset are parameters so that a test can map an
// ordinary file in their place. Created by the card's back ends of the
// register window and of the MDIO bus; the mapping lives as long as the
// object, and its users serialise their own accesses.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

#include "core/types.h"

namespace hx {

class PhysicalWindow {
public:
    enum class MapError { None, Open, Map };

    // Opens `device` read-write with O_SYNC and maps `bytes` of it at
    // `offset`, shared. nullptr and `error` set when either step fails. A
    // regular file shorter than the window is refused at the map step, since
    // touching a page past its end would kill the process.
    static std::unique_ptr<PhysicalWindow> Map(const std::string& device, off_t offset, std::size_t bytes,
                                               MapError& error);

    ~PhysicalWindow();
    PhysicalWindow(const PhysicalWindow&) = delete;
    PhysicalWindow& operator=(const PhysicalWindow&) = delete;

    // The 32-bit word at `byteOffset` of the window (below its size, aligned).
    volatile U32* Word(std::size_t byteOffset) const {
        return reinterpret_cast<volatile U32*>(static_cast<char*>(base_) + byteOffset);
    }

private:
    PhysicalWindow(void* base, std::size_t bytes) : base_(base), bytes_(bytes) {}

    void* base_;
    std::size_t bytes_;
};

}  // namespace hx
