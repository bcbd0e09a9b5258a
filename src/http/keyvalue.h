// Name tables of methods, versions and statuses, and the small key/value
// lists modules keep. Tables end with a row whose value is null (key -1).
// Pure data; any thread may read the fixed tables.
#pragma once

#include <cstddef>

#include "http/http_base.h"

namespace hx {

extern "C" {

struct keyvalue {
    int key;
    const char* value;
};

struct s_keyvalue {
    const char* key;
    const char* value;
};

enum httpauth_type {
    HTTP_AUTH_BASIC = 0,
    HTTP_AUTH_DIGEST = 1,
};

struct httpauth_keyvalue {
    const char* key;
    const char* realm;
    httpauth_type type;
};

struct pcre_keyvalue {
    buffer* value;
};

struct keyvalue_buffer {
    keyvalue** kv;
    size_t used;
    size_t size;
};

struct s_keyvalue_buffer {
    s_keyvalue** kv;
    size_t used;
    size_t size;
};

struct httpauth_keyvalue_buffer {
    httpauth_keyvalue** kv;
    size_t used;
    size_t size;
};

struct pcre_keyvalue_buffer {
    pcre_keyvalue** kv;
    size_t used;
    size_t size;
};

const char* keyvalue_get_value(const keyvalue* kv, int k);
int keyvalue_get_key(const keyvalue* kv, const char* s);

const char* get_http_status_name(int i);
const char* get_http_version_name(int i);
const char* get_http_method_name(http_method_t i);
const char* get_http_status_body_name(int i);
int get_http_method_key(const char* s);
int get_http_version_key(const char* s);

keyvalue_buffer* keyvalue_buffer_init(void);
int keyvalue_buffer_append(keyvalue_buffer* kvb, int k, const char* value);
void keyvalue_buffer_free(keyvalue_buffer* kvb);

s_keyvalue_buffer* s_keyvalue_buffer_init(void);
int s_keyvalue_buffer_append(s_keyvalue_buffer* kvb, const char* key, const char* value);
void s_keyvalue_buffer_free(s_keyvalue_buffer* kvb);

httpauth_keyvalue_buffer* httpauth_keyvalue_buffer_init(void);
int httpauth_keyvalue_buffer_append(httpauth_keyvalue_buffer* kvb, const char* key, const char* realm,
                                    httpauth_type type);
void httpauth_keyvalue_buffer_free(httpauth_keyvalue_buffer* kvb);

pcre_keyvalue_buffer* pcre_keyvalue_buffer_init(void);
// Always -1: there is no regular-expression support.
int pcre_keyvalue_buffer_append(server* srv, pcre_keyvalue_buffer* kvb, const char* key, const char* value);
void pcre_keyvalue_buffer_free(pcre_keyvalue_buffer* kvb);

}  // extern "C"

}  // namespace hx
