// NIT storage: the input-card NIT (data type 273) on the live model, the
// broadcast on PID 16, version and network_id, the cable delivery descriptor
// and the automatic NIT, export and import. A refused message or import keeps
// the channel's NIT as it was.
#include <gtest/gtest.h>

#include <cstring>
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
using test::NitSection;

class NitStorageTest : public test::SiBoardTest {
protected:
    // One 273 record carrying a section.
    static TSTable Record(U16 channel, const std::vector<U8>& section, U8 changed = 0) {
        TSTable table{};
        table.u8ValidFlag = 1;
        table.u16ChannelID = channel;
        table.u8TableType = kNitTableType;
        table.u8IsChangedByUser = changed;
        table.u16TableInfoLen = static_cast<U16>(section.size());
        std::memcpy(table.aru8TableInfo, section.data(), section.size());
        return table;
    }

    static std::vector<U8> Message(const std::vector<TSTable>& records) {
        std::vector<U8> bytes(records.size() * sizeof(TSTable));
        std::memcpy(bytes.data(), records.data(), bytes.size());
        return bytes;
    }

    U32 Send273(std::vector<TSTable> records) {
        std::vector<U8> bytes = Message(records);
        return TSP_ConstructOutputTSByAddNITTable(bytes.data(), static_cast<U16>(records.size()),
                                                  static_cast<U16>(bytes.size()));
    }

    // The sections of a stream's NIT chain in a model, one per record.
    static std::vector<std::vector<U8>> Chain(Output_TSInfo* model, U16 ts) {
        IndexInfoList list{};
        EXPECT_EQ(0u, TSP_GetOutTSNITTableIndexList(ts, model, &list));
        std::vector<std::vector<U8>> sections;
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            const U8* s = model->pOutputTable[list.aru16IndexList[i]].aru8TableInfo;
            sections.emplace_back(s, s + SIP_SectionBytes(s));
        }
        return sections;
    }

    std::vector<std::vector<U8>> LiveChain(U16 ts) {
        TSP_ModelLock lock;
        return Chain(TSP_GetTSParam(), ts);
    }

    std::vector<std::vector<U8>> TempChain(U16 ts) {
        TSP_ModelLock lock;
        return Chain(TSP_GetTempTSParam(), ts);
    }

    void RefreshTemporary() {
        TSP_ModelLock lock;
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
    }

    const std::vector<U8> s0 = NitSection(9, 1, 0, 2, Descriptor(0x40, 4, 'a'), Entries({4, 0}));
    const std::vector<U8> s1 = NitSection(9, 1, 1, 2, {}, Entries({10}));
    const std::vector<U8> s2 = NitSection(9, 1, 2, 2, {}, Entries({0, 0, 6}));
};

TEST_F(NitStorageTest, InputCardNitChainsRecordsInMessageOrderAndFreesTheOldOnes) {
    const U16 ts = AddStream(2);
    ASSERT_EQ(0u, Send273({Record(2, s2), Record(2, s2)}));
    std::vector<U16> old;
    {
        TSP_ModelLock lock;
        IndexInfoList list{};
        TSP_GetOutTSNITTableIndexList(ts, TSP_GetTSParam(), &list);
        old.assign(list.aru16IndexList, list.aru16IndexList + list.u16IndexListNum);
    }
    ASSERT_EQ(2u, old.size());

    ASSERT_EQ(0u, Send273({Record(2, s0, 1), Record(2, s1), Record(2, s2)}));
    EXPECT_EQ((std::vector<std::vector<U8>>{s0, s1, s2}), LiveChain(ts));
    TSP_ModelLock lock;
    const Output_TSInfo* live = TSP_GetTSParam();
    U16 index = live->pOutputTS[ts].u16NITIndex;
    for (int i = 0; i < 3; ++i) {
        const TSTable& record = live->pOutputTable[index];
        EXPECT_EQ(1, record.u8ValidFlag);
        EXPECT_EQ(index, record.u16Index);
        EXPECT_EQ(0u, record.u32StructVersion);
        EXPECT_EQ(0xFFFF, record.u16PID);
        EXPECT_EQ(kNitTableType, record.u8TableType) << "as sent";
        EXPECT_EQ(i == 0 ? 1 : 0, record.u8IsChangedByUser) << "as sent";
        index = record.u16NextIndex;
    }
    EXPECT_EQ(0xFFFF, index);
    for (U16 freed : old) {
        EXPECT_NE(1, live->pOutputTable[freed].u8ValidFlag) << freed;
    }
    EXPECT_EQ(HX_TRUE, TSP_IsNITTableChangedByUser(ts));
}

