#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QString>
#include <QStringList>

#include <sys/types.h>

// What a program started by the tool inherits from it. Qt ignores SIGPIPE in the tool (a
// reader that went away must not kill it), and Qt's detached start leaves it ignored in the
// program it starts. A device script must see what it would see started from a shell: the
// signal dispositions and the signal mask the tool itself was started with.

// Sets every signal the tool ignores now but did not ignore when it started back to its
// default, every signal it was started with ignored to ignored again, and the signal mask to
// the one it started with. Async-signal-safe: for the child between fork and exec.
void restoreInheritedSignals();

// Forks a process that init adopts at once: the process in between, in a session of its own
// if asked, forks it and ends, and the caller waits for that end. So the caller never has to
// reap it, and a script never sees a child it did not start. Returns 0 in the new process; in
// the caller 1, or -1 with errno set when either fork failed.
//
// The caller tells where it runs. The tool has threads: its copy is made by the C library's
// fork(), whose fork handlers leave the library's (and a sanitizer's) locks usable in the copy.
// A copy of a process that has threads may call only async-signal-safe functions until it
// execs or exits, and fork() is none (it runs those handlers): from there, and for the process
// in between, every fork is the plain system call.
enum class Session
{
    Same,
    New
};
enum class ForkFrom
{
    Tool,
    ChildBeforeExec
};
int forkAdopted(ForkFrom caller, Session session);

// Starts a program on its own, as QProcess::startDetached does (a session of its own, adopted
// by init, the tool's standard channels, environment and working directory), but with the
// signals the tool inherited. The program is a path, not looked up on the search path. Nothing
// is known of it afterwards, not even whether it could be run: nobody waits for it.
void startDetachedProgram(const QString &program, const QStringList &arguments);

#endif // CHILDPROCESS_H
