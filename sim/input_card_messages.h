// The configuration messages of a simulated input card: what an input card
// sends this board to describe the output it wants (streams, programs, PIDs,
// descriptor loops, NIT sections, delete orders, descrambling settings and
// its PMT monitor's PID changes), packed byte for byte as the card packs them.
//
// A payload is a count byte followed by that many records of the command's
// fixed size (little-endian); the monitor message is one 208-byte record
// without a count byte. Model records go out whole (their layout is the wire
// layout); delete orders and monitor changes are packed field by field from
// the values given here, independently of the board's own record structs.
//
// Used by tests, the fuzz seed generator and the benchmarks; the inter-board
// work puts these payloads on the wire. Pure functions, no state.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "chassis/ipcomm_packet.h"
#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

// The most data bytes one reassembled inter-board message carries.
constexpr std::size_t kInputMessageMaxBytes = 5120;
constexpr std::size_t kOrderBytes = 8;
constexpr std::size_t kMonitorBytes = 208;
constexpr std::size_t kMaxRecordsPerMessage = 255;

struct InputCardMessage {
    IPCOMM_CMD command;
    std::vector<U8> payload;
};

// Delete orders (262; 263 and 289 share one layout; 274).
struct DeleteStreamOrder {
    U8 sourceSlot = 3;
    U8 destinationSlot = 4;
    U16 sourceChannel = 0;
    U16 channel = 0;
};
struct DeleteProgramOrder {
    U8 sourceSlot = 3;
    U16 sourceChannel = 0;
    U16 channel = 0;
    U16 programId = 1;
};
struct DeletePidOrder {
    U8 sourceSlot = 3;
    U8 filterFlag = 2;
    U16 sourceChannel = 0;
    U16 channel = 0;
    U16 key = 0;
};

// A PMT monitor change (275): type 1 is a program's PMT, 2-7 a PID record.
struct MonitorChange {
    U8 type = 1;
    U8 streamType = 0;
    U16 oldPid = 0;
    U16 newPid = 0;
    U8 sourceSlot = 3;
    U16 sourceChannel = 0;
    U16 channel = 0;
    U16 key = 1;  // program ID (type 1) or the PID record's key
    U16 casId = 0;
    std::vector<U8> loop = {};  // at most 188 bytes go into the record
    U16 loopLength = 0;         // the length field as sent
    U16 descriptorIndex = 0xFFFF;
};

// Model records as an input card fills them.
struct ProgramFields {
    U8 sourceSlot = 3;
    U16 sourceChannel = 0;
    U16 channel = 0;
    U8 destinationSlot = 4;
    U16 programId = 1;
    U16 serviceId = 1;
    U16 pmtPid = 0x100;
    U16 pcrPid = 0x101;
};
struct PidFields {
    PIDTYPE_E type = PID_TYPE_ESPID;
    U8 sourceSlot = 3;
    U16 sourceChannel = 0;
    U16 channel = 0;
    U8 destinationSlot = 4;
    U16 programId = 1;  // owner of a PCR, ES or program ECM
    U16 key = 0;        // the record's key; an ES-level ECM's names its ES
    U16 ownKey = 0;     // an ES-level ECM's own key
    U16 pid = 0x200;
    U8 streamType = 0x02;
    U16 sourceStream = 0;
};

Output_TSStream InputCard_Stream(U16 channel, U8 destinationSlot = 4);
Output_TSProgram InputCard_Program(const ProgramFields& fields);
Output_TSPID InputCard_Pid(const PidFields& fields);
// A program-info loop longer than 188 bytes (288); u16ProgramIndex carries the program ID.
TSDescriptor InputCard_ProgramLoop(const ProgramFields& program, std::span<const U8> loop);

// A count byte and the bytes of `count` records (the count as given, so a
// test can claim more records than follow).
std::vector<U8> InputCard_Counted(U8 count, std::span<const U8> records);

std::vector<U8> InputCard_EncodeStreams(std::span<const Output_TSStream> records);
std::vector<U8> InputCard_EncodePrograms(std::span<const Output_TSProgram> records);
std::vector<U8> InputCard_EncodePids(std::span<const Output_TSPID> records);
std::vector<U8> InputCard_EncodeDescriptors(std::span<const TSDescriptor> records);
std::vector<U8> InputCard_EncodeTables(std::span<const TSTable> records);
std::vector<U8> InputCard_EncodePassthrough(std::span<const Passthrough_TSStream> records);
std::vector<U8> InputCard_EncodeDeleteStreams(std::span<const DeleteStreamOrder> orders);
std::vector<U8> InputCard_EncodeDeletePrograms(std::span<const DeleteProgramOrder> orders);
std::vector<U8> InputCard_EncodeDeletePids(std::span<const DeletePidOrder> orders);
// One 208-byte record, no count byte.
std::vector<U8> InputCard_EncodeMonitor(const MonitorChange& change);

// Records split into messages of at most 5,120 data bytes (and 255 records),
// as an input card sends a long list.
template <typename Record>
std::vector<InputCardMessage> InputCard_Messages(IPCOMM_CMD command, std::span<const Record> records,
                                                 std::vector<U8> (*encode)(std::span<const Record>),
                                                 std::size_t recordBytes = sizeof(Record)) {
    const std::size_t perMessage = std::min(kMaxRecordsPerMessage, (kInputMessageMaxBytes - 1) / recordBytes);
    std::vector<InputCardMessage> messages;
    for (std::size_t first = 0; first < records.size(); first += perMessage) {
        const std::size_t count = std::min(perMessage, records.size() - first);
        messages.push_back({command, encode(records.subspan(first, count))});
    }
    return messages;
}

}  // namespace hx
