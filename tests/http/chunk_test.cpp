// Chunk queues: appending and consuming, the spare-chunk pool, upload
// temporary files (folders, publishing, removal on release) and the chunked
// framing of response bodies, compared byte for byte.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "http/chunk.h"
#include "http/http_base.h"
#include "http/http_chunk.h"
#include "support/test_env.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;

std::string ReadRange(const std::string& path, http_off_t start, http_off_t length) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<size_t>(length), '\0');
    in.seekg(start);
    in.read(bytes.data(), length);
    return bytes.substr(0, static_cast<size_t>(in.gcount()));
}

// The bytes still to be consumed, in queue order, as a writer would send them.
std::string Pending(const chunkqueue* cq) {
    std::string out;
    for (const chunk* c = cq->first; c != nullptr; c = c->next) {
        if (c->type == MEM_CHUNK && c->mem->used > 1) {
            out.append(c->mem->ptr + c->offset, c->mem->used - 1 - static_cast<size_t>(c->offset));
        } else if (c->type == FILE_CHUNK) {
            out += ReadRange(c->file.name->ptr, c->file.start + c->offset, c->file.length - c->offset);
        }
    }
    return out;
}

size_t CountChunks(const chunk* c) {
    size_t count = 0;
    for (; c != nullptr; c = c->next) {
        ++count;
    }
    return count;
}

buffer* Text(const char* text) { return buffer_init_string(text); }

void Consume(chunk* c) {
    c->offset = c->type == MEM_CHUNK ? static_cast<http_off_t>(c->mem->used - 1) : c->file.length;
}

class ChunkQueueTest : public ::testing::Test {
protected:
    void TearDown() override { chunkqueue_free(cq_); }
    chunkqueue* cq_ = chunkqueue_init();
};

TEST_F(ChunkQueueTest, AppendMemCountsTheTerminatingNul) {
    struct Case {
        const char* text;
        size_t len;
        size_t chunks;
        const char* pending;
    };
    for (const Case& c : {Case{"abc", 4, 1, "abc"}, Case{"abc", 0, 0, ""}, Case{"abc", 2, 1, "a"},
                          Case{"", 1, 1, ""}}) {
        chunkqueue* cq = chunkqueue_init();
        EXPECT_EQ(chunkqueue_append_mem(cq, c.text, c.len), 0);
        EXPECT_EQ(CountChunks(cq->first), c.chunks) << c.text << "/" << c.len;
        EXPECT_EQ(Pending(cq), c.pending);
        EXPECT_EQ(chunkqueue_length(cq), static_cast<http_off_t>(std::strlen(c.pending)));
        chunkqueue_free(cq);
    }
}

TEST_F(ChunkQueueTest, BuffersAreCopiedInOrderAndEmptyOnesSkipped) {
    buffer* empty = buffer_init();
    buffer* middle = Text("middle ");
    buffer* front = Text("front ");
    EXPECT_EQ(chunkqueue_append_buffer(cq_, empty), 0);
    EXPECT_TRUE(chunkqueue_is_empty(cq_));
    chunkqueue_append_buffer(cq_, middle);
    chunkqueue_prepend_buffer(cq_, front);
    buffer_copy_string(chunkqueue_get_append_buffer(cq_), "end");
    buffer_copy_string(chunkqueue_get_prepend_buffer(cq_), "> ");
    // The queue holds copies: the callers' buffers are theirs to change.
    buffer_copy_string(middle, "changed");
    EXPECT_EQ(Pending(cq_), "> front middle end");
    EXPECT_EQ(cq_->last->mem->ptr, std::string("end"));
    for (buffer* b : {empty, middle, front}) {
        buffer_free(b);
    }
}

TEST_F(ChunkQueueTest, WeakAppendTakesTheBufferItself) {
    buffer* body = Text("owned");
    buffer* empty = buffer_init();
    chunkqueue_append_buffer_weak(cq_, body);
    chunkqueue_append_buffer_weak(cq_, empty);
    ASSERT_EQ(CountChunks(cq_->first), 2U);
    EXPECT_EQ(cq_->first->mem, body);
    EXPECT_EQ(cq_->last->mem, empty);
    // Consumed and recycled, the chunks keep fresh buffers of their own; the
    // sanitizer build catches a double release when the queue is freed.
    chunkqueue_reset(cq_);
    chunkqueue_append_mem(cq_, "again", 6);
    EXPECT_EQ(Pending(cq_), "again");
}

