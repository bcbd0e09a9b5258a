#include "http/array.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "http/failed_assert.h"

namespace hx {

namespace {

constexpr size_t kArrayStep = 16;

// The caseless order of buffer_caseless_compare, for a search key that need
// not be NUL-terminated: compared as if it were.
int compare_key(std::string_view key, const buffer* elementKey) {
    const size_t elementLength = elementKey->used == 0 ? 0 : elementKey->used - 1;
    const size_t common = key.size() < elementLength ? key.size() : elementLength;
    for (size_t i = 0; i < common; ++i) {
        auto a = static_cast<unsigned char>(key[i]);
        auto b = static_cast<unsigned char>(elementKey->ptr[i]);
        if (a >= 'A' && a <= 'Z') {
            a |= 0x20;
        }
        if (b >= 'A' && b <= 'Z') {
            b |= 0x20;
        }
        if (a != b) {
            return a - b;
        }
    }
    if (key.size() == elementLength) {
        return 0;
    }
    return key.size() < elementLength ? -1 : 1;
}

struct SearchResult {
    long position;  // data position of the element found, or -1
    long hint;      // the probe the search ended on: where the key would go
};

// Halving search over `sorted`: probe and step start at half of
// `next_power_of_2`, which is above the last position in use.
SearchResult find_key(const array* a, std::string_view key) {
    long step = static_cast<long>(a->next_power_of_2 / 2);
    long probe = step;
    const long used = static_cast<long>(a->used);
    for (;;) {
        if (probe < 0) {
            probe += step;
        } else if (probe >= used) {
            probe -= step;
        } else {
            const size_t position = a->sorted[probe];
            const int order = compare_key(key, a->data[position]->key);
            if (order == 0) {
                return {static_cast<long>(position), probe};
            }
            probe += order < 0 ? -step : step;
        }
        if (step == 0) {
            return {-1, probe};
        }
        step /= 2;
    }
}

std::string_view key_of(const data_unset* element) {
    const buffer* key = element->key;
    return key->used == 0 ? std::string_view() : std::string_view(key->ptr, key->used - 1);
}

void grow(array* a) {
    const size_t slots = a->size + kArrayStep;
    auto* data = static_cast<data_unset**>(std::realloc(a->data, slots * sizeof(data_unset*)));
    HTTP_ASSERT(data);
    a->data = data;
    auto* sorted = static_cast<size_t*>(std::realloc(a->sorted, slots * sizeof(size_t)));
    HTTP_ASSERT(sorted);
    a->sorted = sorted;
    for (size_t i = a->size; i < slots; ++i) {
        a->data[i] = nullptr;
        a->sorted[i] = 0;
    }
    a->size = slots;
}

}  // namespace

extern "C" {

array* array_init(void) {
    auto* a = static_cast<array*>(std::calloc(1, sizeof(array)));
    HTTP_ASSERT(a);
    a->next_power_of_2 = 1;
    return a;
}

array* array_init_array(const array* src) {
    array* a = array_init();
    a->used = src->used;
    a->size = src->size;
    a->next_power_of_2 = src->next_power_of_2;
    a->unique_ndx = src->unique_ndx;
    if (src->size == 0) {
        return a;
    }
    a->data = static_cast<data_unset**>(std::calloc(src->size, sizeof(data_unset*)));
    HTTP_ASSERT(a->data);
    a->sorted = static_cast<size_t*>(std::calloc(src->size, sizeof(size_t)));
    HTTP_ASSERT(a->sorted);
    for (size_t i = 0; i < src->size; ++i) {
        if (src->data[i] != nullptr) {
            a->data[i] = src->data[i]->copy(src->data[i]);
        }
    }
    std::memcpy(a->sorted, src->sorted, src->size * sizeof(size_t));
    return a;
}

void array_free(array* a) {
    if (a == nullptr) {
        return;
    }
    if (!a->is_weakref) {
        for (size_t i = 0; i < a->size; ++i) {
            if (a->data[i] != nullptr) {
                a->data[i]->free(a->data[i]);
            }
        }
    }
    std::free(a->data);
    std::free(a->sorted);
    std::free(a);
}

void array_reset(array* a) {
    if (a == nullptr) {
        return;
    }
    for (size_t i = 0; i < a->used; ++i) {
        if (a->is_weakref) {
            // Not ours to keep for reuse: a later insert must not find it.
            a->data[i] = nullptr;
        } else {
            a->data[i]->reset(a->data[i]);
        }
    }
    a->used = 0;
}

data_unset* array_get_element(const array* a, const char* key) {
    if (a == nullptr || key == nullptr) {
        return nullptr;
    }
    const SearchResult found = find_key(a, key);
    return found.position < 0 ? nullptr : a->data[found.position];
}

data_unset* array_get_unused_element(array* a, data_type_t type) {
    if (a == nullptr || a->is_weakref) {
        return nullptr;
    }
    for (size_t i = a->used; i < a->size; ++i) {
        data_unset* element = a->data[i];
        if (element != nullptr && element->type == type) {
            a->data[i] = a->data[a->used];
            a->data[a->used] = nullptr;
            return element;
        }
    }
    return nullptr;
}

int array_insert_unique(array* a, data_unset* element) {
    if (a == nullptr || element == nullptr) {
        return -1;
    }
    if (element->key->used <= 1 || element->is_index_key) {  // no key, or one of no characters
        char digits[24];
        // The index is the array's own count of unkeyed elements and cannot
        // pass the element limit below before an insert is refused.
        const int length = LI_ltostr(digits, static_cast<std::int32_t>(a->unique_ndx));
        buffer_copy_string_len(element->key, digits, static_cast<size_t>(length));
        element->is_index_key = 1;
        ++a->unique_ndx;
    }
    const SearchResult found = find_key(a, key_of(element));
    if (found.position >= 0) {
        data_unset* present = a->data[found.position];
        if (present->type != element->type) {
            HTTP_ABORT();
        }
        present->insert_dup(present, element);
        return 0;
    }
    if (a->used >= static_cast<size_t>(std::numeric_limits<std::int32_t>::max())) {
        return -1;
    }
    if (a->used == a->size) {
        grow(a);
    }
    const size_t position = a->used;
    if (a->data[position] != nullptr) {
        a->data[position]->free(a->data[position]);
    }
    a->data[position] = element;
    ++a->used;

    long index = found.hint;
    if (index < 0) {
        index = 0;
    } else if (static_cast<size_t>(index) != position &&
               compare_key(key_of(element), a->data[a->sorted[index]]->key) > 0) {
        ++index;
    }
    const auto at = static_cast<size_t>(index);
    std::memmove(a->sorted + at + 1, a->sorted + at, (position - at) * sizeof(size_t));
    a->sorted[at] = position;

    if (position == a->next_power_of_2) {
        a->next_power_of_2 *= 2;
    }
    return 0;
}

data_unset* array_replace(array* a, data_unset* du) {
    HTTP_ASSERT(NULL != du);
    const SearchResult found = find_key(a, key_of(du));
    if (found.position >= 0) {
        data_unset* old = a->data[found.position];
        a->data[found.position] = du;
        return old;
    }
    array_insert_unique(a, du);
    return nullptr;
}

data_unset* array_pop(array* a) {
    HTTP_ASSERT(a->used != 0);
    --a->used;
    data_unset* element = a->data[a->used];
    a->data[a->used] = nullptr;
    return element;
}

int array_set_key_value(array* a, const char* key, size_t keylen, const char* value, size_t vallen) {
    if (a == nullptr || key == nullptr || value == nullptr) {
        return -1;
    }
    const SearchResult found = find_key(a, std::string_view(key, keylen));
    if (found.position >= 0) {
        data_unset* present = a->data[found.position];
        if (present->type != TYPE_STRING) {
            return -1;
        }
        return buffer_copy_string_len(static_cast<data_string*>(present)->value, value, vallen);
    }
    auto* element = static_cast<data_string*>(array_get_unused_element(a, TYPE_STRING));
    if (element == nullptr) {
        element = data_string_init();
    }
    buffer_copy_string_len(element->key, key, keylen);
    buffer_copy_string_len(element->value, value, vallen);
    return array_insert_unique(a, element);
}

}  // extern "C"

}  // namespace hx
