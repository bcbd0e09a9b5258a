// The SI insertion buffer of the simulated main FPGA (801-804).
//
// The card loads a 196-byte record as 49 big-endian words (803 = word index,
// 804 = word, 802 pulsed) and commits it with a pulse of 801. A committed
// record with all 49 words loaded, a channel (byte 1) of 0-15 and a sync byte
// 0x47 at byte 8 becomes one 188-byte packet (bytes 8-195) appended to
// "out-NN.ts" of its channel in the output folder ("sim/ts" in the data root
// on the simulated board); anything else is counted as rejected. A file that
// would pass the cap (64 MiB) is moved to "out-NN.ts.0" first.
//
// Files stay open between records (one descriptor per channel), so the
// appends keep up with the card's record rate.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/register_model.h"

namespace hx::sim {

constexpr std::uint64_t kSiFileCap = 64ull * 1024 * 1024;
constexpr U32 kSiChannels = 16;

class SiInsertionModel final : public RegisterModel {
public:
    // `folder`: real path of the output folder (created on the first packet).
    explicit SiInsertionModel(std::string folder, std::uint64_t capBytes = kSiFileCap);
    ~SiInsertionModel() override;
    SiInsertionModel(const SiInsertionModel&) = delete;
    SiInsertionModel& operator=(const SiInsertionModel&) = delete;

    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32) override { return std::nullopt; }

    U32 Accepted();
    U32 Rejected();
    // Real path of a channel's packet file.
    std::string FilePath(U32 channel) const;

private:
    void Commit();
    void Append(U32 channel, const U8* packet);
    bool Open(U32 channel, bool truncate);
    bool Rotate(U32 channel);

    const std::string folder_;
    const std::uint64_t cap_;
    std::mutex mutex_;
    U32 wordIndex_ = 0;
    U32 wordData_ = 0;
    bool overrun_ = false;  // a word index past the record was strobed
    Strobe wordStrobe_;
    Strobe commitStrobe_;
    std::array<U32, 49> words_{};
    std::bitset<49> loaded_;
    U32 accepted_ = 0;
    U32 rejected_ = 0;
    std::array<int, kSiChannels> files_;
    std::array<std::uint64_t, kSiChannels> sizes_{};
};

}  // namespace hx::sim
