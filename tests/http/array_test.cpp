// The HTTP server's key/value arrays: the caseless key index against a
// std::map, merging of duplicate keys per kind, index keys, reuse of reset
// elements, and the element kinds' copy and reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "http/array.h"
#include "http/http_test_util.h"

namespace hx::test {
namespace {

data_string* NewString(const std::string& key, const std::string& value) {
    data_string* ds = data_string_init();
    buffer_copy_string_len(ds->key, key.data(), key.size());
    buffer_copy_string_len(ds->value, value.data(), value.size());
    return ds;
}

data_string* NewResponseHeader(const std::string& key, const std::string& value) {
    data_string* ds = data_response_init();
    buffer_copy_string_len(ds->key, key.data(), key.size());
    buffer_copy_string_len(ds->value, value.data(), value.size());
    return ds;
}

data_integer* NewInteger(const std::string& key, int value) {
    data_integer* di = data_integer_init();
    buffer_copy_string_len(di->key, key.data(), key.size());
    di->value = value;
    return di;
}

std::vector<std::string> KeysInSortedOrder(const array* a) {
    std::vector<std::string> keys;
    for (size_t i = 0; i < a->used; ++i) {
        keys.push_back(KeyOf(a->data[a->sorted[i]]));
    }
    return keys;
}

// The order the server's keys follow: ASCII letters folded to lower case,
// bytes unsigned, a prefix before the longer key.
struct CaselessLess {
    static unsigned char Fold(char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
    }
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return Fold(x) < Fold(y); });
    }
};

std::string ChangeCase(std::string key, std::mt19937& random) {
    for (char& c : key) {
        if (random() % 2 == 0 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
            c = static_cast<char>(c ^ 0x20);
        }
    }
    return key;
}

TEST(ArrayKeyIndex, AgreesWithACaselessMapOverRandomKeysAndResets) {
    std::mt19937 random(20261211);
    // Letters of both cases, digits, and the bytes between 'Z' and 'a' whose
    // order folding changes; short keys so that many collide.
    const std::string alphabet = "abcABCxyzXYZ019-_[`\xc3";
    auto randomKey = [&] {
        std::string key;
        const size_t length = 1 + random() % 4;
        for (size_t i = 0; i < length; ++i) {
            key += alphabet[random() % alphabet.size()];
        }
        return key;
    };

    ArrayPtr a(array_init());
    std::map<std::string, std::string, CaselessLess> model;
    for (int round = 0; round < 40; ++round) {
        const int inserts = static_cast<int>(random() % 300);
        for (int i = 0; i < inserts; ++i) {
            const std::string key = randomKey();
            const std::string value = std::to_string(i);
            auto* element = static_cast<data_string*>(array_get_unused_element(a.get(), TYPE_STRING));
            if (element == nullptr) {
                element = data_string_init();
            }
            buffer_copy_string_len(element->key, key.data(), key.size());
            buffer_copy_string_len(element->value, value.data(), value.size());
            ASSERT_EQ(array_insert_unique(a.get(), element), 0);

            auto [it, inserted] = model.try_emplace(key, value);
            if (!inserted) {
                it->second += ", " + value;
            }
            ASSERT_EQ(a->used, model.size());
        }

        std::vector<std::string> expectedKeys;
        for (const auto& [key, value] : model) {
            expectedKeys.push_back(key);
        }
        ASSERT_EQ(KeysInSortedOrder(a.get()), expectedKeys) << "round " << round;

        for (int probe = 0; probe < 200; ++probe) {
            const std::string key = ChangeCase(randomKey(), random);
            const data_unset* found = array_get_element(a.get(), key.c_str());
            const auto it = model.find(key);
            if (it == model.end()) {
                EXPECT_EQ(found, nullptr) << key;
            } else {
                ASSERT_NE(found, nullptr) << key;
                EXPECT_EQ(KeyOf(found), it->first);
                EXPECT_EQ(StringValue(found), it->second);
            }
        }

        if (random() % 3 != 0) {
            array_reset(a.get());
            model.clear();
            EXPECT_EQ(array_get_element(a.get(), "a"), nullptr);
        }
    }
}

