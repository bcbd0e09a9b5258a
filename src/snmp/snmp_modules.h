// The MIB modules the agent serves, started in a fixed order on the SNMP
// thread: the board's module first, then the library's MIB-II system and snmp
// groups, sysORTable, the view-based access control, the message-processing
// and USM statistics, the SNMP engine, the USM users and the VACM contexts.
//
// The library's own init_mib_modules() would start every module of its build
// (the Debian package carries a full host agent); the board answers only
// these.
#pragma once

namespace hx {

// Thread: the SNMP thread, between init_agent and init_snmp.
void Snmp_InitMibModules();

}  // namespace hx
