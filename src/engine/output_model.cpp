#include "engine/output_model.h"

namespace hx {

Output_TSInfo* TSP_GetTSParam() { return nullptr; }

Output_TSInfo* TSP_GetTempTSParam() { return nullptr; }

U32 TSP_GetOutputTSIndexByTS(U16, U16* pu16TSIndex) {
    if (pu16TSIndex == nullptr) {
        return 0xC0000;
    }
    *pu16TSIndex = 0xFFFF;
    return 0;
}

}  // namespace hx
