// The HTTP server's key/value container `array` and the typed values it holds
// (strings, response headers, integers, nested arrays, configuration blocks,
// counters and FastCGI back-end descriptions), all derived from the common
// head `data_unset`.
//
// Callers: the configuration reader and its keys, the request parser (header
// arrays), the response builder, the plugin loader's status counters, and
// plugins bound at run time by the C names. HTTP server thread only; nothing
// is locked.
//
// Contract:
// - Elements keep their insertion positions in `data`; `sorted` orders those
//   positions by key under the caseless order (buffer_caseless_compare), so
//   keys are found regardless of ASCII case by a halving search.
// - An element inserted without a key (or with an index key) gets the decimal
//   text of `unique_ndx` as key, so list elements are "0", "1", ... however
//   many keyed elements are mixed in.
// - Inserting a key already present merges into the element there through its
//   `insert_dup` and releases the new one.
// - array_reset keeps the (reset) elements in their slots;
//   array_get_unused_element hands them out again, so a request-header array
//   is rebuilt without allocating.
// - A weak array (`is_weakref` 1) holds elements another array owns: it never
//   resets, releases or hands out an element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "http/buffer.h"

namespace hx {

enum data_type_t {
    TYPE_UNSET = 0,
    TYPE_STRING = 1,
    TYPE_COUNT = 2,
    TYPE_ARRAY = 3,
    TYPE_INTEGER = 4,
    TYPE_FASTCGI = 5,
    TYPE_CONFIG = 6,
};

// The condition kinds of configuration blocks.
enum comp_key_t {
    COMP_UNSET = 0,
    COMP_SERVER_SOCKET = 1,
    COMP_HTTP_URL = 2,
    COMP_HTTP_HOST = 3,
    COMP_HTTP_REFERER = 4,
    COMP_HTTP_USER_AGENT = 5,
    COMP_HTTP_LANGUAGE = 6,
    COMP_HTTP_COOKIE = 7,
    COMP_HTTP_REMOTE_IP = 8,
    COMP_HTTP_QUERY_STRING = 9,
    COMP_HTTP_SCHEME = 10,
    COMP_HTTP_REQUEST_METHOD = 11,
    COMP_LAST_ELEMENT = 12,
};

enum config_cond_t {
    CONFIG_COND_UNSET = 0,
    CONFIG_COND_EQ = 1,
    CONFIG_COND_MATCH = 2,
    CONFIG_COND_NE = 3,
    CONFIG_COND_NOMATCH = 4,
};

struct data_unset;

// The operations every kind fills in, reached only through the element.
struct data_unset {
    data_type_t type;
    buffer* key;       // empty while the element has no key yet
    int is_index_key;  // 1 when the key is a number the array gave
    data_unset* (*copy)(const data_unset* src);
    void (*free)(data_unset* d);
    // Empties the key (and clears `is_index_key`) and the value; the element
    // stays allocated for reuse.
    void (*reset)(data_unset* d);
    // Merges src into dst (an element of the same key) and releases src.
    int (*insert_dup)(data_unset* dst, data_unset* src);
    void (*print)(const data_unset* d, int depth);
};

struct array {
    data_unset** data;  // insertion order; slots from `used` on may hold reusable elements
    size_t* sorted;     // positions of `data` in caseless key order
    size_t used;
    size_t size;
    size_t unique_ndx;       // the next index key
    size_t next_power_of_2;  // above the last position used; half of it is the search's first step
    int is_weakref;
};

struct data_string : data_unset {
    buffer* value;
};

struct data_integer : data_unset {
    int value;
};

struct data_array : data_unset {
    array* value;
};

struct data_config : data_unset {
    array* value;  // the block's settings
    buffer* comp_key;
    comp_key_t comp;
    config_cond_t cond;
    buffer* op;
    int context_ndx;
    array* childs;  // weak: the children belong to the block list
    data_config* parent;
    data_config* prev;
    data_config* next;
    buffer* string;  // null until set
};

struct data_count : data_unset {
    int count;
};

struct data_fastcgi : data_unset {
    buffer* host;
    std::uint16_t port;
    std::time_t disable_ts;
    int is_disabled;
    size_t balance;
    int usage;
    int last_used_ndx;
};

extern "C" {

data_string* data_string_init(void);
// A string whose duplicate becomes a second header line of the same name.
data_string* data_response_init(void);
data_integer* data_integer_init(void);
data_array* data_array_init(void);
data_config* data_config_init(void);
data_count* data_count_init(void);
data_fastcgi* data_fastcgi_init(void);

array* array_init(void);
// A deep copy that owns its elements, spare slots included.
array* array_init_array(const array* src);
void array_free(array* a);
void array_reset(array* a);
// 0, or -1 when the element count would overflow a signed 32-bit number.
int array_insert_unique(array* a, data_unset* element);
// The element replaced (the caller releases it), or null when inserted.
data_unset* array_replace(array* a, data_unset* du);
data_unset* array_pop(array* a);
data_unset* array_get_element(const array* a, const char* key);
data_unset* array_get_unused_element(array* a, data_type_t type);
int array_set_key_value(array* a, const char* key, size_t keylen, const char* value, size_t vallen);

// The configuration dump, to standard output.
int array_print(const array* a, int depth);
size_t array_get_max_key_length(const array* a);
int array_print_indent(int depth);

}  // extern "C"

}  // namespace hx