TEST_F(NitStorageTest, RefusedInputCardMessagesKeepTheOldNit) {
    const U16 ts = AddStream(2);
    ASSERT_EQ(0u, Send273({Record(2, s0), Record(2, s1)}));
    std::vector<U8> tooLong = s2;
    tooLong[1] = 0xF3;
    tooLong[2] = 0xFE;  // section_length 1,022
    EXPECT_EQ(kTspErrRange, Send273({Record(2, s2), Record(2, tooLong)}));
    EXPECT_EQ(kNitErrNoStream, Send273({Record(5, s2)}));
    EXPECT_EQ(kTspErrInput, Send273({Record(2, s2), Record(5, s2)})) << "one message, one channel";
    std::vector<U8> bytes = Message({Record(2, s2), Record(2, s2)});
    EXPECT_EQ(kNitErrLength, TSP_ConstructOutputTSByAddNITTable(bytes.data(), 2, static_cast<U16>(bytes.size() - 1)));
    EXPECT_EQ(kTspErrInput, TSP_ConstructOutputTSByAddNITTable(nullptr, 1, 1184));
    EXPECT_EQ(kTspErrInput, TSP_ConstructOutputTSByAddNITTable(bytes.data(), 0, 1184));
    // The table pool is full (other chains) and cannot grow for the new records.
    {
        TSP_ModelLock lock;
        const U16 other = test::ModelBuilder(TSP_GetTSParam()).AddStream(3);
        for (U32 added = 0; added + 2 < TSP_GetTSParam()->u32OutputTableNumber - 1;) {
            ASSERT_NE(0xFFFF, test::ModelBuilder(TSP_GetTSParam()).AddTable(other, test::TableChainKind::Bat, 3, 3));
            ++added;
        }
    }
    ModelPool_SetAllocHook([](std::size_t) { return false; });
    EXPECT_EQ(kTspErrMemory, Send273({Record(2, s2), Record(2, s2)}));
    ModelPool_SetAllocHook({});
    EXPECT_EQ((std::vector<std::vector<U8>>{s0, s1}), LiveChain(ts));
}

TEST_F(NitStorageTest, BroadcastQueuesTheStoredSectionsOnPid16) {
    const U16 ts = AddStream(6);
    ASSERT_EQ(0u, Send273({Record(6, s0), Record(6, s1), Record(6, s2)}));
    auto queued = [&] {
        std::lock_guard lock(SIMutex);
        return SSD_GetBroadcastSI().u16SIInfoNum;
    };
    EXPECT_EQ(0u, TSP_ConstructNIT(ts));
    EXPECT_EQ(0, queued()) << "u8NITGenerate is off";

    LiveStream(ts).u8NITGenerate = 1;
    LiveStream(ts).u8NITChangeFlag = 1;
    SetAtsc(true);
    EXPECT_EQ(0u, TSP_ConstructNIT(ts));
    EXPECT_EQ(0, queued()) << "no NIT in ATSC mode";
    SetAtsc(false);

    ASSERT_EQ(0u, TSP_ConstructNIT(ts));
    ASSERT_EQ(1, queued());
    EXPECT_EQ(0, LiveStream(ts).u8NITChangeFlag);
    std::lock_guard lock(SIMutex);
    const SIPacketInfo_t& table = SSD_GetBroadcastSI().arstSIInfo[SSD_GetBroadcastSI().aru16OutTSSIInfo[ts]];
    EXPECT_EQ(kNitPid, table.u16PID);
    EXPECT_EQ(3, table.u8TotalSectionNum);
    EXPECT_EQ(2, table.u8OverOneSectionTotalNum);
}

