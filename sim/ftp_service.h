// The back board's FTP service on the simulated board: answers the command
// runner's "ftpget HOST LOCAL [REMOTE]" and "ftpput HOST LOCAL [REMOTE]" as
// the busybox tools would, against the folder "/sim/ftp" of the data root
// (on a PC run "var/sim/ftp/"), where users drop the archives the card
// fetches and collect the ones it sends.
//
// A transfer happens only when HOST is the back board's address
// (SimBoardAddress(16), dotted) and its source exists as a regular file: a
// get copies "/sim/ftp/REMOTE" to LOCAL in the command's working directory, a
// put copies LOCAL from there to "/sim/ftp/REMOTE" (REMOTE defaults to
// LOCAL). Anything else moves nothing and exits with status 1, as a tool that
// could not connect or found no file. Remote names that climb out of the FTP
// folder, and local ones that leave the data root, are refused the same way.
// Every command is recorded (Command_Record), transferred or not.
//
// Tests can make the next transfers fail, or cut the next one short (the
// destination then holds only the first bytes, as after a dropped link).
//
// Installed on the simulated board's power-on; tests may install it
// themselves. Its state sits behind one mutex; the handler runs in the thread
// that runs the command (the inter-board server's, for backups and upgrades).
#pragma once

#include <cstddef>
#include <string>

#include "core/types.h"

namespace hx::sim {

// The FTP server's folder, a logical path under the data root.
constexpr const char* kSimFtpFolder = "/sim/ftp";

// Installs the handlers for "ftpget" and "ftpput" and clears the faults below.
void SimFtp_Install();
// The next `count` transfers fail: nothing moves, status 1.
void SimFtp_FailNextTransfers(U32 count);
// The next transfer that moves a file writes only its first `bytes` bytes.
void SimFtp_CutNextTransfer(std::size_t bytes);

}  // namespace hx::sim
