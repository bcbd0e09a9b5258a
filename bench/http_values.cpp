// Speed of the HTTP server's value types where every request pays:
// rebuilding the request-header array of a kept-alive connection (reset
// elements handed out again, so no allocation once warm), and the text
// encoder, whose cost must grow with the bytes and nothing else.
//
// Allocations are counted by wrapping the C allocator of this program: the
// values allocate through malloc, calloc and realloc. Sanitizer builds keep
// their own allocator and report no count.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "http/http_base.h"

namespace {

std::atomic<std::uint64_t> g_allocations{0};

}  // namespace

#if !defined(HX_SANITIZED)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* ptr, std::size_t size);
void __libc_free(void* ptr);

void* malloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* ptr, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(ptr, size);
}
void free(void* ptr) {
    __libc_free(ptr);
}
}  // extern "C"
constexpr bool kCountsAllocations = true;
#else
constexpr bool kCountsAllocations = false;
#endif

namespace {

// A browser's POST to the web application: 20 header lines.
const std::vector<std::pair<std::string, std::string>>& RequestHeaders() {
    static const std::vector<std::pair<std::string, std::string>> headers = {
        {"Host", "192.168.1.20"},
        {"Connection", "keep-alive"},
        {"Content-Length", "57"},
        {"Accept", "application/json, text/javascript, */*; q=0.01"},
        {"X-Requested-With", "XMLHttpRequest"},
        {"User-Agent", "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36"},
        {"Content-Type", "application/json; charset=UTF-8"},
        {"Origin", "http://192.168.1.20"},
        {"Referer", "http://192.168.1.20/index.html"},
        {"Accept-Encoding", "gzip, deflate"},
        {"Accept-Language", "en-US,en;q=0.9,zh-CN;q=0.8"},
        {"Cookie", "session=4f1c2a9e; lang=en"},
        {"Cache-Control", "no-cache"},
        {"Pragma", "no-cache"},
        {"DNT", "1"},
        {"Sec-GPC", "1"},
        {"If-Modified-Since", "Fri, 11 Dec 2026 00:00:00 GMT"},
        {"If-None-Match", "\"1234-5678\""},
        {"Upgrade-Insecure-Requests", "1"},
        {"X-Forwarded-For", "10.0.0.7"},
    };
    return headers;
}

void RebuildHeaders(hx::array* headers) {
    hx::array_reset(headers);
    for (const auto& [name, value] : RequestHeaders()) {
        auto* element = static_cast<hx::data_string*>(hx::array_get_unused_element(headers, hx::TYPE_STRING));
        if (element == nullptr) {
            element = hx::data_string_init();
        }
        hx::buffer_copy_string_len(element->key, name.data(), name.size());
        hx::buffer_copy_string_len(element->value, value.data(), value.size());
        hx::array_insert_unique(headers, element);
    }
}

void BM_RebuildRequestHeaders(benchmark::State& state) {
    const std::uint64_t start = g_allocations.load(std::memory_order_relaxed);
    hx::array* headers = hx::array_init();
    RebuildHeaders(headers);  // warm-up: the elements and their storage
    RebuildHeaders(headers);
    const std::uint64_t before = g_allocations.load(std::memory_order_relaxed);
    if (kCountsAllocations && before == start) {
        state.SkipWithError("the allocation count does not see the warm-up's allocations");
    }
    for (auto _ : state) {
        RebuildHeaders(headers);
        benchmark::DoNotOptimize(headers->data);
    }
    const std::uint64_t allocations = g_allocations.load(std::memory_order_relaxed) - before;
    if (kCountsAllocations) {
        state.counters["allocs_per_rebuild"] =
            static_cast<double>(allocations) / static_cast<double>(state.iterations());
        if (allocations != 0) {
            state.SkipWithError("the request-header array allocated after warm-up");
        }
    }
    if (hx::array_get_element(headers, "user-agent") == nullptr || headers->used != RequestHeaders().size()) {
        state.SkipWithError("the rebuilt array lost a header");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    hx::array_free(headers);
}
BENCHMARK(BM_RebuildRequestHeaders);

// Path text with a realistic share of bytes to escape (spaces, non-ASCII).
std::string EncoderInput(std::int64_t size) {
    std::mt19937 random(20261211);
    const std::string pool = "abcdefghijklmnopqrstuvwxyz0123456789/._- %\xe4\xb8\xad";
    std::string input(static_cast<std::size_t>(size), ' ');
    for (char& c : input) {
        c = pool[random() % pool.size()];
    }
    return input;
}

void BM_AppendStringEncoded(benchmark::State& state) {
    const std::string input = EncoderInput(state.range(0));
    hx::buffer* out = hx::buffer_init();
    for (auto _ : state) {
        // Keeps the storage of the previous round, so the encoding is measured.
        hx::buffer_copy_string_len(out, "", 0);
        hx::buffer_append_string_encoded(out, input.data(), input.size(), hx::ENCODING_REL_URI);
        benchmark::DoNotOptimize(out->ptr);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.SetComplexityN(state.range(0));
    hx::buffer_free(out);
}
BENCHMARK(BM_AppendStringEncoded)->RangeMultiplier(4)->Range(64, 256 << 10)->Complexity(benchmark::oN);

}  // namespace
