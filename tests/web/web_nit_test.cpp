// The NIT requests through the request dispatcher, on a small model: a stream
// with a two-entry NIT on channel 0, one without a NIT on channel 3 and a
// pass-through stream on channel 5, refreshed into the temporary copy. Replies
// are compared byte for byte (member order included) and the models byte for
// byte wherever a request must change nothing. The customer variant's
// automatic NIT is read back from the packet files after its apply.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/run_profile.h"
#include "core/timer.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/output_model.h"
#include "http/connection_internal.h"
#include "http/connection_test_server.h"
#include "http/http_test_util.h"
#include "platform/ip_monitor.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_edit.h"
#include "si/nit_fixture.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/psi_decoder.h"
#include "support/sim_board.h"
#include "support/web_replies.h"
#include "web/user_authority.h"
#include "web/web_reply.h"
#include "web/web_request.h"

namespace hx {
namespace {

using test::Descriptor;
using test::NitEntrySpec;

constexpr U32 kNothingDone = 0xC001E;

std::string Formatted(const std::string& compact) { return test::FormattedJson(compact); }
std::string ErrorReply(U32 code) { return test::ErrorReplyText(code); }

const std::string kSuccess = Formatted(R"({"code":0,"description":null})");

// Cable delivery system descriptor: 346 MHz, 64-QAM, 6875 ksymbol/s, FEC 5.
const std::vector<U8> kCable = {0x44, 11, 0x03, 0x46, 0x00, 0x00, 0xFF, 0xF0, 0x03, 0x00, 0x68, 0x75, 0x05};
const std::vector<U8> kLcn = {0x83, 4, 0x00, 0x01, 0xFC, 0x01};

class WebNitTest : public ::testing::Test {
protected:
    WebNitTest() {
        SSD_ResetForTest();
        Resource_Reset();
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
        g_u32TimerCnt = 0;
        *TSP_GetNetworkDescriptor_Handle() = {};
        VKUser_InitUserAuthority();
        Web_SetRequestHookForTest(nullptr);
        con_ = connections_get_new_connection(server_.srv());
        // The operations log what they refuse.
        env().FailOnUnexpectedErrors({"has no output TS", "no network descriptor", "has no NIT", "no transport stream entry",
                                      "no descriptor[", "descriptors over", "TSP_EditNITVersionNum error param",
                                      "symbolrate > 0x9999999", "empty descriptor"});
    }
    ~WebNitTest() override {
        freeRevData();
        connection_del(server_.srv(), con_);
        *TSP_GetNetworkDescriptor_Handle() = {};
        SSD_ResetForTest();
    }

    test::TestEnvironment& env() { return server_.env(); }

    void SetCustomerVariant(bool on) {
        RunProfile profile = Profile();
        profile.customVariant = on;
        SetProfile(profile);
    }

    static void StoreNit(Output_TSInfo* model, U16 ts, U16 channel, const std::vector<U8>& sections) {
        std::vector<TSTable> records;
        ASSERT_TRUE(TSP_SectionsToRecords(sections.data(), static_cast<U32>(sections.size()), kNitTableId,
                                          kNitTableType, 0, channel, ts, records));
        ASSERT_EQ(TSP_ReplaceTableChain(model, ts, TableChainHead::Nit, records), 0u);
    }

    // The small model, refreshed into the temporary copy; `entryBytes`: the
    // first entry's descriptor loop.
    void BuildModel(const std::vector<U8>& entryBytes = test::Concat({kLcn, kCable})) {
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        test::ModelBuilder builder(live);
        const U16 first = builder.AddStream(0);
        live->pOutputTS[first].u16TransportStreamID = 0x11;
        live->pOutputTS[first].u16OriginalNetworkID = 0x21;
        StoreNit(live, first, 0,
                 test::NitSection(0x31, 2, 0, 0, Descriptor(0x40, 3, 'A'),
                                  {NitEntrySpec{0x11, 0x21, entryBytes}, NitEntrySpec{0x12, 0x21, {}}}));
        builder.AddStream(3);
        const U16 bypass = builder.AddStream(5);
        live->pOutputTS[bypass].u8BypassFlag = 1;
        Refresh();
    }

    static void Refresh() {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
    }

