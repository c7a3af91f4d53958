// The output drain of a device script (see outputdrain.h): started by the tool beside each
// script, with the read ends of the script's standard output and error and the lifeline's
// read end on the descriptors named there. It has no arguments and writes nothing.

#include "outputdrain.h"

#include <cerrno>
#include <initializer_list>
#include <poll.h>
#include <unistd.h>

int main()
{
    enum
    {
        Out,
        Err,
        Lifeline
    };
    // while the tool reads, only the end of the writers is watched (POLLHUP comes unasked)
    pollfd watched[] = {{OutputDrain::StdoutFd, 0, 0},
                        {OutputDrain::StderrFd, 0, 0},
                        {OutputDrain::LifelineFd, POLLIN, 0}};
    int pipesOpen = 2;
    while (pipesOpen > 0) {
        if (poll(watched, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (watched[Lifeline].revents != 0) {
            // the tool reads no more: from now on everything that arrives is read and dropped
            close(watched[Lifeline].fd);
            watched[Lifeline].fd = -1;
            watched[Out].events = watched[Err].events = POLLIN;
        }
        for (int pipe : {Out, Err}) {
            pollfd &end = watched[pipe];
            if (end.fd < 0 || end.revents == 0)
                continue;
            if (end.revents & POLLIN) {
                char dropped[4096];
                const ssize_t got = read(end.fd, dropped, sizeof dropped);
                if (got > 0 || (got < 0 && (errno == EINTR || errno == EAGAIN)))
                    continue;
            }
            // no writer left (and, once draining, nothing left to read)
            close(end.fd);
            end.fd = -1;
            --pipesOpen;
        }
    }
    return 0;
}
