// Start of the web interface: the download links and the HTTP server thread.
#pragma once

#include "core/types.h"

namespace hx {

U32 Web_Start();

}  // namespace hx
