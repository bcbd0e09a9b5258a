// The writers of outgoing chunk queues, on real descriptors (pipes,
// socketpairs, loopback TCP) and real files in a temporary data root: the
// 512 KiB file windows, both back ends giving the same bytes, the rate
// limits, a file cut short while it is sent, and the peer going away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/errorlog_lines.h"
#include "http/chunk.h"
#include "http/connections.h"
#include "http/http_test_util.h"
#include "http/response_test_util.h"
#include "http/network.h"
#include "http/stat_cache.h"
#include "support/test_env.h"

namespace hx {

namespace {

using network_back_end = int (*)(server*, connection*, int, chunkqueue*, http_off_t);

struct BackEnd {
    const char* name;
    network_back_end write;
};
const BackEnd kBackEnds[] = {
    {"writev", network_write_chunkqueue_writev},
    {"write", network_write_chunkqueue_write},
};

// A server whose error log is a memory file, its stat cache, and one
// connection record.
class WriterTest : public testing::Test {
protected:
    void SetUp() override {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", MFD_CLOEXEC);
        srv_->errorlog_mode = ERRORLOG_FD;
        srv_->stat_cache = stat_cache_init();
        // The connection table owns the record and frees it with the server.
        con_ = connection_init(srv_);
        srv_->conns->ptr = static_cast<connection**>(std::calloc(1, sizeof(connection*)));
        srv_->conns->ptr[0] = con_;
        srv_->conns->size = 1;
    }
    void TearDown() override {
        con_->fd = -1;
        connections_free(srv_);
        for (int fd : open_) {
            close(fd);
        }
        EXPECT_EQ(TakeLog(), "") << "unexpected error log lines";
        close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
    }

    std::string TakeLog() { return test::TakeWholeLog(srv_->errorlog_fd); }

    // A file of `size` bytes whose byte i is Pattern(i).
    std::string MakeFile(const std::string& name, size_t size) {
        const std::string path = (env_.root() / name).string();
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = Pattern(i);
        }
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static char Pattern(size_t i) { return static_cast<char>('a' + (i * 7 + i / 251) % 26); }

    // Descriptors closed at the end of the test.
    int Keep(int fd) {
        open_.push_back(fd);
        return fd;
    }
    // A pipe that holds 1 MiB, so a whole 512 KiB window fits in one write.
    void BigPipe(int* read_end, int* write_end) {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        *read_end = Keep(ends[0]);
        *write_end = Keep(ends[1]);
        ASSERT_GE(fcntl(*write_end, F_SETPIPE_SZ, 1 << 20), 1 << 20);
    }
    void SocketPair(int* local, int* peer) {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends), 0);
        *local = Keep(ends[0]);
        *peer = Keep(ends[1]);
    }
    // Everything readable now, without waiting.
    static std::string Drain(int fd) {
        std::string text;
        char block[65536];
        ssize_t got;
        while ((got = read(fd, block, sizeof block)) > 0) {
            text.append(block, static_cast<size_t>(got));
        }
        return text;
    }

    void AppendFile(const std::string& path, http_off_t start, http_off_t length) {
        buffer* name = buffer_init_string(path.c_str());
        chunkqueue_append_file(con_->write_queue, name, start, length);
        buffer_free(name);
    }
    void AppendText(const std::string& text) {
        chunkqueue_append_mem(con_->write_queue, text.data(), text.size() + 1);
    }

    test::TestEnvironment env_;
    server* srv_ = nullptr;
    connection* con_ = nullptr;
    std::vector<int> open_;
};

