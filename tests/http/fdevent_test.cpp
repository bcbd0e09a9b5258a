// The event loop over socketpairs, one suite per back end: readiness, hang-up,
// deletion, the refusals and the broken invariants that are logged and fail
// the call. Log lines are read back from an error-log file in a temporary
// data root.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "http/errorlog.h"
#include "http/fdevent.h"
#include "support/test_env.h"

namespace hx {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr size_t kTableSize = 64;

// A server whose error log is a file of the data root.
class LoggingServer {
public:
    LoggingServer() : path_((env_.root() / "error.log").string()) {
        srv_ = server_init();
        srv_->errorlog_mode = ERRORLOG_FILE;
        srv_->errorlog_fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    ~LoggingServer() {
        log_error_close(srv_);
        server_free(srv_);
    }
    server* srv() { return srv_; }
    std::string TakeLog() {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        truncate(path_.c_str(), 0);
        return text.str();
    }

private:
    test::TestEnvironment env_;
    std::string path_;
    server* srv_ = nullptr;
};

struct Pair {
    int local = -1;
    int peer = -1;
};

handler_t RecordingHandler(server*, void* ctx, int revents) {
    *static_cast<int*>(ctx) |= revents;
    return HANDLER_GO_ON;
}

class EventLoopTest : public ::testing::TestWithParam<fdevent_handler_t> {
protected:
    void SetUp() override {
        ev_ = fdevent_init(log_.srv(), kTableSize, GetParam());
        ASSERT_NE(ev_, nullptr);
        fdevent_reset(ev_);
    }
    void TearDown() override {
        fdevent_free(ev_);
        for (int fd : open_) {
            close(fd);
        }
        // Every line a test provoked was taken and checked.
        EXPECT_EQ(log_.TakeLog(), "");
    }

    Pair NewPair() {
        int ends[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
        open_.push_back(ends[0]);
        open_.push_back(ends[1]);
        return {ends[0], ends[1]};
    }
    void Forget(int fd) { std::erase(open_, fd); }

    // Registers fd with a handler that ORs its events into `seen`, asking for
    // `events`; the position index.
    int Watch(int fd, int events, int* seen) {
        int ndx = -1;
        EXPECT_EQ(fdevent_register(ev_, fd, RecordingHandler, seen), 0);
        EXPECT_EQ(fdevent_event_set(ev_, &ndx, fd, events), 0);
        return ndx;
    }

    // One turn of the main loop: waits, then calls each ready descriptor's
    // handler; the events each descriptor reported.
    std::map<int, int> Turn(int timeout_ms = 0) {
        std::map<int, int> ready;
        const int count = fdevent_poll(ev_, timeout_ms);
        EXPECT_GE(count, 0);
        int ndx = -1;
        for (int i = 0; i < count; ++i) {
            ndx = fdevent_event_next_fdndx(ev_, ndx);
            if (ndx == -1) {
                break;  // select counts a descriptor once per set
            }
            const int revents = fdevent_event_get_revent(ev_, static_cast<size_t>(ndx));
            const int fd = fdevent_event_get_fd(ev_, static_cast<size_t>(ndx));
            ready[fd] |= revents;
            fdevent_handler handler = fdevent_get_handler(ev_, fd);
            if (handler != nullptr) {
                handler(log_.srv(), fdevent_get_context(ev_, fd), revents);
            }
        }
        return ready;
    }

    LoggingServer log_;
    fdevents* ev_ = nullptr;
    std::vector<int> open_;
};

TEST_P(EventLoopTest, ReportsInOutAndHangUpToTheHandler) {
    const Pair pair = NewPair();
    int seen = 0;
    int ndx = Watch(pair.local, FDEVENT_IN, &seen);
    EXPECT_GE(ndx, 0);

    EXPECT_THAT(Turn(), IsEmpty());
    EXPECT_EQ(seen, 0);

    ASSERT_EQ(write(pair.peer, "x", 1), 1);
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{pair.local, FDEVENT_IN}}));
    EXPECT_EQ(seen, FDEVENT_IN);

