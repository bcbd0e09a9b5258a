// The OID snapshot: its file layout for the default model, the key tree, the
// save/apply round trip of every keyed field, the files it refuses whole and
// the ones it applies in part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "chassis/avl_tree.h"
#include "chassis/oid_snapshot.h"
#include "chassis/oid_snapshot_keys.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/param_files.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::FileExists;
using test::ReadBytes;
using test::WriteBytes;

constexpr ModelPool kPools[] = {ModelPool::Stream, ModelPool::Program,    ModelPool::Pid,
                                ModelPool::Table,  ModelPool::Descriptor, ModelPool::Bypass};

// The record order a file of all 167 keys has: the pre-order of the tree the
// fixed insertion order builds.
constexpr U32 kPreOrder[] = {
    112, 64,  32,  16,  8,   4,   2,   1,   3,   6,   5,   7,   12,  10,  9,   11,  14,  13,  15,  24,  20,  18,
    17,  19,  22,  21,  23,  28,  26,  25,  27,  30,  29,  31,  48,  40,  36,  34,  33,  35,  38,  37,  39,  44,
    42,  41,  43,  46,  45,  47,  56,  52,  50,  49,  51,  54,  53,  55,  60,  58,  57,  59,  62,  61,  63,  90,
    78,  72,  68,  66,  65,  67,  70,  69,  71,  76,  74,  73,  75,  77,  84,  82,  80,  79,  81,  83,  88,  86,
    85,  87,  89,  100, 96,  94,  92,  91,  93,  95,  98,  97,  99,  108, 104, 102, 101, 103, 106, 105, 107, 110,
    109, 111, 134, 121, 118, 115, 114, 113, 117, 116, 120, 119, 127, 124, 123, 122, 126, 125, 130, 129, 128, 132,
    131, 133, 149, 141, 137, 135, 136, 139, 138, 140, 145, 143, 142, 144, 147, 146, 148, 157, 153, 151, 150, 152,
    155, 154, 156, 161, 159, 158, 160, 165, 163, 162, 164, 166, 167};
static_assert(std::size(kPreOrder) == 167);

// Bytes of one record that the snapshot carries, by pool: what the key table
// must add up to.
constexpr std::size_t kKeyedBytes[] = {76, 520, 240, 1046, 1045, 36};

struct FileRecord {
    U32 key;
    U16 count;
    U16 unit;
    std::vector<U8> data;
};

std::vector<FileRecord> ParseRecords(const std::vector<U8>& file) {
    std::vector<FileRecord> records;
    std::size_t at = 2;
    while (at + 8 <= file.size()) {
        FileRecord record{GetLe32(&file[at]), GetLe16(&file[at + 4]), GetLe16(&file[at + 6]), {}};
        const std::size_t bytes = std::size_t{record.count} * record.unit;
        if (at + 8 + bytes > file.size()) {
            break;
        }
        record.data.assign(file.begin() + static_cast<long>(at + 8), file.begin() + static_cast<long>(at + 8 + bytes));
        records.push_back(std::move(record));
        at += 8 + bytes;
    }
    EXPECT_EQ(file.size(), at) << "records fill the file exactly";
    return records;
}

std::vector<U8> MakeFile(U16 version, const std::vector<FileRecord>& records) {
    std::vector<U8> file(2);
    PutLe16(file.data(), version);
    for (const FileRecord& record : records) {
        const std::size_t at = file.size();
        file.resize(at + 8);
        PutLe32(&file[at], record.key);
        PutLe16(&file[at + 4], record.count);
        PutLe16(&file[at + 6], record.unit);
        file.insert(file.end(), record.data.begin(), record.data.end());
    }
    return file;
}

FileRecord CountRecord(U32 key, U32 value) {
    FileRecord record{key, 1, 4, std::vector<U8>(4)};
    PutLe32(record.data.data(), value);
    return record;
}

// Which bytes of a record of the pool some key carries.
std::vector<bool> KeyedMask(ModelPool pool) {
    std::vector<bool> mask(ModelPool_RecordSize(pool));
    for (const OidKeyField& field : kOidKeyTable) {
        if (field.pool == static_cast<OidPool>(pool)) {
            std::fill_n(mask.begin() + field.offset, field.width, true);
        }
    }
    return mask;
}

