#include "app/startup.h"

#include <pthread.h>

#include <cstdio>

#include "chassis/ipcomm.h"
#include "chassis/nms_server.h"
#include "chassis/param_store.h"
#include "chassis/upgrade.h"
#include "core/clock.h"
#include "core/log.h"
#include "platform/fpga_reg.h"
#include "platform/led.h"
#include "platform/network.h"
#include "platform/psconfig.h"
#include "platform/qam.h"
#include "platform/resource.h"
#include "platform/uart_comm.h"
#include "platform/z160t_uart.h"
#include "si/si_packet.h"
#include "snmp/snmp_agent.h"
#include "web/web_server.h"

namespace hx {

void Compile_HeadInfo() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "*** *** **** *** *** **** *** ***\n\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "DTV-HX (product Ltd.) \n\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "QAM Board\n\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "COMPILE TIME :%s %s \n\n", __DATE__, __TIME__);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "*** *** **** *** *** **** *** ***\n\n");
}

int snmp_Start() {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        std::puts("snmp thread create failed");
        return -1;
    }
    if (pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) != 0) {
        pthread_attr_destroy(&attributes);
        std::puts("snmp thread create failed");
        return -1;
    }
    pthread_t thread{};
    const int result = pthread_create(&thread, &attributes, Snmpd_Server, nullptr);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        std::puts("snmp thread create failed!\r");
        return -1;
    }
    std::puts("snmp thread create successfully!\r");
    return 0;
}

U32 Startup_Load160TFirmware() {
    const U32 result = PSConf_FWConfigGeneralFPGA32Bit(qam_data_array, kQamBitstreamSize, 1);
    if (result == 0) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "PSCONFIG Download 160T Firmware Sucess.\n\n");
    } else {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PSCONFIG Download 160T Firmware Fail.\n\n");
    }
    return result;
}

std::vector<StartupStep> Startup_Steps() {
    return {
        {"log_Init", [] { log_Init(kMainLogPath); }},
        {"Compile_HeadInfo", [] { Compile_HeadInfo(); }},
        {"Iperf3SoftwareInit", [] { Iperf3SoftwareInit(); }},
        {"FPGA_Init", [] { FPGA_Init(); }},
        {"FPGA_LEDRedfresh_Start", [] { FPGA_LEDRedfresh_Start(); }},
        {"PHY_Init", [] { PHY_Init(); }},
        {"PARAMS_Init", [] { PARAMS_Init(); }},
        {"UartComm_init", [] { UartComm_init(); }},
        {"Z160T_UART_Init", [] { Z160T_UART_Init(); }},
        {"Status_Init", [] { Status_Init(); }},
        {"Resource_Init", [] { Resource_Init(); }},
        {"FTP_UpgradeProfileInit", [] { FTP_UpgradeProfileInit(); }},
        {"UartComm_GetIpAddr", [] { UartComm_GetIpAddr(Status_GetSlotID()); }},
        {"PSConf_FWConfigGeneralFPGA32Bit", [] { Startup_Load160TFirmware(); }},
        {"SIP_Init", [] { SIP_Init(); }},
        {"NMS_SocketServerTask_Start", [] { NMS_SocketServerTask_Start(); }},
        {"IPServer_Start", [] { IPServer_Start(); }},
        {"UartComm_ConfigQAM160T", [] { UartComm_ConfigQAM160T(); }},
        {"Web_Start", [] { Web_Start(); }},
        {"IPComm_SendResourceToBb", [] { IPComm_SendResourceToBb(); }},
        {"QAM160TComm_Start", [] { QAM160TComm_Start(); }},
        {"REG_Write", [] { REG_Write(kRegOwnIpFilter, Resource_getSelfHandle()->u32IPAddress); }},
        {"snmp_Start", [] { snmp_Start(); }},
        {"IsChannelenableConfig9119", [] { IsChannelenableConfig9119(); }},
        {"LED_TaskMonitoring", [] { LED_TaskMonitoring(); }},
    };
}

void Startup_Run(const std::vector<StartupStep>& steps, std::vector<std::string>* trace) {
    for (const StartupStep& step : steps) {
        if (trace != nullptr) {
            trace->emplace_back(step.name);
        }
        step.run();
    }
}

void Startup_KeepAlive() {
    for (;;) {
        TheClock().SleepMicros(3'000'000);
    }
}

}  // namespace hx
