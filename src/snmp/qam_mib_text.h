// The board MIB's text: the definitions of the objects the board MIB module
// (snmp/qam_mib.h) registers, under their registered names, for managers and
// for the MIB export of the system page. It imports nothing (Debian ships no
// SMI modules), so `snmpwalk -m QAM-MIB -M <folder>` loads it alone.
//
// Callers: the simulated board image, which writes it where the card's flash
// keeps the per-slot MIB files; tests. Constant; no lock.
#pragma once

#include <string_view>

namespace hx {

constexpr std::string_view kQamMibModule = "QAM-MIB";
// Where the board image keeps a slot's copy, with the slot's user-interface
// number (1-16).
constexpr const char* kQamMibPathFormat = "/vandik_app/app/MIBs/QAM%u-MIB.txt";
constexpr unsigned kQamMibSlotFiles = 16;

extern const std::string_view kQamMibText;

}  // namespace hx
