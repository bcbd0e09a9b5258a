#include "snmp/snmp_agent.h"

#include "core/standin.h"

namespace hx {

void* Snmpd_Server(void*) {
    HX_STANDIN(LOG_MODULE_SNMP);
    return nullptr;
}

}  // namespace hx