TEST(Array, SameKeyInAnotherCaseMergesStrings) {
    ArrayPtr a(array_init());
    array_insert_unique(a.get(), NewString("Host", "a"));
    array_insert_unique(a.get(), NewString("host", "b"));
    array_insert_unique(a.get(), NewString("HOST", "c"));
    ASSERT_EQ(a->used, 1U);
    const data_unset* host = array_get_element(a.get(), "hOsT");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(KeyOf(host), "Host");
    EXPECT_EQ(StringValue(host), "a, b, c");

    // An empty first value takes the second as it is.
    array_insert_unique(a.get(), NewString("Accept", ""));
    array_insert_unique(a.get(), NewString("accept", "x"));
    EXPECT_EQ(StringValue(array_get_element(a.get(), "ACCEPT")), "x");
}

TEST(Array, ResponseHeaderDuplicateBecomesASecondLine) {
    ArrayPtr a(array_init());
    array_insert_unique(a.get(), NewResponseHeader("Set-Cookie", "a=1"));
    array_insert_unique(a.get(), NewResponseHeader("set-cookie", "b=2"));
    ASSERT_EQ(a->used, 1U);
    EXPECT_EQ(StringValue(a->data[0]), "a=1\r\nSet-Cookie: b=2");
}

TEST(Array, IndexKeysCountOnlyUnkeyedElements) {
    ArrayPtr a(array_init());
    array_insert_unique(a.get(), NewString("", "first"));
    array_insert_unique(a.get(), NewString("x", "keyed"));
    array_insert_unique(a.get(), NewString("", "second"));
    array_insert_unique(a.get(), NewString("y", "keyed"));
    array_insert_unique(a.get(), NewString("z", "keyed"));
    array_insert_unique(a.get(), NewString("", "third"));
    EXPECT_EQ(StringValue(array_get_element(a.get(), "0")), "first");
    EXPECT_EQ(StringValue(array_get_element(a.get(), "1")), "second");
    EXPECT_EQ(StringValue(array_get_element(a.get(), "2")), "third");
    EXPECT_EQ(a->unique_ndx, 3U);
    EXPECT_TRUE(a->data[5]->is_index_key);
    EXPECT_FALSE(a->data[4]->is_index_key);
    // A copied list element keeps being numbered by the array it goes into.
    data_unset* copy = a->data[0]->copy(a->data[0]);
    array_insert_unique(a.get(), copy);
    EXPECT_EQ(KeyOf(copy), "3");
}

TEST(Array, ResetElementsAreHandedOutAgain) {
    ArrayPtr a(array_init());
    array_insert_unique(a.get(), NewString("a", "1"));
    data_integer* integer = NewInteger("b", 2);
    array_insert_unique(a.get(), integer);
    array_insert_unique(a.get(), NewString("c", "3"));
    data_unset* first = a->data[0];
    array_reset(a.get());
    EXPECT_EQ(a->used, 0U);

    EXPECT_EQ(array_get_unused_element(a.get(), TYPE_COUNT), nullptr);
    data_unset* reused = array_get_unused_element(a.get(), TYPE_INTEGER);
    ASSERT_EQ(reused, integer);
    EXPECT_TRUE(buffer_is_empty(reused->key));
    EXPECT_EQ(integer->value, 0);
    // The element of slot `used` moved into the slot handed out.
    EXPECT_EQ(a->data[0], nullptr);
    EXPECT_EQ(a->data[1], first);

    data_unset* string = array_get_unused_element(a.get(), TYPE_STRING);
    ASSERT_NE(string, nullptr);
    EXPECT_TRUE(buffer_is_empty(string->key));
    EXPECT_TRUE(buffer_is_empty(static_cast<data_string*>(string)->value));
    string->free(string);
    reused->free(reused);
    // The last spare string is released when its slot is filled anew.
    array_insert_unique(a.get(), NewString("d", "4"));
    array_insert_unique(a.get(), NewString("e", "5"));
    array_insert_unique(a.get(), NewString("f", "6"));
    EXPECT_EQ(a->used, 3U);
}

TEST(Array, ReusedIndexElementTakesTheKeyItIsGiven) {
    ArrayPtr a(array_init());
    array_insert_unique(a.get(), NewString("", "listed"));
    array_reset(a.get());
    auto* element = static_cast<data_string*>(array_get_unused_element(a.get(), TYPE_STRING));
    ASSERT_NE(element, nullptr);
    buffer_copy_string(element->key, "Host");
    buffer_copy_string(element->value, "card");
    array_insert_unique(a.get(), element);
    EXPECT_EQ(StringValue(array_get_element(a.get(), "host")), "card");
}