TEST_F(ChunkQueueTest, LengthCountsConsumedBytesAndWrittenCountsOffsets) {
    const fs::path file = fs::temp_directory_path() / ("hx-chunk-" + std::to_string(getpid()));
    std::ofstream(file) << "0123456789";
    buffer* name = buffer_init_string(file.c_str());
    chunkqueue_append_mem(cq_, "hello", 6);
    EXPECT_EQ(chunkqueue_append_file(cq_, name, 2, 0), 0);  // a zero range adds nothing
    chunkqueue_append_file(cq_, name, 2, 5);
    ASSERT_EQ(CountChunks(cq_->first), 2U);
    EXPECT_EQ(Pending(cq_), "hello23456");
    cq_->first->offset = 3;
    cq_->last->offset = 1;
    EXPECT_EQ(chunkqueue_length(cq_), 10);
    EXPECT_EQ(chunkqueue_written(cq_), 4);
    EXPECT_EQ(Pending(cq_), "lo3456");
    buffer_free(name);
    fs::remove(file);
}

TEST_F(ChunkQueueTest, FinishedChunksBehindAnUnfinishedOneStay) {
    for (const char* text : {"one", "two", "three"}) {
        chunkqueue_append_mem(cq_, text, std::strlen(text) + 1);
    }
    Consume(cq_->first->next);
    Consume(cq_->last);
    chunkqueue_remove_finished_chunks(cq_);
    EXPECT_EQ(CountChunks(cq_->first), 3U);
    EXPECT_EQ(cq_->unused_chunks, 0U);

    Consume(cq_->first);
    chunkqueue_remove_finished_chunks(cq_);
    EXPECT_EQ(cq_->first, nullptr);
    EXPECT_EQ(cq_->last, nullptr);
    EXPECT_EQ(cq_->unused_chunks, 3U);
    EXPECT_EQ(CountChunks(cq_->unused), 3U);
}

TEST_F(ChunkQueueTest, PoolKeepsFiveSpareChunksAndHandsThemOutClean) {
    for (int i = 0; i < 7; ++i) {
        chunkqueue_append_mem(cq_, "x", 2);
    }
    cq_->bytes_in = 7;
    cq_->bytes_out = 3;
    chunkqueue_reset(cq_);
    EXPECT_TRUE(chunkqueue_is_empty(cq_));
    EXPECT_EQ(cq_->bytes_in, 0);
    EXPECT_EQ(cq_->bytes_out, 0);
    EXPECT_EQ(cq_->unused_chunks, kChunkqueueMaxUnused);
    EXPECT_EQ(CountChunks(cq_->unused), kChunkqueueMaxUnused);

    chunk* spare = cq_->unused;
    buffer* name = Text("/nonexistent/file");
    chunkqueue_append_file(cq_, name, 4, 9);
    EXPECT_EQ(cq_->first, spare);
    EXPECT_EQ(cq_->unused_chunks, kChunkqueueMaxUnused - 1);
    EXPECT_EQ(spare->type, FILE_CHUNK);
    EXPECT_EQ(spare->mem->used, 0U);
    EXPECT_EQ(spare->offset, 0);
    EXPECT_EQ(spare->file.fd, -1);
    EXPECT_EQ(spare->file.is_temp, 0);
    EXPECT_EQ(spare->file.mmap.start, static_cast<char*>(MAP_FAILED));
    buffer_free(name);
}

TEST_F(ChunkQueueTest, NullArgumentsAreRefused) {
    EXPECT_EQ(chunkqueue_set_tempdirs(nullptr, nullptr), -1);
    EXPECT_EQ(chunkqueue_set_tempdirs(cq_, nullptr), 0);
    EXPECT_EQ(chunk_reset(nullptr), -1);
    chunk_free(nullptr);
    chunkqueue_free(nullptr);
    EXPECT_EQ(chunkqueue_length(nullptr), 0);
}

