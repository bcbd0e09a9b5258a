#include "core/thread_util.h"

#include <pthread.h>

namespace hx {

int Thread_StartDetached(ThreadEntry entry, void* argument) {
    pthread_attr_t attributes;
    int result = pthread_attr_init(&attributes);
    if (result != 0) {
        return result;
    }
    result = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (result == 0) {
        pthread_t thread{};
        result = pthread_create(&thread, &attributes, entry, argument);
    }
    pthread_attr_destroy(&attributes);
    return result;
}

}  // namespace hx
