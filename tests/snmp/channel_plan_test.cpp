// The ATSC channel plans of the board MIB: entries, names, and the lookups of
// a name (whole or its frequency part) and of a frequency.
#include "snmp/channel_plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace hx {
namespace {

TEST(ChannelPlanTest, EntriesFollowTheRunsOfEachPlan) {
    struct Case {
        U32 plan;
        U32 entry;
        U32 frequencyKHz;
        const char* name;
    };
    const Case cases[] = {
        {kChannelPlanAir, 0, 57000, "CH2-57MHz"},       {kChannelPlanAir, 2, 69000, "CH4-69MHz"},
        {kChannelPlanAir, 3, 79000, "CH5-79MHz"},       {kChannelPlanAir, 5, 177000, "CH7-177MHz"},
        {kChannelPlanAir, 12, 473000, "CH14-473MHz"},   {kChannelPlanAir, 67, 803000, "CH69-803MHz"},
        {kChannelPlanStd, 12, 123000, "CH14-123MHz"},   {kChannelPlanStd, 20, 171000, "CH22-171MHz"},
        {kChannelPlanStd, 21, 219000, "CH23-219MHz"},   {kChannelPlanStd, 92, 645000, "CH94-645MHz"},
        {kChannelPlanStd, 93, 93000, "CH95-93MHz"},     {kChannelPlanStd, 97, 117000, "CH99-117MHz"},
        {kChannelPlanStd, 98, 651000, "CH100-651MHz"},  {kChannelPlanStd, 133, 861000, "CH135-861MHz"},
        {kChannelPlanIrc, 2, 69000, "CH4-69MHz"},       {kChannelPlanIrc, 3, 79250, "CH5-79.25MHz"},
        {kChannelPlanIrc, 4, 85250, "CH6-85.25MHz"},    {kChannelPlanIrc, 5, 177000, "CH7-177MHz"},
        {kChannelPlanHrc, 0, 55750, "CH2-55.75MHz"},    {kChannelPlanHrc, 3, 78000, "CH5-78MHz"},
        {kChannelPlanHrc, 4, 84000, "CH6-84MHz"},       {kChannelPlanHrc, 133, 859750, "CH135-859.75MHz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entries = ChannelPlan_Entries(c.plan);
        ASSERT_LT(c.entry, entries.size());
        EXPECT_EQ(c.frequencyKHz, entries[c.entry].frequencyKHz);
        EXPECT_EQ(c.name, entries[c.entry].name);
    }
    EXPECT_EQ(68u, ChannelPlan_Entries(kChannelPlanAir).size());
    for (U32 plan : {kChannelPlanStd, kChannelPlanIrc, kChannelPlanHrc}) {
        EXPECT_EQ(134u, ChannelPlan_Entries(plan).size()) << plan;
    }
    EXPECT_TRUE(ChannelPlan_Entries(4).empty());
}

// Every name, read back as a reader would, gives its entry's channel and
// frequency, and fits the MIB's 20-byte field.
TEST(ChannelPlanTest, EveryNameSpellsItsChannelAndFrequency) {
    for (U32 plan = 0; plan < kChannelPlanCount; ++plan) {
        const auto entries = ChannelPlan_Entries(plan);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string& name = entries[i].name;
            SCOPED_TRACE(name);
            ASSERT_LE(name.size(), kChannelNameSize);
            ASSERT_EQ(0u, name.find("CH"));
            const std::size_t dash = name.find('-');
            ASSERT_NE(std::string::npos, dash);
            EXPECT_EQ(std::to_string(i + 2), name.substr(2, dash - 2));
            ASSERT_EQ(name.size() - 3, name.find("MHz"));
            const std::string megahertz = name.substr(dash + 1, name.size() - 3 - dash - 1);
            EXPECT_NE('0', megahertz.back()) << "no trailing zeros";
            EXPECT_EQ(entries[i].frequencyKHz, static_cast<U32>(std::lround(std::stod(megahertz) * 1000)));
        }
    }
}

TEST(ChannelPlanTest, NameLookupTakesWholeNamesEverywhereAndFrequencyPartsOutsideAir) {
    struct Case {
        U32 plan;
        const char* name;
        std::optional<U32> frequencyKHz;
    };
    const Case cases[] = {
        {kChannelPlanAir, "CH2-57MHz", 57000},     {kChannelPlanAir, "57", std::nullopt},
        {kChannelPlanAir, "CH69-803MHz", 803000},  {kChannelPlanAir, "CH70-809MHz", std::nullopt},
        {kChannelPlanStd, "57", 57000},            {kChannelPlanStd, "CH2-57MHz", 57000},
        {kChannelPlanStd, "ch2-57MHz", std::nullopt}, {kChannelPlanStd, "CH2-57", std::nullopt},
        {kChannelPlanStd, "5", std::nullopt},      {kChannelPlanStd, "", std::nullopt},
        {kChannelPlanStd, "57.0", std::nullopt},   {kChannelPlanStd, "861", 861000},
        {kChannelPlanIrc, "79", std::nullopt},     {kChannelPlanIrc, "79.25", 79250},
        {kChannelPlanHrc, "55.75", 55750},         {kChannelPlanHrc, "CH2-55.75MHz", 55750},
        {kChannelPlanHrc, "57", std::nullopt},     {4, "CH2-57MHz", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "plan " << c.plan << " name '" << c.name << "'");
        EXPECT_EQ(c.frequencyKHz, ChannelPlan_FrequencyOfName(c.plan, c.name));
    }
    // A full 20-byte value carries no terminator; only its bytes count.
    const std::string full(kChannelNameSize, '9');
    EXPECT_EQ(std::nullopt, ChannelPlan_FrequencyOfName(kChannelPlanStd, full));
    EXPECT_EQ(57000u, ChannelPlan_FrequencyOfName(kChannelPlanStd, std::string_view("57xx", 2)));
}

TEST(ChannelPlanTest, FrequencyLookupGivesTheFirstEntryInPlanOrder) {
    EXPECT_EQ(0u, ChannelPlan_FindFrequency(kChannelPlanAir, 57000));
    EXPECT_EQ(3u, ChannelPlan_FindFrequency(kChannelPlanIrc, 79250));
    EXPECT_EQ(std::nullopt, ChannelPlan_FindFrequency(kChannelPlanIrc, 79000));
    EXPECT_EQ(std::nullopt, ChannelPlan_FindFrequency(kChannelPlanStd, 200000));
    EXPECT_EQ(std::nullopt, ChannelPlan_FindFrequency(4, 57000));
}

TEST(ChannelPlanTest, GetFreqSplitsAtTheFirstSeparator) {
    struct Case {
        const char* text;
        const char* separator;
        int result;
        const char* out;
        const char* rest;
    };
    const Case cases[] = {
        {"CH2-57MHz", "-", 1, "CH2", "57MHz"},
        {"57MHz", "M", 1, "57", "Hz"},
        {"CH2-5-7", "-", 1, "CH2", "5-7"},
        {"-57", "-", 1, "", "57"},
        {"57", "-", 0, "57", ""},
        {"", "-", 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        std::string out = "old";
        EXPECT_EQ(c.result, GetFreq(text, c.separator, out));
        EXPECT_EQ(c.out, out);
        EXPECT_EQ(c.rest, text);
    }
}

}  // namespace
}  // namespace hx
