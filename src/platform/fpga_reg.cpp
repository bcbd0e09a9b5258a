#include "platform/fpga_reg.h"

#include <atomic>
#include <utility>

#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/mapped_register_bus.h"

namespace hx {

std::mutex g_reg_mutex;

namespace {

// The attached back end. The holder is never destroyed: the LED and SI
// threads are detached and may still touch the window while the process
// exits, so the bus must outlive static destruction.
std::shared_ptr<RegisterBus>& Attached() {
    static auto* holder = new std::shared_ptr<RegisterBus>();
    return *holder;
}

// Read under g_reg_mutex only.
RegisterBus* g_bus = nullptr;

std::atomic<RegisterBusSource> g_source{nullptr};

bool CheckIndex(U32 index) {
    if (index < kRegisterCount) {
        return true;
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Reg index %u is outside the register window\n\n", index);
    return false;
}

void LogUnmapped() { HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Reg Must Map Success\n\n"); }

}  // namespace

void REG_AttachBus(std::shared_ptr<RegisterBus> bus) {
    std::shared_ptr<RegisterBus> previous;
    {
        std::lock_guard lock(g_reg_mutex);
        previous = std::exchange(Attached(), std::move(bus));
        g_bus = Attached().get();
    }
}

std::shared_ptr<RegisterBus> REG_GetBus() {
    std::lock_guard lock(g_reg_mutex);
    return Attached();
}

bool REG_IsMapped() {
    std::lock_guard lock(g_reg_mutex);
    return g_bus != nullptr;
}

void REG_SetBusSource(RegisterBusSource source) { g_source.store(source); }

void REG_Map() {
    if (const RegisterBusSource source = g_source.load()) {
        REG_AttachBus(source());
        return;
    }
    const RunProfile& profile = Profile();
    if (profile.backend != HardwareBackend::Card) {
        // The card's devices are never opened off the card: on a PC /dev/mem
        // at that address could be another device's registers.
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "No register back end handed in for the simulated board.\n\n");
        return;
    }
    MappedRegisterBus::OpenError error = MappedRegisterBus::OpenError::None;
    std::unique_ptr<MappedRegisterBus> bus = MappedRegisterBus::Open(profile.registerDevice, kRegisterWindowAddress, error);
    if (error == MappedRegisterBus::OpenError::Open) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't open /dev/mem.\n\n");
        return;
    }
    if (!bus) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Can't map the memory to user space.\n\n");
        return;
    }
    REG_AttachBus(std::move(bus));
}

U32 REG_Write(U32 u32Index, U32 u32Value) {
    if (!CheckIndex(u32Index)) {
        return VK_ERR_PARAMS;
    }
    {
        std::lock_guard lock(g_reg_mutex);
        if (g_bus != nullptr) {
            g_bus->Write(u32Index, u32Value);
            return VK_SUCCESS;
        }
    }
    LogUnmapped();
    return VK_ERR_FAILURE;
}

U32 REG_Read(U32 u32Index, U32* pu32Value) {
    if (pu32Value == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    if (!CheckIndex(u32Index)) {
        return VK_ERR_PARAMS;
    }
    {
        std::lock_guard lock(g_reg_mutex);
        if (g_bus != nullptr) {
            *pu32Value = g_bus->Read(u32Index);
            return VK_SUCCESS;
        }
    }
    LogUnmapped();
    return VK_ERR_FAILURE;
}

void FPGA_Init() {
    REG_Map();
    REG_Write(kRegLed, 3);
    REG_Write(kRegMeterMode, 2);
    REG_Write(kRegMeterEnable, 1);
}

U32 FPGA_GetSlotID() {
    U32 slot = 0;
    REG_Read(kRegSlotNumber, &slot);
    return slot;
}

void FPGA_GetLOGVerSion(U32* pu32value) {
    if (pu32value == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Param is NULL\n");
        return;
    }
    REG_Read(kRegFpgaVersion, pu32value);
}

void FPGA_UART_Init() {
    REG_Write(kRegUartReset, 0);
    REG_Write(kRegUartReceiveReset, 1);
    REG_Write(kRegUartReceiveReset, 0);
    REG_Write(kRegUartTransmitReset, 1);
    REG_Write(kRegUartTransmitReset, 0);
}

U32 FPGA_Comm_SendData(const U32* pu32Data, U32 u32DataLen) {
    if (pu32Data == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "input error\r\n\n");
        return 1;
    }
    for (U32 word = 0; word < u32DataLen; ++word) {
        REG_Write(kRegSiWordIndex, word);
        REG_Write(kRegSiWordData, pu32Data[word]);
        REG_Write(kRegSiWordStrobe, 0);
        REG_Write(kRegSiWordStrobe, 1);
        REG_Write(kRegSiWordStrobe, 0);
    }
    REG_Write(kRegSiCommit, 0);
    REG_Write(kRegSiCommit, 1);
    REG_Write(kRegSiCommit, 0);
    return 0;
}

}  // namespace hx
