#include "childprocess.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct SignalsAtStart
{
    sigset_t ignored;
    sigset_t mask;
};

SignalsAtStart readSignals()
{
    SignalsAtStart start;
    sigemptyset(&start.ignored);
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action;
        if (sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            sigaddset(&start.ignored, sig);
    }
    sigprocmask(SIG_BLOCK, nullptr, &start.mask);
    return start;
}

// read while the program loads, before main() and before Qt ignores anything
const SignalsAtStart atStart = readSignals();

void waitForChild(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

void restoreInheritedSignals()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction now;
        if (sig == SIGKILL || sig == SIGSTOP || sigaction(sig, nullptr, &now) != 0)
            continue;
        const bool wasIgnored = sigismember(&atStart.ignored, sig) == 1;
        if (wasIgnored && now.sa_handler != SIG_IGN)
            sigaction(sig, &ignore, nullptr);
        else if (!wasIgnored && now.sa_handler == SIG_IGN)
            sigaction(sig, &standard, nullptr);
        // a handler of the tool's own goes back to the default at exec anyway
    }
    sigprocmask(SIG_SETMASK, &atStart.mask, nullptr);
}

pid_t forkPlainly()
{
    // every other argument of clone() zero: a copy of this process on its own stack, as fork()
    return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
}

bool startDetachedProgram(const QString &program, const QStringList &arguments)
{
    // everything the child needs is made here: between fork and exec nothing may allocate
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> words{path};
    for (const QString &argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t middle = forkPlainly();
    if (middle < 0)
        return false;
    if (middle == 0) {
        // the middle process ends at once, so the program is adopted by init: the tool never
        // has to reap it, and an installer may end the tool without ending itself
        setsid();
        if (forkPlainly() == 0) {
            restoreInheritedSignals();
            execve(argv[0], argv.data(), environ);
            _exit(127);
        }
        _exit(0);
    }
    waitForChild(middle);
    return true;
}
