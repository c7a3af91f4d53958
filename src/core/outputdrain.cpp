#include "outputdrain.h"

#include "childprocess.h"

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

[[noreturn]] void execDrain(const char *program, int out, int err, int lifeline)
{
    // out of the way first, so that moving one onto 3, 4 or 5 never closes another
    const int moved[] = {fcntl(out, F_DUPFD, 10), fcntl(err, F_DUPFD, 10),
                         fcntl(lifeline, F_DUPFD, 10)};
    const int target[] = {OutputDrain::StdoutFd, OutputDrain::StderrFd, OutputDrain::LifelineFd};
    for (int i = 0; i < 3; ++i) {
        if (moved[i] < 0 || dup2(moved[i], target[i]) < 0)
            _exit(127);
    }
    // never a write end of the script's pipes: they must close when the script's processes end
    const int null = open("/dev/null", O_RDWR);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        dup2(null, fd);
    closeFrom(OutputDrain::LifelineFd + 1);

    char *const argv[] = {const_cast<char *>(OutputDrain::Program), nullptr};
    execve(program, argv, environ);
    _exit(127);
}

} // namespace

void startOutputDrain(const char *drainProgram, int lifelineReadEnd)
{
    if (lifelineReadEnd < 0)
        return;
    const int out = readEndOf(STDOUT_FILENO);
    const int err = readEndOf(STDERR_FILENO);
    if (out < 0 || err < 0)
        return;

    if (forkAdopted(Session::Same) == 0)
        execDrain(drainProgram, out, err, lifelineReadEnd);
}
