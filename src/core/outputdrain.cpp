#include "outputdrain.h"

#include "childprocess.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

namespace {

// file descriptors scanned at most; the tool holds a few dozen
const rlim_t ScanLimit = 65536;

int descriptorLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur > ScanLimit)
        return static_cast<int>(ScanLimit);
    return static_cast<int>(limit.rlim_cur);
}

// The read end, open in this process, of the pipe whose write end is writeFd, or -1.
int readEndOf(int writeFd)
{
    struct stat pipe;
    if (fstat(writeFd, &pipe) != 0 || !S_ISFIFO(pipe.st_mode))
        return -1;
    const int limit = descriptorLimit();
    for (int fd = STDERR_FILENO + 1; fd < limit; ++fd) {
        struct stat end;
        if (fstat(fd, &end) == 0 && S_ISFIFO(end.st_mode) && end.st_ino == pipe.st_ino &&
            end.st_dev == pipe.st_dev && (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY)
            return fd;
    }
    return -1;
}

void closeFrom(int first)
{
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0)
        return;
#endif
    const int limit = descriptorLimit();
    for (int fd = first; fd < limit; ++fd)
        close(fd);
}

// The start report's place in the drain's process until its exec closes it; the drain
// program never sees it
const int StartReportFd = OutputDrain::LifelineFd + 1;

void report(int startReport, int error)
{
    while (write(startReport, &error, sizeof error) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void giveUp(int startReport)
{
    report(startReport, errno);
    _exit(127);
}

[[noreturn]] void execDrain(const char *program, int out, int err, int lifeline, int startReport)
{
    // out of the way first, so that moving one onto 3 to 6 never closes another
    const int from[] = {out, err, lifeline, startReport};
    int moved[4];
    for (int i = 0; i < 4; ++i) {
        moved[i] = fcntl(from[i], i < 3 ? F_DUPFD : F_DUPFD_CLOEXEC, 10);
        if (moved[i] < 0)
            giveUp(startReport);
    }
    if (dup3(moved[3], StartReportFd, O_CLOEXEC) < 0)
        giveUp(moved[3]);
    const int target[] = {OutputDrain::StdoutFd, OutputDrain::StderrFd, OutputDrain::LifelineFd};
    for (int i = 0; i < 3; ++i) {
        if (dup2(moved[i], target[i]) < 0)
            giveUp(StartReportFd);
    }
    // never a write end of the script's pipes: they must close when the script's processes
    // end, or the drain would wait for itself
    const int null = open("/dev/null", O_RDWR);
    if (null < 0)
        giveUp(StartReportFd);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (dup2(null, fd) < 0)
            giveUp(StartReportFd);
    }
    closeFrom(StartReportFd + 1);

    char *const argv[] = {const_cast<char *>(OutputDrain::Program), nullptr};
    execve(program, argv, environ);
    giveUp(StartReportFd);
}

} // namespace

void startOutputDrain(const char *drainProgram, int lifelineReadEnd, int startReport)
{
    if (lifelineReadEnd < 0 || startReport < 0)
        return;
    const int out = readEndOf(STDOUT_FILENO);
    const int err = readEndOf(STDERR_FILENO);
    if (out < 0 || err < 0) {
        report(startReport, EBADF); // the script's output is no pipe of the tool's
        return;
    }

    const int started = forkAdopted(ForkFrom::ChildBeforeExec, Session::Same);
    if (started == 0)
        execDrain(drainProgram, out, err, lifelineReadEnd, startReport);
    if (started < 0)
        report(startReport, errno);
}