TEST_F(NitStorageTest, InputPassingPid16KeepsItsNitUnlessTheUserChangedOurs) {
    const U16 ts = AddStream(6);
    {
        TSP_ModelLock lock;
        test::ModelBuilder(TSP_GetTSParam()).AddPid(PID_TYPE_OTHERPID, ts, {.key = 16, .pid = 16});
    }
    LiveStream(ts).u8NITGenerate = 1;
    ASSERT_EQ(0u, Send273({Record(6, s0)}));
    ASSERT_EQ(0u, TSP_ConstructNIT(ts));
    EXPECT_NE(std::string::npos, env.Console().find("exist NIT in other pid and not changed"));
    {
        std::lock_guard lock(SIMutex);
        EXPECT_EQ(0, SSD_GetBroadcastSI().u16SIInfoNum);
    }
    ASSERT_EQ(0u, Send273({Record(6, s0, 1)}));
    ASSERT_EQ(0u, TSP_ConstructNIT(ts));
    std::lock_guard lock(SIMutex);
    EXPECT_EQ(1, SSD_GetBroadcastSI().u16SIInfoNum);
}

TEST_F(NitStorageTest, VersionAndNetworkIdOfTheTemporaryNit) {
    const U16 ts = AddStream(1, true);
    ASSERT_EQ(0u, TSP_EditNITVersionNum(1, 31, 0x2222)) << "an empty NIT is made first";
    const auto chain = TempChain(ts);
    ASSERT_EQ(1u, chain.size());
    EXPECT_EQ(NitSection(0x2222, 31, 0, 0, {}, {}), chain[0]);
    {
        TSP_ModelLock lock;
        EXPECT_EQ(31, TSP_GetTempTSParam()->pOutputTS[ts].u8NITVersionNumber);
    }
    EXPECT_EQ(static_cast<U32>(VK_ERR_PARAMS), TSP_EditNITVersionNum(1, 32, 0x2222));
    EXPECT_NE(std::string::npos, env.Console().find("TSP_EditNITVersionNum error param"));
    EXPECT_EQ(static_cast<U32>(VK_ERR_PARAMS), TSP_EditNITVersionNum(7, 1, 1)) << "no stream on channel 7";
    EXPECT_EQ(chain, TempChain(ts));

    // A stored multi-section NIT keeps its entries and takes the new version everywhere.
    ASSERT_EQ(0u, TSP_AddNIT(1, test::Concat({s0, s1, s2}).data(), static_cast<U16>(s0.size() + s1.size() + s2.size())));
    ASSERT_EQ(0u, TSP_EditNITVersionNum(1, 5, 0x0777));
    const auto edited = TempChain(ts);
    ASSERT_EQ(1u, edited.size()) << "small enough for one section";
    auto all = Entries({4, 0});
    const auto more = Entries({10});
    const auto rest = Entries({0, 0, 6});
    all.insert(all.end(), more.begin(), more.end());
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(NitSection(0x0777, 5, 0, 0, Descriptor(0x40, 4, 'a'), all), edited[0]);
}

TEST_F(NitStorageTest, CableDeliveryDescriptorFromTheQamSettingsOfTheChannelsGroup) {
    AddStream(0, true);
    TParameter_QAM* qam = GetQAMPara_Handle();
    qam->Frequency[9].value = 474000;       // kHz
    qam->Constellation[1].value = 2;        // 64-QAM
    qam->SymbolRate[1].value = 6'875'000;   // symbol/s
    qam->Constellation[0].value = 4;
    qam->SymbolRate[0].value = 5'000'000;
    ASSERT_EQ(0u, TSP_AddNIT_TS(0, 0x10, 0x20));
    ASSERT_EQ(0u, TSP_ConstructCableDeliverySystemDescriptor(0, 0, 9));
    EXPECT_EQ(kTspErrInput, TSP_ConstructCableDeliverySystemDescriptor(0, 0, 32));
    NITTable_t table{};
    ASSERT_EQ(0u, TSP_GetNITTableInfo(0, &table));
    ASSERT_EQ(1, table.u16TPNumber);
    const TSInfoStruct_t& entry = table.arstTPData[0];
    EXPECT_EQ((std::vector<U8>{0x44, 11, 0x04, 0x74, 0x00, 0x00, 0xFF, 0xF0, 0x03, 0x00, 0x68, 0x75, 0x00}),
              std::vector<U8>(entry.aru8Descriptors, entry.aru8Descriptors + entry.u16DescriptorsLen));
}