    // One POST through the dispatcher; the reply the server would send.
    std::string Post(const std::string& name, const std::string& body) {
        buffer_copy_string(con_->request.request, ("POST /" + name + " HTTP/1.1\r\nHost: card\r\n\r\n").c_str());
        chunkqueue_reset(con_->request_content_queue);
        chunkqueue_append_mem(con_->request_content_queue, body.data(), body.size() + 1);
        test::BufferPtr reply = test::NewBuffer();
        EXPECT_EQ(web_ProcessData(reply.get(), server_.srv(), con_), 0u) << name;
        return test::Text(reply.get());
    }
    // The stream address and token around further members.
    std::string At(const std::string& members, int channel = 0, int port = 0) {
        return R"({"token":"t","port":)" + std::to_string(port) + R"(,"channel":)" + std::to_string(channel) +
               (members.empty() ? "" : "," + members) + "}";
    }


    static NITTable_t TempNit(U16 channel) {
        NITTable_t table{};
        EXPECT_EQ(TSP_GetNITTableInfo(channel, &table), 0u);
        return table;
    }
    static std::vector<U8> EntryLoop(U16 channel, int entry) {
        const auto table = std::make_unique<NITTable_t>(TempNit(channel));
        const TSInfoStruct_t& e = table->arstTPData[entry];
        return {e.aru8Descriptors, e.aru8Descriptors + e.u16DescriptorsLen};
    }
    static std::vector<U8> NetworkLoop(U16 channel) {
        const auto table = std::make_unique<NITTable_t>(TempNit(channel));
        return {table->aru8NetworkInfo, table->aru8NetworkInfo + table->u16NetworkInfoLen};
    }

    // A refused request: its error reply, and neither model changed.
    void ExpectRefused(const std::string& name, const std::string& body, U32 code) {
        const std::vector<std::string> before = test::SharedModelsBytes();
        EXPECT_EQ(Post(name, body), ErrorReply(code)) << name << " " << body;
        EXPECT_TRUE(test::SharedModelsBytes() == before) << name << " " << body;
    }