    // Out only: the unread byte no longer counts.
    ASSERT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_OUT), 0);
    seen = 0;
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{pair.local, FDEVENT_OUT}}));

    // The peer goes away: epoll and poll say hang-up; select can only show
    // the end of the stream as readable.
    ASSERT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_IN), 0);
    close(pair.peer);
    Forget(pair.peer);
    seen = 0;
    const std::map<int, int> ready = Turn(1000);
    ASSERT_EQ(ready.size(), 1U);
    if (GetParam() == FDEVENT_HANDLER_SELECT) {
        EXPECT_EQ(seen, FDEVENT_IN);
    } else {
        EXPECT_EQ(seen & FDEVENT_HUP, FDEVENT_HUP);
    }

    ASSERT_EQ(fdevent_event_del(ev_, &ndx, pair.local), 0);
    EXPECT_EQ(fdevent_unregister(ev_, pair.local), 0);
}

// The back end's calls, counted around its own event_set.
int (*g_back_end_set)(fdevents*, int, int, int) = nullptr;
int g_back_end_sets = 0;
int CountingEventSet(fdevents* ev, int fde_ndx, int fd, int events) {
    ++g_back_end_sets;
    return g_back_end_set(ev, fde_ndx, fd, events);
}

// Interest the back end already holds is not asked for again (a keep-alive
// connection sets its read interest after every request); a change is.
TEST_P(EventLoopTest, SameInterestAgainLeavesTheBackEndAlone) {
    const Pair pair = NewPair();
    int seen = 0;
    int ndx = Watch(pair.local, FDEVENT_IN, &seen);
    g_back_end_set = ev_->event_set;
    g_back_end_sets = 0;
    ev_->event_set = CountingEventSet;
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_IN), 0);
    EXPECT_EQ(g_back_end_sets, 0);
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_OUT), 0);
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_IN), 0);
    EXPECT_EQ(g_back_end_sets, 2);
    ASSERT_EQ(fdevent_event_del(ev_, &ndx, pair.local), 0);
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_IN), 0) << "deleted: added again";
    EXPECT_EQ(g_back_end_sets, 3);
    ev_->event_set = g_back_end_set;

    ASSERT_EQ(write(pair.peer, "x", 1), 1);
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{pair.local, FDEVENT_IN}}));
    EXPECT_EQ(seen, FDEVENT_IN);
}

TEST_P(EventLoopTest, ReportsOnlyTheReadyOneOfSeveral) {
    std::vector<Pair> pairs;
    std::vector<int> seen(5, 0);
    for (int i = 0; i < 5; ++i) {
        pairs.push_back(NewPair());
        Watch(pairs.back().local, FDEVENT_IN, &seen[static_cast<size_t>(i)]);
    }
    ASSERT_EQ(write(pairs[3].peer, "x", 1), 1);
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{pairs[3].local, FDEVENT_IN}}));
    EXPECT_EQ(seen, (std::vector<int>{0, 0, 0, FDEVENT_IN, 0}));
}

TEST_P(EventLoopTest, DeletedDescriptorIsNoLongerReported) {
    const Pair pair = NewPair();
    int seen = 0;
    int ndx = Watch(pair.local, FDEVENT_IN, &seen);
    ASSERT_EQ(write(pair.peer, "x", 1), 1);

    EXPECT_EQ(fdevent_event_del(ev_, &ndx, pair.local), 0);
    EXPECT_EQ(ndx, -1);
    EXPECT_THAT(Turn(), IsEmpty());
    EXPECT_EQ(seen, 0);

    // A second deletion of an index already given back is a no-op.
    EXPECT_EQ(fdevent_event_del(ev_, &ndx, pair.local), 0);
    EXPECT_EQ(fdevent_unregister(ev_, pair.local), 0);
    EXPECT_EQ(fdevent_get_handler(ev_, pair.local), nullptr);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("fdevent_get_handler: no registered node for fd " +
                                          std::to_string(pair.local)));
}

