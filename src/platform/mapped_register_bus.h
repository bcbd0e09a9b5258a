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

#include "platform/register_bus.h"

namespace hx {

constexpr U32 kRegisterWindowAddress = 0x83C00000;

class MappedRegisterBus final : public RegisterBus {
public:
    enum class OpenError { None, Open, Map };

    // Opens `path` read-write with O_SYNC and maps kRegisterWindowBytes at
    // `offset`. nullptr and `error` set when either step fails. A regular file
    // shorter than the window is refused at the map step, since touching a page
    // past its end would kill the process.
    static std::unique_ptr<MappedRegisterBus> Open(const std::string& path, off_t offset, OpenError& error);

    ~MappedRegisterBus() override;
    MappedRegisterBus(const MappedRegisterBus&) = delete;
    MappedRegisterBus& operator=(const MappedRegisterBus&) = delete;

    U32 Read(U32 index) override;
    void Write(U32 index, U32 value) override;

private:
    MappedRegisterBus(int fd, void* base) : fd_(fd), base_(base) {}
    volatile U32* Word(U32 index) const;

    int fd_;
    void* base_;
};

}  // namespace hx
