// The 160T configuration port of the simulated main FPGA (192-196).
//
// 192 = 1 starts a load (clearing "loaded") and makes the port ready, 0
// releases it; 194 takes the length in bytes; each write of 195 pushes four
// bytes (first in bits 31-24); a pulse of 196 ends the load. The load is done
// only when the words pushed cover the length exactly (the last word
// zero-padded), else it ends in error. 193 reads bit 0 ready, bit 1 done,
// bit 2 error. The port keeps the CRC (CRC-32/MPEG-2) of the bytes it took.
//
// Faults for tests: a port that fails every load (the run profile's
// simBitstreamFails), never becomes ready, or never reports done.
#pragma once

#include <mutex>
#include <vector>

#include "sim/register_model.h"

namespace hx::sim {

struct ConfigPortFaults {
    bool failLoads = false;
    bool neverReady = false;
    bool neverDone = false;
};

class ConfigPortModel final : public RegisterModel {
public:
    explicit ConfigPortModel(ConfigPortFaults faults = {}) : faults_(faults) {}

    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32 index) override;

    void SetFaults(ConfigPortFaults faults);
    // True from a done load until the next start.
    bool Loaded();
    // CRC of the bytes of the last done load.
    U32 Crc();
    U32 Length();
    U32 WordsPushed();
    U32 LoadsDone();

private:
    void End();

    std::mutex mutex_;
    ConfigPortFaults faults_;
    bool ready_ = false;
    bool done_ = false;
    bool error_ = false;
    bool loaded_ = false;
    U32 length_ = 0;
    U32 words_ = 0;
    U32 crc_ = 0;
    U32 loadsDone_ = 0;
    std::vector<U8> bytes_;
    Strobe endStrobe_;
};

}  // namespace hx::sim
