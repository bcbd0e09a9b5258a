// The readable dump of arrays and configuration blocks, used only by a dump
// of the configuration: short lists on one line, everything else one element
// a line with the keys aligned.
#include <cstdio>

#include "http/array.h"

namespace hx {

namespace {

constexpr size_t kOneLineMaximum = 5;

bool prints_on_one_line(const array* a) {
    if (a->used > kOneLineMaximum) {
        return false;
    }
    for (size_t i = 0; i < a->used; ++i) {
        const data_unset* element = a->data[i];
        if (!element->is_index_key ||
            (element->type != TYPE_STRING && element->type != TYPE_COUNT && element->type != TYPE_INTEGER)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {

int array_print_indent(int depth) {
    for (int i = 0; i < depth; ++i) {
        std::fputs("    ", stdout);
    }
    return 0;
}

size_t array_get_max_key_length(const array* a) {
    size_t longest = 0;
    for (size_t i = 0; i < a->used; ++i) {
        const buffer* key = a->data[i]->key;
        const size_t length = key->used == 0 ? 0 : key->used - 1;
        if (length > longest) {
            longest = length;
        }
    }
    return longest;
}

int array_print(const array* a, int depth) {
    if (prints_on_one_line(a)) {
        std::fputc('(', stdout);
        for (size_t i = 0; i < a->used; ++i) {
            if (i != 0) {
                std::fputs(", ", stdout);
            }
            a->data[i]->print(a->data[i], depth + 1);
        }
        std::fputc(')', stdout);
        return 0;
    }

    const size_t width = array_get_max_key_length(a);
    std::fputs("(\n", stdout);
    for (size_t i = 0; i < a->used; ++i) {
        const data_unset* element = a->data[i];
        if (!element->is_index_key) {
            if (i != 0 && i % 5 == 0) {
                array_print_indent(depth + 1);
                std::printf("# %zd\n", static_cast<ssize_t>(i));
            }
            array_print_indent(depth + 1);
            const size_t keyLength = element->key->used == 0 ? 0 : element->key->used - 1;
            std::printf("\"%s\"", keyLength == 0 ? "" : element->key->ptr);
            for (size_t pad = keyLength; pad < width; ++pad) {
                std::fputc(' ', stdout);
            }
            std::fputs(" => ", stdout);
        } else {
            array_print_indent(depth + 1);
        }
        element->print(element, depth + 1);
        std::fputs(",\n", stdout);
    }
    if (a->used != 1) {
        array_print_indent(depth + 1);
        std::printf("# %zd\n", static_cast<ssize_t>(a->used));
    }
    array_print_indent(depth);
    std::fputc(')', stdout);
    return 0;
}

}  // extern "C"

}  // namespace hx
