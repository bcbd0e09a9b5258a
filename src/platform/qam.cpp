#include "platform/qam.h"

#include "core/standin.h"

namespace hx {

U32 UartComm_ConfigQAM160T() {
    HX_STANDIN(LOG_MODULE_QAM);
    return 0;
}

U32 QAM160TComm_Start() {
    HX_STANDIN(LOG_MODULE_QAM);
    return 0;
}

U32 IsChannelenableConfig9119() {
    HX_STANDIN(LOG_MODULE_QAM);
    return 0;
}

}  // namespace hx
