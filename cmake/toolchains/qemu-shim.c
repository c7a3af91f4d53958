/* Preloaded by qemu-run into the board's programs run under qemu-user 7, to hide five ways in
 * which the emulator differs from the board. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__aarch64__)
#define BOARD_MACHINE EM_AARCH64
#define BOARD_QEMU "/usr/bin/qemu-aarch64"
#elif defined(__arm__)
#define BOARD_MACHINE EM_ARM
#define BOARD_QEMU "/usr/bin/qemu-arm"
#endif

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

/* A program of the board that a program starts (the tool's output drain) is started under qemu
 * the way qemu-run --board starts the tool: this machine's kernel cannot run it. Everything is
 * made ready by the constructor, since execve() runs in a child between fork and exec. */
static int (*next_execve)(const char *, char *const[], char *const[]);
static char library_root[PATH_MAX + 32], library_path[PATH_MAX + 32], preload[PATH_MAX + 32];

static int is_board_program(const char *path)
{
    unsigned char header[EI_NIDENT + 4];
    uint16_t machine;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : read(fd, header, sizeof header);

    if (fd >= 0)
        close(fd);
    if (got < (ssize_t)sizeof header || memcmp(header, ELFMAG, SELFMAG) != 0)
        return 0;
    memcpy(&machine, header + EI_NIDENT + 2, sizeof machine);
    return machine == BOARD_MACHINE;
}

/* qemu needs only to read a program: one that the board's kernel would refuse (not
 * executable, or not there) fails here as it would there, with the same errno. */
int execve(const char *path, char *const argv[], char *const envp[])
{
    int argc = 0;

    if (!library_root[0] || !is_board_program(path))
        return next_execve(path, argv, envp);
    if (access(path, X_OK) != 0)
        return -1;
    while (argv[argc])
        ++argc;
    {
        const char *fixed[] = {BOARD_QEMU, "-L", library_root, "-E", library_path, "-E", preload,
                               "-0", argc ? argv[0] : path, path};
        const int nfixed = sizeof fixed / sizeof fixed[0];
        char *args[nfixed + argc + 1];

        memcpy(args, fixed, sizeof fixed);
        for (int i = 1; i <= argc; ++i)
            args[nfixed + i - 1] = argv[i];
        return next_execve(BOARD_QEMU, args, envp);
    }
}

static void prepare_board_starts(void)
{
    Dl_info self;
    char dir[PATH_MAX];

    next_execve = (int (*)(const char *, char *const[], char *const[]))dlsym(RTLD_NEXT, "execve");
    if (!dladdr((void *)prepare_board_starts, &self) || !self.dli_fname)
        return;
    snprintf(dir, sizeof dir, "%s", self.dli_fname); /* <root>/usr/lib/<triplet>/<shim> */
    if (!strrchr(dir, '/'))
        return;
    *strrchr(dir, '/') = '\0';
    snprintf(preload, sizeof preload, "LD_PRELOAD=%s", self.dli_fname);
    snprintf(library_path, sizeof library_path, "LD_LIBRARY_PATH=%s", dir);
    snprintf(library_root, sizeof library_root, "%s/tovrimax-qemu-root", dir);
}

/* The children the programs start are programs of this machine: take this library (first on
 * the list) off the preload list they inherit, or their loader complains of a foreign object.
 * Besides, the process carries the emulator's name (qemu-arm), where the board's carries the
 * program's: "killall Tovrimax" or "pkill -x Tovrimax" would not find it. */
__attribute__((constructor)) static void startAsOnTheBoard(void)
{
    prctl(PR_SET_NAME, program_invocation_short_name);
    prepare_board_starts();

    /* qemu notes the signals the program inherited ignored, but catches the fatal ones
     * (SIGHUP, ...) itself, so a program started from it finds them at their default. Ignored
     * once more through qemu, they stay ignored across exec, as on the board. */
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction now;
        if (sig != SIGKILL && sig != SIGSTOP && sigaction(sig, NULL, &now) == 0 &&
            now.sa_handler == SIG_IGN)
            sigaction(sig, &now, NULL);
    }

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
