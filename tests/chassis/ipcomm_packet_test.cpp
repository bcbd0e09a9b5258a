// The inter-board packet byte for byte, the checks on received blocks, and the
// reassembly store.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_reassembly.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "support/test_env.h"

namespace hx {
namespace {

std::vector<U8> Wire(U16 command, const std::vector<U8>& data, U32 index = 0, U32 count = 1, U8 slot = 3) {
    IPCommWire wire;
    EXPECT_TRUE(IPComm_Build(command, data.data(), static_cast<U32>(data.size()), index, count, &wire, slot));
    return std::vector<U8>(wire.bytes.begin(), wire.bytes.begin() + wire.length);
}

bool IsZero(const ST_VK_IPCOMM& record) {
    const ST_VK_IPCOMM zero;
    return record.u8SlotID == 0 && record.u16CMD == 0 && record.u32CurTansNum == 0 && record.u32SumTansNum == 0 &&
           record.u32Length == 0 && record.pu8Data == zero.pu8Data && record.u32StructCRC == 0;
}

TEST(IPCommPacket, CrcAndBareReplyMatchTheFixture) {
    const std::string digits = "123456789";
    EXPECT_EQ(0x09312918u, Common_CRCCalculate(digits.data(), 9, kIPCommCrcInitial));
    const std::vector<U8> expected = {0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0xE2, 0x5D, 0x7B};
    EXPECT_EQ(expected, Wire(IPCOMM_SUCCESS_CMD, {}));
}

TEST(IPCommPacket, DataIsPaddedAndThePaddingIsNotCovered) {
    const std::vector<U8> wire = Wire(IPCOMM_SEND_TS, {1, 2, 3, 4, 5}, 0, 1, 9);
    ASSERT_EQ(28u, wire.size());
    const std::vector<U8> header = {9, 0, 0x03, 0x01, 0, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0};
    EXPECT_EQ(header, std::vector<U8>(wire.begin(), wire.begin() + 16));
    EXPECT_EQ((std::vector<U8>{1, 2, 3, 4, 5, 0, 0, 0}), std::vector<U8>(wire.begin() + 16, wire.begin() + 24));
    EXPECT_EQ(Common_CRCCalculate(wire.data(), 21, kIPCommCrcInitial), GetLe32(wire.data() + 24));

    EXPECT_EQ(1420u, Wire(IPCOMM_SEND_TS, std::vector<U8>(1400, 7)).size());
    IPCommWire tooLong;
    const std::vector<U8> big(1401, 7);
    EXPECT_FALSE(IPComm_Build(IPCOMM_SEND_TS, big.data(), 1401, 0, 1, &tooLong, 3));
    EXPECT_FALSE(IPComm_Build(IPCOMM_SEND_TS, nullptr, 4, 0, 1, &tooLong, 3));
}

struct BlockCase {
    const char* name;
    std::vector<U8> block;
    U32 result;
};

std::vector<U8> Flipped(std::vector<U8> block, std::size_t byte) {
    block[byte] ^= 0x10;
    return block;
}

TEST(IPCommPacket, ReceivedBlocksAreCheckedInOrder) {
    test::TestEnvironment env;
    const std::vector<U8> five = Wire(IPCOMM_SEND_DATA, {1, 2, 3, 4, 5});
    std::vector<U8> twentySeven(five.begin(), five.end() - 1);
    std::vector<U8> twentyNine = five;
    twentyNine.push_back(0);
    std::vector<U8> overLong = Wire(IPCOMM_SEND_DATA, {});
    PutLe32(overLong.data() + 12, 1401);
    std::vector<U8> padding = five;
    padding[22] = 0xAA;
    const std::vector<BlockCase> cases = {
        {"empty", {}, VK_ERR_COMM_IP_RECV_MISS},
        {"19 bytes", std::vector<U8>(five.begin(), five.begin() + 19), VK_ERR_COMM_IP_RECV_MISS},
        {"27 bytes", twentySeven, VK_ERR_COMM_IP_RECV_MISS},
        {"29 bytes", twentyNine, VK_ERR_COMM_IP_RECV_MISS},
        {"length 1401", overLong, VK_ERR_COMM_IP_RECV_MISS},
        {"header bit", Flipped(five, 2), VK_ERR_CRC},
        {"reserved bit", Flipped(five, 1), VK_ERR_CRC},
        {"data bit", Flipped(five, 18), VK_ERR_CRC},
        {"crc bit", Flipped(five, 25), VK_ERR_CRC},
        {"padding changed", padding, VK_SUCCESS},
        {"good", five, VK_SUCCESS},
    };
    for (const BlockCase& c : cases) {
        ST_VK_IPCOMM record;
        record.u16CMD = 99;
        record.u32Length = 3;
        record.pu8Data[0] = 1;
        const U8 nothing = 0;  // a receive that returned nothing still hands over its buffer
        const U8* bytes = c.block.empty() ? &nothing : c.block.data();
        const U32 result = IPComm_ParseData(bytes, static_cast<S32>(c.block.size()), &record);
        EXPECT_EQ(c.result, result) << c.name;
        if (result != VK_SUCCESS) {
            EXPECT_TRUE(IsZero(record)) << c.name;
        } else {
            EXPECT_EQ(IPCOMM_SEND_DATA, record.u16CMD) << c.name;
            EXPECT_EQ(3, record.u8SlotID) << c.name;
            EXPECT_EQ(5u, record.u32Length) << c.name;
            EXPECT_EQ(5, record.pu8Data[4]) << c.name;
        }
    }
    EXPECT_EQ(VK_ERR_PARAMS, IPComm_ParseData(nullptr, 20, nullptr));
}

TEST(IPCommPacket, ExpectedLengthComesFromTheHeader) {
    const std::vector<U8> five = Wire(IPCOMM_SEND_DATA, {1, 2, 3, 4, 5});
    EXPECT_EQ(0u, IPComm_ExpectedLength(std::span(five.data(), 15)));
    EXPECT_EQ(28u, IPComm_ExpectedLength(std::span(five.data(), 16)));
    std::vector<U8> overLong = five;
    PutLe32(overLong.data() + 12, 5000);
    EXPECT_EQ(16u, IPComm_ExpectedLength(overLong));
}

TEST(IPCommPacket, CommandNamesRoundTrip) {
    EXPECT_STREQ("IPCOMM_SEND_IP", IPComm_CommandName(514));
    EXPECT_EQ(3842u, IPComm_CommandCode("IPCOMM_REQ_REBOOT"));
    EXPECT_EQ(nullptr, IPComm_CommandName(272));
    EXPECT_EQ(0xFFFFFFFFu, IPComm_CommandCode("IPCOMM_NOPE"));
}

class ReassemblyTest : public ::testing::Test {
protected:
    void SetUp() override { IPComm_ResetTmpData(); }
    void TearDown() override { IPComm_ResetTmpData(); }

