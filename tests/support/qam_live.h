// The live QAM set and IP monitor record as a test thread sees them while
// the web server or the SNMP agent may change them: copies and edits taken
// under the QAM apply lock, which every setter holds. A reply that reaches
// the test through curl or snmpset (another process) orders nothing that
// ThreadSanitizer can see; the lock does.
#pragma once

#include "platform/qam_apply.h"
#include "platform/qam_params.h"
#include "web/web_accessors.h"

namespace hx::test {

inline TParameter_QAM LiveQamSet() {
    QamApplyGuard apply(QAM_ApplyLock());
    return *GetQAMPara_Handle();
}

inline QAM_IPMonitorPara LiveIpMonitor() {
    QamApplyGuard apply(QAM_ApplyLock());
    return *GetQAMIPMonitor_Handle();
}

template <typename Edit>
void EditLiveQamSet(Edit edit) {
    QamApplyGuard apply(QAM_ApplyLock());
    edit(*GetQAMPara_Handle());
}

template <typename Edit>
void EditLiveIpMonitor(Edit edit) {
    QamApplyGuard apply(QAM_ApplyLock());
    edit(*GetQAMIPMonitor_Handle());
}

inline U16 LivePsiInterval() {
    QamApplyGuard apply(QAM_ApplyLock());
    U16 interval = 0;
    Web_GetPSIInterval(&interval);
    return interval;
}

}  // namespace hx::test
