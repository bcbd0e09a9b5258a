#include "platform/fpga_net.h"

#include "core/clock.h"
#include "core/log.h"
#include "platform/fpga_reg.h"
#include "platform/network.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U32 kIp0UdpPort = 1234;

U32 PackThreeBytes(const U8* bytes) {
    return static_cast<U32>(bytes[0]) << 16 | static_cast<U32>(bytes[1]) << 8 | bytes[2];
}

}  // namespace

void FPGA_SetMacAddr(const U8* u8MacAddr, U32 ETHType) {
    if (u8MacAddr == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Input Para Error...\n\n");
        return;
    }
    const bool firstPort = (ETHType & 0xFF) == 0;
    const U32 high = PackThreeBytes(u8MacAddr);
    const U32 low = PackThreeBytes(u8MacAddr + 3);
    REG_Write(firstPort ? kRegMac0High : kRegMac1High, high);
    TheClock().SleepMicros(20'000);
    REG_Write(firstPort ? kRegMac0Low : kRegMac1Low, low);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "ETHY = %d u32MacAddrH = 0x%x u32MacAddrL = 0x%x\n\n", static_cast<int>(ETHType & 0xFF),
           high, low);
}

void FPGA_PhyReset() {
    for (U32 level : {1u, 0u, 1u}) {
        REG_Write(kRegEthPhyReset, level);
        TheClock().SleepMicros(200'000);
    }
}

void FPGA_setIP0Filter(U32 u32Addr) { REG_Write(kRegOwnIpFilter, u32Addr); }

U32 FPGA_Set_IP0() {
    const U32 address = Resource_getSelfHandle()->u32IPAddress;
    REG_Write(kRegIp0Stream305, 1);
    REG_Write(kRegIp0Stream308, 7);
    REG_Write(kRegIp0Stream289, 0);
    REG_Write(kRegIp0Port, kIp0UdpPort);
    REG_Write(kRegIp0Address, address);
    REG_Write(kRegIp0Restart, 1);
    TheClock().SleepMicros(1'000'000);
    REG_Write(kRegIp0Restart, 0);
    TheClock().SleepMicros(10'000);
    return IPconfig_SetIP1();
}

}  // namespace hx
