// The element kinds of `array`: constructors and the five operations each
// kind fills into its head.
#include <cstdio>
#include <cstdlib>

#include "http/array.h"
#include "http/failed_assert.h"

namespace hx {

namespace {

template <typename Kind>
Kind* allocate_element(data_type_t type) {
    auto* element = static_cast<Kind*>(std::calloc(1, sizeof(Kind)));
    HTTP_ASSERT(element);
    element->type = type;
    element->key = buffer_init();
    return element;
}

template <typename Kind>
void release_element(Kind* element) {
    buffer_free(element->key);
    std::free(element);
}

// A value of no characters counts as empty whether or not it holds its NUL.
bool has_text(const buffer* b) {
    return b->used > 1;
}

void reset_key(data_unset* element) {
    buffer_reset(element->key);
    element->is_index_key = 0;
}

// Key and index flag of a copy.
void copy_head(data_unset* copy, const data_unset* src) {
    buffer_copy_string_buffer(copy->key, src->key);
    copy->is_index_key = src->is_index_key;
}

// Keeps dst and releases src: kinds whose duplicates carry nothing to merge.
int keep_present(data_unset*, data_unset* src) {
    src->free(src);
    return 0;
}

// --- strings and response headers ---

void string_free(data_unset* d) {
    auto* ds = static_cast<data_string*>(d);
    buffer_free(ds->value);
    release_element(ds);
}

void string_reset(data_unset* d) {
    reset_key(d);
    buffer_reset(static_cast<data_string*>(d)->value);
}

int string_insert_dup(data_unset* dst, data_unset* src) {
    auto* present = static_cast<data_string*>(dst);
    auto* added = static_cast<data_string*>(src);
    if (has_text(present->value)) {
        buffer_append_string_len(present->value, ", ", 2);
        buffer_append_string_buffer(present->value, added->value);
    } else {
        buffer_copy_string_buffer(present->value, added->value);
    }
    src->free(src);
    return 0;
}

// A second header line of the same name: "\r\n<name>: <value>".
int response_insert_dup(data_unset* dst, data_unset* src) {
    auto* present = static_cast<data_string*>(dst);
    auto* added = static_cast<data_string*>(src);
    if (has_text(present->value)) {
        buffer_append_string_len(present->value, "\r\n", 2);
        buffer_append_string_buffer(present->value, present->key);
        buffer_append_string_len(present->value, ": ", 2);
        buffer_append_string_buffer(present->value, added->value);
    } else {
        buffer_copy_string_buffer(present->value, added->value);
    }
    src->free(src);
    return 0;
}

void string_print(const data_unset* d, int) {
    const buffer* value = static_cast<const data_string*>(d)->value;
    std::fputc('"', stdout);
    for (size_t i = 0; i + 1 < value->used; ++i) {
        if (value->ptr[i] == '"') {
            std::fputc('\\', stdout);
        }
        std::fputc(value->ptr[i], stdout);
    }
    std::fputc('"', stdout);
}

data_unset* string_copy(const data_unset* s) {
    data_string* copy = s->insert_dup == response_insert_dup ? data_response_init() : data_string_init();
    copy_head(copy, s);
    buffer_copy_string_buffer(copy->value, static_cast<const data_string*>(s)->value);
    return copy;
}

// --- integers ---

void integer_free(data_unset* d) {
    release_element(static_cast<data_integer*>(d));
}

void integer_reset(data_unset* d) {
    reset_key(d);
    static_cast<data_integer*>(d)->value = 0;
}

void integer_print(const data_unset* d, int) {
    std::printf("%d", static_cast<const data_integer*>(d)->value);
}

data_unset* integer_copy(const data_unset* s) {
    data_integer* copy = data_integer_init();
    copy_head(copy, s);
    copy->value = static_cast<const data_integer*>(s)->value;
    return copy;
}

// --- nested arrays ---

void array_value_free(data_unset* d) {
    auto* da = static_cast<data_array*>(d);
    array_free(da->value);
    release_element(da);
}

void array_value_reset(data_unset* d) {
    reset_key(d);
    array_reset(static_cast<data_array*>(d)->value);
}

void array_value_print(const data_unset* d, int depth) {
    array_print(static_cast<const data_array*>(d)->value, depth);
}

data_unset* array_value_copy(const data_unset* s) {
    data_array* copy = data_array_init();
    copy_head(copy, s);
    array_free(copy->value);
    copy->value = array_init_array(static_cast<const data_array*>(s)->value);
    return copy;
}

// --- configuration blocks ---

void config_free(data_unset* d) {
    auto* dc = static_cast<data_config*>(d);
    buffer_free(dc->op);
    buffer_free(dc->comp_key);
    array_free(dc->value);
    array_free(dc->childs);
    buffer_free(dc->string);
    release_element(dc);
}

void config_reset(data_unset* d) {
    auto* dc = static_cast<data_config*>(d);
    reset_key(d);
    buffer_reset(dc->comp_key);
    array_reset(dc->value);
}

void config_print(const data_unset* d, int depth) {
    const auto* dc = static_cast<const data_config*>(d);
    const char* string = dc->string != nullptr && dc->string->used != 0 ? dc->string->ptr : "";
    const char* compKey = dc->comp_key->used != 0 ? dc->comp_key->ptr : "";
    const char* op = dc->op->used != 0 ? dc->op->ptr : "";
    const bool global = dc->context_ndx == 0;
    if (global) {
        std::fputs("config {\n", stdout);
    } else {
        std::printf("$%s %s \"%s\" {\n", compKey, op, string);
    }
    array_print_indent(depth + 1);
    std::printf("# block %d\n", dc->context_ndx);

    const size_t width = array_get_max_key_length(dc->value);
    for (size_t i = 0; i < dc->value->used; ++i) {
        const data_unset* setting = dc->value->data[i];
        const size_t keyLength = setting->key->used == 0 ? 0 : setting->key->used - 1;
        array_print_indent(depth + 1);
        std::fputs(keyLength == 0 ? "" : setting->key->ptr, stdout);
        for (size_t pad = keyLength; pad < width; ++pad) {
            std::fputc(' ', stdout);
        }
        std::fputs(" = ", stdout);
        setting->print(setting, depth + 1);
        std::fputc('\n', stdout);
    }
    if (dc->childs != nullptr) {
        for (size_t i = 0; i < dc->childs->used; ++i) {
            const auto* child = static_cast<const data_config*>(dc->childs->data[i]);
            if (child->prev != nullptr) {
                continue;  // printed after its else-predecessor
            }
            array_print_indent(depth + 1);
            child->print(child, depth + 1);
            std::fputc('\n', stdout);
        }
    }
    array_print_indent(depth);
    std::fputc('}', stdout);
    if (!global) {
        std::printf(" # end of $%s %s \"%s\"", compKey, op, string);
    }
    if (dc->next != nullptr) {
        std::fputc('\n', stdout);
        array_print_indent(depth);
        std::fputs("else ", stdout);
        dc->next->print(dc->next, depth);
    }
}

data_unset* config_copy(const data_unset* s) {
    const auto* src = static_cast<const data_config*>(s);
    data_config* copy = data_config_init();
    copy_head(copy, s);
    buffer_copy_string_buffer(copy->comp_key, src->comp_key);
    array_free(copy->value);
    copy->value = array_init_array(src->value);
    return copy;
}

// --- counters ---

void count_free(data_unset* d) {
    release_element(static_cast<data_count*>(d));
}

void count_reset(data_unset* d) {
    reset_key(d);
    static_cast<data_count*>(d)->count = 0;
}

int count_insert_dup(data_unset* dst, data_unset* src) {
    static_cast<data_count*>(dst)->count += static_cast<data_count*>(src)->count;
    src->free(src);
    return 0;
}

void count_print(const data_unset* d, int) {
    std::printf("count(%d)", static_cast<const data_count*>(d)->count);
}

data_unset* count_copy(const data_unset* s) {
    data_count* copy = data_count_init();
    copy_head(copy, s);
    copy->count = static_cast<const data_count*>(s)->count;
    return copy;
}

// --- FastCGI back ends ---

void fastcgi_free(data_unset* d) {
    auto* df = static_cast<data_fastcgi*>(d);
    buffer_free(df->host);
    release_element(df);
}

void fastcgi_reset(data_unset* d) {
    reset_key(d);
    buffer_reset(static_cast<data_fastcgi*>(d)->host);
}

void fastcgi_print(const data_unset* d, int) {
    const buffer* host = static_cast<const data_fastcgi*>(d)->host;
    std::printf("fastcgi(%s)", host->used != 0 ? host->ptr : "");
}

data_unset* fastcgi_copy(const data_unset* s) {
    data_fastcgi* copy = data_fastcgi_init();
    copy_head(copy, s);
    buffer_copy_string_buffer(copy->host, static_cast<const data_fastcgi*>(s)->host);
    return copy;
}

}  // namespace

extern "C" {

data_string* data_string_init(void) {
    auto* ds = allocate_element<data_string>(TYPE_STRING);
    ds->value = buffer_init();
    ds->copy = string_copy;
    ds->free = string_free;
    ds->reset = string_reset;
    ds->insert_dup = string_insert_dup;
    ds->print = string_print;
    return ds;
}

data_string* data_response_init(void) {
    data_string* ds = data_string_init();
    ds->insert_dup = response_insert_dup;
    return ds;
}

data_integer* data_integer_init(void) {
    auto* di = allocate_element<data_integer>(TYPE_INTEGER);
    di->copy = integer_copy;
    di->free = integer_free;
    di->reset = integer_reset;
    di->insert_dup = keep_present;
    di->print = integer_print;
    return di;
}

data_array* data_array_init(void) {
    auto* da = allocate_element<data_array>(TYPE_ARRAY);
    da->value = array_init();
    da->copy = array_value_copy;
    da->free = array_value_free;
    da->reset = array_value_reset;
    da->insert_dup = keep_present;
    da->print = array_value_print;
    return da;
}

data_config* data_config_init(void) {
    auto* dc = allocate_element<data_config>(TYPE_CONFIG);
    dc->value = array_init();
    dc->comp_key = buffer_init();
    dc->op = buffer_init();
    dc->childs = array_init();
    dc->childs->is_weakref = 1;
    dc->copy = config_copy;
    dc->free = config_free;
    dc->reset = config_reset;
    dc->insert_dup = keep_present;
    dc->print = config_print;
    return dc;
}

data_count* data_count_init(void) {
    auto* dc = allocate_element<data_count>(TYPE_COUNT);
    dc->count = 1;
    dc->copy = count_copy;
    dc->free = count_free;
    dc->reset = count_reset;
    dc->insert_dup = count_insert_dup;
    dc->print = count_print;
    return dc;
}

data_fastcgi* data_fastcgi_init(void) {
    auto* df = allocate_element<data_fastcgi>(TYPE_FASTCGI);
    df->host = buffer_init();
    df->copy = fastcgi_copy;
    df->free = fastcgi_free;
    df->reset = fastcgi_reset;
    df->insert_dup = keep_present;
    df->print = fastcgi_print;
    return df;
}

}  // extern "C"

}  // namespace hx