TEST_P(EventLoopTest, DeletionDuringAWalkHidesTheDeletedOne) {
    const Pair first = NewPair();
    const Pair second = NewPair();
    int seenFirst = 0;
    int seenSecond = 0;
    int ndxFirst = Watch(first.local, FDEVENT_IN, &seenFirst);
    int ndxSecond = Watch(second.local, FDEVENT_IN, &seenSecond);
    ASSERT_EQ(write(first.peer, "x", 1), 1);
    ASSERT_EQ(write(second.peer, "x", 1), 1);

    // The first handler's work closes the second connection mid-walk.
    const int count = fdevent_poll(ev_, 1000);
    ASSERT_GE(count, 1);
    const int ndx = fdevent_event_next_fdndx(ev_, -1);
    ASSERT_NE(ndx, -1);
    const int fd = fdevent_event_get_fd(ev_, static_cast<size_t>(ndx));
    const int other = fd == first.local ? second.local : first.local;
    int& otherNdx = fd == first.local ? ndxSecond : ndxFirst;
    ASSERT_EQ(fdevent_event_del(ev_, &otherNdx, other), 0);
    ASSERT_EQ(fdevent_unregister(ev_, other), 0);
    if (GetParam() != FDEVENT_HANDLER_LINUX_SYSEPOLL) {
        // poll and select forget it at once; epoll's kernel records stay,
        // and the lookup below is what keeps its walk safe.
        EXPECT_EQ(fdevent_event_next_fdndx(ev_, ndx), -1);
    } else if (count == 2) {
        const int next = fdevent_event_next_fdndx(ev_, ndx);
        EXPECT_EQ(fdevent_event_get_fd(ev_, static_cast<size_t>(next)), other);
        EXPECT_EQ(fdevent_get_handler(ev_, other), nullptr);
        EXPECT_THAT(log_.TakeLog(), HasSubstr("no registered node for fd"));
    }
}

TEST_P(EventLoopTest, UnregisteringWithEventsLeftFailsAndKeepsTheNode) {
    const Pair pair = NewPair();
    int seen = 0;
    int ndx = Watch(pair.local, FDEVENT_IN, &seen);
    EXPECT_EQ(fdevent_unregister(ev_, pair.local), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("assertion failed: fdn->events == 0, fd " + std::to_string(pair.local)));
    EXPECT_EQ(fdevent_get_context(ev_, pair.local), &seen);

    // A second registration of the same descriptor is refused, not leaked.
    EXPECT_EQ(fdevent_register(ev_, pair.local, RecordingHandler, nullptr), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("already registered: fd " + std::to_string(pair.local)));
    EXPECT_EQ(fdevent_get_context(ev_, pair.local), &seen);

    ASSERT_EQ(fdevent_event_del(ev_, &ndx, pair.local), 0);
    EXPECT_EQ(fdevent_unregister(ev_, pair.local), 0);
}

TEST_P(EventLoopTest, DescriptorOutsideTheTableIsRefusedWithoutAWrite) {
    const Pair pair = NewPair();
    // The lowest free number at or past the table's size.
    const int beyond = fcntl(pair.local, F_DUPFD_CLOEXEC, static_cast<int>(kTableSize));
    ASSERT_GE(beyond, static_cast<int>(kTableSize));
    open_.push_back(beyond);
    int seen = 0;

    EXPECT_EQ(fdevent_register(ev_, beyond, RecordingHandler, &seen), -1);
    EXPECT_EQ(fdevent_register(ev_, -1, RecordingHandler, &seen), -1);
    int ndx = 7;
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, beyond, FDEVENT_IN), -1);
    EXPECT_EQ(ndx, -1);
    const std::string log = log_.TakeLog();
    EXPECT_THAT(log, HasSubstr("fd " + std::to_string(beyond) + " is outside the event table of 64"));
    EXPECT_THAT(log, HasSubstr("fd -1 is outside the event table of 64"));

    // In the table but never registered: no node to record events in.
    ndx = -1;
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_IN), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("fdevent_event_set: no registered node for fd"));
    EXPECT_EQ(fdevent_get_context(ev_, beyond), nullptr);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("no event table slot for fd " + std::to_string(beyond)));
}

TEST_P(EventLoopTest, OnlySelectRefusesDescriptorsFromFdSetSizeOn) {
    fdevent_free(ev_);
    ev_ = fdevent_init(log_.srv(), 2 * FD_SETSIZE, GetParam());
    ASSERT_NE(ev_, nullptr);
    const Pair pair = NewPair();
    const int high = fcntl(pair.local, F_DUPFD_CLOEXEC, static_cast<int>(FD_SETSIZE));
    ASSERT_GE(high, static_cast<int>(FD_SETSIZE));
    open_.push_back(high);
    int seen = 0;
    const int registered = fdevent_register(ev_, high, RecordingHandler, &seen);
    if (GetParam() == FDEVENT_HANDLER_SELECT) {
        EXPECT_EQ(registered, -1);
        EXPECT_THAT(log_.TakeLog(), HasSubstr("fd " + std::to_string(high) + " is outside the event table"));
        return;
    }
    ASSERT_EQ(registered, 0);
    int ndx = -1;
    ASSERT_EQ(fdevent_event_set(ev_, &ndx, high, FDEVENT_IN), 0);
    ASSERT_EQ(write(pair.peer, "x", 1), 1);
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{high, FDEVENT_IN}}));
    ASSERT_EQ(fdevent_event_del(ev_, &ndx, high), 0);
    EXPECT_EQ(fdevent_unregister(ev_, high), 0);
}

