#include "web/web_debug.h"

#include "engine/mux_lut.h"
#include "platform/fpga_meter.h"
#include "platform/fpga_reg.h"
#include "platform/qam.h"

namespace hx {

void Web_Read160TFPGA(U32 u32Register, U32* pu32Value) { QAM160TComm_ReadFPGA(u32Register, pu32Value); }

void Web_Write160TFPGA(U32 u32Register, U32 u32Value) { QAM160TComm_WriteFPGA(u32Register, u32Value); }

void Web_Get160TPIDCc(U32 u32Channel, U32 u32Pid, U16* pu16Count) {
    QAM160TComm_Get160TPIDCc(static_cast<U8>(u32Channel), static_cast<U16>(u32Pid), pu16Count);
}

void Web_Clear160TPIDCc() { QAM160TComm_Clear160TPIDCc(); }

void Web_ClearPIDCc() { FPGA_ClearPIDCc(); }

void Web_DebugPrintMuxLUT() { TSP_PrintMuxLUT(); }

void Web_DebugPrintBypassLUT() { TSP_PrintBypassLUT(); }

void Web_ReadAD9119Reg(U32 u32Register, U32* pu32Value) { QAM160TComm_Read9119(u32Register, pu32Value); }

void Web_WriteAD9119Reg(U32 u32Register, U32 u32Value) { QAM160TComm_Write9119(u32Register, u32Value); }

void web_REG_Read_fortest(U32 u32Register, U32* pu32Value) { REG_Read(u32Register, pu32Value); }

void web_REG_Write_fortest(U32 u32Register, U32 u32Value) { REG_Write(u32Register, u32Value); }

}  // namespace hx
