// The management service's thread over loopback TCP, held at its pauses on the
// virtual clock: answers, split heads, dropped clients and a busy port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "chassis/nms_server.h"
#include "core/common_fun.h"
#include "support/test_env.h"

namespace hx {
namespace {

std::vector<U8> Head(U32 command, U32 length) {
    const auto bytes = NMS_EncodeHead(COMM_HEAD_t{command, length, 1, 0, 0, 0, 0, 0});
    return std::vector<U8>(bytes.begin(), bytes.end());
}

const std::vector<U8> kResultFrame = {0xFE, 0xFF, 0x38, 0x96, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// A management client on loopback. Reads never block: the test moves virtual
// time and looks at what has arrived.
class Client {
public:
    explicit Client(U16 port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        // Split sends must leave at once, not wait for an acknowledgement.
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(fd_); }
    bool connected() const { return connected_; }
    void Send(const std::vector<U8>& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    }
    // Takes what has arrived; notes the end of the stream.
    void Poll() {
        U8 chunk[256];
        for (;;) {
            const ssize_t got = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got > 0) {
                received_.insert(received_.end(), chunk, chunk + got);
                continue;
            }
            closed_ = closed_ || got == 0;
            return;
        }
    }
    const std::vector<U8>& received() { return received_; }
    bool closed() const { return closed_; }

private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::vector<U8> received_;
};

class NmsServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.managementPort = 0;
        SetProfile(profile);
        log_Init(kMainLogPath);
        clock().SetAutoAdvance(false);
    }

    void Start() {
        ASSERT_EQ(0u, NMS_SocketServerTask_Start());
        started_ = true;
        clock().WaitForSleepers(1);
        port_ = NMS_GetListenPort();
        ASSERT_NE(0, port_);
    }

