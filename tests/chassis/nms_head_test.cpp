// The management service's 20-byte frame head.
#include <gtest/gtest.h>

#include <array>

#include "chassis/nms_server.h"

namespace hx {
namespace {

TEST(NmsHeadTest, EncodesLittleEndianAndDecodesBack) {
    const COMM_HEAD_t head{0x963800FE, 0x01020304, 1, 2, 5, 6, 7, 8};
    const auto bytes = NMS_EncodeHead(head);
    const std::array<U8, 20> expected = {0xFE, 0x00, 0x38, 0x96, 0x04, 0x03, 0x02, 0x01, 1, 0,
                                         0,    0,    2,    0,    0,    0,    5,    6,    7, 8};
    EXPECT_EQ(expected, bytes);
    const COMM_HEAD_t back = NMS_DecodeHead(bytes.data());
    EXPECT_EQ(0x01020304u, back.dwDataLength);
    EXPECT_EQ(8, back.ucDataExt3);
}

}  // namespace
}  // namespace hx
