#include "si/si_regeneration.h"

#include "engine/output_model.h"

namespace hx {

bool IsPSITableInOtherPID(U16 u16OutTSIndex, U16 u16PID) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list{};
    if (TSP_GetOutTSOtherPIDIndexList(u16OutTSIndex, model, &list) != 0) {
        return false;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (model->pOutputPID[list.aru16IndexList[i]].u16PID == u16PID) {
            return true;
        }
    }
    return false;
}

}  // namespace hx
