// Firmware upgrade: the progress record announced to the back board.
#pragma once

namespace hx {

void FTP_UpgradeProfileInit();

}  // namespace hx
