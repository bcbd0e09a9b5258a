// What the simulated chassis prints about a message: the payload of each
// command decoded into lines of text (resource record fields for 257, the EIT
// records of 278, the plug mask of 513, the network settings of 514, the LED
// status of 515, upgrade progress of 3847, the configuration records an input
// card sends, texts, sizes); anything else as a short hex dump.
//
// Pure functions of their arguments, callable from any thread. Lengths are
// checked against what arrived: a payload that is too short or too long for
// its command is said to be so, never read past its end.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/types.h"

namespace hx {

// "IPCOMM_SEND_RESOUR (257)", or "unknown (300)".
std::string SimChassis_CommandText(U16 command);

// The payload of one whole message of `command`, one entry per line, without
// indentation. A message without data gives {"no data"}.
std::vector<std::string> SimChassis_DescribePayload(U16 command, std::span<const U8> data);

}  // namespace hx
