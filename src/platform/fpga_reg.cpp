#include "platform/fpga_reg.h"

#include <array>

#include "core/err.h"
#include "core/standin.h"

namespace hx {

std::mutex g_reg_mutex;

namespace {

std::array<U32, kRegisterCount> g_registers{};

}  // namespace

void FPGA_Init() { HX_STANDIN(LOG_MODULE_HW); }

U32 REG_Write(U32 u32Index, U32 u32Value) {
    if (u32Index >= kRegisterCount) {
        return VK_ERR_PARAMS;
    }
    std::lock_guard lock(g_reg_mutex);
    g_registers[u32Index] = u32Value;
    return VK_SUCCESS;
}

U32 REG_Read(U32 u32Index, U32* pu32Value) {
    if (u32Index >= kRegisterCount || pu32Value == nullptr) {
        return VK_ERR_PARAMS;
    }
    std::lock_guard lock(g_reg_mutex);
    *pu32Value = g_registers[u32Index];
    return VK_SUCCESS;
}

}  // namespace hx
