#ifndef PROCESSLIFETIME_H
#define PROCESSLIFETIME_H

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// Marks an object that is deliberately never deleted: it lives until the process ends, for
// example so that a script it started finishes its work after the tool has exited instead of
// being killed with it. LeakSanitizer is told so for exactly this object; everything it owns
// stays reachable from it.
template<typename T> T *liveUntilProcessEnd(T *object)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_ignore_object(object);
#endif
    return object;
}

#endif // PROCESSLIFETIME_H
