#include "platform/chassis_info.h"

#include <gtest/gtest.h>

#include <map>

namespace hx::test {
namespace {

class ChassisInfoTest : public ::testing::Test {
protected:
    ChassisInfoTest() { ChassisInfo_Reset(); }
    ~ChassisInfoTest() override { ChassisInfo_Reset(); }
};

// The renumbered chassis (type 1): hardware slot -> user-interface slot.
const std::map<U8, U8> kType1 = {{8, 2}, {9, 1}, {10, 0}, {11, 5}, {12, 3}, {13, 4}, {14, 6}, {16, 16}};

TEST_F(ChassisInfoTest, RenumberedChassisMapsBothWaysAndNothingElse) {
    std::map<U8, U8> inverse;
    for (const auto& [hardware, ui] : kType1) {
        inverse[ui] = hardware;
    }
    for (unsigned slot = 0; slot < 256; ++slot) {
        SCOPED_TRACE(slot);
        const U8 s = static_cast<U8>(slot);
        EXPECT_EQ(VKSYS_HWSlot2UISlot(1, s), kType1.count(s) ? kType1.at(s) : 255);
        EXPECT_EQ(VKSYS_UISlot2HWSlot(1, s), inverse.count(s) ? inverse.at(s) : 255);
        // Any type but 0 renumbers the same way.
        EXPECT_EQ(VKSYS_HWSlot2UISlot(7, s), VKSYS_HWSlot2UISlot(1, s));
    }
}

TEST_F(ChassisInfoTest, TypeZeroKeepsEverySlot) {
    for (unsigned slot = 0; slot < 256; ++slot) {
        EXPECT_EQ(VKSYS_HWSlot2UISlot(0, static_cast<U8>(slot)), slot);
        EXPECT_EQ(VKSYS_UISlot2HWSlot(0, static_cast<U8>(slot)), slot);
    }
}

TEST_F(ChassisInfoTest, KeepsTypeAndPlugMask) {
    EXPECT_EQ(VKSYS_GetZelType(), 0);
    VKSYS_SetZelType(1);
    EXPECT_EQ(VKSYS_GetZelType(), 1);

    Status_SetSubBoardPlugStatus(0x8021);
    EXPECT_EQ(Status_GetSubBoardPlugStatus(), 0x8021);
    EXPECT_TRUE(Status_CheckSubBoardPlugExist(0));
    EXPECT_FALSE(Status_CheckSubBoardPlugExist(1));
    EXPECT_TRUE(Status_CheckSubBoardPlugExist(5));
    EXPECT_TRUE(Status_CheckSubBoardPlugExist(15));
    EXPECT_FALSE(Status_CheckSubBoardPlugExist(16));
    EXPECT_FALSE(Status_CheckSubBoardPlugExist(0xFFFFFFFF));
}

}  // namespace
}  // namespace hx::test