// Upload temporary files in a temporary data root.
class UploadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.FailOnUnexpectedErrors();
        folders_ = array_init();
        chunkqueue_set_tempdirs(cq_, folders_);
    }
    void TearDown() override {
        chunkqueue_free(cq_);
        array_free(folders_);
    }
    void AddFolder(const std::string& folder) {
        data_string* ds = data_string_init();
        buffer_copy_string_len(ds->value, folder.data(), folder.size());
        array_insert_unique(folders_, ds);
    }
    static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

    TestEnvironment env_;
    chunkqueue* cq_ = chunkqueue_init();
    array* folders_ = nullptr;
};

TEST_F(UploadFileTest, WithoutFoldersTheFileGoesToVarTmpUnderTheDataRoot) {
    chunk* c = chunkqueue_get_append_tempfile(cq_);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(cq_->last, c);
    ASSERT_NE(c->file.fd, -1);
    const std::string path = c->file.name->ptr;
    const std::string prefix = env_.Path("/var/tmp/webserver-upload-");
    EXPECT_EQ(path.substr(0, prefix.size()), prefix);
    EXPECT_EQ(path.size(), prefix.size() + 6);
    EXPECT_EQ(std::string(g_arcUpgradeFiledir), path);
    EXPECT_EQ(c->file.is_temp, 1);
    EXPECT_EQ(c->type, FILE_CHUNK);
    EXPECT_EQ(c->file.length, 0);
    EXPECT_EQ(c->offset, 0);

    // The shell commands the card runs must not inherit the upload.
    EXPECT_NE(fcntl(c->file.fd, F_GETFD) & FD_CLOEXEC, 0);
    struct stat st{};
    ASSERT_EQ(fstat(c->file.fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    EXPECT_EQ(write(c->file.fd, "abc", 3), 3);
    EXPECT_EQ(ReadRange(path, 0, 3), "abc");
}

TEST_F(UploadFileTest, MissingFirstFolderAndTrailingSlashOnTheSecond) {
    const std::string second = (env_.root() / "uploads").string() + "/";
    fs::create_directories(second);
    AddFolder((env_.root() / "missing").string());
    AddFolder(second);
    chunk* c = chunkqueue_get_append_tempfile(cq_);
    ASSERT_NE(c->file.fd, -1);
    const std::string path = c->file.name->ptr;
    EXPECT_EQ(path.substr(0, second.size()), second);
    EXPECT_EQ(path.substr(second.size(), 17), "webserver-upload-");
    EXPECT_EQ(path.size(), second.size() + 17 + 6);
    EXPECT_EQ(path.find("//"), std::string::npos);
    EXPECT_EQ(std::string(g_arcUpgradeFiledir), path);
    EXPECT_TRUE(Exists(path));
}

TEST_F(UploadFileTest, EveryFolderFailingGivesAChunkWithoutDescriptor) {
    const std::string last = (env_.root() / "gone-too").string();
    AddFolder((env_.root() / "gone").string());
    AddFolder(last);
    chunk* c = chunkqueue_get_append_tempfile(cq_);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->file.fd, -1);
    EXPECT_EQ(c->file.is_temp, 0);
    EXPECT_EQ(cq_->last, c);
    EXPECT_EQ(std::string(g_arcUpgradeFiledir), last + "/webserver-upload-XXXXXX");
    EXPECT_EQ(std::string(c->file.name->ptr), last + "/webserver-upload-XXXXXX");
    // Released, a failed chunk removes nothing (its name is no file).
    chunkqueue_reset(cq_);
}

TEST_F(UploadFileTest, AFolderTooLongToPublishIsSkipped) {
    const std::string good = (env_.root() / "uploads").string();
    fs::create_directories(good);
    // Short enough to exist on disk, too long for the published path.
    std::string deep = env_.root().string();
    while (deep.size() < 500) {
        deep += "/deeper-folder";
        fs::create_directory(deep);
    }
    AddFolder(deep);
    AddFolder(good);
    chunk* c = chunkqueue_get_append_tempfile(cq_);
    ASSERT_NE(c->file.fd, -1);
    EXPECT_EQ(std::string(c->file.name->ptr).substr(0, good.size() + 1), good + "/");
    EXPECT_EQ(std::string(g_arcUpgradeFiledir), c->file.name->ptr);

    chunkqueue_reset(cq_);
    array_reset(folders_);
    AddFolder(deep);
    c = chunkqueue_get_append_tempfile(cq_);
    EXPECT_EQ(c->file.fd, -1);
    EXPECT_LT(std::strlen(g_arcUpgradeFiledir), kUploadPathSize);
    EXPECT_TRUE(fs::is_empty(deep));
}

TEST_F(UploadFileTest, AReleasedUploadChunkLeavesNoFile) {
    chunkqueue_set_tempdirs(cq_, nullptr);
    struct Release {
        const char* how;
        std::function<void(chunkqueue*&, chunk*)> release;
    };
    const std::vector<Release> releases = {
        {"queue reset", [](chunkqueue*& cq, chunk*) { chunkqueue_reset(cq); }},
        {"queue free",
         [](chunkqueue*& cq, chunk*) {
             chunkqueue_free(cq);
             cq = chunkqueue_init();
         }},
        {"chunk reset", [](chunkqueue*&, chunk* c) { chunk_reset(c); }},
        {"read to the end",
         [](chunkqueue*& cq, chunk* c) {
             Consume(c);
             chunkqueue_remove_finished_chunks(cq);
         }},
    };
    for (const Release& r : releases) {
        chunk* c = chunkqueue_get_append_tempfile(cq_);
        ASSERT_NE(c->file.fd, -1) << r.how;
        // A refused upload: part of the body written, the descriptor still open.
        ASSERT_EQ(write(c->file.fd, "partial", 7), 7);
        c->file.length = 7;
        const std::string path = c->file.name->ptr;
        ASSERT_TRUE(Exists(path));
        r.release(cq_, c);
        EXPECT_FALSE(Exists(path)) << r.how;
        chunkqueue_reset(cq_);
    }
    EXPECT_TRUE(fs::is_empty(env_.Path("/var/tmp")));
}

TEST_F(UploadFileTest, ARecycledUploadChunkNeverRemovesAnotherFile) {
    chunkqueue_set_tempdirs(cq_, nullptr);
    chunkqueue_get_append_tempfile(cq_);
    chunkqueue_reset(cq_);
    ASSERT_EQ(cq_->unused_chunks, 1U);

    // The spare chunk now carries a page of the site: sending it must leave
    // the page in place.
    const std::string page = env_.Path("/vandik_app/index.html");
    env_.WriteText("/vandik_app/index.html", "<html>");
    buffer* name = buffer_init_string(page.c_str());
    chunkqueue_append_file(cq_, name, 0, 6);
    chunkqueue_reset(cq_);
    EXPECT_TRUE(Exists(page));
    buffer_free(name);
}

TEST_F(UploadFileTest, WithoutVarTmpNoFileIsMade) {
    fs::remove(env_.Path("/var/tmp"));
    chunkqueue_set_tempdirs(cq_, nullptr);
    chunk* c = chunkqueue_get_append_tempfile(cq_);
    EXPECT_EQ(c->file.fd, -1);
    EXPECT_EQ(std::string(g_arcUpgradeFiledir), env_.Path("/var/tmp/webserver-upload-XXXXXX"));
}

// Response bodies on a connection's write queue.
class ChunkedFramingTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.FailOnUnexpectedErrors();
        srv_ = server_init();
        con_.write_queue = chunkqueue_init();
    }
    void TearDown() override {
        chunkqueue_free(con_.write_queue);
        server_free(srv_);
    }
    void SetChunked(bool chunked) {
        con_.response.transfer_encoding = chunked ? HTTP_TRANSFER_ENCODING_CHUNKED : HTTP_TRANSFER_ENCODING_IDENTITY;
    }
    std::string Sent() const { return Pending(con_.write_queue); }

    TestEnvironment env_;
    server* srv_ = nullptr;
    connection con_{};
};

