#include "scriptprocess.h"

#include <csignal>

void ScriptProcess::setupChildProcess()
{
    // Runs in the child between fork and exec, after Qt has put SIGPIPE back to its default.
    // Ignored instead, a write into a pipe whose reader (this tool) has ended fails with EPIPE
    // rather than killing the script in the middle of its copy. Keeping the pipes drained
    // after the tool's end would need a process of its own that finds Qt's private pipe ends;
    // an ignored signal stays ignored across exec and needs nothing else. While the tool runs
    // every write still reaches it, so the script sees no difference then, except that the
    // commands it starts inherit the ignored SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
}