TEST_F(NitStorageTest, AutomaticNitListsEveryStreamAndReachesTheLiveModel) {
    RunProfile profile = Profile();
    profile.customVariant = true;
    SetProfile(profile);
    const U16 first = AddStream(0);
    const U16 second = AddStream(3);
    LiveStream(first).u16TransportStreamID = 0x11;
    LiveStream(second).u16TransportStreamID = 0x33;
    LiveStream(second).u16OriginalNetworkID = 0x99;
    RefreshTemporary();
    GetQAMPara_Handle()->Frequency[3].value = 123456;
    dvbpsi_descriptor_t name{};
    name.i_tag = 0x40;
    name.i_length = 3;
    std::memcpy(name.auc_data, "NET", 3);
    ASSERT_EQ(0u, TSP_SetNetworkDescriptor(&name));
    EXPECT_EQ(kTspErrInput, TSP_SetNetworkDescriptor(nullptr));

    ASSERT_EQ(0u, TSP_AutoAddCableDeliverySystemDescriptor2NIT(3));
    const auto chain = LiveChain(second);
    ASSERT_EQ(1u, chain.size());
    NITTable_t table{};
    ASSERT_EQ(0u, SIP_ParseNIT(chain[0].data(), static_cast<U16>(chain[0].size()), &table, 0));
    EXPECT_EQ(0, table.u16NetworkId);
    EXPECT_EQ((std::vector<U8>{0x40, 3, 'N', 'E', 'T'}),
              std::vector<U8>(table.aru8NetworkInfo, table.aru8NetworkInfo + table.u16NetworkInfoLen));
    ASSERT_EQ(2, table.u16TPNumber);
    EXPECT_EQ(0x11, table.arstTPData[0].u16TSID);
    EXPECT_EQ(0x33, table.arstTPData[1].u16TSID);
    EXPECT_EQ(0x99, table.arstTPData[1].u16OriginalNetId);
    EXPECT_EQ(13, table.arstTPData[1].u16DescriptorsLen);
    EXPECT_EQ((std::vector<U8>{0x44, 11, 0x01, 0x23, 0x45, 0x60}),
              std::vector<U8>(table.arstTPData[1].aru8Descriptors, table.arstTPData[1].aru8Descriptors + 6))
        << "the entry of the stream on channel 3 uses channel 3's frequency";
    EXPECT_TRUE(LiveChain(first).empty()) << "only the asked channel's NIT is replaced";

    // Without the customer variant the board keeps its network descriptor.
    profile.customVariant = false;
    SetProfile(profile);
    dvbpsi_descriptor_t other{};
    other.i_tag = 0x4A;
    ASSERT_EQ(0u, TSP_SetNetworkDescriptor(&other));
    EXPECT_EQ(0x40, TSP_GetNetworkDescriptor_Handle()->i_tag);
    *TSP_GetNetworkDescriptor_Handle() = {};
}

TEST_F(NitStorageTest, ExportOfTheLiveNit) {
    const U16 ts = AddStream(4);
    U16 length = 99;
    EXPECT_EQ(static_cast<U32>(VK_ERR_SIP_NIT_NO_EXIST), TSP_GetExportNITLength(4, &length));
    EXPECT_EQ(0, length);
    EXPECT_EQ(static_cast<U32>(VK_ERR_SIP_NIT_NO_EXIST), TSP_GetExportNITLength(8, &length)) << "no stream";
    std::vector<U8> buffer(4096);
    EXPECT_EQ(static_cast<U32>(VK_ERR_SIP_NIT_NO_EXIST),
              TSP_GetExportNITBuf(4, buffer.data(), static_cast<U16>(buffer.size())));

    ASSERT_EQ(0u, Send273({Record(4, s0), Record(4, s1), Record(4, s2)}));
    const std::vector<U8> all = test::Concat({s0, s1, s2});
    ASSERT_EQ(0u, TSP_GetExportNITLength(4, &length));
    EXPECT_EQ(all.size(), length);
    ASSERT_EQ(0u, TSP_GetExportNITBuf(4, buffer.data(), length));
    EXPECT_EQ(all, std::vector<U8>(buffer.begin(), buffer.begin() + length));
    EXPECT_EQ(kTspErrRange, TSP_GetExportNITBuf(4, buffer.data(), static_cast<U16>(length - 1)))
        << "a NIT grown since its length was read does not overrun the buffer";

    std::vector<U8> notNit = s0;
    notNit[0] = 0x42;
    ASSERT_EQ(0u, Send273({Record(4, notNit)}));
    EXPECT_EQ(static_cast<U32>(VK_ERR_SIP_NIT_NO_EXIST), TSP_GetExportNITLength(4, &length));
    EXPECT_NE(std::string::npos, env.Console().find("not a NIT table,table tag:0x42"));
    (void)ts;
}