TEST(Array, ReplaceHandsBackTheOldElement) {
    ArrayPtr a(array_init());
    data_string* old = NewString("k", "old");
    array_insert_unique(a.get(), old);
    data_unset* replaced = array_replace(a.get(), NewString("K", "new"));
    EXPECT_EQ(replaced, old);
    replaced->free(replaced);
    EXPECT_EQ(StringValue(array_get_element(a.get(), "k")), "new");
    EXPECT_EQ(array_replace(a.get(), NewString("other", "x")), nullptr);
    EXPECT_EQ(a->used, 2U);
}

TEST(Array, PopTakesTheLastElement) {
    ArrayPtr a(array_init());
    array_insert_unique(a.get(), NewString("a", "1"));
    array_insert_unique(a.get(), NewString("ab", "2"));
    data_unset* popped = array_pop(a.get());
    EXPECT_EQ(KeyOf(popped), "ab");
    EXPECT_EQ(a->used, 1U);
    EXPECT_EQ(a->data[1], nullptr);
    popped->free(popped);
}

TEST(Array, SetKeyValueUpdatesOrCreatesAString) {
    ArrayPtr a(array_init());
    EXPECT_EQ(array_set_key_value(a.get(), "Content-Typexx", 12, "text/html", 9), 0);
    EXPECT_EQ(array_set_key_value(a.get(), "content-type", 12, "text/plainxx", 10), 0);
    ASSERT_EQ(a->used, 1U);
    EXPECT_EQ(KeyOf(a->data[0]), "Content-Type");
    EXPECT_EQ(StringValue(a->data[0]), "text/plain");

    data_unset* spare = a->data[0];
    array_reset(a.get());
    EXPECT_EQ(array_set_key_value(a.get(), "Server", 6, "card", 4), 0);
    EXPECT_EQ(a->data[0], spare);
    EXPECT_EQ(StringValue(array_get_element(a.get(), "server")), "card");

    array_insert_unique(a.get(), NewInteger("n", 1));
    EXPECT_EQ(array_set_key_value(a.get(), "n", 1, "x", 1), -1);
}

TEST(Array, DeepCopyOwnsEverythingIncludingSpareSlots) {
    ArrayPtr a(array_init());
    for (int i = 0; i < 20; ++i) {
        array_insert_unique(a.get(), NewString("key" + std::to_string(i), std::to_string(i)));
    }
    data_array* nested = data_array_init();
    buffer_copy_string(nested->key, "nested");
    array_insert_unique(nested->value, NewString("", "inner"));
    array_insert_unique(a.get(), nested);
    array_reset(a.get());
    for (int i = 0; i < 5; ++i) {
        array_insert_unique(a.get(), NewString("k" + std::to_string(i), std::to_string(i)));
    }

    ArrayPtr copy(array_init_array(a.get()));
    EXPECT_EQ(copy->used, a->used);
    EXPECT_EQ(copy->size, a->size);
    EXPECT_EQ(copy->next_power_of_2, a->next_power_of_2);
    EXPECT_EQ(KeysInSortedOrder(copy.get()), KeysInSortedOrder(a.get()));
    for (size_t i = 0; i < a->size; ++i) {
        EXPECT_EQ(copy->data[i] == nullptr, a->data[i] == nullptr) << i;
        EXPECT_TRUE(copy->data[i] == nullptr || copy->data[i] != a->data[i]) << i;
    }
    buffer_copy_string(static_cast<data_string*>(array_get_element(a.get(), "k3"))->value, "changed");
    EXPECT_EQ(StringValue(array_get_element(copy.get(), "K3")), "3");
}

TEST(Array, WeakArrayLeavesItsElementsAlone) {
    ArrayPtr owner(array_init());
    ArrayPtr weak(array_init());
    weak->is_weakref = 1;
    data_string* element = NewString("a", "value");
    array_insert_unique(owner.get(), element);
    array_insert_unique(weak.get(), element);
    array_reset(weak.get());
    EXPECT_EQ(StringValue(element), "value");
    EXPECT_EQ(array_get_unused_element(weak.get(), TYPE_STRING), nullptr);
    // Filling the slot again must not release the owner's element.
    data_string* other = NewString("b", "x");
    array_insert_unique(owner.get(), other);
    array_insert_unique(weak.get(), other);
    EXPECT_EQ(StringValue(element), "value");
}

