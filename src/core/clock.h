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

#include <chrono>
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

// The system clock run `speedUp` times faster: every sleep takes that much
// less real time, and monotonic time moves that much faster, so deadlines
// measured on it agree with the sleeps. The wall clock stays the real one (log
// lines and time tables carry the true time of day). For runs of the program
// on the simulated board that must not sit through the card's fixed waits.
class FastClock final : public Clock {
public:
    explicit FastClock(std::uint32_t speedUp);

    std::uint64_t MonotonicMicros() override;
    timespec WallTime() override;
    void SleepMicros(std::uint64_t micros) override;

private:
    SystemClock real_;
    std::uint32_t speedUp_;
    std::uint64_t startMicros_;
};

// A clock that only moves when told to.
//
// In blocking mode (the default) SleepMicros waits until Advance() has moved
// time past the sleeper's deadline, so a test can hold a thread at a known
// point, check what it did, and release it. In auto-advance mode a sleep moves
// time forward by its own length and returns at once, for single-threaded code
// whose waits only need to add up.
//
// The waits of the test's side (WaitForSleepers, WaitForSleepCalls) give up
// after a minute of real time (SetRealTimeCap): a thread that never gets where
// the test expects it ends the test program with a message on standard error,
// instead of holding it until the test runner's time limit.
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
    // How long, in real time, the two waits above wait before they end the program.
    void SetRealTimeCap(std::chrono::milliseconds cap);

private:
    // Waits for `ready`; past the real-time cap prints what it waited for
    // (`describe()`) and aborts.
    template <typename Ready, typename Describe>
    void WaitOrEnd(std::unique_lock<std::mutex>& lock, Ready ready, Describe describe);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t now_;
    std::uint64_t wallOffsetMicros_;
    bool autoAdvance_ = false;
    std::size_t sleepers_ = 0;
    std::vector<std::uint64_t> history_;
    std::chrono::milliseconds realTimeCap_ = std::chrono::minutes(1);
};

Clock& TheClock();
// nullptr restores the system clock. The clock must outlive its use.
void SetClock(Clock* clock);

}  // namespace hx
