// The search for a header's end in a read queue: the terminator split over
// chunks, a header fed byte by byte, the bytes after the terminator, and the
// chunk the search resumes in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/header_end.h"

namespace hx {
namespace {

class HeaderEnd : public testing::Test {
protected:
    void SetUp() override { queue_ = chunkqueue_init(); }
    void TearDown() override { chunkqueue_free(queue_); }

    void Append(const std::string& bytes) { chunkqueue_append_mem(queue_, bytes.data(), bytes.size() + 1); }
    // As the connection reads: into the last chunk while it has room.
    void AppendToLast(char byte) {
        buffer* last = queue_->last != nullptr ? queue_->last->mem : nullptr;
        if (last == nullptr || last->size - last->used < 2) {
            last = chunkqueue_get_append_buffer(queue_);
            buffer_prepare_copy(last, 64);
        }
        buffer_append_string_len(last, &byte, 1);
    }
    // As the connection searches: resuming in the chunk it stopped in.
    http_off_t Find() { return http_header_end_find(queue_, &scanned_, &matched_, &resume_); }
    void Restart() {
        chunkqueue_reset(queue_);
        scanned_ = 0;
        matched_ = 0;
        resume_ = {};
    }

    chunkqueue* queue_ = nullptr;
    http_off_t scanned_ = 0;
    int matched_ = 0;
    http_header_end_resume resume_{};
};

TEST_F(HeaderEnd, TerminatorSplitOverChunks) {
    const std::string header = "GET / HTTP/1.0\r\nHost: a\r\n\r\n";
    const std::string after = "BODY";
    const std::string text = header + after;
    // Every way of cutting the text at one, two or three points that fall
    // around the terminator, each searched whole and searched as it arrives.
    const size_t end = header.size();
    std::vector<std::vector<size_t>> splits;
    for (size_t a = end - 5; a <= end + 1; ++a) {
        splits.push_back({a});
        for (size_t b = a + 1; b <= end + 1; ++b) {
            splits.push_back({a, b});
            for (size_t c = b + 1; c <= end + 1; ++c) {
                splits.push_back({a, b, c});
            }
        }
    }
    for (const auto& cuts : splits) {
        for (bool incremental : {false, true}) {
            SCOPED_TRACE(testing::Message() << "cuts " << testing::PrintToString(cuts) << " incremental "
                                            << incremental);
            Restart();
            size_t from = 0;
            http_off_t found = 0;
            std::vector<size_t> bounds = cuts;
            bounds.push_back(text.size());
            for (size_t bound : bounds) {
                Append(text.substr(from, bound - from));
                from = bound;
                if (incremental) {
                    found = Find();
                    EXPECT_EQ(found == 0, bound < end) << bound;
                    if (found != 0) {
                        break;
                    }
                }
            }
            if (!incremental) {
                found = Find();
            }
            EXPECT_EQ(found, static_cast<http_off_t>(end));
        }
    }
}

TEST_F(HeaderEnd, ResumesFromTheReadPosition) {
    Append("xxGET / HTTP/1.0\r\n\r\nnext");
    queue_->first->offset = 2;  // consumed by a previous request
    EXPECT_EQ(Find(), 18);
    // The search consumes nothing: the header and what follows it stay.
    EXPECT_EQ(chunkqueue_length(queue_), 24);
    EXPECT_EQ(chunkqueue_written(queue_), 2);
    EXPECT_EQ(std::string(queue_->first->mem->ptr + 2 + 18), "next");
}

TEST_F(HeaderEnd, NearMissesDoNotMatch) {
    for (const char* text : {"\r\n\r", "\n\r\n\r", "\r\r\n\r", "\r\n\n\r\n", "a\r\nb\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        Restart();
        Append(text);
        EXPECT_EQ(Find(), 0);
    }
    Restart();
    Append("\r\r\n\r\n");
    EXPECT_EQ(Find(), 5);
}

TEST_F(HeaderEnd, ByteByByteLooksAtEachByteOnce) {
    std::string header = "GET / HTTP/1.1\r\nHost: a\r\n";
    while (header.size() < 5000) {
        header += "X-Filler: abcdefghijklmnopqrstuvwxyz\r\n";
    }
    header += "\r\n";
    for (size_t i = 0; i < header.size(); ++i) {
        AppendToLast(header[i]);
        const http_off_t found = Find();
        if (i + 1 < header.size()) {
            ASSERT_EQ(found, 0) << i;
            ASSERT_EQ(scanned_, static_cast<http_off_t>(i + 1));
        } else {
            EXPECT_EQ(found, static_cast<http_off_t>(header.size()));
        }
    }
}

// The search starts in the chunk it stopped in while the queue's front is as
// it was; a front that moved (finished chunks dropped, a queue rebuilt) makes
// it walk from the first chunk again, with the same results.
TEST_F(HeaderEnd, ResumesInTheChunkItStoppedIn) {
    const std::string header = "GET / HTTP/1.1\r\nHost: a\r\nX-Long: abcdefghij\r\n\r\n";
    for (size_t i = 0; i + 1 < header.size(); ++i) {
        Append(header.substr(i, 1));  // one chunk per byte
        ASSERT_EQ(Find(), 0);
        ASSERT_EQ(resume_.at, queue_->last) << i;
        ASSERT_EQ(resume_.at_position, static_cast<http_off_t>(i));
    }
    Append(header.substr(header.size() - 1));
    EXPECT_EQ(Find(), static_cast<http_off_t>(header.size()));
    EXPECT_EQ(resume_.at, nullptr);

    // The front changes between searches: a finished chunk dropped from the
    // front, or a place left from a queue rebuilt with its chunks reused. The
    // search walks from the first chunk and still finds the end.
    const struct {
        const char* what;
        bool rebuild;
    } cases[] = {{"front chunk dropped", false}, {"queue rebuilt", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Restart();
        Append("x");
        queue_->first->offset = 1;  // consumed by a previous request
        Append("GET / HTTP/1.1\r\n");
        Append("Host: a\r\n");
        ASSERT_EQ(Find(), 0);
        ASSERT_EQ(resume_.at, queue_->last);
        if (c.rebuild) {
            const http_header_end_resume stale = resume_;
            Restart();
            Append("GET /a HTTP/1.1\r\n");
            Append("Host: bb\r\n");
            Append("X: y\r\n");
            resume_ = stale;  // a place left over from the old queue
            EXPECT_EQ(Find(), 0);
            Append("\r\n");
            EXPECT_EQ(Find(), 35);
        } else {
            chunkqueue_remove_finished_chunks(queue_);
            Append("\r\n");
            EXPECT_EQ(Find(), 27);
        }
    }
}

TEST_F(HeaderEnd, EmptyChunksAndQueue) {
    EXPECT_EQ(Find(), 0);
    chunkqueue_get_append_buffer(queue_);
    Append("GET / HTTP/1.0\r\n\r");
    chunkqueue_get_append_buffer(queue_);
    EXPECT_EQ(Find(), 0);
    Append("\n");
    EXPECT_EQ(Find(), 18);
}

}  // namespace
}  // namespace hx
