#include "engine/output_model.h"

namespace hx {

namespace {

// Constant-initialised, so they exist before any start-up step runs, and never
// destroyed: detached threads may use them until the board is reset.
constinit Output_TSInfo s_stTSParam{};

}  // namespace

// The copy web edits change; "GetSubboardTSInfo.w" refreshes it, the apply copies it back.
constinit Output_TSInfo g_stTempTSParam{};

Output_TSInfo* TSP_GetTSParam() {
    HX_MODEL_LOCK_REQUIRED();
    return &s_stTSParam;
}

Output_TSInfo* TSP_GetTempTSParam() {
    HX_MODEL_LOCK_REQUIRED();
    return &g_stTempTSParam;
}

bool IsSharedModel(const Output_TSInfo* model) { return model == &s_stTSParam || model == &g_stTempTSParam; }

}  // namespace hx