// A byte pattern distinct per pool, record and byte, never 0; the valid flag
// never 1 (so no record is in use and the engine's lookups ignore them all).
constexpr std::size_t kValidOffsets[] = {
    offsetof(Output_TSStream, u8ValidFlag), offsetof(Output_TSProgram, u8ValidFlag),
    offsetof(Output_TSPID, u8ValidFlag),    offsetof(TSTable, u8ValidFlag),
    offsetof(TSDescriptor, u8ValidFlag),    offsetof(Passthrough_TSStream, u8ValidFlag),
};

U8 Pattern(std::size_t pool, std::size_t record, std::size_t byte) {
    return static_cast<U8>(((pool * 71 + record * 13 + byte * 7) % 250) + 2);
}

void FillLiveModel(const TSInfoInitNum& counts) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    ASSERT_EQ(0u, TSP_InitTSInfo(model, &counts));
    for (std::size_t p = 0; p < std::size(kPools); ++p) {
        for (U32 i = 0; i < ModelPool_Count(model, kPools[p]); ++i) {
            U8* record = ModelPool_Record(model, kPools[p], i);
            for (std::size_t b = 0; b < ModelPool_RecordSize(kPools[p]); ++b) {
                record[b] = Pattern(p, i, b);
            }
            if (i % 2 == 0) {  // every other record in use, the rest free but not zero
                record[kValidOffsets[p]] = 1;
            }
        }
    }
    ModelPool_RecordsChanged(model);
}

std::vector<U32> LiveCounts() {
    TSP_ModelLock lock;
    std::vector<U32> counts;
    for (const ModelPool pool : kPools) {
        counts.push_back(ModelPool_Count(TSP_GetTSParam(), pool));
    }
    return counts;
}

std::string LivePool(ModelPool pool) {
    TSP_ModelLock lock;
    return test::PoolBytes(TSP_GetTSParam(), pool);
}

class OidSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
        OID_ModifyVersionNumber(kOidBackupVersion);
    }
    void TearDown() override {
        ModelPool_SetAllocHook(nullptr);
        OID_ModifyVersionNumber(kOidOwnVersion);
    }
    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }

    test::TestEnvironment env;
};

TEST(OidKeyTableTest, EveryKeyOnceAndTheKeyedBytesOfEachRecord) {
    std::set<U16> keys;
    std::size_t keyed[kOidPoolCount] = {};
    for (const OidKeyField& field : kOidKeyTable) {
        EXPECT_TRUE(keys.insert(field.key).second) << "key " << field.key;
        keyed[static_cast<std::size_t>(field.pool)] += field.width;
    }
    EXPECT_EQ(1u, *keys.begin());
    EXPECT_EQ(167u, *keys.rbegin());
    for (std::size_t p = 0; p < std::size(kKeyedBytes); ++p) {
        EXPECT_EQ(kKeyedBytes[p], keyed[p]) << "pool " << p;
        const std::vector<bool> mask = KeyedMask(kPools[p]);
        EXPECT_EQ(kKeyedBytes[p], static_cast<std::size_t>(std::count(mask.begin(), mask.end(), true)))
            << "no two keys of pool " << p << " share a byte";
    }
    EXPECT_EQ(24u, keyed[static_cast<std::size_t>(OidPool::Counts)]);
}

// Every node: its height is right, its subtrees differ by at most one level
// and its keys lie on the right sides. Returns the height.
int CheckAvl(const AVLTreeNode* node, long low, long high) {
    if (node == nullptr) {
        return -1;
    }
    EXPECT_LT(low, node->key);
    EXPECT_GT(high, node->key);
    const int left = CheckAvl(node->left.get(), low, node->key);
    const int right = CheckAvl(node->right.get(), node->key, high);
    EXPECT_LE(std::abs(left - right), 1) << "node " << node->key;
    EXPECT_EQ(1 + std::max(left, right), node->height) << "node " << node->key;
    return node->height;
}

void InOrder(const AVLTreeNode* node, std::vector<Type>& out) {
    if (node != nullptr) {
        InOrder(node->left.get(), out);
        out.push_back(node->key);
        InOrder(node->right.get(), out);
    }
}