// A file chunk goes out window by window: each call of the vector back end
// ends at a 512 KiB boundary of the file, however much the descriptor would
// take, or earlier at the byte limit.
TEST_F(WriterTest, FileChunksAreSentInWindowsOf512KiB) {
    const struct {
        const char* what;
        http_off_t start;
        http_off_t length;
        http_off_t max_bytes;
        std::vector<http_off_t> pieces;    // bytes per call
        std::vector<http_off_t> windows;  // window offset seen after each call but the last
    } cases[] = {
        {"whole file", 0, 1200000, INT32_MAX, {524288, 524288, 151424}, {0, 524288}},
        {"range inside", 600000, 500000, INT32_MAX, {448576, 51424}, {524288}},
        {"byte limit", 0, 600000, 200000, {200000, 200000, 124288, 75712}, {0, 0, 0}},
    };
    const std::string path = MakeFile("export.bin", 1200000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int reader, writer;
        BigPipe(&reader, &writer);
        AppendFile(path, c.start, c.length);
        chunk* file = con_->write_queue->first;
        std::string received;
        for (size_t call = 0; call < c.pieces.size(); ++call) {
            ASSERT_EQ(network_write_chunkqueue_writev(srv_, con_, writer, con_->write_queue, c.max_bytes), 0);
            const std::string piece = Drain(reader);
            EXPECT_EQ(static_cast<http_off_t>(piece.size()), c.pieces[call]) << "call " << call;
            if (call + 1 < c.pieces.size()) {
                EXPECT_EQ(file->file.mmap.offset, c.windows[call]) << "call " << call;
            }
            received += piece;
        }
        EXPECT_EQ(file->offset, c.length);
        EXPECT_EQ(con_->write_queue->bytes_out, c.length);
        std::string expected(static_cast<size_t>(c.length), '\0');
        for (size_t i = 0; i < expected.size(); ++i) {
            expected[i] = Pattern(static_cast<size_t>(c.start) + i);
        }
        EXPECT_TRUE(received == expected) << "the bytes differ";
        chunkqueue_reset(con_->write_queue);
    }
}

// The same queue through either back end, to completion over a socketpair:
// identical bytes, in order, with the consumed parts of chunks skipped.
TEST_F(WriterTest, BothBackEndsSendTheSameBytes) {
    const std::string path = MakeFile("page.bin", 70000);
    const auto fill = [&](std::string* expected) {
        chunkqueue* cq = con_->write_queue;
        AppendText("HTTP/1.1 200 OK\r\n\r\n");
        *expected = "HTTP/1.1 200 OK\r\n\r\n";
        chunkqueue_append_buffer_weak(cq, buffer_init());  // empty
        AppendText("already sent|rest");
        cq->last->offset = 13;
        *expected += "rest";
        AppendFile(path, 10, 5000);
        AppendFile(path, 0, 70000);
        for (size_t i = 0; i < 5000; ++i) {
            *expected += Pattern(10 + i);
        }
        for (size_t i = 0; i < 70000; ++i) {
            *expected += Pattern(i);
        }
        // More memory chunks than one vector write takes.
        for (int i = 0; i < 2500; ++i) {
            const std::string line = std::to_string(i) + ",";
            AppendText(line);
            *expected += line;
        }
        chunkqueue_append_buffer_weak(cq, buffer_init());
        AppendText("end");
        *expected += "end";
    };

    std::vector<std::string> sent;
    for (const BackEnd& back_end : kBackEnds) {
        SCOPED_TRACE(back_end.name);
        srv_->network_backend_write = back_end.write;
        int peer;
        SocketPair(&con_->fd, &peer);
        std::string expected;
        fill(&expected);
        std::string received;
        int result = 1;
        for (int round = 0; round < 10000 && result == 1; ++round) {
            result = network_write_chunkqueue(srv_, con_, con_->write_queue, 256 * 1024);
            received += Drain(peer);
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(chunkqueue_is_empty(con_->write_queue));
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected) << "the bytes differ";
        EXPECT_EQ(con_->bytes_written, static_cast<http_off_t>(expected.size()));
        sent.push_back(received);
        chunkqueue_reset(con_->write_queue);
        con_->bytes_written = 0;
        con_->bytes_written_cur_second = 0;
    }
    EXPECT_TRUE(sent[0] == sent[1]);
}

// The byte limit cuts the vector write inside a chunk; the next call goes on
// from there.
TEST_F(WriterTest, ByteLimitCutsInsideAChunk) {
    for (const BackEnd& back_end : kBackEnds) {
        SCOPED_TRACE(back_end.name);
        int peer;
        SocketPair(&con_->fd, &peer);
        AppendText("abcd");
        AppendText("efgh");
        AppendText("ijkl");
        EXPECT_EQ(back_end.write(srv_, con_, con_->fd, con_->write_queue, 10), 0);
        EXPECT_EQ(Drain(peer), "abcdefghij");
        EXPECT_EQ(con_->write_queue->last->offset, 2);
        EXPECT_EQ(back_end.write(srv_, con_, con_->fd, con_->write_queue, 100), 0);
        EXPECT_EQ(Drain(peer), "kl");
        EXPECT_EQ(con_->write_queue->bytes_out, 12);
        chunkqueue_reset(con_->write_queue);
    }
}

