// The model lock: one recursive lock over both output models (live and
// temporary), their pools and the engine bookkeeping beside them.
//
// Who takes it: every entry point that reads or changes a model — the
// inter-board command handlers, the apply pipeline, the slot bookkeeping, the
// web and SNMP handlers, each pass of the LED monitor, the SI sender's time
// tables, the parameter store. Engine functions called under it re-enter it.
// Growth moves a pool, so a reader that walks a chain while another thread adds
// records would read freed memory: holding the lock across the whole walk is
// what makes the pointers it follows stay put.
//
// Order: model lock, then SIMutex, then g_reg_mutex; never the other way.
// Never held across a send to another board, a sleep or a wait on another
// thread: EIT lists, resource records and notices are built under it and sent
// after it is released. The SI sender only tries it (try_to_lock) for the time
// tables and retries on its next tick, so PSI never stalls behind an apply.
//
// In the sanitizer builds (HX_SANITIZED) the model getters and the engine
// functions handed one of the two models abort when the caller does not hold
// the lock, and the senders of the slot bookkeeping abort when it does.
#pragma once

#include <mutex>

#include "core/types.h"

namespace hx {

struct Output_TSInfo;

// Scoped holder of the model lock.
class TSP_ModelLock {
public:
    TSP_ModelLock();
    // Tries once; owns_lock() tells whether it got the lock.
    explicit TSP_ModelLock(std::try_to_lock_t);
    ~TSP_ModelLock();
    TSP_ModelLock(const TSP_ModelLock&) = delete;
    TSP_ModelLock& operator=(const TSP_ModelLock&) = delete;

    bool owns_lock() const { return owned_; }

private:
    bool owned_;
};

// True when the calling thread holds the model lock (at any depth).
bool TSP_ModelLockHeld();

// Sanitizer-build checks; no code in other builds.
#if defined(HX_SANITIZED)
void ModelLock_DieUnlessHeld(const char* function);
void ModelLock_DieIfHeld(const char* function);
void ModelLock_DieUnlessHeldFor(const Output_TSInfo* model, const char* function);
#define HX_MODEL_LOCK_REQUIRED() ::hx::ModelLock_DieUnlessHeld(__func__)
#define HX_MODEL_LOCK_REQUIRED_FOR(model) ::hx::ModelLock_DieUnlessHeldFor((model), __func__)
#define HX_MODEL_LOCK_FORBIDDEN() ::hx::ModelLock_DieIfHeld(__func__)
#else
#define HX_MODEL_LOCK_REQUIRED() ((void)0)
#define HX_MODEL_LOCK_REQUIRED_FOR(model) ((void)(model))
#define HX_MODEL_LOCK_FORBIDDEN() ((void)0)
#endif

}  // namespace hx