TEST_F(ChunkedFramingTest, SizeLinesAreLowerCaseHexWithoutLeadingZeros) {
    struct Case {
        size_t len;
        const char* line;
    };
    for (const Case& c : {Case{0, "0\r\n"}, Case{9, "9\r\n"}, Case{255, "ff\r\n"}, Case{256, "100\r\n"},
                          Case{0x7FFFFFFF, "7fffffff\r\n"}, Case{0xFFFFFFFF, "ffffffff\r\n"}}) {
        chunkqueue_reset(con_.write_queue);
        EXPECT_EQ(http_chunk_append_len(srv_, &con_, c.len), 0);
        EXPECT_EQ(Sent(), c.line) << c.len;
    }
}

TEST_F(ChunkedFramingTest, EachAppendFramedByteForByte) {
    env_.WriteText("/vandik_app/body.txt", "0123456789");
    buffer* file = buffer_init_string(env_.Path("/vandik_app/body.txt").c_str());
    buffer* text = Text("abc");
    buffer* emptyText = Text("");
    buffer* noText = buffer_init();
    struct Case {
        const char* what;
        std::function<int()> append;
        const char* chunked;
        const char* identity;
    };
    const std::vector<Case> cases = {
        {"mem", [&] { return http_chunk_append_mem(srv_, &con_, "hello", 6); }, "5\r\nhello\r\n", "hello"},
        {"mem end", [&] { return http_chunk_append_mem(srv_, &con_, nullptr, 0); }, "0\r\n\r\n", ""},
        {"mem empty text", [&] { return http_chunk_append_mem(srv_, &con_, "", 1); }, "", ""},
        {"buffer", [&] { return http_chunk_append_buffer(srv_, &con_, text); }, "3\r\nabc\r\n", "abc"},
        {"buffer empty text", [&] { return http_chunk_append_buffer(srv_, &con_, emptyText); }, "", ""},
        {"buffer no text", [&] { return http_chunk_append_buffer(srv_, &con_, noText); }, "", ""},
        {"file range", [&] { return http_chunk_append_file(srv_, &con_, file, 2, 5); }, "5\r\n23456\r\n", "23456"},
        {"file empty range", [&] { return http_chunk_append_file(srv_, &con_, file, 2, 0); }, "", ""},
    };
    for (const Case& c : cases) {
        for (const bool chunked : {true, false}) {
            chunkqueue_reset(con_.write_queue);
            SetChunked(chunked);
            EXPECT_EQ(c.append(), 0) << c.what;
            EXPECT_EQ(Sent(), chunked ? c.chunked : c.identity) << c.what << (chunked ? " chunked" : " identity");
        }
    }
    for (buffer* b : {file, text, emptyText, noText}) {
        buffer_free(b);
    }
}

