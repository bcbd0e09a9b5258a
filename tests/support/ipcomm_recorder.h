// The inter-board send recorder of the tests, over a simulated chassis: every
// board (slots 0-16) listens at its loopback address on a free port, which the
// run profile then names as the inter-board port, and the resource records
// carry those addresses. While one ChassisPeers lives, IPComm_TakeRecordedSends
// lists the messages the boards acknowledged, and IPComm_FailNextSends makes
// the next sends fail with 1540 (every attempt answered with an error).
#pragma once

#include <vector>

#include "core/types.h"
#include "sim/chassis/sim_chassis.h"

namespace hx {

struct IPCommRecordedSend {
    U32 slot;
    U32 command;
    std::vector<U8> data;
};
// The sends recorded so far, oldest first; taking clears them.
std::vector<IPCommRecordedSend> IPComm_TakeRecordedSends();
// The next `count` sends fail with `code` (0 stops failing). Only 1540 can be
// made this way; a refused connection (1539) is ChassisPeers::chassis().Refuse.
void IPComm_FailNextSends(U32 code, U32 count = 1);

namespace test {

class ChassisPeers {
public:
    ChassisPeers();
    ~ChassisPeers();
    ChassisPeers(const ChassisPeers&) = delete;
    ChassisPeers& operator=(const ChassisPeers&) = delete;
    SimChassis& chassis() { return chassis_; }
    // Writes the boards' addresses into the resource records again (after a
    // test reset them).
    void AssignAddresses();

private:
    SimChassis chassis_;
};

}  // namespace test
}  // namespace hx
