// The board MIB module: the board's own objects under 1.3.6.1.4.1.53117.8
// (temperature, baseInfoTable, rfLevel, PSIInterval, paramTable,
// channelStandard; the text is snmp/qam_mib_text.h) registered with the
// net-snmp agent.
//
// Caller: the SNMP agent thread (snmp/snmp_agent.h) calls init_qam once,
// before the library's own modules; the handlers run on that thread only (the
// library is not reentrant). The values and the SET rules are in
// snmp/qam_mib_values.h, which reads the QAM set under the QAM apply lock and
// holds it across each SET's check, edits and applies. The row caches of the
// two tables belong to the SNMP thread alone.
//
// A SET is checked whole before anything changes: every varbind of the
// request under this subtree, in request order, against the set as the
// earlier ones leave it (wrongValue, inconsistentValue), then once more under
// the apply lock when it is applied; the first failing varbind is named and
// nothing is applied. A failed apply gives genErr and the live set keeps the
// value. Objects the annex mode does not serve read as noSuchInstance.
#pragma once

namespace hx {

// Registers the four scalars, then baseInfoTable and paramTable, with rows
// 1..N (N = the output channels of the web port).
void init_qam();

}  // namespace hx
