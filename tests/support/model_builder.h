// Builds output-model content for tests, fuzz targets and benchmarks the way
// the input messages do: free slots from the engine's finders, records from
// its initialisers, each appended behind its chain's last member.
//
// Works on any model; for the live or temporary one the caller holds the
// model lock. Every Add returns the new record's index, or 0xFFFF when the
// engine refused (a pool that cannot grow, a chain the walkers reject).
#pragma once

#include <span>
#include <vector>

#include "engine/model_records.h"

namespace hx::test {

struct ProgramSpec {
    U8 sourceSlot = 3;
    U16 sourceChannel = 0;
    U16 programId = 1;
    U16 serviceId = 1;
    U16 pmtPid = 0x100;
    U16 pcrPid = 0x101;
};

struct PidSpec {
    U8 sourceSlot = 3;
    U16 sourceChannel = 0;
    U16 key = 0;       // the input key (an ES-level ECM keeps it in u16ESECMPIDIndex)
    U16 pid = 0x200;   // input and output PID
    U8 streamType = 0x02;
};

enum class TableChainKind { Nit, Bat, Tdt, Tot, OtherNit, OtherSdt };

class ModelBuilder {
public:
    explicit ModelBuilder(Output_TSInfo* model) : model_(model) {}

    // The valid stream of the channel, created (destination slot `slot`) when missing.
    U16 AddStream(U16 channel, U8 slot = 4);
    U16 AddProgram(U16 ts, const ProgramSpec& spec);
    // PCR, ES and program ECMs hang on a program, ES-level ECMs on an ES, EMM
    // and other PIDs on a stream; `owner` is that record's index.
    U16 AddPid(PIDTYPE_E type, U16 owner, const PidSpec& spec);
    // A descriptor record holding a loop longer than 188 bytes.
    U16 AddProgramDescriptor(U16 program, std::span<const U8> loop);
    U16 AddEsDescriptor(U16 es, std::span<const U8> loop);
    U16 AddTable(U16 ts, TableChainKind chain, U8 sourceSlot, U16 channel);

private:
    U16 AddDescriptor(U16 ts, std::span<const U8> loop);

    Output_TSInfo* model_;
};

// A model of its own with the given pool counts (0: defaults), freed at the end.
class ScopedModel {
public:
    explicit ScopedModel(const TSInfoInitNum& counts = {});
    ~ScopedModel();
    ScopedModel(const ScopedModel&) = delete;
    ScopedModel& operator=(const ScopedModel&) = delete;

    Output_TSInfo* get() { return &model_; }
    Output_TSInfo* operator->() { return &model_; }

private:
    Output_TSInfo model_{};
};

// Gives the live and temporary models fresh pools (counts as above) and frees
// them at the end, so each test starts from empty shared models.
class ScopedSharedModels {
public:
    explicit ScopedSharedModels(const TSInfoInitNum& counts = {});
    ~ScopedSharedModels();
    ScopedSharedModels(const ScopedSharedModels&) = delete;
    ScopedSharedModels& operator=(const ScopedSharedModels&) = delete;
};

// A CA descriptor (tag 9) for a loop: CA system ID, CA PID, private bytes.
std::vector<U8> CaDescriptor(U16 caSystemId, U16 caPid, std::size_t privateBytes = 0);

}  // namespace hx::test
