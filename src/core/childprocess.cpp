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

int forkAdopted(ForkFrom caller, Session session)
{
    // every other argument of clone() zero: a copy of this process on its own stack, as fork()
    const auto forkPlainly = [] {
        return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
    };
    const pid_t middle = caller == ForkFrom::Tool ? fork() : forkPlainly();
    if (middle < 0)
        return -1;
    if (middle == 0) {
        if (session == Session::New)
            setsid();
        const pid_t adopted = forkPlainly();
        if (adopted == 0)
            return 0;
        _exit(adopted < 0 ? errno : 0); // a failed fork always sets errno, never to 0
    }
    int status = 0;
    while (waitpid(middle, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 1;
    errno = WIFEXITED(status) ? WEXITSTATUS(status) : ECHILD;
    return -1;
}

void startDetachedProgram(const QString &program, const QStringList &arguments)
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

    // a session of its own and adopted by init, as Qt's detached start: an installer may end
    // the tool without ending itself, and a kill of the tool's process group does not reach it
    if (forkAdopted(ForkFrom::Tool, Session::New) == 0) {
        restoreInheritedSignals();
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
}