    conntest::ConnectionTestServer server_;
    test::SimBoard board_;
    test::ScopedSharedModels models_;
    connection* con_ = nullptr;
};

// ---- GetNIT.w -------------------------------------------------------------------

TEST_F(WebNitTest, GetNitListsTheTemporaryCopysNit) {
    BuildModel();
    EXPECT_EQ(Post("GetNIT.w", At("")),
              Formatted(R"({"code":0,"description":null,"data":{"networkid":49,"versionnumber":2,)"
                        R"("networkList":[{"tag":"40","data":"ABC","length":3}],)"
                        R"("streamList":[{"originID":33,"tsid":17,"descriptors":[)"
                        R"({"tag":"83","data":"0001fc01","length":4},)"
                        R"({"tag":"44","data":"03460000fff00300687505","length":11,"frequency":346000,"symbolrate":6875}]},)"
                        R"({"originID":33,"tsid":18,"descriptors":[]}]}})"));
    EXPECT_EQ(Post("GetNIT.w", At("", 3)),
              Formatted(R"({"code":0,"description":null,"data":{"networkid":0,"versionnumber":0,)"
                        R"("networkList":[],"streamList":[]}})"));
}

TEST_F(WebNitTest, StreamAddressesThatNameNoStreamNeverReachChannelZero) {
    BuildModel();
    // Port 1 is real channel 16; the others would wrap onto channel 0 once narrowed.
    const char* addresses[] = {R"("port":0,"channel":65536)", R"("port":0,"channel":-1)",
                               R"("port":0,"channel":0.5)", R"("port":1,"channel":0)",
                               R"("port":4096,"channel":0)", R"("port":0,"channel":7)"};
    for (const char* address : addresses) {
        const std::string body = std::string(R"({"token":"t",)") + address;
        ExpectRefused("GetNIT.w", body + "}", 0xC0000);
        ExpectRefused("SetNitVersionNum.w", body + R"(,"networkid":1,"versionnumber":3})", VK_ERR_PARAMS);
        ExpectRefused("AddNITNetwork.w", body + R"(,"tag":"4A","data":"01"})", 0xC0000);
        ExpectRefused("DeleteNITNetwork.w", body + R"(,"NIT":0})", 0xC0000);
        ExpectRefused("AddNITStream.w", body + R"(,"originalID":1,"tsid":2})", 0xC0000);
        ExpectRefused("DeleteNITStream.w", body + R"(,"NIT":0})", 0xC0000);
        ExpectRefused("DeleteLCN.w", body + R"(,"NIT":0,"descriptor":0})", 0xC0000);
        ExpectRefused("SetLCN.w", body + R"(,"NIT":0,"descriptor":0,"editFlag":true,"tagId":131,"data":[1]})",
                      0xC0000);
        ExpectRefused("AddDescriptor.w",
                      body + R"(,"NIT":0,"descriptor":0,"tableindex":0,"tagId":131,"tableid":64,"data":[1],)"
                             R"("editFlag":false})",
                      0xC0000);
    }
    for (const char* missing : {R"({"token":"t","channel":0})", R"({"token":"t","port":0})",
                                R"({"token":"t","port":"0","channel":0})", R"({"token":"t","port":0,"channel":true})"}) {
        ExpectRefused("GetNIT.w", missing, VK_ERR_WEB_POST_PARAM);
        ExpectRefused("AddNITStream.w", missing, VK_ERR_WEB_POST_PARAM);
    }
}

// ---- version, network descriptors, entries --------------------------------------

TEST_F(WebNitTest, VersionIsSetUpTo31AndRefusedBeyondWithoutWrapping) {
    BuildModel();
    ASSERT_EQ(Post("SetNitVersionNum.w", At(R"("networkid":70000,"versionnumber":31)", 3)), kSuccess);
    NITTable_t table = TempNit(3);
    EXPECT_EQ(table.u8VersionNum, 31);
    EXPECT_EQ(table.u16NetworkId, 70000 & 0xFFFF);
    for (const char* version : {"32", "65567", "-1", "4294967327"}) {
        ExpectRefused("SetNitVersionNum.w", At(R"("networkid":1,"versionnumber":)" + std::string(version), 3),
                      VK_ERR_PARAMS);
    }
    ExpectRefused("SetNitVersionNum.w", At(R"("networkid":1)", 3), VK_ERR_WEB_POST_PARAM);
    ExpectRefused("SetNitVersionNum.w", At(R"("networkid":"1","versionnumber":1)", 3), VK_ERR_WEB_POST_PARAM);
}

TEST_F(WebNitTest, NetworkDescriptorsAreAddedFromTextAndRefusedWhenTheyCannotBeHeld) {
    SetCustomerVariant(true);
    BuildModel();
    ASSERT_EQ(Post("AddNITNetwork.w", At(R"("tag":"40","data":"Alpha")", 3)), kSuccess);
    ASSERT_EQ(Post("AddNITNetwork.w", At(R"("tag":"4a","data":"0A0b")", 3)), kSuccess);
    EXPECT_EQ(NetworkLoop(3), (std::vector<U8>{0x40, 5, 'A', 'l', 'p', 'h', 'a', 0x4A, 2, 0x0A, 0x0B}));
    EXPECT_EQ(TSP_GetNetworkDescriptor_Handle()->i_tag, 0) << "only channel 0's becomes the board's";

    const std::string longest(255, 'n');
    ASSERT_EQ(Post("AddNITNetwork.w", At(R"("tag":"40","data":")" + longest + "\"")), kSuccess);
    EXPECT_EQ(TSP_GetNetworkDescriptor_Handle()->i_tag, 0x40);
    EXPECT_EQ(TSP_GetNetworkDescriptor_Handle()->i_length, 255);
    const std::vector<U8> network = NetworkLoop(0);
    ASSERT_EQ(network.size(), 5u + 257u);
    EXPECT_EQ(std::vector<U8>(network.begin() + 5, network.begin() + 7), (std::vector<U8>{0x40, 255}));

