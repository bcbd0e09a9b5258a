// NIT editing on the temporary model: each edit changes only the merged
// section, and the stored sections are its split; a refused edit stores
// nothing, so the channel's NIT stays byte for byte as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/output_model.h"
#include "nit_fixture.h"
#include "si/nit_edit.h"
#include "si/nit_storage.h"
#include "si_fixture.h"

namespace hx {
namespace {

using test::Descriptor;
using test::Entries;
using test::NitEntrySpec;
using test::NitSection;

hx::dvbpsi_descriptor_t Make(U8 tag, std::size_t length, U8 first = 0) {
    hx::dvbpsi_descriptor_t descriptor{};
    descriptor.i_tag = tag;
    descriptor.i_length = static_cast<U8>(length);
    for (std::size_t i = 0; i < length; ++i) {
        descriptor.auc_data[i] = static_cast<U8>(first + i);
    }
    return descriptor;
}

class NitEditTest : public test::SiBoardTest {
protected:
    NitEditTest() { ts = AddStream(kChannel, true); }

    std::vector<std::vector<U8>> Chain() {
        TSP_ModelLock lock;
        const Output_TSInfo* temp = TSP_GetTempTSParam();
        IndexInfoList list{};
        EXPECT_EQ(0u, TSP_GetOutTSNITTableIndexList(ts, temp, &list));
        std::vector<std::vector<U8>> sections;
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            const TSTable& record = temp->pOutputTable[list.aru16IndexList[i]];
            EXPECT_EQ(1, record.u8IsChangedByUser);
            sections.emplace_back(record.aru8TableInfo, record.aru8TableInfo + SIP_SectionBytes(record.aru8TableInfo));
        }
        return sections;
    }

    void Store(const std::vector<std::vector<U8>>& sections) {
        std::vector<U8> all;
        for (const auto& s : sections) {
            all.insert(all.end(), s.begin(), s.end());
        }
        ASSERT_EQ(0u, TSP_AddNIT(kChannel, all.data(), static_cast<U16>(all.size())));
    }

    // The split of a merged section, as the edits store it.
    static std::vector<std::vector<U8>> SplitOf(const std::vector<U8>& merged) {
        std::vector<U8> out(kNitBufBytes);
        U16 length = 0;
        EXPECT_EQ(0u, SIP_SplitNITSection(merged.data(), static_cast<U16>(merged.size()),
                                          static_cast<U16>(out.size()), out.data(), &length));
        std::vector<std::vector<U8>> sections;
        for (std::size_t at = 0; at < length;) {
            const std::size_t size = SIP_SectionBytes(out.data() + at);
            sections.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at),
                                  out.begin() + static_cast<std::ptrdiff_t>(at + size));
            at += size;
        }
        return sections;
    }

    static constexpr U16 kChannel = 2;
    U16 ts = 0;
};

TEST_F(NitEditTest, AddThenDeleteOfADescriptorRestoresTheSections) {
    const auto entries = Entries({900, 200, 10});
    const std::vector<std::vector<U8>> original = {NitSection(5, 2, 0, 1, {}, {entries[0]}),
                                                   NitSection(5, 2, 1, 1, {}, {entries[1], entries[2]})};
    Store(original);
    const auto lcn = Make(0x83, 8, 0x10);
    ASSERT_EQ(0u, TSP_AddDescriptor2NIT_Ts(kChannel, 2, &lcn));
    NITTable_t table{};
    ASSERT_EQ(0u, TSP_GetNITTableInfo(kChannel, &table));
    ASSERT_EQ(3, table.u16TPNumber);
    const TSInfoStruct_t& third = table.arstTPData[2];
    EXPECT_EQ(test::Concat({entries[2].descriptors, Descriptor(0x83, 8, 0x10)}),
              std::vector<U8>(third.aru8Descriptors, third.aru8Descriptors + third.u16DescriptorsLen));

    ASSERT_EQ(0u, TSP_DeleteOneTSDescOfNIT(kChannel, 2, 1));
    EXPECT_EQ(original, Chain());
}

