// The log and MIB operations of the system pages: clearing the logs, the log
// level switch, and the two downloadable archives, the log archive
// ("download/<board>_log.tar.gz") and the MIB archive
// ("download/<board>_MIB.tar.gz"), where <board> is the own slot's board
// descriptor with every '/' as '-'. Each archive is built in "/tmp/" and
// linked from the web root's "download/" folder, which is created when
// missing.
//
// Tools run through the command runner as argument vectors: a descriptor is
// one argument whatever it holds, and a command that needs a folder names it
// as its working directory (the process never changes its own, which every
// thread shares). Each archive is deleted before its tar, so a tar that fails
// never leaves an older archive to be offered as the new one.
//
// Caller: the HTTP server thread, one request at a time; the tools block it.
// No state of their own.
#pragma once

#include "core/types.h"

namespace hx {

// The capacity of an export's path text.
constexpr U32 kWebExportPathBytes = 512;

// Deletes the files of "/vandik_data/log/" (the main log, the device log and
// their older copies) and creates an empty main log again. 0.
U32 Web_ClearLog();

// The log level mask (its low 4 bits) set and the log settings stored. 0.
U32 Web_SetLogStatus(U32 u32Mask);

// Builds the log archive of "/vandik_data/log/" and writes its path
// relative to the web root into `pu8Path` (kWebExportPathBytes). 0; 4 no
// output, 6 no main log, 780 no download folder, 779 the archive was not
// made.
U32 Web_ExportLogs(char* pu8Path);

// Copies the board's MIB text "/vandik_app/app/MIBs/QAM<n>-MIB.txt" (n: the
// board's user-interface slot plus 1) as "/tmp/MIB/<board>_MIB<n>.txt",
// archives "/tmp/MIB/" as "/tmp/KESTRA_MIB.tar.gz" and writes the link's path
// relative to the web root into `pu8Path` (kWebExportPathBytes). 0; 4 no
// output, 6 no MIB text (nothing run), 780 a folder that cannot be made, 779
// a copy or the archive that was not made.
U32 Web_ExportMIBs(char* pu8Path);

}  // namespace hx