    const std::string tooLongName(256, 'n');
    const std::string longestHex(510, 'f');
    ASSERT_EQ(Post("AddNITNetwork.w", At(R"("tag":"4A","data":")" + longestHex + "\"")), kSuccess);
    const std::vector<std::string> refused = {
        R"("tag":"4","data":"01")",          R"("tag":"4AB","data":"01")",   R"("tag":"4G","data":"01")",
        R"("tag":"4A","data":"0A0")",        R"("tag":"4A","data":"0x")",    R"("tag":"4A","data":"0 ")",
        R"("tag":64,"data":"01")",           R"("tag":"4A","data":1)",       R"("tag":"4A")",
        R"("tag":"4A","data":")" + longestHex + "ff\"",
        R"("tag":"40","data":")" + tooLongName + "\"",
        // 128 two-byte letters: 256 bytes of UTF-8 where 254 fit after the selector.
        R"("tag":"40","data":")" + [] {
            std::string text;
            for (int i = 0; i < 128; ++i) {
                text += "\xC3\xA9";
            }
            return text;
        }() + "\"",
    };
    for (const std::string& members : refused) {
        ExpectRefused("AddNITNetwork.w", At(members), VK_ERR_WEB_POST_PARAM);
    }
}

TEST_F(WebNitTest, DeletionsAnswerAMissingIndexWithoutWrappingOntoEntryZero) {
    BuildModel();
    for (const char* index : {"1", "-1", "256", "65536", "4294967296", "0.5"}) {
        ExpectRefused("DeleteNITNetwork.w", At(std::string(R"("NIT":)") + index), kNothingDone);
        ExpectRefused("DeleteNITStream.w", At(std::string(R"("NIT":)") + index + "0"), kNothingDone);
        ExpectRefused("DeleteLCN.w", At(std::string(R"("NIT":0,"descriptor":)") + index + "0"), kNothingDone);
        ExpectRefused("DeleteLCN.w", At(std::string(R"("NIT":)") + index + R"(0,"descriptor":0)"), kNothingDone);
    }
    ExpectRefused("DeleteNITNetwork.w", At(R"("NIT":0)", 3), kNothingDone);
    ExpectRefused("DeleteLCN.w", At(R"("NIT":0)"), VK_ERR_WEB_POST_PARAM);

    ASSERT_EQ(Post("DeleteLCN.w", At(R"("NIT":0,"descriptor":0)")), kSuccess);
    EXPECT_EQ(EntryLoop(0, 0), kCable);
    ASSERT_EQ(Post("DeleteNITNetwork.w", At(R"("NIT":0)")), kSuccess);
    EXPECT_TRUE(NetworkLoop(0).empty());
    ASSERT_EQ(Post("DeleteNITStream.w", At(R"("NIT":0)")), kSuccess);
    NITTable_t table = TempNit(0);
    ASSERT_EQ(table.u16TPNumber, 1);
    EXPECT_EQ(table.arstTPData[0].u16TSID, 0x12);
}

TEST_F(WebNitTest, AnEntryAddedToAStreamWithoutNitStartsOne) {
    BuildModel();
    ASSERT_EQ(Post("AddNITStream.w", At(R"("originalID":65537,"tsid":4660)", 3)), kSuccess);
    EXPECT_EQ(Post("GetNIT.w", At("", 3)),
              Formatted(R"({"code":0,"description":null,"data":{"networkid":0,"versionnumber":0,)"
                        R"("networkList":[],"streamList":[{"originID":1,"tsid":4660,"descriptors":[]}]}})"));
    ExpectRefused("AddNITStream.w", At(R"("tsid":1)", 3), VK_ERR_WEB_POST_PARAM);
}

// ---- SetLCN.w -------------------------------------------------------------------