TEST_P(EventLoopTest, NonBlockingAndCloseOnExecThroughTheBackEnd) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    open_.push_back(ends[0]);
    open_.push_back(ends[1]);
    EXPECT_EQ(fdevent_fcntl_set(ev_, ends[0]), 0);
    EXPECT_NE(fcntl(ends[0], F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(ends[0], F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(fd_close_on_exec(-1), 0);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, EventLoopTest,
                         ::testing::Values(FDEVENT_HANDLER_SELECT, FDEVENT_HANDLER_POLL,
                                           FDEVENT_HANDLER_LINUX_SYSEPOLL),
                         [](const ::testing::TestParamInfo<fdevent_handler_t>& info) {
                             switch (info.param) {
                                 case FDEVENT_HANDLER_SELECT:
                                     return std::string("Select");
                                 case FDEVENT_HANDLER_POLL:
                                     return std::string("Poll");
                                 default:
                                     return std::string("Epoll");
                             }
                         });

// poll only: slot reuse and its broken invariants.
class PollBackEndTest : public EventLoopTest {};

TEST_P(PollBackEndTest, ReusesTheLastFreedSlotFirst) {
    std::vector<Pair> pairs;
    std::vector<int> ndx;
    int seen = 0;
    for (int i = 0; i < 3; ++i) {
        pairs.push_back(NewPair());
        ndx.push_back(Watch(pairs.back().local, FDEVENT_IN, &seen));
    }
    EXPECT_EQ(ndx, (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(fdevent_event_del(ev_, &ndx[0], pairs[0].local), 0);
    ASSERT_EQ(fdevent_event_del(ev_, &ndx[1], pairs[1].local), 0);

    const Pair b = NewPair();
    const Pair c = NewPair();
    const Pair d = NewPair();
    EXPECT_EQ(Watch(b.local, FDEVENT_IN, &seen), 1);
    EXPECT_EQ(Watch(c.local, FDEVENT_IN, &seen), 0);
    EXPECT_EQ(Watch(d.local, FDEVENT_IN, &seen), 3);

    // The reused slot reports its new descriptor only.
    ASSERT_EQ(write(b.peer, "x", 1), 1);
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{b.local, FDEVENT_IN}}));
    // No slot with events after a wait that found none.
    ASSERT_EQ(read(b.local, &seen, 1), 1);
    EXPECT_THAT(Turn(), IsEmpty());
    EXPECT_EQ(fdevent_event_next_fdndx(ev_, -1), -1);
}

TEST_P(PollBackEndTest, InconsistentIndicesAreLoggedAndFail) {
    const Pair a = NewPair();
    const Pair b = NewPair();
    int seen = 0;
    int ndxA = Watch(a.local, FDEVENT_IN, &seen);
    int ndxB = Watch(b.local, FDEVENT_IN, &seen);

    int wrong = ndxB;  // B's slot given for A
    EXPECT_EQ(fdevent_event_set(ev_, &wrong, a.local, FDEVENT_OUT), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("set:  1 stored fd: " + std::to_string(b.local)));

    wrong = ndxB;
    EXPECT_EQ(fdevent_event_del(ev_, &wrong, a.local), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("del!  1 holds fd " + std::to_string(b.local)));
    // The failed deletion still clears the node, so its owner can finish.
    EXPECT_EQ(wrong, -1);
    EXPECT_EQ(fdevent_unregister(ev_, a.local), 0);

    wrong = 9;
    ASSERT_EQ(fdevent_register(ev_, a.local, RecordingHandler, &seen), 0);
    EXPECT_EQ(fdevent_event_del(ev_, &wrong, a.local), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("del! out of range  9 used: 2"));

    // B was never disturbed.
    ASSERT_EQ(write(b.peer, "x", 1), 1);
    EXPECT_EQ(Turn(1000), (std::map<int, int>{{b.local, FDEVENT_IN}}));
    (void)ndxA;
    ASSERT_EQ(fdevent_event_del(ev_, &ndxB, b.local), 0);
}

TEST_P(PollBackEndTest, ClosedBeforeDeletionIsReportedAsAnError) {
    const Pair pair = NewPair();
    int seen = 0;
    int ndx = Watch(pair.local, FDEVENT_IN, &seen);
    close(pair.local);
    Forget(pair.local);

    EXPECT_EQ(Turn(1000), (std::map<int, int>{{pair.local, FDEVENT_NVAL | FDEVENT_ERR}}));
    EXPECT_THAT(log_.TakeLog(), HasSubstr("poll: invalid descriptor in slot 0"));
    ASSERT_EQ(fdevent_event_del(ev_, &ndx, pair.local), 0);
    EXPECT_EQ(fdevent_unregister(ev_, pair.local), 0);
    EXPECT_THAT(Turn(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Poll, PollBackEndTest, ::testing::Values(FDEVENT_HANDLER_POLL));

// epoll only: a failing epoll_ctl.
class EpollBackEndTest : public EventLoopTest {};

TEST_P(EpollBackEndTest, FailingEpollCtlIsLoggedAndFails) {
    const Pair pair = NewPair();
    int seen = 0;
    ASSERT_EQ(fdevent_register(ev_, pair.local, RecordingHandler, &seen), 0);

    // Never added: the deletion fails in the kernel, the node is cleared.
    int ndx = pair.local;
    EXPECT_EQ(fdevent_event_del(ev_, &ndx, pair.local), -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("epoll_ctl failed: No such file or directory, dying"));
    EXPECT_EQ(ndx, -1);

    // A modification of a descriptor the set does not hold.
    ndx = pair.local;
    EXPECT_EQ(fdevent_event_set(ev_, &ndx, pair.local, FDEVENT_IN), -1);
    EXPECT_EQ(ndx, -1);
    EXPECT_THAT(log_.TakeLog(), HasSubstr("epoll_ctl failed: No such file or directory, dying"));
    EXPECT_EQ(fdevent_unregister(ev_, pair.local), 0);
}

INSTANTIATE_TEST_SUITE_P(Epoll, EpollBackEndTest, ::testing::Values(FDEVENT_HANDLER_LINUX_SYSEPOLL));

TEST(EventLoopSetUpTest, RefusedKindsLogTheirLineThenFailureThenUnknown) {
    const std::string tail = ", try to set server.event-handler = \"poll\" or \"select\"";
    struct Case {
        fdevent_handler_t type;
        std::string refusal;  // empty: no back end at all
        std::string failure;
    };
    const Case cases[] = {
        {FDEVENT_HANDLER_SOLARIS_DEVPOLL, "solaris-devpoll not supported" + tail,
         "event-handler solaris-devpoll failed" + tail},
        {FDEVENT_HANDLER_SOLARIS_PORT, "solaris-eventports not supported" + tail,
         "event-handler solaris-eventports failed" + tail},
        {FDEVENT_HANDLER_FREEBSD_KQUEUE, "kqueue not available" + tail, "event-handler freebsd-kqueue failed" + tail},
        {FDEVENT_HANDLER_LIBEV, "libev not supported" + tail, "event-handler libev failed" + tail},
        {FDEVENT_HANDLER_UNSET, "", ""},
    };
    LoggingServer log;
    for (const Case& c : cases) {
        EXPECT_EQ(fdevent_init(log.srv(), kTableSize, c.type), nullptr) << c.type;
        std::vector<std::string> texts;
        std::istringstream lines(log.TakeLog());
        for (std::string line; std::getline(lines, line);) {
            texts.push_back(line.substr(line.find(") ") + 2));
        }
        std::vector<std::string> expected;
        if (!c.refusal.empty()) {
            expected = {c.refusal, c.failure};
        }
        expected.push_back("event-handler is unknown" + tail);
        EXPECT_EQ(texts, expected) << c.type;
    }
}

TEST(EventLoopSetUpTest, FreeAcceptsNullAndRegisteredNodes) {
    LoggingServer log;
    fdevent_free(nullptr);
    fdevents* ev = fdevent_init(log.srv(), kTableSize, FDEVENT_HANDLER_POLL);
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(fdevent_register(ev, 5, RecordingHandler, nullptr), 0);
    fdevent_free(ev);  // the node goes with it (the leak checker would see it)
    EXPECT_EQ(fdevent_unregister(nullptr, 5), 0);
    EXPECT_EQ(log.TakeLog(), "");
}

}  // namespace
}  // namespace hx