TEST(DataKinds, CopyResetAndMerge) {
    data_count* count = data_count_init();
    EXPECT_EQ(count->count, 1);
    buffer_copy_string(count->key, "hits");
    count->count = 4;
    auto* countCopy = static_cast<data_count*>(count->copy(count));
    EXPECT_EQ(KeyOf(countCopy), "hits");
    EXPECT_EQ(countCopy->count, 4);
    ArrayPtr counters(array_init());
    array_insert_unique(counters.get(), count);
    array_insert_unique(counters.get(), countCopy);
    array_insert_unique(counters.get(), data_count_init());  // keyed "0"
    EXPECT_EQ(static_cast<data_count*>(array_get_element(counters.get(), "HITS"))->count, 8);

    ArrayPtr integers(array_init());
    array_insert_unique(integers.get(), NewInteger("n", 1));
    array_insert_unique(integers.get(), NewInteger("N", 2));
    EXPECT_EQ(static_cast<data_integer*>(array_get_element(integers.get(), "n"))->value, 1);

    data_fastcgi* backend = data_fastcgi_init();
    buffer_copy_string(backend->key, "php");
    buffer_copy_string(backend->host, "127.0.0.1");
    backend->port = 9000;
    auto* backendCopy = static_cast<data_fastcgi*>(backend->copy(backend));
    EXPECT_EQ(Text(backendCopy->host), "127.0.0.1");
    backend->reset(backend);
    EXPECT_TRUE(buffer_is_empty(backend->key));
    EXPECT_TRUE(buffer_is_empty(backend->host));
    backend->free(backend);
    backendCopy->free(backendCopy);

    data_config* block = data_config_init();
    buffer_copy_string(block->key, "HTTP[\"host\"] == \"x\"");
    buffer_copy_string(block->comp_key, "HTTP[\"host\"]");
    buffer_copy_string(block->op, "==");
    block->string = buffer_init_string("x");
    array_insert_unique(block->value, NewString("server.name", "x"));
    auto* blockCopy = static_cast<data_config*>(block->copy(block));
    EXPECT_EQ(KeyOf(blockCopy), KeyOf(block));
    EXPECT_EQ(Text(blockCopy->comp_key), "HTTP[\"host\"]");
    EXPECT_EQ(StringValue(array_get_element(blockCopy->value, "server.name")), "x");
    EXPECT_TRUE(buffer_is_empty(blockCopy->op));  // only key, condition and settings are copied
    EXPECT_EQ(blockCopy->string, nullptr);
    blockCopy->free(blockCopy);
    block->free(block);

    data_string* header = NewResponseHeader("Vary", "a");
    data_unset* headerCopy = header->copy(header);
    EXPECT_EQ(headerCopy->insert_dup, header->insert_dup);
    headerCopy->free(headerCopy);
    header->free(header);
}

TEST(ArrayDeathTest, BrokenPreconditionsEndTheProcess) {
    ArrayPtr a(array_init());
    EXPECT_DEATH(array_pop(a.get()), "array.cpp.[0-9]+: assertion failed: a->used != 0");
    EXPECT_DEATH(array_replace(a.get(), nullptr), "assertion failed: NULL != du");
    array_insert_unique(a.get(), NewString("k", "v"));
    EXPECT_DEATH(array_insert_unique(a.get(), NewInteger("K", 1)), "array.cpp.[0-9]+: aborted");
}

TEST(ArrayPrint, ShortListsOnOneLineOthersAligned) {
    ArrayPtr list(array_init());
    array_insert_unique(list.get(), NewString("", "a\"b"));
    array_insert_unique(list.get(), NewInteger("", 7));
    array_insert_unique(list.get(), data_count_init());
    ::testing::internal::CaptureStdout();
    array_print(list.get(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "(\"a\\\"b\", 7, count(1))");

    ArrayPtr map(array_init());
    array_insert_unique(map.get(), NewString("x", ""));
    array_insert_unique(map.get(), NewInteger("long", 2));
    ::testing::internal::CaptureStdout();
    array_print(map.get(), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "(\n"
              "        \"x\"    => \"\",\n"
              "        \"long\" => 2,\n"
              "        # 2\n"
              "    )");
}

}  // namespace
}  // namespace hx::test
