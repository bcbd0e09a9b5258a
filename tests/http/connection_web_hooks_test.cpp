// The upload hook on a connection from the table: which requests are spooled
// to an upload file (by the request line's path alone).
#include <gtest/gtest.h>

#include <string>

#include "http/connection_internal.h"
#include "http/connection_test_server.h"
#include "http/http_test_util.h"

namespace hx {
namespace {

class WebHooks : public testing::Test {
protected:
    void SetUp() override { con_ = connections_get_new_connection(server_.srv()); }
    void TearDown() override { connection_del(server_.srv(), con_); }

    void Header(const std::string& text) { buffer_copy_string(con_->request.request, text.c_str()); }

    conntest::ConnectionTestServer server_;
    connection* con_ = nullptr;
};

TEST_F(WebHooks, UploadNamesAreTakenFromTheRequestLinesPathOnly) {
    const struct {
        const char* header;
        int large;
    } cases[] = {
        {"POST /Upgrade.w HTTP/1.1\r\nHost: a\r\n\r\n", 1},
        {"POST /ImportConfig.w HTTP/1.1\r\n\r\n", 1},
        {"POST /1/proxy/ImportSiTable.w?x=1 HTTP/1.1\r\n\r\n", 1},
        {"POST ImportSiTable.w HTTP/1.1\r\n\r\n", 1},
        {"POST /Upgrade.w/x HTTP/1.1\r\n\r\n", 0},
        {"POST /NoUpgrade.w HTTP/1.1\r\n\r\n", 0},
        {"POST /Upgrade.wx HTTP/1.1\r\n\r\n", 0},
        {"POST /SetTsParam.w HTTP/1.1\r\nReferer: http://card/Upgrade.w\r\n\r\n", 0},
        {"POST /Upgrade.w?Upgrade.w HTTP/1.1\r\n\r\n", 1},
        {"POST /Set.w?to=Upgrade.w HTTP/1.1\r\n\r\n", 0},
        // A first line without a target: a later line is never taken for it.
        {"POST\r\nPOST /Upgrade.w HTTP/1.1\r\n\r\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        Header(c.header);
        EXPECT_EQ(web_ProcessIsLargeData(con_), c.large) << c.header;
    }
    EXPECT_EQ(web_ProcessIsLargeData(nullptr), 0);
}

TEST_F(WebHooks, RequestNameIsTheLastSegmentOfTheTargetsPath) {
    const struct {
        const char* header;
        const char* name;
    } cases[] = {
        {"POST /GetModules HTTP/1.1\r\n\r\n", "GetModules"},
        {"POST /a/b/Get.w?x=/y HTTP/1.1\r\n\r\n", "Get.w"},
        {"POST /a/Get.w#part/z HTTP/1.1\r\n\r\n", "Get.w"},
        {"POST /a/ HTTP/1.1\r\n\r\n", ""},
        {"POST /Get.w\r\n\r\n", "Get.w"},
        {"POST /Get.w\nHost: a/b\n\n", "Get.w"},
        {"POST Get.w HTTP/1.1\r\n\r\n", "Get.w"},
        {"POST\r\n", ""},
        {"POST", ""},
    };
    for (const auto& c : cases) {
        Header(c.header);
        EXPECT_EQ(web_RequestName(con_), c.name) << c.header;
    }
}

}  // namespace
}  // namespace hx
