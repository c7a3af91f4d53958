#ifndef SANDBOXGUARD_H
#define SANDBOXGUARD_H

#include <cstdlib>
#include <cstring>
#include <linux/magic.h>
#include <sys/vfs.h>

// Tests that touch the device's fixed paths run only inside the sandbox: the launcher sets the
// marker and gives the test a tmpfs root. Both must hold, so a stray environment variable on a
// real machine is not enough.
inline bool insideSandbox()
{
    const char *marker = std::getenv("TOVRIMAX_SANDBOX");
    struct statfs root;
    return marker && std::strcmp(marker, "1") == 0 && statfs("/", &root) == 0 &&
           root.f_type == TMPFS_MAGIC;
}

#endif // SANDBOXGUARD_H
