// Main-FPGA register window: register i at byte offset 16·i of a 1 MiB window.
// Every single read or write holds g_reg_mutex; multi-register downloads are
// sequences of single accesses.
#pragma once

#include <mutex>

#include "core/types.h"

namespace hx {

constexpr U32 kRegisterCount = 65536;
constexpr U32 kRegLed = 18;
constexpr U32 kRegSlotNumber = 16;
constexpr U32 kRegOwnIpFilter = 269;

// Statically initialised, so a register access before any thread starts is safe.
extern std::mutex g_reg_mutex;

void FPGA_Init();
U32 REG_Write(U32 u32Index, U32 u32Value);
U32 REG_Read(U32 u32Index, U32* pu32Value);

}  // namespace hx