TEST_F(WebNitTest, SetLcnAddsTheSecondDescriptorFirstAndReplacesByIndex) {
    BuildModel();
    ASSERT_EQ(Post("SetLCN.w", At(R"("NIT":1,"descriptor":0,"editFlag":false,"v1":1,"v2":2,)"
                                  R"("tagId":131,"data":[0,1,252,"x"],"tagId2":136,"data2":[7,264]})")),
              kSuccess);
    EXPECT_EQ(EntryLoop(0, 1), (std::vector<U8>{0x88, 2, 7, 8, 0x83, 4, 0, 1, 0xFC, 0}));

    // Only the second: the indexed descriptor is replaced once.
    ASSERT_EQ(Post("SetLCN.w", At(R"("NIT":1,"descriptor":1,"editFlag":true,"tagId2":137,"data2":[9]})")),
              kSuccess);
    EXPECT_EQ(EntryLoop(0, 1), (std::vector<U8>{0x88, 2, 7, 8, 0x89, 1, 9}));

    // Neither tag, or a flag that is no boolean: nothing changes.
    const std::vector<std::string> unchanged = test::SharedModelsBytes();
    EXPECT_EQ(Post("SetLCN.w", At(R"("NIT":1,"descriptor":0,"editFlag":true,"data":[1]})")), kSuccess);
    EXPECT_EQ(Post("SetLCN.w", At(R"("NIT":1,"descriptor":0,"editFlag":1,"tagId":131,"data":[1]})")), kSuccess);
    EXPECT_TRUE(test::SharedModelsBytes() == unchanged);

    ExpectRefused("SetLCN.w", At(R"("NIT":1,"descriptor":0,"tagId":131,"data":[1]})"), VK_ERR_WEB_POST_PARAM);
    ExpectRefused("SetLCN.w", At(R"("descriptor":0,"editFlag":false,"tagId":131,"data":[1]})"), VK_ERR_WEB_POST_PARAM);
    ExpectRefused("SetLCN.w", At(R"("NIT":1,"editFlag":false,"tagId":131,"data":[1]})"), VK_ERR_WEB_POST_PARAM);
    const std::string items = [] {
        std::string list = "[0";
        for (int i = 1; i < 256; ++i) {
            list += ",1";
        }
        return list + "]";
    }();
    ExpectRefused("SetLCN.w", At(R"("NIT":1,"descriptor":0,"editFlag":false,"tagId":131,"data":)" + items),
                  VK_ERR_WEB_POST_PARAM);
    ExpectRefused("SetLCN.w", At(R"("NIT":1,"descriptor":0,"editFlag":false,"tagId2":131,"data2":)" + items),
                  VK_ERR_WEB_POST_PARAM);
}

TEST_F(WebNitTest, AFailingSecondLcnLeavesTheEntryAsItWas) {
    // 700 bytes of descriptors: the 202-byte second fits, the first then does not.
    BuildModel(test::Concat({Descriptor(0x83, 255), Descriptor(0x83, 255), Descriptor(0x83, 184)}));
    const std::vector<U8> entry = EntryLoop(0, 0);
    ASSERT_EQ(entry.size(), 700u);
    const std::string data200 = [] {
        std::string list = "[0";
        for (int i = 1; i < 200; ++i) {
            list += "," + std::to_string(i);
        }
        return list + "]";
    }();
    ExpectRefused("SetLCN.w",
                  At(R"("NIT":0,"descriptor":0,"editFlag":false,"tagId":131,"data":)" + data200 +
                     R"(,"tagId2":136,"data2":)" + data200),
                  0xC0008);
    EXPECT_EQ(EntryLoop(0, 0), entry);

    // Replacing: the second (small) goes in, the first would pass 1,000 bytes.
    const std::string data255 = [] {
        std::string list = "[0";
        for (int i = 1; i < 255; ++i) {
            list += ",2";
        }
        return list + "]";
    }();
    BuildModel(test::Concat({Descriptor(0x83, 255), Descriptor(0x83, 255), Descriptor(0x83, 255),
                             Descriptor(0x83, 2)}));
    ASSERT_EQ(Post("SetLCN.w", At(R"("NIT":0,"descriptor":3,"editFlag":true,"tagId2":136,"data2":[1])")), kSuccess);
    ASSERT_EQ(EntryLoop(0, 0).size(), 3u * 257u + 3u);
    const std::vector<U8> before = EntryLoop(0, 0);
    ExpectRefused("SetLCN.w",
                  At(R"("NIT":0,"descriptor":3,"editFlag":true,"tagId":131,"data":)" + data255 +
                     R"(,"tagId2":137,"data2":[5])"),
                  kNothingDone);
    EXPECT_EQ(EntryLoop(0, 0), before);
}

// ---- AddDescriptor.w ------------------------------------------------------------

std::string DeliveryData(U8 fecInner) {
    return "[1,2,3,4,255,240,3,0,0,0," + std::to_string(0xF0 | fecInner) + "]";
}

