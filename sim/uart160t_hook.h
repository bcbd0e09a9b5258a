// The byte UART towards the 160T on the simulated main FPGA (32-43): the point
// where a model of the 160T plugs in.
//
// The card sends a byte by writing 42 and pulsing 41; the hook hands it to the
// attached peer. The peer answers with SendToCard; the card sees 37 bit 0
// clear while bytes wait, reads the next one from 35 and pops it by pulsing
// 34. A pulse of 33 empties the receive side. A reply may be given a time
// (TheClock()) before which the card does not see it, the way a slow 160T
// answers late. The transmit side only fills when a test holds it full (43
// reads 1; a byte pushed then is lost).
//
// The link is silent until the 160T is loaded (the `loaded` predicate, the
// configuration port's state on the simulated board): before that, bytes in
// either direction are dropped. Without a peer, 37 reads empty for ever.
//
// The peer runs inside the card's register write (under g_reg_mutex): it must
// not touch the register window itself; SendToCard is safe to call from it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "sim/register_model.h"

namespace hx::sim {

class Uart160THook final : public RegisterModel {
public:
    using Peer = std::function<void(U8 byte)>;

    // An empty predicate means always loaded.
    explicit Uart160THook(std::function<bool()> loaded = {}) : loaded_(std::move(loaded)) {}

    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32 index) override;

    void AttachPeer(Peer peer);
    // Queues bytes for the card; they become visible once TheClock() has
    // reached `visibleAtMicros` (0: at once), in order behind earlier bytes.
    void SendToCard(std::span<const U8> bytes, std::uint64_t visibleAtMicros = 0);
    // Bytes queued for the card, visible or not yet.
    std::size_t PendingToCard();
    void HoldTransmitFull(bool full);

private:
    bool Loaded() const { return !loaded_ || loaded_(); }

    const std::function<bool()> loaded_;
    std::mutex mutex_;
    Peer peer_;
    U32 transmitByte_ = 0;
    Strobe pushStrobe_;
    Strobe popStrobe_;
    Strobe resetStrobe_;
    bool transmitFull_ = false;
    struct QueuedByte {
        U8 byte;
        std::uint64_t visibleAtMicros;
    };
    std::deque<QueuedByte> toCard_;
};

}  // namespace hx::sim
