// SNMP agent thread entry.
#pragma once

namespace hx {

// Runs the agent for the life of the process.
void* Snmpd_Server(void* argument);

}  // namespace hx
