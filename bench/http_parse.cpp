// Speed of reading a request header: the parser on a browser's request
// (goal: at least 500,000 parses per second) and on headers growing in size
// (time linear in the header bytes), and the search for the header's end
// while a header of up to 64 KiB arrives one byte per read (time per byte
// flat: each byte is looked at once, whatever the header's length).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/connections.h"
#include "http/header_end.h"
#include "http/request.h"

namespace {

using namespace hx;

// A connection of the server's own kind, its header array emptied between
// requests as on a kept-alive connection; released with the server's table.
class BenchConnection {
public:
    explicit BenchConnection(server* srv) : srv_(srv), con_(connection_init(srv)) {
        con_->request_count = 1;
        con_->conf.allow_http11 = 1;  // the default, without a configuration read
    }
    ~BenchConnection() {
        std::free(srv_->conns->ptr);
        srv_->conns->ptr = static_cast<connection**>(std::calloc(1, sizeof(connection*)));
        srv_->conns->ptr[0] = con_;
        srv_->conns->size = 1;
        srv_->conns->used = 0;
        connections_free(srv_);
    }
    BenchConnection(const BenchConnection&) = delete;
    BenchConnection& operator=(const BenchConnection&) = delete;

    connection* Next(const std::string& raw) {
        array_reset(con_->request.headers);
        con_->http_status = 0;
        con_->keep_alive = 0;
        buffer_copy_string_len(con_->request.request, raw.data(), raw.size());
        return con_;
    }

private:
    server* srv_;
    connection* con_;
};

// A browser fetching a page from the card: the request line and 10 headers.
const std::string& BrowserRequest() {
    static const std::string request =
        "GET /index.html HTTP/1.1\r\n"
        "Host: 192.168.1.20\r\n"
        "Connection: keep-alive\r\n"
        "Cache-Control: max-age=0\r\n"
        "Upgrade-Insecure-Requests: 1\r\n"
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 "
        "Safari/537.36\r\n"
        "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8\r\n"
        "Accept-Encoding: gzip, deflate\r\n"
        "Accept-Language: en-US,en;q=0.9,zh-CN;q=0.8\r\n"
        "If-None-Match: \"1234-5678\"\r\n"
        "If-Modified-Since: Fri, 11 Dec 2026 00:00:00 GMT\r\n"
        "\r\n";
    return request;
}

void ParseRounds(benchmark::State& state, const std::string& raw) {
    server* srv = server_init();
    {
        BenchConnection con(srv);
        for (auto _ : state) {
            connection* c = con.Next(raw);
            benchmark::DoNotOptimize(http_request_parse(srv, c));
            if (c->http_status != 0 || c->keep_alive != 1) {
                state.SkipWithError("the request was refused");
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * raw.size()));
    server_free(srv);
}

void BM_ParseBrowserRequest(benchmark::State& state) {
    ParseRounds(state, BrowserRequest());
}
BENCHMARK(BM_ParseBrowserRequest);

// The browser's request with filler headers up to the given size.
std::string GrownRequest(std::int64_t size) {
    std::string raw = BrowserRequest();
    raw.resize(raw.size() - 2);
    for (int n = 0; static_cast<std::int64_t>(raw.size()) + 2 < size; ++n) {
        raw += "X-Filler-" + std::to_string(n) + ": abcdefghijklmnopqrstuvwxyz0123456789\r\n";
    }
    return raw + "\r\n";
}

void BM_ParseHeaderBytes(benchmark::State& state) {
    ParseRounds(state, GrownRequest(state.range(0)));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseHeaderBytes)->RangeMultiplier(2)->Range(1 << 10, 64 << 10)->Complexity(benchmark::oN);

// A header of the given size arriving one byte per read, into the read
// queue as the connection fills it (4 KiB buffers, a new one when less
// than 1 KiB is free), searched after every byte from where the previous
// search stopped, as the connection does.
void BM_HeaderEndByteByByte(benchmark::State& state) {
    std::string header = GrownRequest(state.range(0));
    chunkqueue* queue = chunkqueue_init();
    for (auto _ : state) {
        chunkqueue_reset(queue);
        http_off_t scanned = 0;
        int matched = 0;
        http_header_end_resume resume{};
        http_off_t found = 0;
        for (char byte : header) {
            buffer* last = queue->last != nullptr ? queue->last->mem : nullptr;
            if (last == nullptr || last->size - last->used < 1024) {
                last = chunkqueue_get_append_buffer(queue);
                buffer_prepare_copy(last, 4096);
            }
            buffer_append_string_len(last, &byte, 1);
            found = http_header_end_find(queue, &scanned, &matched, &resume);
        }
        if (found != static_cast<http_off_t>(header.size())) {
            state.SkipWithError("the header's end was not found where it is");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * header.size()));
    state.counters["sec_per_byte"] = benchmark::Counter(
        static_cast<double>(state.iterations() * header.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetComplexityN(state.range(0));
    chunkqueue_free(queue);
}
BENCHMARK(BM_HeaderEndByteByByte)->RangeMultiplier(2)->Range(4 << 10, 64 << 10)->Complexity(benchmark::oN);

}  // namespace
