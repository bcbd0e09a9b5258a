#include "web/web_debug.h"

#include <cstdint>
#include <sstream>
#include <string>

#include "core/clock.h"
#include "core/command_runner.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/mux_lut.h"
#include "platform/fpga_meter.h"
#include "platform/fpga_reg.h"
#include "platform/qam.h"

namespace hx {

namespace {

constexpr const char* kDropbearScript = "/etc/init.d/dropbear";
constexpr const char* kEraseDataScript = "/vandik_app/app/EraseDataMtd.sh";
constexpr const char* kEraseDataFlag = "/vandik_data/EraseDataMtd.flag";
constexpr std::uint64_t kOneSecond = 1'000'000;

}  // namespace

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

void Web_ConnectService(U32 u32Switch) {
    const bool start = u32Switch == 1;
    Command_Run(Command{{kDropbearScript, start ? "start" : "stop"}, std::nullopt});
    TheClock().SleepMicros(kOneSecond);
    if (start) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "Web open telnet Server!\n");
    } else {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "Web close telnet Server!\n");
    }
}

void Web_GetConnectService(U32* pu32State) {
    if (pu32State == nullptr) {
        return;
    }
    *pu32State = 0;
    // The listing is read here rather than filtered by a shell pipe: no
    // temporary file, and a long listing is read whole.
    const CommandResult listing = Command_Capture(Command{{"ps"}, std::nullopt});
    if (!listing.executed || listing.status != 0) {
        return;
    }
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("dropbear") != std::string::npos && line.find("grep") == std::string::npos) {
            *pu32State = 1;
            return;
        }
    }
}

void Web_EraseData() {
    if (!File_Exists(ResolvePath(kEraseDataScript))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "file [%s] is not exist\n", kEraseDataScript);
        return;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Erase the partition of data by web\n");
    Command_Run(Command{{"touch", kEraseDataFlag}, std::nullopt});
    Command_Run(Command{{"sync"}, std::nullopt});
    TheClock().SleepMicros(kOneSecond);
}

}  // namespace hx
