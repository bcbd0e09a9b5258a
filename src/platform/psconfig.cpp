#include "platform/psconfig.h"

#include "core/clock.h"
#include "core/log.h"
#include "platform/fpga_reg.h"

namespace hx {

namespace {

constexpr U32 kTarget160T = 1;
constexpr std::uint64_t kReadyTimeoutMicros = 100'000;
constexpr std::uint64_t kDoneTimeoutMicros = 1'000'000;
constexpr std::uint64_t kPollMicros = 1'000;

// Polls the status register until one of `bits` is set or the time is up;
// the status word that ended the wait, or 0 on time-out.
U32 WaitForStatus(U32 bits, std::uint64_t timeoutMicros) {
    Clock& clock = TheClock();
    const std::uint64_t deadline = clock.MonotonicMicros() + timeoutMicros;
    for (;;) {
        U32 status = 0;
        REG_Read(kRegConfigStatus, &status);
        if ((status & bits) != 0) {
            return status;
        }
        if (clock.MonotonicMicros() >= deadline) {
            return 0;
        }
        clock.SleepMicros(kPollMicros);
    }
}

U32 Release(U32 result) {
    REG_Write(kRegConfigControl, 0);
    return result;
}

}  // namespace

U32 PSConf_FWConfigGeneralFPGA32Bit(const U8* data, U32 length, U32 target) {
    if (data == nullptr || length == 0 || target != kTarget160T) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PSCONFIG input error: length %u target %u\n", length, target);
        return PSCONF_BAD_INPUT;
    }
    REG_Write(kRegConfigControl, 1);
    if (WaitForStatus(kConfigStatusReady, kReadyTimeoutMicros) == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PSCONFIG port not ready\n");
        return Release(PSCONF_TIMEOUT);
    }
    REG_Write(kRegConfigLength, length);
    const U32 wholeWords = length / 4;
    for (U32 word = 0; word < wholeWords; ++word) {
        const U8* bytes = data + 4 * static_cast<std::size_t>(word);
        REG_Write(kRegConfigData, static_cast<U32>(bytes[0]) << 24 | static_cast<U32>(bytes[1]) << 16 |
                                      static_cast<U32>(bytes[2]) << 8 | bytes[3]);
    }
    if (const U32 rest = length % 4; rest != 0) {
        U32 last = 0;
        for (U32 i = 0; i < rest; ++i) {
            last |= static_cast<U32>(data[4 * static_cast<std::size_t>(wholeWords) + i]) << (24 - 8 * i);
        }
        REG_Write(kRegConfigData, last);
    }
    REG_Write(kRegConfigEnd, 0);
    REG_Write(kRegConfigEnd, 1);
    REG_Write(kRegConfigEnd, 0);
    const U32 status = WaitForStatus(kConfigStatusDone | kConfigStatusError, kDoneTimeoutMicros);
    if (status == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PSCONFIG load not done in time\n");
        return Release(PSCONF_TIMEOUT);
    }
    if ((status & kConfigStatusError) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PSCONFIG port reports error, status 0x%x\n", status);
        return Release(PSCONF_ERROR);
    }
    return Release(PSCONF_OK);
}

}  // namespace hx