TEST(AvlTreeTest, TheKeyTreeHasHeightSevenAndRoot112) {
    AVLTree tree;
    ASSERT_EQ(0, OID_CreateAvlTree(tree));
    ASSERT_TRUE(tree);
    EXPECT_EQ(112, tree->key);
    EXPECT_EQ(7, tree->height);
    CheckAvl(tree.get(), -1, 1000);
    for (int key = 1; key <= 167; ++key) {
        const AVLTreeNode* node = avltree_search(static_cast<const AVLTreeNode*>(tree.get()), key);
        ASSERT_NE(nullptr, node);
        EXPECT_EQ(key, node->key);
        EXPECT_FALSE(node->value);
    }
    EXPECT_EQ(nullptr, avltree_search(tree.get(), 0));
    EXPECT_EQ(nullptr, avltree_search(tree.get(), 168));
}

TEST(AvlTreeTest, RandomInsertionsStayBalancedAndAgreeWithASet) {
    std::mt19937 random(20170310);
    for (const int range : {10, 200, 100000}) {
        AVLTree tree;
        std::set<Type> reference;
        std::uniform_int_distribution<Type> pick(-range, range);
        for (int i = 0; i < 3000; ++i) {
            const Type key = pick(random);  // repeats included: they change nothing
            tree = avltree_insert(std::move(tree), key);
            reference.insert(key);
        }
        std::vector<Type> keys;
        InOrder(tree.get(), keys);
        EXPECT_EQ(std::vector<Type>(reference.begin(), reference.end()), keys) << "range " << range;
        const int height = CheckAvl(tree.get(), -range - 1L, range + 1L);
        EXPECT_LE(height, static_cast<int>(1.45 * std::log2(reference.size() + 2))) << "range " << range;
        for (int probe = 0; probe < 500; ++probe) {
            const Type key = pick(random);
            EXPECT_EQ(reference.count(key) == 1, avltree_search(tree.get(), key) != nullptr);
        }
        destroy_avltree(std::move(tree));
    }
}

TEST_F(OidSnapshotTest, DefaultModelFileHasTheExactSizeAndRecordsInTreeOrder) {
    FillLiveModel({});  // 0 takes the defaults: 16, 500, 1,000, 100, 500, 256
    OIDDATA_Save();
    const std::vector<U8> file = ReadBytes(kOidSnapshotPath);
    ASSERT_EQ(1138894u, file.size());
    EXPECT_EQ(0xFFFF, GetLe16(file.data()));
    const std::vector<FileRecord> records = ParseRecords(file);
    ASSERT_EQ(167u, records.size());
    const std::vector<U32> counts = LiveCounts();
    for (std::size_t r = 0; r < records.size(); ++r) {
        const FileRecord& record = records[r];
        EXPECT_EQ(kPreOrder[r], record.key) << "record " << r;
        const auto field = std::find_if(kOidKeyTable.begin(), kOidKeyTable.end(),
                                        [&](const OidKeyField& f) { return f.key == record.key; });
        ASSERT_NE(kOidKeyTable.end(), field);
        EXPECT_EQ(field->width, record.unit) << "key " << record.key;
        if (field->pool == OidPool::Counts) {
            EXPECT_EQ(1, record.count);
            EXPECT_EQ(counts[field->offset / 4], GetLe32(record.data.data())) << "key " << record.key;
        } else {
            EXPECT_EQ(counts[static_cast<std::size_t>(field->pool)], record.count) << "key " << record.key;
        }
    }
    // A program field: 500 elements of 188 bytes, each the record's own bytes.
    const auto programInfo = std::find_if(records.begin(), records.end(), [](const FileRecord& r) { return r.key == 62; });
    ASSERT_EQ(94000u, programInfo->data.size());
    EXPECT_EQ(Pattern(1, 499, offsetof(Output_TSProgram, aru8ProgramInfo) + 5), programInfo->data[499 * 188 + 5]);

    // A second save replaces the first whole.
    FillLiveModel({2, 3, 4, 5, 6, 7});
    OID_ModifyVersionNumber(kOidOwnVersion);
    OIDDATA_Save();
    const std::vector<U8> second = ReadBytes(kOidSnapshotPath);
    EXPECT_EQ(1, GetLe16(second.data()));
    EXPECT_EQ(2 + 167 * 8 + 2 * 76 + 3 * 520 + 4 * 240 + 5 * 1046 + 6 * 1045 + 7 * 36 + 24u, second.size());
}