TEST_F(WebNitTest, DeliveryDescriptorsTakeTheirBcdFieldsAndKeepTheFecInner) {
    BuildModel();
    const std::string common = R"("NIT":1,"descriptor":0,"tableindex":9,"tableid":64,"editFlag":false,)";
    ASSERT_EQ(Post("AddDescriptor.w",
                   At(common + R"("tagId":68,"frequency":474,"symbolrate":687,"data":)" + DeliveryData(5))),
              kSuccess);
    ASSERT_EQ(Post("AddDescriptor.w", At(common + R"("tagId":323,"frequency":11750.9,"orbitalposition":192,)"
                                                  R"("symbolrate":27500,"data":)" + DeliveryData(3))),
              kSuccess);
    EXPECT_EQ(EntryLoop(0, 1),
              (std::vector<U8>{0x44, 11, 0x00, 0x00, 0x47, 0x40, 0xFF, 0xF0, 0x03, 0x00, 0x06, 0x87, 0x05,  //
                               0x43, 11, 0x01, 0x17, 0x50, 0x00, 0x19, 0x20, 0x03, 0x02, 0x75, 0x00, 0x03}));

    // Replacing by index, with a plain descriptor.
    ASSERT_EQ(Post("AddDescriptor.w", At(R"("NIT":1,"descriptor":1,"tableindex":0,"tableid":64,"editFlag":true,)"
                                         R"("tagId":131,"data":[4,5]})")),
              kSuccess);
    const std::vector<U8> replaced = EntryLoop(0, 1);
    EXPECT_EQ(std::vector<U8>(replaced.begin() + 13, replaced.end()), (std::vector<U8>{0x83, 2, 4, 5}));

    // Another table, or a flag that is no boolean: success, nothing changed.
    const std::vector<std::string> before = test::SharedModelsBytes();
    EXPECT_EQ(Post("AddDescriptor.w", At(R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":66,"editFlag":false,)"
                                         R"("tagId":131,"data":[1]})")),
              kSuccess);
    EXPECT_EQ(Post("AddDescriptor.w", At(R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":null,)"
                                         R"("tagId":131,"data":[1]})")),
              kSuccess);
    EXPECT_TRUE(test::SharedModelsBytes() == before);
}

TEST_F(WebNitTest, DeliveryValuesTheirFieldsCannotHoldAreRefused) {
    BuildModel();
    const std::string cable = R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,"tagId":68,)";
    const std::string satellite =
        R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,"tagId":67,"orbitalposition":1,)";
    const std::string data = R"("data":)" + DeliveryData(0);
    const std::vector<std::string> refused = {
        cable + R"("frequency":474,"symbolrate":687,"data":[1,2,3,4,5,6,7,8,9,10])",
        cable + R"("frequency":-1,"symbolrate":687,)" + data,
        cable + R"("frequency":10000000,"symbolrate":687,)" + data,
        cable + R"("frequency":474,"symbolrate":1000000,)" + data,
        cable + R"("frequency":474,"symbolrate":-5,)" + data,
        cable + R"("symbolrate":687,)" + data,
        cable + R"("frequency":474,)" + data,
        satellite + R"("frequency":1000000,"symbolrate":687,)" + data,
        satellite + R"("frequency":12000,"symbolrate":1000000,)" + data,
        satellite + R"("frequency":12000,"symbolrate":100000000,)" + data,
        R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,"tagId":67,"orbitalposition":1000,)"
        R"("frequency":12000,"symbolrate":687,)" + data,
        R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,"tagId":67,)"
        R"("frequency":12000,"symbolrate":687,)" + data,
        R"("NIT":1,"descriptor":0,"tableid":64,"editFlag":false,"tagId":131,"data":[1])",
        R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"tagId":131,"data":[1])",
        R"("NIT":1,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,"tagId":131,"data":1)",
    };
    for (const std::string& members : refused) {
        ExpectRefused("AddDescriptor.w", At(members), VK_ERR_WEB_POST_PARAM);
    }
    // The largest values their digits hold.
    ASSERT_EQ(Post("AddDescriptor.w", At(cable + R"("frequency":9999999,"symbolrate":999999,)" + data)), kSuccess);
    EXPECT_EQ(EntryLoop(0, 1), (std::vector<U8>{0x44, 11, 0x99, 0x99, 0x99, 0x90, 0xFF, 0xF0, 0x03, 0x99, 0x99,
                                                0x99, 0x00}));
    // A missing entry or descriptor, as the operations answer it.
    ExpectRefused("AddDescriptor.w", At(R"("NIT":2,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,)"
                                        R"("tagId":131,"data":[1]})"),
                  0xC0000);
    ExpectRefused("AddDescriptor.w", At(R"("NIT":-2,"descriptor":0,"tableindex":0,"tableid":64,"editFlag":false,)"
                                        R"("tagId":131,"data":[1]})"),
                  0xC0000);
    ExpectRefused("AddDescriptor.w", At(R"("NIT":1,"descriptor":65536,"tableindex":0,"tableid":64,"editFlag":true,)"
                                        R"("tagId":131,"data":[1]})"),
                  0xC0008);
}

