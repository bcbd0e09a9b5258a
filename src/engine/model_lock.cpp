#include "engine/model_lock.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

#include "engine/output_model.h"

namespace hx {

namespace {

// Statically initialised, so start-up's first use (the parameter store, before
// any thread exists) needs no set-up step.
pthread_mutex_t s_modelMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
// How deep the calling thread holds the lock; only that thread reads or
// writes its own counter.
thread_local int t_depth = 0;

}  // namespace

TSP_ModelLock::TSP_ModelLock() : owned_(true) {
    pthread_mutex_lock(&s_modelMutex);
    ++t_depth;
}

TSP_ModelLock::TSP_ModelLock(std::try_to_lock_t) : owned_(pthread_mutex_trylock(&s_modelMutex) == 0) {
    if (owned_) {
        ++t_depth;
    }
}

TSP_ModelLock::~TSP_ModelLock() {
    if (owned_) {
        --t_depth;
        pthread_mutex_unlock(&s_modelMutex);
    }
}

bool TSP_ModelLockHeld() { return t_depth > 0; }

#if defined(HX_SANITIZED)
void ModelLock_DieUnlessHeld(const char* function) {
    if (t_depth == 0) {
        std::fprintf(stderr, "%s called without the model lock\n", function);
        std::abort();
    }
}

void ModelLock_DieIfHeld(const char* function) {
    if (t_depth > 0) {
        std::fprintf(stderr, "%s called with the model lock held\n", function);
        std::abort();
    }
}

void ModelLock_DieUnlessHeldFor(const Output_TSInfo* model, const char* function) {
    if (t_depth == 0 && model != nullptr && IsSharedModel(model)) {
        std::fprintf(stderr, "%s called without the model lock\n", function);
        std::abort();
    }
}
#endif

}  // namespace hx
