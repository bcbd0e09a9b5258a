#include <gtest/gtest.h>

#include "web/web_value.h"

namespace hx {
namespace {

TEST(Bcd2HexTest, PacksDecimalDigitsLeastSignificantFirst) {
    const std::pair<U32, U32> cases[] = {
        {0, 0},
        {7, 0x7},
        {6875, 0x6875},
        {474000, 0x474000},     // a frequency in kHz
        {68750, 0x68750},       // 6,875,000 symbol/s in units of 100
        {99999999, 0x99999999},
        {123456789, 0x23456789},  // eight digits at most
    };
    for (const auto& [binary, bcd] : cases) {
        EXPECT_EQ(bcd, Bcd2Hex(binary)) << binary;
    }
}

}  // namespace
}  // namespace hx
