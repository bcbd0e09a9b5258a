// The server thread's start-up, limits, loop throttling, signals and restart.
// Start-up changes the whole process (signal dispositions, resource limits,
// descriptor 2), so every case runs in a forked child that steps the loop
// itself and reports what it saw as text; the test compares that text.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "http/fdevent.h"
#include "http/webserver.h"
#include "http/webserver_loop.h"
#include "sim/chassis/sim_chassis.h"
#include "support/http_test_server.h"
#include "support/test_env.h"
#include "web/web_server.h"

namespace hx {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// Runs `body` in a forked child and returns what it wrote back ("child
// failed" when it did not end normally).
std::string InChildText(const std::function<std::string()>& body) {
    int ends[2];
    if (pipe(ends) != 0) {
        return "no pipe";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        const std::string text = body();
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(ends[1], text.data() + done, text.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(ends[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<size_t>(n));
    }
    close(ends[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? text : "child failed: " + text;
}

// Turns the loop without waiting until `done` holds; false when it never did.
bool TurnUntil(server* srv, const std::function<bool()>& done, int turns = 500) {
    for (int i = 0; i < turns; ++i) {
        if (done()) {
            return true;
        }
        server_loop_turn(srv, 10);
    }
    return done();
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// One data root with a server configuration; the child's descriptor 2 and the
// breakage log are its "stderr.txt", so messages from before the error log
// opens are kept too.
struct Card {
    explicit Card(test::HttpServerOptions options = {}) {
        port = SimChassis_FreeLoopbackPort();
        options.breakagelog = StderrPath();
        env.WriteText("/stderr.txt", "");
        test::WriteHttpServerConfig(env, port, options);
        env.WriteText("/vandik_app/web/index.html", "<p>card</p>\n");
    }
    std::string StderrPath() const { return env.root().string() + "/stderr.txt"; }
    // In the child, before start-up.
    void RedirectStandardError() const {
        const int fd = open(StderrPath().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    // Runs `body` in a child process with a started server, which ends once
    // `body` has returned; "failed" when the server did not start.
    std::string WithServer(const std::function<std::string(server*)>& body) const {
        return InChildText([&] {
            RedirectStandardError();
            server* srv = server_start();
            if (srv == nullptr) {
                return std::string("failed");
            }
            std::string result = body(srv);
            server_exit(srv);
            return result;
        });
    }
    // Everything the server said: descriptor 2, then its error log.
    std::string Said() const { return env.ReadText("/stderr.txt") + test::HttpServerErrorLog(env); }

    test::TestEnvironment env;
    std::uint16_t port = 0;
};

test::HttpServerOptions Extra(const char* lines) {
    test::HttpServerOptions o;
    o.extra = lines;
    return o;
}

struct FailureCase {
    const char* name;
    test::HttpServerOptions options;
    std::vector<std::string> said;
};

TEST(ServerStartTest, StartUpFailuresEndOnlyTheServerAndSayWhy) {
    test::HttpServerOptions noRoot;
    noRoot.documentRoot = "";
    const FailureCase cases[] = {
        {"no document root", noRoot, {"a default document-root has to be set", "setting default values failed"}},
        {"unknown event handler",
         Extra("server.event-handler = \"freebsd-kqueue\""),
         {"the selected event-handler in unknown or not supported: freebsd-kqueue", "setting default values failed"}},
        {"deprecated key",
         Extra("server.host = \"127.0.0.1\""),
         {"ERROR: found deprecated key: server.host - use server.bind instead",
          "Configuration contains deprecated keys. Going down."}},
        {"ssl.engine", Extra("ssl.engine = \"enable\""), {"ssl.pemfile has to be set", "setting default values failed"}},
        {"worker processes", Extra("server.max-worker = 2"),
         {"server.max-worker = 2 is refused: worker processes would fork the whole card application"}},
        {"chroot", Extra("server.chroot = \"/\""),
         {"server.chroot = / is refused: it would change the root directory of the whole card application"}},
        {"user", Extra("server.username = \"nobody\""),
         {"server.username = nobody is refused: it would change the user of the whole card application"}},
        {"group", Extra("server.groupname = \"nogroup\""),
         {"server.groupname = nogroup is refused: it would change the group of the whole card application"}},
        {"missing module", Extra("server.modules = ( \"mod_missing\" )"),
         {"dlopen() failed for:", "loading plugins finally failed"}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        Card card(c.options);
        ASSERT_NE(card.port, 0);
        const std::string seen = InChildText([&] {
            card.RedirectStandardError();
            if (server_start() != nullptr) {
                return std::string("started");
            }
            // Nothing listens, and the process (the card) is still here to say so.
            return test::ConnectToHttpServer(card.port) == -1 ? std::string("stopped, nothing listens") : std::string("listening");
        });
        EXPECT_EQ(seen, "stopped, nothing listens");
        const std::string said = card.Said();
        for (const std::string& line : c.said) {
            EXPECT_THAT(said, HasSubstr(line));
        }
    }
}

TEST(ServerStartTest, UnknownKeysAreWarnedAboutAndNoWorkersIsFine) {
    Card card(Extra("server.max-worker = 0\nserver.no-such-key = \"x\"\nvar.mine = \"y\""));
    const std::string seen = card.WithServer([&](server* /*srv*/) {
        const int client = test::ConnectToHttpServer(card.port);
        return std::string(client >= 0 ? "served" : "not listening");
    });
    EXPECT_EQ(seen, "served");
    const std::string said = card.Said();
    EXPECT_THAT(said, HasSubstr("WARNING: unknown config-key: server.no-such-key (ignored)"));
    EXPECT_THAT(said, Not(HasSubstr("var.mine")));
    EXPECT_THAT(said, Not(HasSubstr("is refused")));
}

struct LimitCase {
    const char* name;
    const char* extra;
    const char* limits;  // "max_fds max_conns"
    bool logged;
};

TEST(ServerStartTest, DescriptorAndConnectionLimitsFollowTheProcessLimit) {
    const LimitCase cases[] = {
        {"more connections than half the descriptors", "server.max-connections = 3000", "4096 2048", true},
        {"no connection limit: a third", "server.max-connections = 0", "4096 1365", false},
        {"select keeps 200 of its 1024 free", "server.event-handler = \"select\"", "824 274", false},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        Card card(Extra(c.extra));
        const std::string seen = InChildText([&] {
            card.RedirectStandardError();
            const rlimit limit{4096, 4096};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
                return std::string("setrlimit failed");
            }
            server* srv = server_start();
            if (srv == nullptr) {
                return std::string("failed");
            }
            const std::string limits = std::to_string(srv->max_fds) + " " + std::to_string(srv->max_conns);
            server_exit(srv);
            return limits;
        });
        EXPECT_EQ(seen, c.limits);
        EXPECT_EQ(card.Said().find("can't have more connections than fds/2:  3000 4096") != std::string::npos,
                  c.logged);
    }
}

TEST(ServerStartTest, ConnectionLimitStopsAcceptingOnceAndResumesAtNinetyPercent) {
    Card card(Extra("server.max-connections = 20"));
    const std::string seen = card.WithServer([&](server* srv) {
        std::string report;
        std::vector<int> clients;
        for (int i = 0; i < 20; ++i) {
            clients.push_back(test::ConnectToHttpServer(card.port));
        }
        report += TurnUntil(srv, [&] { return srv->conns->used == 20; }) ? "20 accepted;" : "not accepted;";
        for (int i = 0; i < 5; ++i) {
            server_loop_turn(srv, 0);
        }
        report += srv->sockets_disabled ? " disabled;" : " enabled;";
        // One more waits in the backlog.
        const int late = test::ConnectToHttpServer(card.port);
        for (int i = 0; i < 5; ++i) {
            server_loop_turn(srv, 0);
        }
        report += " " + std::to_string(srv->conns->used) + " held;";
        close(clients.back());
        clients.pop_back();
        TurnUntil(srv, [&] { return srv->conns->used == 19; });
        report += srv->sockets_disabled ? " still disabled at 19;" : " enabled at 19;";
        close(clients.back());
        clients.pop_back();
        report += TurnUntil(srv, [&] { return srv->conns->used == 19 && !srv->sockets_disabled; })
                      ? " resumed at 18, the late one accepted"
                      : " not resumed";
        for (int fd : clients) {
            close(fd);
        }
        close(late);
        return report;
    });
    EXPECT_EQ(seen, "20 accepted; disabled; 20 held; still disabled at 19; resumed at 18, the late one accepted");
    const std::string said = card.Said();
    EXPECT_EQ(Count(said, "[note] sockets disabled, connection limit reached"), 1) << said;
    EXPECT_EQ(Count(said, "[note] sockets enabled again"), 1) << said;
}

TEST(ServerStartTest, FirstSigintDrainsSecondStops) {
    Card card;
    const std::string seen = InChildText([&] {
        card.RedirectStandardError();
        server* srv = server_start();
        if (srv == nullptr) {
            return std::string("failed");
        }
        std::string report;
        const int client = test::ConnectToHttpServer(card.port);
        TurnUntil(srv, [&] { return srv->conns->used == 1; });
        raise(SIGINT);
        server_loop_turn(srv, 0);
        report += server_loop_should_stop() ? "stopped at once;" : "draining;";
        report += test::ConnectToHttpServer(card.port) == -1 ? " listener closed;" : " still listening;";
        server_loop_turn(srv, 0);
        report += server_loop_should_stop() ? " stopped with a client left;" : " client still served;";
        raise(SIGINT);
        report += server_loop_should_stop() ? " second SIGINT stops" : " second SIGINT ignored";
        close(client);
        server_exit(srv);
        report += webserver_isServerClose() ? ", closed" : ", not closed";
        return report + " PID = " + std::to_string(getpid());
    });
    EXPECT_THAT(seen, HasSubstr("draining; listener closed; client still served; second SIGINT stops, closed"));
    const std::string pid = seen.substr(seen.find("PID = "));
    const std::string said = card.Said();
    EXPECT_THAT(said, HasSubstr("[note] graceful shutdown started"));
    EXPECT_THAT(said, HasSubstr("server stopped by UID = " + std::to_string(getuid()) + " " + pid));
}

TEST(ServerStartTest, GracefulShutdownEndsWhenTheLastClientLeaves) {
    Card card;
    const std::string seen = card.WithServer([&](server* srv) {
        const int client = test::ConnectToHttpServer(card.port);
        TurnUntil(srv, [&] { return srv->conns->used == 1; });
        raise(SIGINT);
        server_loop_turn(srv, 0);
        std::string report = server_loop_should_stop() ? "stopped early;" : "draining;";
        close(client);
        report += TurnUntil(srv, [] { return server_loop_should_stop(); }) ? " stopped" : " never stopped";
        return report;
    });
    EXPECT_EQ(seen, "draining; stopped");
}

TEST(ServerStartTest, HangUpCyclesTheLogAndTermStops) {
    Card card;
    const std::string seen = card.WithServer([&](server* srv) {
        raise(SIGHUP);
        server_loop_turn(srv, 0);
        std::string report = server_loop_should_stop() ? "stopped by SIGHUP;" : "running;";
        raise(SIGTERM);
        report += server_loop_should_stop() ? " stopped by SIGTERM" : " SIGTERM ignored";
        return report;
    });
    EXPECT_EQ(seen, "running; stopped by SIGTERM");
    EXPECT_THAT(card.Said(), HasSubstr("logfiles cycled UID = " + std::to_string(getuid()) + " PID = "));
}

// The card's other threads block in reads and waits: the handlers must not
// make those calls fail with EINTR.
TEST(ServerStartTest, SignalHandlersRestartInterruptedCalls) {
    Card card;
    const std::string seen = card.WithServer([&](server* /*srv*/) {
        std::string report;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGCHLD}) {
            struct sigaction act {};
            sigaction(sig, nullptr, &act);
            report += (act.sa_flags & SA_RESTART) != 0 && (act.sa_flags & SA_SIGINFO) != 0 ? "r" : "-";
        }
        struct sigaction pipeAct {};
        sigaction(SIGPIPE, nullptr, &pipeAct);
        report += pipeAct.sa_handler == SIG_IGN ? " pipe ignored" : " pipe not ignored";
        return report;
    });
    EXPECT_EQ(seen, "rrrrr pipe ignored");
}

handler_t FailingHandler(server* /*srv*/, void* ctx, int /*revents*/) {
    char byte = 0;
    const ssize_t ignored = read(*static_cast<int*>(ctx), &byte, 1);
    (void)ignored;
    return HANDLER_ERROR;
}

TEST(ServerStartTest, AFailingDescriptorHandlerIsLoggedAndTheLoopGoesOn) {
    Card card;
    const std::string seen = card.WithServer([&](server* srv) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            return std::string("no pipe");
        }
        int ndx = -1;
        fdevent_register(srv->ev, ends[0], FailingHandler, &ends[0]);
        fdevent_event_set(srv->ev, &ndx, ends[0], FDEVENT_IN);
        const ssize_t ignored = write(ends[1], "x", 1);
        (void)ignored;
        server_loop_turn(srv, 100);
        std::string report = server_loop_should_stop() ? "stopped;" : "running;";
        const int client = test::ConnectToHttpServer(card.port);
        report += TurnUntil(srv, [&] { return srv->conns->used == 1; }) ? " still accepting" : " not accepting";
        close(client);
        fdevent_event_del(srv->ev, &ndx, ends[0]);
        fdevent_unregister(srv->ev, ends[0]);
        return report + " fd " + std::to_string(ends[0]);
    });
    EXPECT_THAT(seen, HasSubstr("running; still accepting"));
    const std::string fd = seen.substr(seen.rfind(' ') + 1);
    EXPECT_THAT(card.Said(), HasSubstr("handling an event failed for fd: " + fd));
}

TEST(ServerStartTest, ShutdownThenRestartOnTheSamePort) {
    Card card;
    const std::string seen = InChildText([&] {
        card.RedirectStandardError();
        std::string report;
        for (int round = 0; round < 2; ++round) {
            server* srv = server_start();
            if (srv == nullptr) {
                return report + " start failed";
            }
            const int client = test::ConnectToHttpServer(card.port);
            report += client >= 0 ? "listening," : "not listening,";
            report += webserver_isServerClose() ? " closed;" : " open;";
            webserver_shutdown(true);
            server_loop_turn(srv, 0);
            if (server_loop_should_stop()) {
                server_exit(srv);
            }
            report += webserver_isServerClose() ? " closed after shutdown;" : " still open;";
            close(client);
            webserver_shutdown(false);
            report += test::ConnectToHttpServer(card.port) == -1 ? " port free. " : " port held. ";
        }
        return report;
    });
    const std::string round = "listening, open; closed after shutdown; port free. ";
    EXPECT_EQ(seen, round + round);
}

// Web_Start as the card calls it: a detached thread that logs its start.
TEST(ServerStartTest, WebStartRunsTheServerInADetachedThread) {
    Card card;
    const std::string seen = InChildText([&] {
        card.RedirectStandardError();
        std::string report = Web_Start() == WEB_SUCCESS ? "started;" : "failed;";
        int client = -1;
        for (int i = 0; i < 500 && client == -1; ++i) {
            client = test::ConnectToHttpServer(card.port);
            if (client == -1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        report += client >= 0 ? " listening;" : " not listening;";
        close(client);
        webserver_shutdown(true);
        bool closed = false;
        for (int i = 0; i < 500 && !closed; ++i) {
            closed = webserver_isServerClose();
            if (!closed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        report += closed ? " closed" : " still running";
        return report + " | " + card.env.Console();
    });
    EXPECT_THAT(seen, HasSubstr("started; listening; closed"));
    EXPECT_THAT(seen, HasSubstr("Web thread create successfully!"));
}

}  // namespace
}  // namespace hx