// ---- AutoGenerateNITDescriptor.w ------------------------------------------------

TEST_F(WebNitTest, AutomaticNitNeedsTheCustomerVariantAndAFilledCopy) {
    BuildModel();
    ExpectRefused("AutoGenerateNITDescriptor.w", R"({"token":"t"})", VK_ERR_USER_NOT_MODUIFY_AUTHORITY);
    SetCustomerVariant(true);
    ExpectRefused("AutoGenerateNITDescriptor.w", R"({})", VK_ERR_WEB_POST_PARAM);
    // A copy never refreshed holds no stream and is never applied.
    env().FailOnUnexpectedErrors({"temporary model not filled"});
    {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
    }
    ExpectRefused("AutoGenerateNITDescriptor.w", R"({"token":"t"})", 0xC0000);
}

TEST_F(WebNitTest, AutomaticNitOfTheCustomerVariantReachesEveryChannelsPackets) {
    SetCustomerVariant(true);
    constexpr U16 kChannels[] = {0, 4, 9};
    TParameter_QAM& qam = *GetQAMPara_Handle();
    qam.Frequency[0].value = 474000;
    qam.Frequency[4].value = 506000;
    qam.Frequency[9].value = 554000;
    qam.Constellation[0].value = 2;
    qam.Constellation[1].value = 4;
    qam.SymbolRate[0].value = 6875000;
    qam.SymbolRate[1].value = 5360537;
    {
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        test::ModelBuilder builder(live);
        for (U16 channel : kChannels) {
            const U16 ts = builder.AddStream(channel);
            live->pOutputTS[ts].u16TransportStreamID = static_cast<U16>(0x100 + channel);
            live->pOutputTS[ts].u16OriginalNetworkID = 0x21;
            live->pOutputTS[ts].u8NITGenerate = 1;
        }
    }
    Refresh();
    ASSERT_EQ(Post("AddNITNetwork.w", At(R"("tag":"40","data":"Net")")), kSuccess);
    ASSERT_EQ(Post("AutoGenerateNITDescriptor.w", R"({"token":"t"})"), kSuccess);

    SIPacketSenderState sender;
    for (U32 tick = 1; tick <= 30; ++tick) {
        g_u32TimerCnt = tick;
        ASSERT_TRUE(SIPacket_ServiceStep(sender));
    }
    const auto cable = [](U8 f0, U8 f1, U8 modulation, U8 r0, U8 r1, U8 r2) {
        return test::RawDescriptor{0x44, {f0, f1, 0x00, 0x00, 0xFF, 0xF0, modulation, r0, r1, r2, 0x00}};
    };
    const std::vector<test::DecodedNitEntry> entries = {
        {0x100, 0x21, {cable(0x04, 0x74, 3, 0x00, 0x68, 0x75)}},
        {0x104, 0x21, {cable(0x05, 0x06, 3, 0x00, 0x68, 0x75)}},
        {0x109, 0x21, {cable(0x05, 0x54, 5, 0x00, 0x53, 0x60)}},  // group 1's settings
    };
    for (U16 channel : kChannels) {
        SCOPED_TRACE(channel);
        char name[32];
        std::snprintf(name, sizeof name, "/sim/ts/out-%02u.ts", channel);
        const std::string bytes = env().ReadText(name);
        test::PsiDecoder decoder;
        decoder.Push({reinterpret_cast<const U8*>(bytes.data()), bytes.size()});
        EXPECT_TRUE(decoder.Problems().empty());
        ASSERT_EQ(decoder.nits.size(), 1u);
        EXPECT_EQ(decoder.nits[0].entries, entries);
        // The name added on channel 0 became the board's network descriptor.
        EXPECT_EQ(decoder.nits[0].network, (std::vector<test::RawDescriptor>{{0x40, {'N', 'e', 't'}}}));
    }
}

}  // namespace
}  // namespace hx
