// The simulated main FPGA: the register back end of the simulated board.
//
// 65,536 registers that keep what is written, with the behaviour of the blocks
// the card application relies on handed to models (sim/*_model.h): identity
// (0, 16), the LED (18), the 160T UART hook (32-43) with the simulated 160T
// behind it (sim/fpga160t.h), the 160T configuration port (192-196), the IP
// monitor (523, 524, 544-547, 565, 845), the SI insertion buffer (801-804),
// the meters (833-841), the rate words (864, 865, 868-870) and the routing
// tables (768-772). An optional write log keeps every write with its TheClock()
// time, for tests that check sequences and waits.
//
// As the window's back end it is reached one word at a time under g_reg_mutex;
// it is also safe to drive directly from several threads, since the register
// words are atomics and each model locks its own state.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/register_bus.h"
#include "sim/config_port_model.h"
#include "sim/fpga160t.h"
#include "sim/identity_model.h"
#include "sim/ip_monitor_model.h"
#include "sim/led_model.h"
#include "sim/meter_model.h"
#include "sim/rate_word_model.h"
#include "sim/routing_model.h"
#include "sim/si_insertion_model.h"
#include "sim/uart160t_hook.h"

namespace hx::sim {

struct MainFpgaConfig {
    U32 logicVersion = 0;
    U32 slotNumber = 0;
    ConfigPortFaults configPort;
    std::string ledLogPath;   // real path; empty keeps no LED log
    std::string fpga160tLogPath;  // real path; empty keeps no 160T frame log
    std::string tsFolder;     // real path of the SI packet files
    std::string routingPath;  // real path of the decoded routing tables; empty keeps none
};

// The run profile's board: its slot and logic version, its bitstream fault,
// "sim/led.log", "sim/160t.log" and "sim/ts" in the data root.
MainFpgaConfig MainFpgaConfig_FromProfile();

struct RegisterWrite {
    U32 index;
    U32 value;
    std::uint64_t micros;
    bool operator==(const RegisterWrite&) const = default;
};

class MainFpga final : public RegisterBus {
public:
    explicit MainFpga(const MainFpgaConfig& config);

    U32 Read(U32 index) override;
    void Write(U32 index, U32 value) override;

    // The last word written, without a model's answer.
    U32 Peek(U32 index) const;

    void StartWriteLog();
    void StopWriteLog();
    // The writes logged so far, oldest first; taking clears them.
    std::vector<RegisterWrite> TakeWriteLog();

    IdentityModel& identity() { return identity_; }
    LedModel& led() { return led_; }
    Uart160THook& uart() { return uart_; }
    Fpga160T& fpga160t() { return fpga160t_; }
    ConfigPortModel& configPort() { return configPort_; }
    IpMonitorModel& ipMonitor() { return ipMonitor_; }
    SiInsertionModel& siInsertion() { return siInsertion_; }
    MeterModel& meters() { return meters_; }
    RateWordModel& rateWords() { return rateWords_; }
    RoutingModel& routing() { return routing_; }

private:
    void Attach(RegisterModel& model);

    std::array<std::atomic<U32>, kRegisterCount> words_{};
    // Model of each register: 0 none, else index + 1 into models_.
    std::array<U8, kRegisterCount> owner_{};
    std::vector<RegisterModel*> models_;

    IdentityModel identity_;
    LedModel led_;
    ConfigPortModel configPort_;
    Uart160THook uart_;
    Fpga160T fpga160t_;
    IpMonitorModel ipMonitor_;
    SiInsertionModel siInsertion_;
    MeterModel meters_;
    RateWordModel rateWords_;
    RoutingModel routing_;

    std::atomic<bool> logging_{false};
    std::mutex logMutex_;
    std::vector<RegisterWrite> log_;
};

}  // namespace hx::sim