TEST_F(NitEditTest, EachEditChangesOnlyItsPart) {
    // No NIT yet: adding a network descriptor starts from the empty NIT.
    ASSERT_EQ(0u, TSP_AddNetworkDescriptor(kChannel, Make(0x40, 4, 'A')));
    ASSERT_EQ(0u, TSP_AddNetworkDescriptor(kChannel, Make(0x4A, 2, 9)));
    ASSERT_EQ(0u, TSP_AddNIT_TS(kChannel, 0x101, 0x201));
    ASSERT_EQ(0u, TSP_AddNIT_TS(kChannel, 0x102, 0x202));
    ASSERT_EQ(0u, TSP_AddNIT_TS(kChannel, 0x103, 0x203));
    const auto a = Make(0x83, 4, 1);
    const auto b = Make(0x41, 3, 7);
    const auto c = Make(0x88, 6, 3);
    ASSERT_EQ(0u, TSP_AddDescriptor2NIT_Ts(kChannel, 1, &a));
    ASSERT_EQ(0u, TSP_AddDescriptor2NIT_Ts(kChannel, 1, &b));
    ASSERT_EQ(0u, TSP_AddDescriptor2NIT_Ts(kChannel, 2, &a));
    ASSERT_EQ(0u, TSP_EditOneTSDescOfNIT(kChannel, 1, 0, &c));
    ASSERT_EQ(0u, TSP_DeleteOneTSDescOfNIT(kChannel, 1, 1));
    ASSERT_EQ(0u, TSP_DelOneTSOfNIT(kChannel, 0));
    ASSERT_EQ(0u, TSP_DeleteNetworkDesc(kChannel, 0));
    const std::vector<NitEntrySpec> expected = {{0x102, 0x202, Descriptor(0x88, 6, 3)},
                                                {0x103, 0x203, Descriptor(0x83, 4, 1)}};
    EXPECT_EQ((std::vector<std::vector<U8>>{NitSection(0, 0, 0, 0, Descriptor(0x4A, 2, 9), expected)}), Chain());

    hx::dvbpsi_descriptor_t read = Make(0xEE, 1);
    ASSERT_EQ(0u, TSP_GetOneTsDescInfo(kChannel, 1, 0, &read));
    EXPECT_EQ(0x83, read.i_tag);
    EXPECT_EQ(4, read.i_length);
    EXPECT_EQ(1, read.auc_data[0]);
    read = Make(0xEE, 1);
    ASSERT_EQ(0u, TSP_GetOneTsDescInfo(kChannel, 1, 1, &read));
    EXPECT_EQ(0xEE, read.i_tag) << "absent: unchanged";
}

TEST_F(NitEditTest, AnEditThatMovesEntriesBetweenSectionsResplits) {
    const auto entries = Entries({600, 300});
    Store({NitSection(5, 2, 0, 0, {}, entries)});
    const auto big = Make(0x83, 200);
    ASSERT_EQ(0u, TSP_AddDescriptor2NIT_Ts(kChannel, 0, &big));
    const auto chain = Chain();
    ASSERT_EQ(2u, chain.size()) << "800 + 300 bytes of entries no longer fit one section";
    std::vector<NitEntrySpec> grown = entries;
    const auto d = Descriptor(0x83, 200);
    grown[0].descriptors.insert(grown[0].descriptors.end(), d.begin(), d.end());
    EXPECT_EQ(NitSection(5, 2, 0, 1, {}, {grown[0]}), chain[0]);
    EXPECT_EQ(NitSection(5, 2, 1, 1, {}, {grown[1]}), chain[1]);
}

struct RefusedEdit {
    std::string name;
    std::function<U32()> edit;
    U32 code;
};

