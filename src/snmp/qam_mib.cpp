#include "snmp/qam_mib.h"

#include "core/standin.h"

namespace hx {

void init_qam() { HX_STANDIN(LOG_MODULE_SNMP); }

}  // namespace hx