    void TearDown() override {
        if (!started_) {
            return;
        }
        NMS_RequestStop();
        clock().SetAutoAdvance(true);
        clock().Advance(60'000'000);
        ASSERT_TRUE(NMS_WaitStopped(10'000));
    }

    VirtualClock& clock() { return env.clock(); }

    // Lets the service run from its current pause to its next one.
    void Step() {
        const std::vector<std::uint64_t> history = clock().SleepHistory();
        clock().Advance(history.back());
        clock().WaitForSleepCalls(history.size() + 1);
    }

    // Steps until `done` holds; false if it never does within `limit` steps.
    bool StepUntil(const std::function<bool()>& done, int limit = 400) {
        for (int i = 0; i < limit; ++i) {
            if (done()) {
                return true;
            }
            Step();
        }
        return done();
    }

    bool Answered(Client& client, std::size_t bytes = kResultFrame.size()) {
        return StepUntil([&] {
            client.Poll();
            return client.received().size() >= bytes;
        });
    }

    // True once the service has gone back to polling after a receive round.
    bool RoundEnded() {
        return StepUntil([&] {
            const std::uint64_t pause = clock().SleepHistory().back();
            return pause == 30'000 || pause == 200'000;
        });
    }

    std::size_t EmptyReadsSince(std::size_t from) {
        const auto history = clock().SleepHistory();
        return static_cast<std::size_t>(std::count(history.begin() + static_cast<long>(from), history.end(), 50'000));
    }

    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }

    test::TestEnvironment env;
    bool started_ = false;
    U16 port_ = 0;
};

TEST_F(NmsServerTest, ABareTestHeadGetsTheResultFrame) {
    Start();
    Client client(port_);
    ASSERT_TRUE(client.connected());
    client.Send(Head(kNmsCmdTest, 0));
    ASSERT_TRUE(Answered(client));
    EXPECT_EQ(kResultFrame, client.received());
    EXPECT_TRUE(Logged("u32CMD = 0x963800fe"));
    EXPECT_TRUE(Logged("[ERROR][SOCKET]"));
    EXPECT_TRUE(Logged(" Test."));
    for (int i = 0; i < 20; ++i) {
        Step();
    }
    client.Poll();
    EXPECT_EQ(24u, client.received().size()) << "one reply only";
    EXPECT_FALSE(client.closed());
}

TEST_F(NmsServerTest, QuitClosesWithoutReplyAndTheNextClientIsServed) {
    Start();
    Client first(port_);
    first.Send(Head(kNmsCmdQuit, 0));
    ASSERT_TRUE(StepUntil([&] {
        first.Poll();
        return first.closed();
    }));
    EXPECT_TRUE(first.received().empty());
    EXPECT_TRUE(Logged(" Quit."));

    Client second(port_);
    second.Send(Head(kNmsCmdTest, 0));
    ASSERT_TRUE(Answered(second));
    EXPECT_EQ(kResultFrame, second.received());
}

TEST_F(NmsServerTest, AnUnknownCodeGetsNoReplyAndTheConnectionStaysOpen) {
    Start();
    Client client(port_);
    client.Send(Head(0x12345678, 0));
    ASSERT_TRUE(StepUntil([&] { return Logged("Unknown CMD 0x12345678."); }));
    ASSERT_TRUE(RoundEnded());
    client.Send(Head(kNmsCmdTest, 0));
    ASSERT_TRUE(Answered(client));
    EXPECT_EQ(kResultFrame, client.received()) << "nothing came before the test's reply";
}

TEST_F(NmsServerTest, AHeadSplitTwelvePlusEightIsAnswered) {
    Start();
    Client client(port_);
    const std::vector<U8> head = Head(kNmsCmdTest, 0);
    client.Send(std::vector<U8>(head.begin(), head.begin() + 12));
    const std::size_t sent = clock().SleepHistory().size();
    ASSERT_TRUE(StepUntil([&] { return EmptyReadsSince(sent) >= 1; })) << "the round waits for the rest";
    client.Send(std::vector<U8>(head.begin() + 12, head.end()));
    ASSERT_TRUE(Answered(client));
    EXPECT_EQ(kResultFrame, client.received());
}

TEST_F(NmsServerTest, TenBytesAloneAreDroppedAfterSixEmptyReads) {
    Start();
    Client client(port_);
    const std::vector<U8> test = Head(kNmsCmdTest, 0);
    client.Send(std::vector<U8>(test.begin(), test.begin() + 10));
    const std::size_t sent = clock().SleepHistory().size();
    ASSERT_TRUE(StepUntil([&] { return EmptyReadsSince(sent) >= 6; }));
    ASSERT_TRUE(RoundEnded());
    EXPECT_EQ(6u, EmptyReadsSince(sent));
    // Were the ten bytes kept, a quit sent now would read as a test frame.
    client.Send(Head(kNmsCmdQuit, 0));
    ASSERT_TRUE(StepUntil([&] {
        client.Poll();
        return client.closed();
    }));
    EXPECT_TRUE(client.received().empty());
}

TEST_F(NmsServerTest, ATestHeadWithASixteenBytePayloadIsAnswered) {
    Start();
    Client client(port_);
    std::vector<U8> frame = Head(kNmsCmdTest, 16);
    frame.insert(frame.end(), 16, 0xAB);
    client.Send(frame);
    ASSERT_TRUE(Answered(client));
    EXPECT_EQ(kResultFrame, client.received());
    EXPECT_TRUE(Logged("3 u32TotalLen = 36, u32HadRecvLen = 36"));
}

TEST_F(NmsServerTest, LengthsPastTheBufferAreAnsweredWithoutCompletingTheFrame) {
    Start();
    Client client(port_);
    std::size_t expected = 0;
    for (const U32 length : {10221u, 0xFFFFFFECu, 0xFFFFFFFFu}) {
        env.TakeConsole();
        client.Send(Head(kNmsCmdTest, length));
        expected += kResultFrame.size();
        ASSERT_TRUE(Answered(client, expected)) << length;
        EXPECT_TRUE(Logged("NMS_RXD Failed(Cmd 0x963800fe).")) << length;
        EXPECT_FALSE(Logged("u32HadRecvLen")) << "nothing more was received for it";
        ASSERT_TRUE(RoundEnded());
    }
    EXPECT_EQ(kResultFrame, std::vector<U8>(client.received().end() - 24, client.received().end()));
}

TEST_F(NmsServerTest, ASecondClientClosesTheFirst) {
    Start();
    Client first(port_);
    first.Send(Head(kNmsCmdTest, 0));
    ASSERT_TRUE(Answered(first));
    Client second(port_);
    ASSERT_TRUE(StepUntil([&] {
        first.Poll();
        return first.closed();
    }));
    second.Send(Head(kNmsCmdTest, 0));
    ASSERT_TRUE(Answered(second));
    EXPECT_EQ(kResultFrame, second.received());
}

TEST_F(NmsServerTest, ABusyPortEndsTheServiceAfterFiveAttempts) {
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(holder, 1));
    socklen_t length = sizeof address;
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    RunProfile profile = Profile();
    profile.managementPort = ntohs(address.sin_port);
    SetProfile(profile);

    const std::size_t before = clock().SleepHistory().size();
    ASSERT_EQ(0u, NMS_SocketServerTask_Start());
    started_ = true;
    for (std::size_t attempt = 1; attempt <= 5; ++attempt) {
        clock().WaitForSleepCalls(before + attempt);
        EXPECT_EQ(5'000'000u, clock().SleepHistory().back());
        clock().Advance(5'000'000);
    }
    ASSERT_TRUE(NMS_WaitStopped(10'000));
    close(holder);
    EXPECT_EQ(before + 5, clock().SleepHistory().size());
    EXPECT_TRUE(Logged("Bind failed."));
    EXPECT_TRUE(Logged("Socket Server Create err"));
    EXPECT_EQ(0, NMS_GetListenPort());
}

}  // namespace
}  // namespace hx
