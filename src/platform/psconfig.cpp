#include "platform/psconfig.h"

#include "core/run_profile.h"
#include "core/standin.h"

namespace hx {

U32 PSConf_FWConfigGeneralFPGA32Bit(const U8* data, U32 length, U32 target) {
    HX_STANDIN(LOG_MODULE_SYS);
    if (data == nullptr || length == 0 || target != 1) {
        return 4;
    }
    return Profile().simBitstreamFails ? 1 : 0;
}

}  // namespace hx
