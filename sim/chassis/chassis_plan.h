// What the simulated chassis of a PC run does: three boards around the card
// and the messages they send it.
//
// - The back board (slot 16) tells the card which slots hold boards (513) and
//   forwards the resource records (257) of itself, of an input card and of an
//   EIT board (type 65, EIT on), each naming its board's loopback address.
// - The input card describes one output stream of three named programs: the
//   stream (259), the programs (260, in two packets), their PCR, video and
//   audio PIDs (261), a program descriptor loop each (288), then the apply
//   command (271) and the end of its configuration (264).
// - Told to drop output channel 0 (2068), the input card deletes its three
//   programs there (263) and sends the apply command (271).
// - The EIT board only listens: the card sends it its EIT list (278, 279)
//   after the apply.
//
// The first message waits, bounded, for the card's port. SimChassis_RunPlan
// runs in the caller's thread; the messages are pure functions of the plan.
//
// A plan for the back board only is the chassis of a card that restarts on a
// data root already holding its configuration: the back board announces a
// chassis of itself and the card (513 with the card's slot alone, 257 of
// itself), and no input card or EIT board listens or sends, so nothing but
// the card's own files puts its streams back on air.
#pragma once

#include <array>
#include <vector>

#include "core/types.h"
#include "sim/chassis/sim_chassis.h"

namespace hx {

struct SimChassisPlan {
    U32 cardAddress = 0x7F000001;  // the sim profile's listening address
    U16 port = 8000;               // the one inter-board port of every board
    U32 cardSlot = 3;              // the sim profile's slot of the card
    U32 inputSlot = 5;
    U32 eitSlot = 7;
    U32 waitForCardMs = 60'000;
    bool backBoardOnly = false;
};

// One program of the input card's stream.
struct SimPlanProgram {
    U16 programId;
    U16 serviceId;
    U16 pmtPid;
    U16 videoPid;  // carries the PCR too
    U16 audioPid;
    const char* name;
};
inline constexpr std::array<SimPlanProgram, 3> kSimPlanPrograms = {{
    {1, 101, 0x100, 0x101, 0x102, "HX News"},
    {2, 102, 0x110, 0x111, 0x112, "HX Sport"},
    {3, 103, 0x120, 0x121, 0x122, "HX Movies"},
}};
inline constexpr const char* kSimPlanProvider = "HX Sim";
inline constexpr U16 kSimPlanTransportStreamId = 0x0101;
inline constexpr U16 kSimPlanNetworkId = 0x0001;
inline constexpr U16 kSimPlanOutputChannel = 0;

struct SimPlanMessage {
    U32 fromSlot;
    U16 command;
    std::vector<U8> payload;
};

// The boards the chassis runs: back board, input card, EIT board (the back
// board alone for a back-board-only plan).
std::vector<U32> SimChassis_PlanSlots(const SimChassisPlan& plan);
// 513, then the 257 records of the back board, the input card and the EIT
// board (of the back board alone for a back-board-only plan).
std::vector<SimPlanMessage> SimChassis_BackBoardMessages(const SimChassisPlan& plan);
// 259, 260, 261, 288, 271, 264.
std::vector<SimPlanMessage> SimChassis_InputCardMessages(const SimChassisPlan& plan);

// 263 for the three programs on the output channel, then 271: the input
// card's answer to the card's order to drop that channel.
std::vector<SimMessage> SimChassis_InputCardDropMessages(const SimChassisPlan& plan);

// Registers the input card's answer to a drop of its channel (SetChannelFeed),
// then sends the back board's messages, then the input card's, to the card
// (the back board's alone for a back-board-only plan); the
// first waits for the card's port at most plan.waitForCardMs. True when every
// message was answered with success; a message that is not still lets the
// others go out.
bool SimChassis_RunPlan(SimChassis& chassis, const SimChassisPlan& plan);

}  // namespace hx
