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

// fork() as a plain system call. glibc's fork() runs the fork handlers, which take locks that
// another thread of the tool may have held when Qt cloned the current process without them;
// between fork and exec only this one is safe. Returns as fork() does.
pid_t forkPlainly();

// Starts a program on its own, as QProcess::startDetached does (a session of its own, adopted
// by init, the tool's standard channels, environment and working directory), but with the
// signals the tool inherited. The program is a path, not looked up on the search path.
// Returns whether the process could be created; whether the program ran is not known.
bool startDetachedProgram(const QString &program, const QStringList &arguments);

#endif // CHILDPROCESS_H