TEST_F(ChunkedFramingTest, AWholeChunkedBody) {
    env_.WriteText("/vandik_app/page.html", "<p>page</p>");
    buffer* file = buffer_init_string(env_.Path("/vandik_app/page.html").c_str());
    buffer* json = Text("{\"code\": 0}");
    SetChunked(true);
    http_chunk_append_buffer(srv_, &con_, json);
    http_chunk_append_file(srv_, &con_, file, 0, 11);
    http_chunk_append_mem(srv_, &con_, "tail", 5);
    http_chunk_append_mem(srv_, &con_, nullptr, 0);
    EXPECT_EQ(Sent(), "b\r\n{\"code\": 0}\r\nb\r\n<p>page</p>\r\n4\r\ntail\r\n0\r\n\r\n");
    EXPECT_EQ(http_chunkqueue_length(srv_, &con_), static_cast<http_off_t>(Sent().size()));
    buffer_free(file);
    buffer_free(json);
}

TEST_F(ChunkedFramingTest, ANullConnectionIsRefused) {
    buffer* text = Text("abc");
    EXPECT_EQ(http_chunk_append_mem(srv_, nullptr, "abc", 4), -1);
    EXPECT_EQ(http_chunk_append_buffer(srv_, nullptr, text), -1);
    EXPECT_EQ(http_chunk_append_file(srv_, nullptr, text, 0, 1), -1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(http_chunkqueue_length(srv_, nullptr), 0);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("connection is NULL!!"), std::string::npos);
    buffer_free(text);
}

}  // namespace
}  // namespace hx::test
