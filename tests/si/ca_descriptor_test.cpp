// Removing the CA descriptors of one ECM PID from a descriptor loop.
#include <gtest/gtest.h>

#include <vector>

#include "si/ca_descriptor.h"
#include "support/model_builder.h"
#include "support/test_env.h"

namespace hx {
namespace {

using Loop = std::vector<U8>;

Loop Join(std::initializer_list<Loop> parts) {
    Loop loop;
    for (const Loop& part : parts) {
        loop.insert(loop.end(), part.begin(), part.end());
    }
    return loop;
}

const Loop kOurs = test::CaDescriptor(0x0100, 0x0123, 2);
const Loop kTheirs = test::CaDescriptor(0x0100, 0x0124);
const Loop kLanguage = {0x0A, 0x04, 'e', 'n', 'g', 0x00};
// A CA descriptor too short to carry a CA_PID is never taken for ours.
const Loop kShortCa = {0x09, 0x02, 0x01, 0x23};

struct Case {
    const char* name;
    Loop loop;
    Loop expected;
};

TEST(CaDescriptorTest, RemovesEveryMatchAndClosesTheGap) {
    test::TestEnvironment env;
    const Case cases[] = {
        {"first", Join({kOurs, kLanguage, kTheirs}), Join({kLanguage, kTheirs})},
        {"middle", Join({kLanguage, kOurs, kTheirs}), Join({kLanguage, kTheirs})},
        {"last", Join({kLanguage, kTheirs, kOurs}), Join({kLanguage, kTheirs})},
        {"all", Join({kOurs, kOurs, kOurs}), {}},
        {"none", Join({kLanguage, kTheirs, kShortCa}), Join({kLanguage, kTheirs, kShortCa})},
        {"empty loop", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loop buffer = c.loop;
        buffer.resize(188, 0xEE);
        U16 length = static_cast<U16>(c.loop.size());
        ASSERT_EQ(0u, TSP_DelCaDescriptors(buffer.data(), &length, 188, 0x0123));
        EXPECT_EQ(c.expected.size(), length);
        EXPECT_EQ(c.expected, Loop(buffer.begin(), buffer.begin() + length));
        if (c.loop.size() > length) {
            EXPECT_EQ(0, buffer[length]) << "the freed tail is cleared";
        }
        EXPECT_EQ(0xEE, buffer[187]) << "nothing written beyond the loop";
    }
}

TEST(CaDescriptorTest, ADamagedLoopIsLeftExactlyAsItCame) {
    test::TestEnvironment env;
    const Case cases[] = {
        // The last descriptor claims 9 bytes where 3 remain.
        {"descriptor past the end", Join({kOurs, Loop{0x0A, 0x09, 1, 2, 3}}), {}},
        {"header cut in half", Join({kOurs, Loop{0x0A}}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loop buffer = c.loop;
        U16 length = static_cast<U16>(buffer.size());
        EXPECT_EQ(0xD0002u, TSP_DelCaDescriptors(buffer.data(), &length, static_cast<U16>(buffer.size()), 0x0123));
        EXPECT_EQ(c.loop.size(), length);
        EXPECT_EQ(c.loop, buffer);
    }
    // A stored length beyond the buffer is not trusted.
    Loop buffer = Join({kOurs, kLanguage});
    U16 length = 200;
    EXPECT_EQ(0xD0002u, TSP_DelCaDescriptors(buffer.data(), &length, static_cast<U16>(buffer.size()), 0x0123));
    EXPECT_EQ(200, length);
    EXPECT_EQ(Join({kOurs, kLanguage}), buffer);
    EXPECT_EQ(0xD0000u, TSP_DelCaDescriptors(nullptr, &length, 188, 0x0123));
    EXPECT_EQ(0xD0000u, TSP_DelCaDescriptors(buffer.data(), nullptr, 188, 0x0123));
}

TEST(CaDescriptorTest, OnlyTheLow13BitsNameThePid) {
    test::TestEnvironment env;
    Loop buffer = kOurs;
    buffer[4] = 0x01;  // reserved bits clear: the CA_PID is still 0x123
    U16 length = static_cast<U16>(buffer.size());
    ASSERT_EQ(0u, TSP_DelCaDescriptors(buffer.data(), &length, length, 0x0123));
    EXPECT_EQ(0, length);
}

}  // namespace
}  // namespace hx
