// Name tables of methods, versions and statuses, and the growable key/value
// lists modules keep.
#include "http/keyvalue.h"

#include <cstdlib>
#include <cstring>

namespace hx {

namespace {

const keyvalue kHttpVersions[] = {
    {HTTP_VERSION_1_1, "HTTP/1.1"},
    {HTTP_VERSION_1_0, "HTTP/1.0"},
    {-1, nullptr},
};

// In the order of http_method_t: the key of a row is its position.
const keyvalue kHttpMethods[] = {
    {HTTP_METHOD_GET, "GET"},
    {HTTP_METHOD_HEAD, "HEAD"},
    {HTTP_METHOD_POST, "POST"},
    {HTTP_METHOD_PUT, "PUT"},
    {HTTP_METHOD_DELETE, "DELETE"},
    {HTTP_METHOD_CONNECT, "CONNECT"},
    {HTTP_METHOD_OPTIONS, "OPTIONS"},
    {HTTP_METHOD_TRACE, "TRACE"},
    {HTTP_METHOD_ACL, "ACL"},
    {HTTP_METHOD_BASELINE_CONTROL, "BASELINE-CONTROL"},
    {HTTP_METHOD_BIND, "BIND"},
    {HTTP_METHOD_CHECKIN, "CHECKIN"},
    {HTTP_METHOD_CHECKOUT, "CHECKOUT"},
    {HTTP_METHOD_COPY, "COPY"},
    {HTTP_METHOD_LABEL, "LABEL"},
    {HTTP_METHOD_LINK, "LINK"},
    {HTTP_METHOD_LOCK, "LOCK"},
    {HTTP_METHOD_MERGE, "MERGE"},
    {HTTP_METHOD_MKACTIVITY, "MKACTIVITY"},
    {HTTP_METHOD_MKCALENDAR, "MKCALENDAR"},
    {HTTP_METHOD_MKCOL, "MKCOL"},
    {HTTP_METHOD_MKREDIRECTREF, "MKREDIRECTREF"},
    {HTTP_METHOD_MKWORKSPACE, "MKWORKSPACE"},
    {HTTP_METHOD_MOVE, "MOVE"},
    {HTTP_METHOD_ORDERPATCH, "ORDERPATCH"},
    {HTTP_METHOD_PATCH, "PATCH"},
    {HTTP_METHOD_PROPFIND, "PROPFIND"},
    {HTTP_METHOD_PROPPATCH, "PROPPATCH"},
    {HTTP_METHOD_REBIND, "REBIND"},
    {HTTP_METHOD_REPORT, "REPORT"},
    {HTTP_METHOD_SEARCH, "SEARCH"},
    {HTTP_METHOD_UNBIND, "UNBIND"},
    {HTTP_METHOD_UNCHECKOUT, "UNCHECKOUT"},
    {HTTP_METHOD_UNLINK, "UNLINK"},
    {HTTP_METHOD_UNLOCK, "UNLOCK"},
    {HTTP_METHOD_UPDATE, "UPDATE"},
    {HTTP_METHOD_UPDATEREDIRECTREF, "UPDATEREDIRECTREF"},
    {HTTP_METHOD_VERSION_CONTROL, "VERSION-CONTROL"},
    {-1, nullptr},
};

const keyvalue kHttpStatus[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {102, "Processing"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {207, "Multi-status"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {306, "(Unused)"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {422, "Unprocessable Entity"},
    {423, "Locked"},
    {424, "Failed Dependency"},
    {426, "Upgrade Required"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Not Available"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"},
    {-1, nullptr},
};

const keyvalue kHttpStatusBody[] = {
    {400, "400.html"}, {401, "401.html"}, {403, "403.html"}, {404, "404.html"}, {411, "411.html"},
    {416, "416.html"}, {500, "500.html"}, {501, "501.html"}, {503, "503.html"}, {505, "505.html"},
    {-1, nullptr},
};

char* copy_text(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    char* copy = strdup(text);
    HTTP_ASSERT(copy != nullptr);
    return copy;
}

// Makes room for one more record: the list grows by 4 zero-filled records at a
// time. The slot returned is allocated and empty.
template <typename Record, typename List>
Record* next_record(List* list) {
    if (list->used == list->size) {
        const size_t grown = list->size + 4;
        auto** records = static_cast<Record**>(std::realloc(list->kv, grown * sizeof(Record*)));
        HTTP_ASSERT(records != nullptr);
        for (size_t i = list->size; i < grown; ++i) {
            records[i] = static_cast<Record*>(std::calloc(1, sizeof(Record)));
            HTTP_ASSERT(records[i] != nullptr);
        }
        list->kv = records;
        list->size = grown;
    }
    return list->kv[list->used++];
}

template <typename List>
List* new_list() {
    auto* list = static_cast<List*>(std::calloc(1, sizeof(List)));
    HTTP_ASSERT(list != nullptr);
    return list;
}

// Frees every allocated record with `release` (its texts), then the list.
template <typename List, typename Release>
void free_list(List* list, Release release) {
    if (list == nullptr) {
        return;
    }
    for (size_t i = 0; i < list->size; ++i) {
        release(list->kv[i]);
        std::free(list->kv[i]);
    }
    std::free(list->kv);
    std::free(list);
}

}  // namespace

extern "C" {

const char* keyvalue_get_value(const keyvalue* kv, int k) {
    for (; kv->value != nullptr; ++kv) {
        if (kv->key == k) {
            return kv->value;
        }
    }
    return nullptr;
}

int keyvalue_get_key(const keyvalue* kv, const char* s) {
    if (s == nullptr) {
        return -1;
    }
    for (; kv->value != nullptr; ++kv) {
        if (std::strcmp(kv->value, s) == 0) {
            return kv->key;
        }
    }
    return -1;
}

const char* get_http_status_name(int i) {
    return keyvalue_get_value(kHttpStatus, i);
}

const char* get_http_version_name(int i) {
    return keyvalue_get_value(kHttpVersions, i);
}

const char* get_http_method_name(http_method_t i) {
    return keyvalue_get_value(kHttpMethods, i);
}

const char* get_http_status_body_name(int i) {
    return keyvalue_get_value(kHttpStatusBody, i);
}

int get_http_method_key(const char* s) {
    return keyvalue_get_key(kHttpMethods, s);
}

int get_http_version_key(const char* s) {
    return keyvalue_get_key(kHttpVersions, s);
}

keyvalue_buffer* keyvalue_buffer_init(void) {
    return new_list<keyvalue_buffer>();
}

int keyvalue_buffer_append(keyvalue_buffer* kvb, int k, const char* value) {
    keyvalue* record = next_record<keyvalue>(kvb);
    record->key = k;
    record->value = copy_text(value);
    return 0;
}

void keyvalue_buffer_free(keyvalue_buffer* kvb) {
    free_list(kvb, [](keyvalue* record) { std::free(const_cast<char*>(record->value)); });
}

s_keyvalue_buffer* s_keyvalue_buffer_init(void) {
    return new_list<s_keyvalue_buffer>();
}

int s_keyvalue_buffer_append(s_keyvalue_buffer* kvb, const char* key, const char* value) {
    s_keyvalue* record = next_record<s_keyvalue>(kvb);
    record->key = copy_text(key);
    record->value = copy_text(value);
    return 0;
}

void s_keyvalue_buffer_free(s_keyvalue_buffer* kvb) {
    free_list(kvb, [](s_keyvalue* record) {
        std::free(const_cast<char*>(record->key));
        std::free(const_cast<char*>(record->value));
    });
}

httpauth_keyvalue_buffer* httpauth_keyvalue_buffer_init(void) {
    return new_list<httpauth_keyvalue_buffer>();
}

int httpauth_keyvalue_buffer_append(httpauth_keyvalue_buffer* kvb, const char* key, const char* realm,
                                    httpauth_type type) {
    httpauth_keyvalue* record = next_record<httpauth_keyvalue>(kvb);
    record->key = copy_text(key);
    record->realm = copy_text(realm);
    record->type = type;
    return 0;
}

void httpauth_keyvalue_buffer_free(httpauth_keyvalue_buffer* kvb) {
    free_list(kvb, [](httpauth_keyvalue* record) {
        std::free(const_cast<char*>(record->key));
        std::free(const_cast<char*>(record->realm));
    });
}

pcre_keyvalue_buffer* pcre_keyvalue_buffer_init(void) {
    return new_list<pcre_keyvalue_buffer>();
}

int pcre_keyvalue_buffer_append(server*, pcre_keyvalue_buffer*, const char*, const char*) {
    return -1;
}

void pcre_keyvalue_buffer_free(pcre_keyvalue_buffer* kvb) {
    free_list(kvb, [](pcre_keyvalue* record) { buffer_free(record->value); });
}

}  // extern "C"

}  // namespace hx