// A free record comes back all zero: the finders hand it out as it stands.
TEST_F(OidSnapshotTest, EveryKeyedFieldOfARecordInUseComesBackAndEveryOtherByteIsZero) {
    const TSInfoInitNum counts{16, 500, 1000, 100, 500, 256};
    FillLiveModel(counts);
    std::string before[std::size(kPools)];
    for (std::size_t p = 0; p < std::size(kPools); ++p) {
        before[p] = LivePool(kPools[p]);
    }
    OIDDATA_Save();
    FillLiveModel({1, 1, 1, 1, 1, 1});  // start-up loaded some other model

    EXPECT_EQ(0u, OIDDATA_Recovery());
    EXPECT_TRUE(Logged("start recovery all parameters!"));
    EXPECT_TRUE(Logged("OutTS = 16 OutPROM = 500 OutPID = 1000 OutTAB = 100 OutDES = 500 OutBypass = 256"));
    EXPECT_FALSE(FileExists(kOidSnapshotPath)) << "an applied snapshot is deleted";
    EXPECT_EQ(std::vector<U32>({16, 500, 1000, 100, 500, 256}), LiveCounts());
    for (std::size_t p = 0; p < std::size(kPools); ++p) {
        const std::vector<bool> mask = KeyedMask(kPools[p]);
        const std::string after = LivePool(kPools[p]);
        ASSERT_EQ(before[p].size(), after.size());
        for (std::size_t at = 0; at < after.size(); ++at) {
            const std::size_t byte = at % mask.size();
            const bool inUse = (at / mask.size()) % 2 == 0;
            const U8 expected = inUse && mask[byte] ? static_cast<U8>(before[p][at]) : 0;
            ASSERT_EQ(expected, static_cast<U8>(after[at]))
                << "pool " << p << " record " << at / mask.size() << " byte " << byte;
        }
    }
    TSP_ModelLock lock;
    EXPECT_EQ(0, TSP_GetTSParam()->pOutputProgram[8].u8DescrambFlag);
    EXPECT_EQ(0u, TSP_GetTSParam()->pOutputTS[4].u32StructVersion);
    EXPECT_NE(0, TSP_GetTSParam()->pOutputTS[4].u16ChannelID);
}

TEST_F(OidSnapshotTest, ABuiltModelComesBackWholeAndItsLookupsFindIt) {
    {
        TSP_ModelLock lock;
        Output_TSInfo* model = TSP_GetTSParam();
        ASSERT_EQ(0u, TSP_InitTSInfo(model, &kDefaultPoolCounts));
        test::ModelBuilder builder(model);
        const U16 stream = builder.AddStream(5);
        const U16 program = builder.AddProgram(stream, test::ProgramSpec{.serviceId = 77});
        builder.AddPid(PID_TYPE_ESPID, program, test::PidSpec{.key = 9, .pid = 0x321});
        builder.AddTable(stream, test::TableChainKind::Nit, 4, 5);
        model->pOutputTS[stream].u8TOTGenerate = 1;
        model->pOutputTS[stream].u32VCTType = 0x12345678;
        ASSERT_TRUE(test::CheckModel(*model).empty());
    }
    const std::string streams = LivePool(ModelPool::Stream);
    OIDDATA_Save();
    FillLiveModel({});
    ASSERT_EQ(0u, OIDDATA_Recovery());

    TSP_ModelLock lock;
    EXPECT_EQ(test::DescribeViolations({}), test::DescribeViolations(test::CheckModel(*TSP_GetTSParam())));
    U16 index = 0xFFFF;
    EXPECT_EQ(0u, TSP_GetOutputTSIndexByTS(5, &index));
    ASSERT_NE(0xFFFF, index) << "the lookups know the rebuilt records";
    EXPECT_EQ(1, TSP_GetTSParam()->pOutputTS[index].u8TOTGenerate);
    EXPECT_EQ(0x12345678u, TSP_GetTSParam()->pOutputTS[index].u32VCTType);
}

