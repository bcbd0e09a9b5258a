// The card's own inter-board server, started in the test process for tests
// that talk to it over loopback TCP as another board of the chassis would.
//
// Construct it after the TestEnvironment and after any change of the run
// profile the server should see: it listens at the profile's listening
// address on `port` (0: a port the system picks) and waits `receiveTimeoutMs`
// for a packet on each connection; the destructor stops it. A server that
// does not come up is a test failure and leaves port() at 0.
#pragma once

#include <vector>

#include "core/types.h"

namespace hx::test {

class CardServer {
public:
    explicit CardServer(U16 port = 0, U32 receiveTimeoutMs = 200);
    ~CardServer();
    CardServer(const CardServer&) = delete;
    CardServer& operator=(const CardServer&) = delete;

    U16 port() const { return port_; }

private:
    U16 port_ = 0;
};

// A client connection to 127.0.0.1:port (-1 and a test failure when refused).
int ConnectToCard(U16 port);

// One exchange on a fresh connection to 127.0.0.1:port: the block written in
// the given pieces, then the reply awaited `replyWaitMs`. The reply's command;
// 0 when the connection ended without one.
U16 ExchangeWithCard(U16 port, const std::vector<std::vector<U8>>& pieces, U32 replyWaitMs = 2000);

}  // namespace hx::test