TEST_F(NitStorageTest, ImportOfANitFile) {
    const U16 ts = AddStream(2, true);
    const std::vector<U8> all = test::Concat({s0, s1, s2});
    EXPECT_EQ(3u, TSP_GetImportNITSectionCnt(all.data(), static_cast<U32>(all.size())));
    EXPECT_EQ(2u, TSP_GetImportNITSectionCnt(all.data(), static_cast<U32>(all.size() - 1)));
    ASSERT_EQ(0u, TSP_AddNITByImport(2, all.data(), static_cast<U32>(all.size())));
    EXPECT_EQ((std::vector<std::vector<U8>>{s0, s1, s2}), TempChain(ts));
    {
        TSP_ModelLock lock;
        const Output_TSInfo* temp = TSP_GetTempTSParam();
        EXPECT_EQ(1, temp->pOutputTable[temp->pOutputTS[ts].u16NITIndex].u8IsChangedByUser);
    }

    // Refused imports leave the NIT as it was.
    std::vector<U8> cut(all.begin(), all.end() - 1);
    EXPECT_EQ(kTspErrRange, TSP_AddNITByImport(2, cut.data(), static_cast<U32>(cut.size())));
    std::vector<U8> tooLong = test::Concat({s0, s1});
    tooLong[s0.size() + 1] = 0xF3;
    tooLong[s0.size() + 2] = 0xFE;
    tooLong.resize(s0.size() + 1025, 0);
    EXPECT_EQ(kTspErrRange, TSP_AddNITByImport(2, tooLong.data(), static_cast<U32>(tooLong.size())));
    EXPECT_EQ(kTspErrInput, TSP_AddNITByImport(9, all.data(), static_cast<U32>(all.size())));
    EXPECT_EQ((std::vector<std::vector<U8>>{s0, s1, s2}), TempChain(ts));

    // Trailing bytes of another kind end the NIT.
    std::vector<U8> padded = test::Concat({s0, std::vector<U8>(10, 0xFF)});
    ASSERT_EQ(0u, TSP_AddNITByImport(2, padded.data(), static_cast<U32>(padded.size())));
    EXPECT_EQ((std::vector<std::vector<U8>>{s0}), TempChain(ts));

    // A buffer that does not start with 0x40 counts no section and leaves no NIT.
    std::vector<U8> other = s1;
    other[0] = 0x42;
    EXPECT_EQ(0u, TSP_GetImportNITSectionCnt(other.data(), static_cast<U32>(other.size())));
    ASSERT_EQ(0u, TSP_AddNITByImport(2, other.data(), static_cast<U32>(other.size())));
    EXPECT_TRUE(TempChain(ts).empty());
}

TEST_F(NitStorageTest, DeletingTheTemporaryNit) {
    const U16 ts = AddStream(2, true);
    ASSERT_EQ(0u, TSP_AddNITByImport(2, s0.data(), static_cast<U32>(s0.size())));
    ASSERT_EQ(0u, TSP_DelOneNITInfo(ts));
    EXPECT_TRUE(TempChain(ts).empty());
    TSP_ModelLock lock;
    EXPECT_EQ(0xFFFF, TSP_GetTempTSParam()->pOutputTS[ts].u16NITIndex);
}

TEST_F(NitStorageTest, AutomaticNitThatCannotReachTheLiveModelFails) {
    // The stream is in both models, but the temporary one was never filled
    // from the live one, so the closing copy refuses.
    const U16 ts = AddStream(2, true);
    ASSERT_EQ(0u, Send273({Record(2, s0)}));
    EXPECT_EQ(kTspErrInput, TSP_AutoAddCableDeliverySystemDescriptor2NIT(2));
    EXPECT_EQ((std::vector<std::vector<U8>>{s0}), LiveChain(ts)) << "the live NIT as it was";
    EXPECT_EQ(1u, TempChain(ts).size()) << "the generated NIT stays in the temporary model";

    RefreshTemporary();
    EXPECT_EQ(0u, TSP_AutoAddCableDeliverySystemDescriptor2NIT(2));
    EXPECT_NE((std::vector<std::vector<U8>>{s0}), LiveChain(ts));
}

}  // namespace
}  // namespace hx