TEST_F(OidSnapshotTest, AnUpgradeSnapshotStaysUnapplied) {
    FillLiveModel({2, 2, 2, 2, 2, 2});
    OID_ModifyVersionNumber(kOidOwnVersion);
    OIDDATA_Save();
    const std::vector<U8> file = ReadBytes(kOidSnapshotPath);
    FillLiveModel({3, 3, 3, 3, 3, 3});
    EXPECT_EQ(1u, OIDDATA_Recovery());
    EXPECT_EQ(file, ReadBytes(kOidSnapshotPath));
    EXPECT_EQ(std::vector<U32>(6, 3), LiveCounts());
}

TEST_F(OidSnapshotTest, NoFileOrAnEmptyOneAppliesNothing) {
    FillLiveModel({3, 3, 3, 3, 3, 3});
    EXPECT_EQ(1u, OIDDATA_Recovery());
    EXPECT_TRUE(Logged("open error"));
    WriteBytes(kOidSnapshotPath, {});
    EXPECT_EQ(1u, OIDDATA_Recovery());
    EXPECT_TRUE(Logged("/product_data/oiddata.conf is empty"));
    EXPECT_FALSE(FileExists(kOidSnapshotPath));
    EXPECT_EQ(std::vector<U32>(6, 3), LiveCounts());
}

TEST_F(OidSnapshotTest, AVersionAloneGivesDefaultPoolsAllZero) {
    FillLiveModel({3, 3, 3, 3, 3, 3});
    WriteBytes(kOidSnapshotPath, MakeFile(0xFFFF, {}));
    EXPECT_EQ(0u, OIDDATA_Recovery());
    EXPECT_FALSE(FileExists(kOidSnapshotPath));
    EXPECT_EQ(std::vector<U32>({16, 500, 1000, 100, 500, 256}), LiveCounts());
    for (const ModelPool pool : kPools) {
        const std::string bytes = LivePool(pool);
        EXPECT_EQ(std::string::npos, bytes.find_first_not_of('\0')) << "pool " << static_cast<int>(pool);
    }
}

TEST_F(OidSnapshotTest, PartialFilesApplyWhatTheyHold) {
    FillLiveModel({3, 3, 3, 3, 3, 3});
    env.TakeConsole();
    // Streams: 4 records, the last one free (key 4, u8ValidFlag). Key 6
    // (u16ChannelID) holds 2 elements, key 2 a unit wider than its 2-byte
    // field, key 1 (u16NetworkID) is missing, key 500 does not exist, key 3
    // holds one byte per element, key 5 none.
    WriteBytes(kOidSnapshotPath,
               MakeFile(0x0002, {CountRecord(126, 4), FileRecord{500, 2, 2, {1, 2, 3, 4}},
                                 FileRecord{6, 2, 2, {0x11, 0x22, 0x33, 0x44}},
                                 FileRecord{2, 4, 4, std::vector<U8>(16, 0x55)}, FileRecord{3, 4, 1, {9, 8, 7, 6}},
                                 FileRecord{4, 4, 1, {1, 1, 1, 0}}, FileRecord{5, 0, 0, {}}}));
    EXPECT_EQ(0u, OIDDATA_Recovery());
    EXPECT_TRUE(Logged("key 2 unit 4 wider than its field (2), skipped"));
    EXPECT_EQ(std::vector<U32>({4, 500, 1000, 100, 500, 256}), LiveCounts());
    TSP_ModelLock lock;
    const Output_TSStream* streams = TSP_GetTSParam()->pOutputTS;
    EXPECT_EQ(0x2211, streams[0].u16ChannelID);
    EXPECT_EQ(0x4433, streams[1].u16ChannelID);
    EXPECT_EQ(0, streams[2].u16ChannelID) << "beyond the key's elements";
    EXPECT_EQ(0, streams[3].u16ChannelID);
    EXPECT_EQ(0, streams[0].u16TransportStreamID) << "the wider unit is skipped";
    EXPECT_EQ(0, streams[0].u16NetworkID) << "a missing key leaves zero";
    EXPECT_EQ(9, streams[0].u16OriginalNetworkID) << "a narrower unit fills the low bytes";
    EXPECT_EQ(7, streams[2].u16OriginalNetworkID);
    EXPECT_EQ(0, streams[3].u16OriginalNetworkID) << "a free record is cleared";
}

