// Time seam: the monotonic clock, the wall clock and sleeping.
//
// Every wait of the card application (the 160T poll's 100 s, the resource
// announcement's 1 s retries, the LED periods, the per-channel 60 ms pauses,
// the tick timer) sleeps through TheClock(), so tests replace it with a
// VirtualClock and step time instead of sleeping.
//
// TheClock() is read by every thread; SetClock() is called by tests while no
// card thread depends on the previous clock. VirtualClock is internally locked
// (its own mutex) and may be used from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <vector>

namespace hx {

class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since an arbitrary start; never goes backwards.
    virtual std::uint64_t MonotonicMicros() = 0;
    // Wall-clock time as seconds and microseconds since the epoch.
    virtual timespec WallTime() = 0;
    virtual void SleepMicros(std::uint64_t micros) = 0;
};

class SystemClock final : public Clock {
public:
    std::uint64_t MonotonicMicros() override;
    timespec WallTime() override;
    void SleepMicros(std::uint64_t micros) override;
};

// A clock that only moves when told to.
//
// In blocking mode (the default) SleepMicros waits until Advance() has moved
// time past the sleeper's deadline, so a test can hold a thread at a known
// point, check what it did, and release it. In auto-advance mode a sleep moves
// time forward by its own length and returns at once, for single-threaded code
// whose waits only need to add up.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint64_t startMicros = 1'000'000, std::time_t wallSeconds = 1'767'225'600);

    std::uint64_t MonotonicMicros() override;
    timespec WallTime() override;
    void SleepMicros(std::uint64_t micros) override;

    void SetAutoAdvance(bool on);
    void Advance(std::uint64_t micros);
    void SetWallSeconds(std::time_t seconds);
    // Blocks until at least `count` threads sleep on this clock.
    void WaitForSleepers(std::size_t count);
    std::size_t Sleepers();
    // Blocks until SleepMicros has been entered `count` times in all. After an
    // Advance, waiting for the next call is how a test knows a looping thread
    // has finished its turn and is parked again.
    void WaitForSleepCalls(std::size_t count);
    // Every sleep requested so far, in order (for checking periods).
    std::vector<std::uint64_t> SleepHistory();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t now_;
    std::uint64_t wallOffsetMicros_;
    bool autoAdvance_ = false;
    std::size_t sleepers_ = 0;
    std::vector<std::uint64_t> history_;
};

Clock& TheClock();
// nullptr restores the system clock. The clock must outlive its use.
void SetClock(Clock* clock);

}  // namespace hx
