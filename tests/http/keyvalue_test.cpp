// The name tables and the key/value lists of modules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/keyvalue.h"

namespace hx {
namespace {

TEST(NameTables, Statuses) {
    const struct {
        int status;
        const char* phrase;
    } cases[] = {
        {100, "Continue"},  {200, "OK"}, {207, "Multi-status"}, {301, "Moved Permanently"},
        {304, "Not Modified"}, {306, "(Unused)"}, {412, "Precondition Failed"}, {414, "Request-URI Too Long"},
        {417, "Expectation Failed"}, {426, "Upgrade Required"}, {503, "Service Not Available"},
        {507, "Insufficient Storage"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(get_http_status_name(c.status), nullptr) << c.status;
        EXPECT_STREQ(get_http_status_name(c.status), c.phrase);
    }
    int known = 0;
    for (int status = -1; status < 1000; ++status) {
        known += get_http_status_name(status) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(known, 48);
    for (int status : {0, 199, 208, 308, 418, 425, 506, 508, -1}) {
        EXPECT_EQ(get_http_status_name(status), nullptr) << status;
    }
}

TEST(NameTables, StatusBodies) {
    for (int status : {400, 401, 403, 404, 411, 416, 500, 501, 503, 505}) {
        ASSERT_NE(get_http_status_body_name(status), nullptr);
        EXPECT_EQ(std::string(get_http_status_body_name(status)), std::to_string(status) + ".html");
    }
    for (int status : {200, 304, 402, 413, 502}) {
        EXPECT_EQ(get_http_status_body_name(status), nullptr) << status;
    }
}

TEST(NameTables, MethodsRoundTripInEnumOrder) {
    for (int key = HTTP_METHOD_GET; key <= HTTP_METHOD_VERSION_CONTROL; ++key) {
        const char* name = get_http_method_name(static_cast<http_method_t>(key));
        ASSERT_NE(name, nullptr) << key;
        EXPECT_EQ(get_http_method_key(name), key) << name;
    }
    EXPECT_EQ(HTTP_METHOD_VERSION_CONTROL, 37);
    EXPECT_STREQ(get_http_method_name(HTTP_METHOD_BASELINE_CONTROL), "BASELINE-CONTROL");
    EXPECT_STREQ(get_http_method_name(HTTP_METHOD_VERSION_CONTROL), "VERSION-CONTROL");
    EXPECT_STREQ(get_http_method_name(HTTP_METHOD_OPTIONS), "OPTIONS");
    EXPECT_EQ(get_http_method_name(HTTP_METHOD_UNSET), nullptr);
    EXPECT_EQ(get_http_method_name(static_cast<http_method_t>(38)), nullptr);
    // Exact and case-sensitive.
    EXPECT_EQ(get_http_method_key("get"), -1);
    EXPECT_EQ(get_http_method_key("GET "), -1);
    EXPECT_EQ(get_http_method_key(nullptr), -1);
}

TEST(NameTables, Versions) {
    EXPECT_STREQ(get_http_version_name(HTTP_VERSION_1_1), "HTTP/1.1");
    EXPECT_STREQ(get_http_version_name(HTTP_VERSION_1_0), "HTTP/1.0");
    EXPECT_EQ(get_http_version_name(2), nullptr);
    EXPECT_EQ(get_http_version_key("HTTP/1.1"), 1);
    EXPECT_EQ(get_http_version_key("HTTP/1.0"), 0);
    EXPECT_EQ(get_http_version_key("HTTP/2.0"), -1);
}

TEST(KeyValueLists, GrowByFourAndKeepCopies) {
    keyvalue_buffer* kvb = keyvalue_buffer_init();
    char text[8];
    for (int i = 0; i < 9; ++i) {
        std::snprintf(text, sizeof text, "v%d", i);
        EXPECT_EQ(keyvalue_buffer_append(kvb, i, text), 0);
        EXPECT_EQ(kvb->size, static_cast<size_t>((i / 4 + 1) * 4));
    }
    std::strcpy(text, "changed");
    ASSERT_EQ(kvb->used, 9u);
    EXPECT_EQ(kvb->kv[8]->key, 8);
    EXPECT_STREQ(kvb->kv[8]->value, "v8");
    // The spare records exist and are zero-filled.
    for (size_t i = kvb->used; i < kvb->size; ++i) {
        ASSERT_NE(kvb->kv[i], nullptr);
        EXPECT_EQ(kvb->kv[i]->value, nullptr);
    }
    keyvalue_buffer_free(kvb);

    s_keyvalue_buffer* skv = s_keyvalue_buffer_init();
    for (int i = 0; i < 5; ++i) {
        s_keyvalue_buffer_append(skv, "key", "value");
    }
    EXPECT_EQ(skv->used, 5u);
    EXPECT_EQ(skv->size, 8u);
    EXPECT_STREQ(skv->kv[4]->key, "key");
    EXPECT_STREQ(skv->kv[4]->value, "value");
    s_keyvalue_buffer_free(skv);

    httpauth_keyvalue_buffer* auth = httpauth_keyvalue_buffer_init();
    httpauth_keyvalue_buffer_append(auth, "/admin", "card", HTTP_AUTH_DIGEST);
    EXPECT_STREQ(auth->kv[0]->realm, "card");
    EXPECT_EQ(auth->kv[0]->type, HTTP_AUTH_DIGEST);
    httpauth_keyvalue_buffer_free(auth);

    pcre_keyvalue_buffer* pcre = pcre_keyvalue_buffer_init();
    EXPECT_EQ(pcre_keyvalue_buffer_append(nullptr, pcre, "^/a", "/b"), -1);
    EXPECT_EQ(pcre->used, 0u);
    pcre_keyvalue_buffer_free(pcre);
    // Null lists are accepted by the releases.
    keyvalue_buffer_free(nullptr);
}

}  // namespace
}  // namespace hx
