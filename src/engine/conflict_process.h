// Conflict resolution of output service IDs, PIDs and ATSC channel numbers.
//
// Until resolution itself is built, the operator's PID check below stands in:
// it applies the PID and reports no clash. Callers hold the model lock.
#pragma once

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

// The operator's PID change for one record of a stream: the PMT or PCR of the
// program at u16PidOffset, else the PID record at u16PidOffset. A PID used by
// another record of the stream sets *pu8Flag to 2 and changes nothing; else
// the PID is written. 0; 0xC0000 for a PID above 0x1FFE or a bad index.
U32 TSP_CheckOutputPidConflict(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16PidOffset, U16 u16NewPid,
                               Output_TSInfo* pstParamTS, U8* pu8Flag);

}  // namespace hx
