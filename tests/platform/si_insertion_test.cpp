// SI records written through the register window come out of the simulated
// main FPGA as transport-stream packets; an independent decoder (libdvbpsi)
// reads the table back from the packet file.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"
#include "support/psi_decoder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

struct Program {
    U16 number;
    U16 pmtPid;
};

// PAT section (big-endian, CRC-32/MPEG-2) for the given programs.
std::vector<U8> PatSection(U16 transportStreamId, U8 version, const std::vector<Program>& programs) {
    const U16 sectionLength = static_cast<U16>(5 + 4 * programs.size() + 4);
    std::vector<U8> section(3 + sectionLength);
    section[0] = 0x00;
    PutBe16(&section[1], static_cast<U16>(0xB000 | sectionLength));
    PutBe16(&section[3], transportStreamId);
    section[5] = static_cast<U8>(0xC1 | (version << 1));
    section[6] = 0;
    section[7] = 0;
    std::size_t at = 8;
    for (const Program& program : programs) {
        PutBe16(&section[at], program.number);
        PutBe16(&section[at + 2], static_cast<U16>(0xE000 | program.pmtPid));
        at += 4;
    }
    PutBe32(&section[at], Common_CRC_Calculate(section.data(), static_cast<U32>(at), kCrcInitMpeg2));
    return section;
}

// One 196-byte insertion record carrying a one-packet section, as 49 words.
std::array<U32, 49> Record(U8 channel, U16 pid, U8 continuity, const std::vector<U8>& section) {
    std::array<U8, 196> bytes;
    bytes.fill(0xFF);
    bytes[0] = 1;
    bytes[1] = channel;
    bytes[6] = 0;
    bytes[7] = 0;
    U8* packet = bytes.data() + 8;
    packet[0] = 0x47;
    packet[1] = static_cast<U8>(0x40 | (pid >> 8));
    packet[2] = static_cast<U8>(pid);
    packet[3] = static_cast<U8>(0x10 | (continuity & 0x0F));
    packet[4] = 0;  // pointer_field
    std::copy(section.begin(), section.end(), packet + 5);
    std::array<U32, 49> words;
    Common_ChangeBit8To32(words.data(), bytes.data(), 196);
    return words;
}

TEST(SiInsertionTest, PatSentAsSiRecordsDecodesBackFromItsPacketFile) {
    test::TestEnvironment env;
    test::SimBoard board;
    const std::vector<Program> programs = {{1, 0x100}, {2, 0x200}, {0x1234, 0x1FFE}};
    const std::vector<U8> section = PatSection(0x0ABC, 5, programs);
    for (U8 continuity = 0; continuity < 3; ++continuity) {
        const std::array<U32, 49> words = Record(7, 0x0000, continuity, section);
        ASSERT_EQ(0u, FPGA_Comm_SendData(words.data(), 49));
    }
    EXPECT_EQ(3u, board.fpga().siInsertion().Accepted());
    EXPECT_EQ(0u, board.fpga().siInsertion().Rejected());

    const std::string file = env.ReadText("/sim/ts/out-07.ts");
    ASSERT_EQ(3u * 188, file.size());
    test::PsiDecoder decoder;
    decoder.Push(std::vector<U8>(file.begin(), file.end()));
    EXPECT_TRUE(decoder.Problems().empty()) << decoder.Problems().front();
    ASSERT_EQ(1u, decoder.patTables.size()) << "three sends of one version: one table";
    EXPECT_EQ(0x0ABC, decoder.patTables[0].transportStreamId);
    EXPECT_EQ(5, decoder.patTables[0].version);
    const std::vector<std::pair<U16, U16>> expected = {{1, 0x100}, {2, 0x200}, {0x1234, 0x1FFE}};
    EXPECT_EQ(expected, decoder.patTables[0].programs);
    EXPECT_TRUE(env.ReadText("/sim/ts/out-00.ts").empty()) << "only the record's channel gets packets";
}

}  // namespace
}  // namespace hx
