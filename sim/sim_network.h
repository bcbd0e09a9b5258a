// Simulated network interfaces: what "/sys/class/net/<name>/address" holds on
// the simulated board, created under the data root when first asked for.
#pragma once

#include <string>
#include <string_view>

#include "core/types.h"

namespace hx {

// A locally administered unicast MAC, stable per slot and interface:
// 02:48:58:51:<slot>:<interface index> (eth0 -> 0, eth1 -> 1).
std::string SimNetwork_PlausibleMac(std::string_view interfaceName, U32 u32Slot);

// Writes the interface's address file ("xx:..:xx\n") unless it exists.
bool SimNetwork_CreateInterface(std::string_view interfaceName);

}  // namespace hx