// kbytes_per_second caps what one second may carry, per connection and per
// configuration block (a counter shared by its connections). With nothing
// left the call writes nothing, flags the connection and queues it on the
// job list; with some room left it writes just that much.
TEST_F(WriterTest, RateLimits) {
    const struct {
        const char* what;
        std::uint16_t connection_kbytes;
        std::uint16_t block_kbytes;
        http_off_t written_this_second;
        http_off_t block_counter;
        size_t expect_sent;
        int expect_result;
    } cases[] = {
        {"connection limit used up", 1, 0, 1024, 0, 0, 1},
        {"block limit used up", 0, 1, 0, 1024, 0, 1},
        {"connection limit beyond", 1, 0, 5000, 0, 0, 1},
        {"connection room 24 bytes", 1, 0, 1000, 0, 24, 1},
        {"block room 100 bytes", 0, 1, 0, 924, 100, 1},
        {"both, the smaller room counts", 2, 1, 1000, 1000, 24, 1},
        {"no limits", 0, 0, 999999, 999999, 3000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int peer;
        SocketPair(&con_->fd, &peer);
        http_off_t block_counter = c.block_counter;
        con_->conf.kbytes_per_second = c.connection_kbytes;
        con_->conf.global_kbytes_per_second = c.block_kbytes;
        con_->conf.global_bytes_per_second_cnt_ptr = &block_counter;
        con_->bytes_written_cur_second = c.written_this_second;
        con_->bytes_written = 0;
        con_->traffic_limit_reached = 0;
        con_->in_joblist = 0;
        srv_->joblist->used = 0;
        AppendText(std::string(3000, 'x'));

        EXPECT_EQ(network_write_chunkqueue(srv_, con_, con_->write_queue, 256 * 1024), c.expect_result);
        EXPECT_EQ(Drain(peer).size(), c.expect_sent);
        EXPECT_EQ(con_->bytes_written, static_cast<http_off_t>(c.expect_sent));
        EXPECT_EQ(con_->bytes_written_cur_second, c.written_this_second + static_cast<http_off_t>(c.expect_sent));
        EXPECT_EQ(block_counter, c.block_counter + static_cast<http_off_t>(c.expect_sent));
        const bool limited = c.expect_sent == 0 && c.expect_result == 1;
        EXPECT_EQ(con_->traffic_limit_reached, limited ? 1 : 0);
        EXPECT_EQ(con_->in_joblist, limited ? 1 : 0);
        EXPECT_EQ(srv_->joblist->used, limited ? 1u : 0u);
        chunkqueue_reset(con_->write_queue);
    }
    srv_->joblist->used = 0;
}

// A small file after the header goes out in the header's writev from the
// stat cache's copy of its bytes, with no descriptor opened: the bytes of the
// entry's second, a change on disk from the next second on. A file that
// fails the cache's limits is read as before.
TEST_F(WriterTest, SmallFileRidesWithTheHeaderFromTheStatCache) {
    const struct {
        const char* what;
        size_t size;
        bool kept;
    } cases[] = {
        {"small", 1000, true},
        {"at the limit", static_cast<size_t>(kStatCacheContentMaxFile), true},
        {"budget spent, read each time", static_cast<size_t>(kStatCacheContentMaxFile), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        srv_->srvconf.stat_cache_engine = STAT_CACHE_ENGINE_SIMPLE;
        srv_->cur_ts = 100;
        const std::string path = MakeFile("page.html", c.size);
        if (!c.kept) {
            // Spend the budget on other files of the same size first.
            stat_cache_entry* sce = nullptr;
            for (int i = 0; sce == nullptr || stat_cache_entry_content(srv_, sce) != nullptr; ++i) {
                auto name = test::NewBuffer(MakeFile(std::to_string(i) + ".fill", c.size));
                ASSERT_EQ(stat_cache_get_entry(srv_, con_, name.get(), &sce), HANDLER_GO_ON);
            }
        }
        int local, peer;
        SocketPair(&local, &peer);
        bool kept = c.kept;
        const auto send = [&] {
            AppendText("HTTP/1.1 200 OK\r\n\r\n");
            AppendFile(path, 0, static_cast<http_off_t>(c.size));
            EXPECT_EQ(network_write_chunkqueue_writev(srv_, con_, local, con_->write_queue, INT32_MAX), 0);
            EXPECT_EQ(con_->write_queue->last->file.fd == -1, kept) << "a descriptor only without the copy";
            EXPECT_EQ(con_->write_queue->last->offset, static_cast<http_off_t>(c.size));
            chunkqueue_reset(con_->write_queue);
            std::string received;
            for (std::string piece; !(piece = Drain(peer)).empty();) {
                received += piece;
            }
            return received.substr(received.find("\r\n\r\n") + 4);
        };
        const std::string first = send();
        ASSERT_EQ(first.size(), c.size);
        EXPECT_EQ(first[0], Pattern(0));
        // Rewritten in place, same size: the cached second still sends its
        // bytes; an uncached file is read as it is now.
        std::ofstream(path, std::ios::binary) << std::string(c.size, 'Z');
        EXPECT_EQ(send()[0], c.kept ? Pattern(0) : 'Z');
        srv_->cur_ts = 101;
        EXPECT_EQ(send(), std::string(c.size, 'Z'));
        // The disabled cache keeps no bytes: each send reads the file.
        srv_->srvconf.stat_cache_engine = STAT_CACHE_ENGINE_NONE;
        kept = false;
        std::ofstream(path, std::ios::binary) << std::string(c.size, 'Y');
        EXPECT_EQ(send()[0], 'Y');
        stat_cache_free(srv_->stat_cache);
        srv_->stat_cache = stat_cache_init();
    }
}

// An export rewritten while it is downloaded: the file is cut short between
// two calls. The connection fails with a logged reason; the process (which
// would die of SIGBUS reading a mapping past the new end) goes on.
TEST_F(WriterTest, FileCutShortMidSendFailsTheConnection) {
    const struct {
        const char* what;
        off_t cut_to;
    } cuts[] = {
        {"inside the next window", 600000},
        {"before the position", 100000},
        {"empty", 0},
    };
    for (const BackEnd& back_end : kBackEnds) {
        for (const auto& cut : cuts) {
            SCOPED_TRACE(std::string(back_end.name) + ": " + cut.what);
            const std::string path = MakeFile("export.tar", 1200000);
            int reader, writer;
            BigPipe(&reader, &writer);
            AppendFile(path, 0, 1200000);
            ASSERT_EQ(back_end.write(srv_, con_, writer, con_->write_queue, 524288), 0);
            EXPECT_EQ(Drain(reader).size(), 524288u);

            ASSERT_EQ(truncate(path.c_str(), cut.cut_to), 0);
            EXPECT_EQ(back_end.write(srv_, con_, writer, con_->write_queue, 524288), -1);
            EXPECT_EQ(Drain(reader), "") << "nothing beyond the new end is sent";
            EXPECT_NE(TakeLog().find("file was shrinked: " + path), std::string::npos);
            chunkqueue_reset(con_->write_queue);
        }
    }
}

// Blocks SIGPIPE in this thread while a test writes to a closed peer, then
// takes the pending signal back, so nothing of the process is changed.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeBlocked() {
        const timespec now{};
        while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipe_;
    sigset_t old_;
};

// A vanished peer is -2 (the connection is closed quietly); any other write
// error is -1 with its line; a full socket is no error.
TEST_F(WriterTest, WriteErrors) {
    SigpipeBlocked blocked;
    const std::string path = MakeFile("small.bin", 1000);
    for (const BackEnd& back_end : kBackEnds) {
        for (bool file : {false, true}) {
            SCOPED_TRACE(std::string(back_end.name) + (file ? " file" : " memory"));
            const auto fill = [&] {
                chunkqueue_reset(con_->write_queue);
                if (file) {
                    AppendFile(path, 0, 1000);
                } else {
                    AppendText("response");
                }
            };

            int local, peer;
            SocketPair(&local, &peer);
            close(peer);
            fill();
            EXPECT_EQ(back_end.write(srv_, con_, local, con_->write_queue, 1000), -2) << "EPIPE";

            const int read_only = Keep(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            fill();
            EXPECT_EQ(back_end.write(srv_, con_, read_only, con_->write_queue, 1000), -1) << "EBADF";
            const std::string line = TakeLog();
            const bool vector = back_end.write == network_write_chunkqueue_writev && !file;
            EXPECT_NE(line.find(vector ? "writev failed: Bad file descriptor" : "write failed: Bad file descriptor"),
                      std::string::npos)
                << line;

            // A socket with no room: EAGAIN counts as nothing written.
            int full, full_peer;
            SocketPair(&full, &full_peer);
            const std::string block(65536, 'z');
            while (write(full, block.data(), block.size()) > 0) {
            }
            while (write(full, "z", 1) > 0) {
            }
            fill();
            EXPECT_EQ(back_end.write(srv_, con_, full, con_->write_queue, 1000), 0);
            EXPECT_EQ(con_->write_queue->first->offset, 0);
        }
    }
    chunkqueue_reset(con_->write_queue);
}

// A reset from the peer is -2 like a closed pipe.
TEST_F(WriterTest, ConnectionResetIsPeerClosed) {
    SigpipeBlocked blocked;
    test::LoopbackPair pair;
    ASSERT_GE(pair.server_side, 0);
    const int client = pair.client;
    // Closing with unread input makes the kernel answer with a reset.
    ASSERT_EQ(write(client, "GET", 3), 3);
    const linger abort_close{1, 0};
    setsockopt(pair.server_side, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    close(pair.server_side);
    pair.server_side = -1;
    char byte;
    while (recv(client, &byte, 1, 0) > 0) {
    }
    for (const BackEnd& back_end : kBackEnds) {
        SCOPED_TRACE(back_end.name);
        AppendText("reply");
        EXPECT_EQ(back_end.write(srv_, con_, client, con_->write_queue, 1000), -2);
        chunkqueue_reset(con_->write_queue);
    }
}

// Over TCP a queue that takes more than one system call (a header and a
// file too big to ride in the header's vector write) is corked while it is
// written and uncorked afterwards, so the last partial segment is not held
// back.
TEST_F(WriterTest, CorkIsReleasedAfterAMultiChunkSend) {
    test::LoopbackPair pair;
    ASSERT_GE(pair.server_side, 0);
    con_->fd = pair.server_side;
    const size_t file_size = 100000;
    const std::string path = MakeFile("body.bin", file_size);
    AppendText("HTTP/1.1 200 OK\r\n\r\n");
    AppendFile(path, 0, static_cast<http_off_t>(file_size));
    EXPECT_EQ(network_write_chunkqueue(srv_, con_, con_->write_queue, 256 * 1024), 0);
    int cork = -1;
    socklen_t length = sizeof cork;
    ASSERT_EQ(getsockopt(con_->fd, IPPROTO_TCP, TCP_CORK, &cork, &length), 0);
    EXPECT_EQ(cork, 0);
    std::string expected = "HTTP/1.1 200 OK\r\n\r\n";
    for (size_t i = 0; i < file_size; ++i) {
        expected += Pattern(i);
    }
    std::string received(expected.size(), '\0');
    ASSERT_EQ(recv(pair.client, received.data(), received.size(), MSG_WAITALL),
              static_cast<ssize_t>(expected.size()));
    EXPECT_TRUE(received == expected) << "the bytes differ";
}

TEST_F(WriterTest, RefusedQueues) {
    int peer;
    SocketPair(&con_->fd, &peer);

    // A chunk of no known kind.
    for (const BackEnd& back_end : kBackEnds) {
        AppendText("x");
        con_->write_queue->first->type = UNUSED_CHUNK;
        EXPECT_EQ(back_end.write(srv_, con_, con_->fd, con_->write_queue, 100), -1);
        EXPECT_NE(TakeLog().find("0 type not known"), std::string::npos);
        con_->write_queue->first->type = MEM_CHUNK;
        chunkqueue_reset(con_->write_queue);
    }

    // A file that is gone.
    AppendFile((env_.root() / "missing").string(), 0, 10);
    EXPECT_EQ(network_write_chunkqueue(srv_, con_, con_->write_queue, 100), -1);
    EXPECT_NE(TakeLog().find("No such file or directory " + (env_.root() / "missing").string()), std::string::npos);
    chunkqueue_reset(con_->write_queue);

    // A TLS listener has no writer here.
    server_socket tls{};
    tls.is_ssl = 1;
    con_->srv_socket = &tls;
    AppendText("x");
    EXPECT_EQ(network_write_chunkqueue(srv_, con_, con_->write_queue, 100), -1);
    EXPECT_EQ(Drain(peer), "");
    con_->srv_socket = nullptr;
    chunkqueue_reset(con_->write_queue);
}

}  // namespace
}  // namespace hx
