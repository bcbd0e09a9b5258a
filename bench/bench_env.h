// What the benchmark programs set up around the code they measure: a
// temporary data root on the simulated board's profile, and the log running
// as on the card after start-up.
//
// Header only (every .cpp of bench/ is a program of its own). Set up once per
// program from the benchmark thread.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/log.h"
#include "core/run_profile.h"

namespace hx::bench {

// The simulated board's profile rooted in a new folder under /tmp (a local
// disk, so saves reach storage as on the card), with the card's folders;
// removed, and the card profile restored, when it goes.
class BenchDataRoot {
public:
    BenchDataRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hx-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            root_ = pattern;
            SetProfile(SimProfile(root_));
            PrepareDataRoot();
        }
    }
    ~BenchDataRoot() {
        SetProfile(CardProfile());
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    BenchDataRoot(const BenchDataRoot&) = delete;
    BenchDataRoot& operator=(const BenchDataRoot&) = delete;

private:
    std::filesystem::path root_;
};

// The log as start-up leaves it (initialised, every module, console and
// syslog), taking only the levels in `levels`; the console and syslog outputs
// are dropped, the device log is written in the data root. A line the masks
// take therefore costs what it costs on the card; a line they drop shows what
// dropping costs. Needs a data root.
inline void Bench_StartLog(U32 levels) {
    class DiscardSyslog final : public SyslogSink {
    public:
        void Open(const char*) override {}
        void Write(int, const std::string&) override {}
        void Close() override {}
    };
    static DiscardSyslog discard;
    Log_SetConsoleSink([](std::string_view) {});
    Log_SetSyslogSink(&discard);
    log_Init(kMainLogPath);
    Log_SetLevel(levels);
}

}  // namespace hx::bench
