// The simulated input card's message encoder, byte for byte: every field at
// its wire offset, little-endian, and the board's record structs reading the
// same values back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/input_records.h"
#include "sim/input_card_messages.h"

namespace hx {
namespace {

template <typename Record>
Record Decode(const std::vector<U8>& payload, std::size_t at) {
    Record record{};
    std::memcpy(&record, payload.data() + at, sizeof record);
    return record;
}

TEST(InputCardMessagesTest, DeleteOrdersAreEightBytesEach) {
    const std::vector<U8> streams = InputCard_EncodeDeleteStreams(std::vector<DeleteStreamOrder>{
        {.sourceSlot = 0x03, .destinationSlot = 0x04, .sourceChannel = 0x0201, .channel = 0x0605}});
    EXPECT_EQ((std::vector<U8>{1, 0x03, 0x04, 0, 0, 0x01, 0x02, 0x05, 0x06}), streams);
    const Delete_TSStream stream = Decode<Delete_TSStream>(streams, 1);
    EXPECT_EQ(0x0201, stream.u16SourceChannelID);
    EXPECT_EQ(0x0605, stream.u16ChannelID);
    EXPECT_EQ(4, stream.u8Slot);

    const std::vector<U8> programs = InputCard_EncodeDeletePrograms(std::vector<DeleteProgramOrder>{
        {.sourceSlot = 7, .sourceChannel = 0x0A0B, .channel = 0x0C0D, .programId = 0x0E0F}, {.sourceSlot = 16}});
    EXPECT_EQ((std::vector<U8>{2, 7, 0, 0x0B, 0x0A, 0x0D, 0x0C, 0x0F, 0x0E, 16, 0, 0, 0, 0, 0, 1, 0}), programs);
    const Delete_TSProgram program = Decode<Delete_TSProgram>(programs, 1);
    EXPECT_EQ(0x0A0B, program.u16SourceChannelID);
    EXPECT_EQ(0x0C0D, program.u16ChannelID);
    EXPECT_EQ(0x0E0F, program.u16ProgramID);
    EXPECT_EQ(0x0E0F, Decode<Delete_TSProgramDescriptor>(programs, 1).u16ProgramID);

    const std::vector<U8> pids = InputCard_EncodeDeletePids(std::vector<DeletePidOrder>{
        {.sourceSlot = 5, .filterFlag = 2, .sourceChannel = 0x1122, .channel = 0x3344, .key = 0x1FFF}});
    EXPECT_EQ((std::vector<U8>{1, 5, 2, 0x22, 0x11, 0x44, 0x33, 0xFF, 0x1F}), pids);
    const Delete_TSPID pid = Decode<Delete_TSPID>(pids, 1);
    EXPECT_EQ(2, pid.u8PIDFilterFlag);
    EXPECT_EQ(0x1FFF, pid.u16PIDID);
}

TEST(InputCardMessagesTest, MonitorRecordIs208BytesWithoutCount) {
    const std::vector<U8> bytes = InputCard_EncodeMonitor({.type = 3,
                                                           .streamType = 0x1B,
                                                           .oldPid = 0x0102,
                                                           .newPid = 0x0304,
                                                           .sourceSlot = 9,
                                                           .sourceChannel = 0x0506,
                                                           .channel = 0x0708,
                                                           .key = 0x090A,
                                                           .casId = 0x0B0C,
                                                           .loop = std::vector<U8>(200, 0xAA),
                                                           .loopLength = 0x0D0E,
                                                           .descriptorIndex = 0x0F10});
    ASSERT_EQ(208u, bytes.size());
    const std::vector<U8> head = {3,    0x1B, 0x02, 0x01, 0x04, 0x03, 9,    0,
                                  0x06, 0x05, 0x08, 0x07, 0x0A, 0x09, 0x0C, 0x0B};
    EXPECT_EQ(head, std::vector<U8>(bytes.begin(), bytes.begin() + 16));
    EXPECT_EQ(std::vector<U8>(188, 0xAA), std::vector<U8>(bytes.begin() + 16, bytes.begin() + 204))
        << "only 188 loop bytes fit";
    EXPECT_EQ((std::vector<U8>{0x0E, 0x0D, 0x10, 0x0F}), std::vector<U8>(bytes.begin() + 204, bytes.end()));
    const MonitorPID_t record = Decode<MonitorPID_t>(bytes, 0);
    EXPECT_EQ(0x0304, record.u16NewPID);
    EXPECT_EQ(0x0708, record.u16DestChannel);
    EXPECT_EQ(0x0D0E, record.u16DescriptorInfoLength);
    EXPECT_EQ(0x0F10, record.u16DescriptorIndex);
}

TEST(InputCardMessagesTest, ModelRecordsFollowTheCountWhole) {
    const std::vector<Output_TSProgram> programs = {InputCard_Program({.programId = 1}),
                                                    InputCard_Program({.programId = 2})};
    const std::vector<U8> payload = InputCard_EncodePrograms(programs);
    ASSERT_EQ(1 + 2 * 920u, payload.size());
    EXPECT_EQ(2, payload[0]);
    EXPECT_EQ(2, payload[1 + 920 + 20]) << "u16ProgramID of the second record at offset 20";
    EXPECT_EQ(0, std::memcmp(payload.data() + 1, &programs[0], 920));
}

TEST(InputCardMessagesTest, LongListsSplitIntoMessagesOfAtMost5120Bytes) {
    struct Case {
        std::size_t records;
        std::size_t bytes;
        std::vector<std::size_t> counts;
    };
    for (const Case& c : {Case{11, 920, {5, 5, 1}}, Case{13, 372, {13}}, Case{14, 372, {13, 1}},
                          Case{600, kOrderBytes, {255, 255, 90}}}) {
        SCOPED_TRACE(c.bytes);
        const std::vector<DeleteProgramOrder> orders(c.records);
        const auto messages = InputCard_Messages<DeleteProgramOrder>(IPCOMM_DEL_PROGRAM, orders,
                                                                     InputCard_EncodeDeletePrograms, c.bytes);
        ASSERT_EQ(c.counts.size(), messages.size());
        for (std::size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(c.counts[i], messages[i].payload[0]);
            EXPECT_EQ(IPCOMM_DEL_PROGRAM, messages[i].command);
        }
    }
    const std::vector<Output_TSPID> pids(13);
    const auto messages = InputCard_Messages<Output_TSPID>(IPCOMM_SEND_PID, pids, InputCard_EncodePids);
    ASSERT_EQ(1u, messages.size());
    EXPECT_LE(messages[0].payload.size(), kInputMessageMaxBytes);
    EXPECT_EQ(1 + 13 * 372u, messages[0].payload.size());
}

}  // namespace
}  // namespace hx
