#include "http/fdevent.h"

namespace hx {

extern "C" void fdevent_free(fdevents*) {}

}  // namespace hx