struct RefusedCase {
    const char* name;
    std::vector<U8> (*file)();
    const char* logged;
};
void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

std::vector<U8> GoodFile() {
    return MakeFile(0xFFFF, {CountRecord(126, 2), FileRecord{6, 2, 2, {1, 0, 2, 0}}, CountRecord(127, 2)});
}

const RefusedCase kRefused[] = {
    {"RecordCutShort", [] { auto f = GoodFile(); f.pop_back(); return f; }, "record past the end"},
    {"HeaderCutShort", [] { auto f = GoodFile(); f.erase(f.end() - 10, f.end()); return f; }, "record past the end"},
    {"DataCountPastTheEnd",
     [] { auto f = GoodFile(); PutLe16(&f[2 + 12 + 4], 0xFFFF); return f; }, "record past the end"},
    {"OneByte", [] { return std::vector<U8>{0xFF}; }, "record past the end"},
    {"PoolCountOf70000", [] { return MakeFile(0xFFFF, {CountRecord(126, 2), CountRecord(128, 70000)}); },
     "key 128 pool count 70000 above 65535, file refused"},
};

class OidSnapshotRefusedTest : public OidSnapshotTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(OidSnapshotRefusedTest, IsDeletedAndNothingIsApplied) {
    env.FailOnUnexpectedErrors({GetParam().logged});
    FillLiveModel({3, 3, 3, 3, 3, 3});
    const std::string streams = LivePool(ModelPool::Stream);
    WriteBytes(kOidSnapshotPath, GetParam().file());
    EXPECT_EQ(1u, OIDDATA_Recovery());
    EXPECT_TRUE(Logged(GetParam().logged));
    EXPECT_FALSE(FileExists(kOidSnapshotPath));
    EXPECT_EQ(std::vector<U32>(6, 3), LiveCounts());
    EXPECT_EQ(streams, LivePool(ModelPool::Stream));
}

INSTANTIATE_TEST_SUITE_P(Files, OidSnapshotRefusedTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OidSnapshotTest, PoolsThatCannotBeAllocatedKeepTheLoadedModel) {
    env.FailOnUnexpectedErrors({"calloc for", "TSP_InitTSInfo error[8], loaded model kept"});
    FillLiveModel({3, 3, 3, 3, 3, 3});
    const std::string programs = LivePool(ModelPool::Program);
    WriteBytes(kOidSnapshotPath, MakeFile(0xFFFF, {CountRecord(127, 60000), FileRecord{30, 1, 1, {1}}}));
    ModelPool_SetAllocHook([](std::size_t bytes) { return bytes < 1000000; });
    EXPECT_EQ(1u, OIDDATA_Recovery());
    ModelPool_SetAllocHook(nullptr);
    EXPECT_EQ(std::vector<U32>(6, 3), LiveCounts());
    EXPECT_EQ(programs, LivePool(ModelPool::Program));
    EXPECT_FALSE(FileExists(kOidSnapshotPath));
}

TEST_F(OidSnapshotTest, SetValueIgnoresWhatWouldNotFit) {
    AVLTree tree;
    ASSERT_EQ(0, OID_CreateAvlTree(tree));
    const U16 value = 0xBEEF;
    OID_SetValueInAvlTree(tree.get(), 6, 3, 3, 2, &value);    // index not below count
    OID_SetValueInAvlTree(tree.get(), 6, 0, 0, 2, &value);    // no elements
    OID_SetValueInAvlTree(tree.get(), 200, 3, 0, 2, &value);  // no such key
    EXPECT_FALSE(avltree_search(tree.get(), 6)->value);
    OID_SetValueInAvlTree(tree.get(), 6, 3, 2, 2, &value);
    OID_SetValueInAvlTree(tree.get(), 6, 5, 4, 2, &value);  // another shape than the first use
    const AVLTreeNode* node = avltree_search(tree.get(), 6);
    ASSERT_TRUE(node->value);
    EXPECT_EQ(3, node->valueCount);
    EXPECT_EQ(2, node->valueUnitLen);
    EXPECT_EQ(std::vector<U8>({0, 0, 0, 0, 0xEF, 0xBE}), std::vector<U8>(node->value.get(), node->value.get() + 6));
}

}  // namespace
}  // namespace hx
