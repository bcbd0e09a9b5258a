#include "snmp/snmp_modules.h"

#include "snmp/qam_mib.h"

// The library's module entry points; its headers declare them only inside its
// own build tree.
extern "C" {
void init_snmp_mib(void);
void init_system_mib(void);
void init_sysORTable(void);
void init_vacm_vars(void);
#if HX_NETSNMP_MODULE_SUFFIX_5_5
void init_snmpMPDStats_5_5(void);
void init_usmStats_5_5(void);
#else
void init_snmpMPDStats(void);
void init_usmStats(void);
#endif
void init_snmpEngine(void);
void init_usmUser(void);
void init_vacm_context(void);
}

namespace hx {

void Snmp_InitMibModules() {
    init_qam();
    init_snmp_mib();
    init_system_mib();
    init_sysORTable();
    init_vacm_vars();
#if HX_NETSNMP_MODULE_SUFFIX_5_5
    init_snmpMPDStats_5_5();
    init_usmStats_5_5();
#else
    init_snmpMPDStats();
    init_usmStats();
#endif
    init_snmpEngine();
    init_usmUser();
    init_vacm_context();
}

}  // namespace hx