    // Parses one packet of a message; the packet's data is `length` bytes of `fill`.
    ST_VK_IPCOMM Feed(U8 sender, U16 command, U32 index, U32 count, U32 length, U8 fill) {
        const std::vector<U8> wire = Wire(command, std::vector<U8>(length, fill), index, count, sender);
        ST_VK_IPCOMM record;
        EXPECT_EQ(VK_SUCCESS, IPComm_ParseData(wire.data(), static_cast<S32>(wire.size()), &record));
        return record;
    }

    static std::vector<U8> Joined(S32 index) {
        const ST_VK_IPCOMM_TMPData& slot = g_IPComm_Tmpdata.at(static_cast<U32>(index));
        return std::vector<U8>(slot.pu8Data.begin(), slot.pu8Data.begin() + slot.u32Length);
    }

    test::TestEnvironment env;
};

TEST_F(ReassemblyTest, PacketsInOrderJoinOutOfOrderDoNot) {
    ST_VK_IPCOMM last;
    Feed(4, IPCOMM_SEND_PROGRAM, 0, 3, 1400, 1);
    Feed(4, IPCOMM_SEND_PROGRAM, 1, 3, 1400, 2);
    last = Feed(4, IPCOMM_SEND_PROGRAM, 2, 3, 10, 3);
    const S32 index = IPComm_FindTmpData(last);
    ASSERT_EQ(0, index);
    std::vector<U8> expected(1400, 1);
    expected.insert(expected.end(), 1400, 2);
    expected.insert(expected.end(), 10, 3);
    EXPECT_EQ(expected, Joined(index));
    IPComm_ClearTmpData(last);
    EXPECT_EQ(-1, IPComm_FindTmpData(last));

    Feed(4, IPCOMM_SEND_PID, 0, 3, 8, 1);
    const ST_VK_IPCOMM skipped = Feed(4, IPCOMM_SEND_PID, 2, 3, 8, 3);
    EXPECT_EQ(0u, g_IPComm_Tmpdata[static_cast<U32>(IPComm_FindTmpData(skipped))].u32curPacket)
        << "packet 2 after packet 0 does not join";
    EXPECT_NE(std::string::npos, env.Console().find("Temp data is not exist!"));
    IPComm_ClearTmpData(skipped);
    EXPECT_NE(-1, IPComm_FindTmpData(skipped)) << "only a complete message is freed";
}

TEST_F(ReassemblyTest, ANewPacketZeroReplacesTheAbandonedPartial) {
    Feed(5, IPCOMM_SEND_TS, 0, 3, 4, 0xA0);
    Feed(5, IPCOMM_SEND_TS, 1, 3, 4, 0xA1);
    Feed(5, IPCOMM_SEND_TS, 0, 3, 4, 0xB0);
    Feed(5, IPCOMM_SEND_TS, 1, 3, 4, 0xB1);
    const ST_VK_IPCOMM last = Feed(5, IPCOMM_SEND_TS, 2, 3, 4, 0xB2);
    const S32 index = IPComm_FindTmpData(last);
    ASSERT_GE(index, 0);
    EXPECT_EQ((std::vector<U8>{0xB0, 0xB0, 0xB0, 0xB0, 0xB1, 0xB1, 0xB1, 0xB1, 0xB2, 0xB2, 0xB2, 0xB2}), Joined(index));
    U32 occupied = 0;
    for (const ST_VK_IPCOMM_TMPData& slot : g_IPComm_Tmpdata) {
        occupied += slot.u8OccupyFlag;
    }
    EXPECT_EQ(1u, occupied);
}

TEST_F(ReassemblyTest, AFullTableIsReclaimedOnlyAfterTheIdleTime) {
    for (U8 sender = 0; sender < kIPCommTmpSlots; ++sender) {
        Feed(sender, IPCOMM_SEND_TS, 0, 2, 4, sender);
    }
    const std::vector<U8> wire = Wire(IPCOMM_SEND_PID, {1, 2, 3, 4}, 0, 2, 16);
    ST_VK_IPCOMM record;
    ASSERT_EQ(VK_SUCCESS, IPComm_ParseData(wire.data(), static_cast<S32>(wire.size()), &record));
    EXPECT_EQ(-1, IPComm_FindTmpData(record));
    EXPECT_NE(std::string::npos, env.Console().find("Temp data is full!"));

    env.clock().Advance(29'000'000);
    Feed(3, IPCOMM_SEND_TS, 1, 2, 4, 9);  // sender 3 stays fresh
    env.clock().Advance(1'000'000);
    ASSERT_EQ(VK_SUCCESS, IPComm_ParseData(wire.data(), static_cast<S32>(wire.size()), &record));
    EXPECT_EQ(0, IPComm_FindTmpData(record)) << "the oldest idle partial (sender 0) made room";
}

TEST_F(ReassemblyTest, AFourthFullPacketIsRefused) {
    Feed(2, IPCOMM_SEND_PROGRAM, 0, 4, 1400, 1);
    Feed(2, IPCOMM_SEND_PROGRAM, 1, 4, 1400, 2);
    Feed(2, IPCOMM_SEND_PROGRAM, 2, 4, 1400, 3);
    const ST_VK_IPCOMM fourth = Feed(2, IPCOMM_SEND_PROGRAM, 3, 4, 1400, 4);
    const ST_VK_IPCOMM_TMPData& slot = g_IPComm_Tmpdata[static_cast<U32>(IPComm_FindTmpData(fourth))];
    EXPECT_EQ(2u, slot.u32curPacket);
    EXPECT_EQ(4200u, slot.u32Length);
    IPComm_ResetTmpData();
    Feed(2, IPCOMM_SEND_PROGRAM, 0, 4, 1400, 1);
    Feed(2, IPCOMM_SEND_PROGRAM, 1, 4, 1400, 2);
    Feed(2, IPCOMM_SEND_PROGRAM, 2, 4, 1400, 3);
    const ST_VK_IPCOMM tail = Feed(2, IPCOMM_SEND_PROGRAM, 3, 4, 920, 4);
    EXPECT_EQ(5120u, g_IPComm_Tmpdata[static_cast<U32>(IPComm_FindTmpData(tail))].u32Length);
}

TEST_F(ReassemblyTest, UpgradeAndImportPacketsAreNotJoined) {
    const ST_VK_IPCOMM upgrade = Feed(16, IPCOMM_SEND_UPGRADE, 0, 5, 100, 1);
    const ST_VK_IPCOMM import = Feed(16, IPCOMM_SEND_BACKUPPARA, 0, 5, 100, 1);
    EXPECT_EQ(-1, IPComm_FindTmpData(upgrade));
    EXPECT_EQ(-1, IPComm_FindTmpData(import));
}

}  // namespace
}  // namespace hx
