// The simulated board's flash image: placeholders of the files a card's flash
// holds and the built subsystems read, written into a data root that lacks
// them, so a PC run starts as a flashed card does instead of logging their
// absence:
//   - "/vandik_app/tools/iperf3.tar": a tar archive of one "iperf3" script
//     that prints one line and exits 0 (start-up unpacks it, the network test
//     names it);
//   - "/vandik_app/app/upgrade.json": the shipped version file, with the
//     board's default software version (start-up reads it);
//   - "/vandik_app/app/EraseDataMtd.sh" (its presence lets the web's erase
//     request set the erase flag) and "/vandik_app/app/copy2jffs2.sh" (run
//     by an upgrade): scripts that print one line, recorded, never run;
//   - "/vandik_app/app/MIBs/QAM1-MIB.txt" ... "QAM16-MIB.txt": the board
//     MIB's text (snmp/qam_mib_text.h), one file per slot.
//   - "/vandik_app/tools/webserver/config/webserver.conf": the shipped web
//     server configuration (tools/webserver/webserver.conf), which takes the
//     data root, address and port from the values ExportRunProfileEnvironment
//     sets;
//   - "/vandik_app/web/index.html": a placeholder page for the web server to
//     serve, since the card's browser pages are not part of this program.
// Files already there are left as they are.
//
// Called by main on the simulated board before start-up, and by tests on
// their data roots; no thread of the card runs yet, so there is no lock.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace hx {

// The line the placeholder iperf3 prints.
constexpr std::string_view kSimIperf3Line = "iperf3 placeholder of the simulated board: no network test run";

// Writes each missing file of the image. Does nothing on the card profile
// (false); else true when every file is there afterwards (failures logged).
bool SimBoardImage_Seed();

// The placeholder page's text.
std::string_view SimBoardImage_PlaceholderPage();

// The shipped web server configuration text.
std::string_view SimBoardImage_WebserverConf();

// A tar archive (ustar) holding one regular file `name` with permission bits
// `mode` and the given content.
std::vector<U8> SimBoardImage_TarOneFile(std::string_view name, U32 mode, std::span<const U8> content);

}  // namespace hx
