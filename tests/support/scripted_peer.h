// A peer on the inter-board link that answers every packet with one fixed
// block, whatever its numbering or command, for tests of what a client does
// with a reply. It listens at 127.0.0.1 on a port the kernel picks, serves one
// connection at a time in a thread of its own (read one packet, write the
// block, close) and stops when it goes.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "core/types.h"

namespace hx::test {

class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<U8> reply);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    static constexpr U32 kAddress = 0x7F000001;
    U16 port() const { return port_; }
    // Connections answered so far.
    U32 served() const { return served_.load(); }

private:
    void Run();

    const std::vector<U8> reply_;
    int listener_ = -1;
    U16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<U32> served_{0};
    std::thread thread_;
};

// The wire form of one packet, as a peer would send it.
std::vector<U8> WirePacket(U8 fromSlot, U16 command, const std::vector<U8>& data, U32 index, U32 count);

}  // namespace hx::test
