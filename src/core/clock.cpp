#include "core/clock.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace hx {

namespace {

SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};

}  // namespace

std::uint64_t SystemClock::MonotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

timespec SystemClock::WallTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// A sleep shorter than the kernel's timer slack (50 µs by default) would last
// at least the slack: the few-microsecond settle waits of the register window,
// 32 of them behind one status listing, would cost over 1.5 ms. Those spin on
// the monotonic clock instead; anything longer sleeps.
constexpr std::uint64_t kSpinBelowMicros = 50;

void SystemClock::SleepMicros(std::uint64_t micros) {
    if (micros < kSpinBelowMicros) {
        const std::uint64_t end = MonotonicMicros() + micros;
        while (MonotonicMicros() < end) {
        }
        return;
    }
    timespec request{static_cast<time_t>(micros / 1'000'000u), static_cast<long>(micros % 1'000'000u) * 1000};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

FastClock::FastClock(std::uint32_t speedUp)
    : speedUp_(speedUp == 0 ? 1 : speedUp), startMicros_(real_.MonotonicMicros()) {}

std::uint64_t FastClock::MonotonicMicros() {
    return startMicros_ + (real_.MonotonicMicros() - startMicros_) * speedUp_;
}

timespec FastClock::WallTime() { return real_.WallTime(); }

void FastClock::SleepMicros(std::uint64_t micros) { real_.SleepMicros(micros / speedUp_); }

VirtualClock::VirtualClock(std::uint64_t startMicros, std::time_t wallSeconds)
    : now_(startMicros), wallOffsetMicros_(static_cast<std::uint64_t>(wallSeconds) * 1'000'000u - startMicros) {}

std::uint64_t VirtualClock::MonotonicMicros() {
    std::lock_guard lock(mutex_);
    return now_;
}

timespec VirtualClock::WallTime() {
    std::lock_guard lock(mutex_);
    const std::uint64_t wall = now_ + wallOffsetMicros_;
    return timespec{static_cast<time_t>(wall / 1'000'000u), static_cast<long>(wall % 1'000'000u) * 1000};
}

void VirtualClock::SleepMicros(std::uint64_t micros) {
    std::unique_lock lock(mutex_);
    history_.push_back(micros);
    if (autoAdvance_) {
        now_ += micros;
        changed_.notify_all();
        return;
    }
    const std::uint64_t deadline = now_ + micros;
    ++sleepers_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return now_ >= deadline; });
    --sleepers_;
    changed_.notify_all();
}

void VirtualClock::SetAutoAdvance(bool on) {
    std::lock_guard lock(mutex_);
    autoAdvance_ = on;
}

void VirtualClock::Advance(std::uint64_t micros) {
    std::lock_guard lock(mutex_);
    now_ += micros;
    changed_.notify_all();
}

void VirtualClock::SetWallSeconds(std::time_t seconds) {
    std::lock_guard lock(mutex_);
    wallOffsetMicros_ = static_cast<std::uint64_t>(seconds) * 1'000'000u - now_;
}

void VirtualClock::WaitForSleepers(std::size_t count) {
    std::unique_lock lock(mutex_);
    WaitOrEnd(lock, [&] { return sleepers_ >= count; }, [&] {
        return std::to_string(count) + " threads asleep on it; " + std::to_string(sleepers_) + " are";
    });
}

void VirtualClock::WaitForSleepCalls(std::size_t count) {
    std::unique_lock lock(mutex_);
    WaitOrEnd(lock, [&] { return history_.size() >= count; }, [&] {
        return "sleep call " + std::to_string(count) + " on it; " + std::to_string(history_.size()) + " were made";
    });
}

template <typename Ready, typename Describe>
void VirtualClock::WaitOrEnd(std::unique_lock<std::mutex>& lock, Ready ready, Describe describe) {
    if (changed_.wait_for(lock, realTimeCap_, ready)) {
        return;
    }
    std::fprintf(stderr, "VirtualClock: waited %lld ms of real time for %s\n",
                 static_cast<long long>(realTimeCap_.count()), describe().c_str());
    std::abort();
}

std::size_t VirtualClock::Sleepers() {
    std::lock_guard lock(mutex_);
    return sleepers_;
}

void VirtualClock::SetRealTimeCap(std::chrono::milliseconds cap) {
    std::lock_guard lock(mutex_);
    realTimeCap_ = cap;
}

std::vector<std::uint64_t> VirtualClock::SleepHistory() {
    std::lock_guard lock(mutex_);
    return history_;
}

Clock& TheClock() { return *g_clock.load(std::memory_order_acquire); }

void SetClock(Clock* clock) { g_clock.store(clock != nullptr ? clock : &g_systemClock, std::memory_order_release); }

}  // namespace hx
