// Board MIB module: the board's own objects under 1.3.6.1.4.1.53117.8
// (temperature, per-channel status, RF level, PSI interval, per-channel
// parameters, channel plan).
//
// Thread: init_qam and every handler it registers run on the SNMP agent's
// thread (snmp/snmp_agent.h), the only thread that calls net-snmp.
#pragma once

namespace hx {

// Registers the module's objects with the agent; the agent's module start
// calls it first, before the library's own modules.
void init_qam();

}  // namespace hx
