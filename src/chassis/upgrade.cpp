#include "chassis/upgrade.h"

#include "core/standin.h"

namespace hx {

void FTP_UpgradeProfileInit() { HX_STANDIN(LOG_MODULE_UPGRADE); }

}  // namespace hx
