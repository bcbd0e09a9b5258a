#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"
#include "sim/si_insertion_model.h"
#include "support/test_env.h"

namespace hx::sim {
namespace {

std::array<U8, 196> GoodRecord(U8 channel, U8 marker) {
    std::array<U8, 196> record;
    record.fill(0xFF);
    record[0] = 1;
    record[1] = channel;
    record[8] = 0x47;
    record[9] = 0x40;
    record[10] = 0x00;
    record[11] = 0x10;
    record[12] = marker;
    return record;
}

void Pulse(SiInsertionModel& model, U32 index) {
    model.Write(index, 0);
    model.Write(index, 1);
    model.Write(index, 0);
}

void LoadWord(SiInsertionModel& model, U32 index, U32 word) {
    model.Write(kRegSiWordIndex, index);
    model.Write(kRegSiWordData, word);
    Pulse(model, kRegSiWordStrobe);
}

void Send(SiInsertionModel& model, const std::array<U8, 196>& record, U32 words = 49) {
    for (U32 i = 0; i < words; ++i) {
        LoadWord(model, i, GetBe32(record.data() + 4 * i));
    }
    Pulse(model, kRegSiCommit);
}

class SiInsertionModelTest : public ::testing::Test {
protected:
    std::string Read(const std::string& name) { return env.ReadText("/sim/ts/" + name); }

    test::TestEnvironment env;
    const std::string folder = env.Path("/sim/ts");
};

TEST_F(SiInsertionModelTest, ACompleteRecordBecomesOnePacketOfItsChannel) {
    SiInsertionModel model(folder);
    const std::array<U8, 196> record = GoodRecord(15, 0xA5);
    Send(model, record);
    Send(model, record);
    EXPECT_EQ(2u, model.Accepted());
    const std::string file = Read("out-15.ts");
    ASSERT_EQ(376u, file.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 8), 188), file.substr(0, 188));
}

TEST_F(SiInsertionModelTest, BadRecordsAreCountedAsRejected) {
    struct Case {
        const char* name;
        std::function<void(SiInsertionModel&)> send;
    };
    const std::vector<Case> cases = {
        {"48 words", [](SiInsertionModel& m) { Send(m, GoodRecord(0, 1), 48); }},
        {"channel 16", [](SiInsertionModel& m) { Send(m, GoodRecord(16, 1)); }},
        {"no sync byte",
         [](SiInsertionModel& m) {
             std::array<U8, 196> record = GoodRecord(0, 1);
             record[8] = 0x48;
             Send(m, record);
         }},
        {"a word past the record",
         [](SiInsertionModel& m) {
             LoadWord(m, 49, 0);
             Send(m, GoodRecord(0, 1));
         }},
        {"a second commit without new words",
         [](SiInsertionModel& m) {
             Send(m, GoodRecord(0, 1));
             Pulse(m, kRegSiCommit);
         }},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(folder);
        SiInsertionModel model(folder);
        c.send(model);
        EXPECT_EQ(1u, model.Rejected()) << c.name;
        EXPECT_EQ(c.name == std::string("a second commit without new words") ? 1u : 0u, model.Accepted()) << c.name;
    }
}

TEST_F(SiInsertionModelTest, AFileAtTheCapIsMovedAside) {
    SiInsertionModel model(folder, 3 * 188);
    for (U8 marker = 1; marker <= 4; ++marker) {
        Send(model, GoodRecord(2, marker));
    }
    const std::string kept = Read("out-02.ts.0");
    const std::string current = Read("out-02.ts");
    ASSERT_EQ(3u * 188, kept.size());
    ASSERT_EQ(188u, current.size());
    EXPECT_EQ('\x01', kept[4]);
    EXPECT_EQ('\x04', current[4]);
}

TEST_F(SiInsertionModelTest, AFullFileFromAnEarlierRunIsMovedAsideFirst) {
    env.WriteText("/sim/ts/out-03.ts", std::string(2 * 188, 'x'));
    SiInsertionModel model(folder, 2 * 188);
    Send(model, GoodRecord(3, 9));
    EXPECT_EQ(2u * 188, Read("out-03.ts.0").size());
    EXPECT_EQ(188u, Read("out-03.ts").size());
}

}  // namespace
}  // namespace hx::sim