TEST_F(NitEditTest, RefusedEditsLeaveTheNitAsItWas) {
    // Five entries whose merged section_length is 4,083: 12 bytes of room.
    const auto entries = Entries({1000, 1000, 1000, 1000, 40});
    Store(SplitOf(NitSection(5, 2, 0, 0, {}, entries)));
    const auto before = Chain();
    const auto small = Make(0x83, 4);
    const auto grows = Make(0x83, 230);  // replaces 229 bytes by 232
    const auto tooBig = Make(0x83, 11);
    const auto empty = Make(0x83, 0);
    const std::vector<RefusedEdit> cases = {
        {"one byte over 4,095", [&] { return TSP_AddDescriptor2NIT_Ts(kChannel, 4, &tooBig); }, kTspErrRange},
        {"a network descriptor over 4,095", [&] { return TSP_AddNetworkDescriptor(kChannel, tooBig); }, kTspErrRange},
        {"an entry over 4,095", [&] { return TSP_AddNIT_TS(kChannel, 1, 2); }, 0},
        {"an entry loop over 1,000 bytes", [&] { return TSP_AddDescriptor2NIT_Ts(kChannel, 0, &small); }, kTspErrRange},
        {"a replacement making an entry loop over 1,000 bytes",
         [&] { return TSP_EditOneTSDescOfNIT(kChannel, 1, 3, &grows); },
         kNitErrNothingDone},
        {"an empty replacement", [&] { return TSP_EditOneTSDescOfNIT(kChannel, 4, 0, &empty); }, kTspErrInput},
        {"a replacement for a missing descriptor", [&] { return TSP_EditOneTSDescOfNIT(kChannel, 4, 9, &small); },
         kTspErrRange},
        {"a descriptor for a missing entry", [&] { return TSP_AddDescriptor2NIT_Ts(kChannel, 5, &small); }, kTspErrInput},
        {"deleting a missing entry", [&] { return TSP_DelOneTSOfNIT(kChannel, 5); }, kNitErrNothingDone},
        {"deleting a missing descriptor", [&] { return TSP_DeleteOneTSDescOfNIT(kChannel, 4, 1); }, kNitErrNothingDone},
        {"deleting a missing network descriptor", [&] { return TSP_DeleteNetworkDesc(kChannel, 1); }, kNitErrNothingDone},
        {"a channel without a stream", [&] { return TSP_AddNIT_TS(9, 1, 2); }, kTspErrInput},
        {"a null descriptor", [&] { return TSP_AddDescriptor2NIT_Ts(kChannel, 0, nullptr); }, kTspErrInput},
    };
    for (const RefusedEdit& c : cases) {
        SCOPED_TRACE(c.name);
        // An entry header is 6 bytes, so the 12 bytes of room take one more entry.
        if (c.code == 0) {
            ASSERT_EQ(0u, c.edit());
            ASSERT_EQ(0u, TSP_DelOneTSOfNIT(kChannel, 5));
            EXPECT_EQ(before, Chain());
            ASSERT_EQ(0u, TSP_AddNIT_TS(kChannel, 1, 2));
            ASSERT_EQ(0u, TSP_AddNIT_TS(kChannel, 3, 4));
            EXPECT_EQ(kTspErrRange, TSP_AddNIT_TS(kChannel, 5, 6));
            ASSERT_EQ(0u, TSP_DelOneTSOfNIT(kChannel, 6));
            ASSERT_EQ(0u, TSP_DelOneTSOfNIT(kChannel, 5));
        } else {
            EXPECT_EQ(c.code, c.edit());
        }
        EXPECT_EQ(before, Chain());
    }

    // The table pool cannot grow for the new sections.
    {
        TSP_ModelLock lock;
        Output_TSInfo* temp = TSP_GetTempTSParam();
        const U16 other = test::ModelBuilder(temp).AddStream(3);
        while (true) {
            IndexInfoList free{};
            if (ModelPool_GetUnusedTableList(temp, 1, &free) != 0 || free.aru16IndexList[0] + 1u >= temp->u32OutputTableNumber) {
                break;
            }
            ASSERT_NE(0xFFFF, test::ModelBuilder(temp).AddTable(other, test::TableChainKind::Bat, 3, 3));
        }
    }
    ModelPool_SetAllocHook([](std::size_t) { return false; });
    EXPECT_EQ(kTspErrMemory, TSP_AddDescriptor2NIT_Ts(kChannel, 4, &small));
    ModelPool_SetAllocHook({});
    EXPECT_EQ(before, Chain());
}

TEST_F(NitEditTest, AtMost96Entries) {
    for (U16 i = 0; i < 96; ++i) {
        ASSERT_EQ(0u, TSP_AddNIT_TS(kChannel, i, i)) << i;
    }
    const auto before = Chain();
    EXPECT_EQ(kTspErrRange, TSP_AddNIT_TS(kChannel, 96, 96));
    EXPECT_EQ(before, Chain());
}

TEST_F(NitEditTest, ReadingAChannelWithoutNit) {
    NITTable_t table;
    std::memset(&table, 0xAB, sizeof table);
    ASSERT_EQ(0u, TSP_GetNITTableInfo(kChannel, &table));
    EXPECT_EQ(0xAB, table.u8VersionNum) << "untouched";
    EXPECT_EQ(kTspErrInput, TSP_GetNITTableInfo(9, &table));
    EXPECT_EQ(kNitErrNothingDone, TSP_DelOneTSOfNIT(kChannel, 0));
    EXPECT_EQ(kNitErrNothingDone, TSP_DeleteNetworkDesc(kChannel, 0));
    const auto d = Make(0x83, 2);
    EXPECT_EQ(kTspErrRange, TSP_EditOneTSDescOfNIT(kChannel, 0, 0, &d));
    EXPECT_TRUE(Chain().empty());
}

}  // namespace
}  // namespace hx
