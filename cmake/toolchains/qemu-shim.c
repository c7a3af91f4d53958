/* Preloaded by qemu-run into the board's programs run under qemu-user 7, to hide three ways in
 * which the emulator differs from the board. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

/* QProcess asks the kernel whether clone() can hand out a process fd, by calling waitid() with
 * P_PIDFD; the kernel says yes, but qemu refuses such clones, so every QProcess start would
 * fail. Answering "not supported" makes Qt fall back to a plain fork, which qemu runs fine. */
long syscall(long number, ...)
{
    static long (*next)(long, ...);
    long arg[6];
    va_list ap;

    va_start(ap, number);
    for (int i = 0; i < 6; ++i)
        arg[i] = va_arg(ap, long);
    va_end(ap);

    if (number == SYS_waitid && arg[0] == P_PIDFD) {
        errno = EINVAL;
        return -1;
    }
    if (!next)
        next = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return next(number, arg[0], arg[1], arg[2], arg[3], arg[4], arg[5]);
}

/* qemu reports a program killed by SIGABRT with a line of its own on the program's standard
 * error, where the board prints nothing. The program has said all it had to say by now. */
void abort(void)
{
    static void (*next)(void);
    const int null = open("/dev/null", O_WRONLY);

    if (null >= 0)
        dup2(null, STDERR_FILENO);
    if (!next)
        next = (void (*)(void))dlsym(RTLD_NEXT, "abort");
    next();
    _exit(127); /* not reached: the real abort() does not return */
}

/* The children the programs start are programs of this machine: take this library (first on
 * the list) off the preload list they inherit, or their loader complains of a foreign object.
 * Besides, the process carries the emulator's name (qemu-arm), where the board's carries the
 * program's: "killall Tovrimax" or "pkill -x Tovrimax" would not find it. */
__attribute__((constructor)) static void startAsOnTheBoard(void)
{
    prctl(PR_SET_NAME, program_invocation_short_name);

    const char *list = getenv("LD_PRELOAD");
    const char *self = strstr(list ? list : "", "tovrimax-qemu-shim.so");
    if (!self)
        return;
    const char *rest = strchr(self, ':');
    if (rest && rest[1])
        setenv("LD_PRELOAD", rest + 1, 1);
    else
        unsetenv("LD_PRELOAD");
}
