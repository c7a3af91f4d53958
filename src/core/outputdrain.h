#ifndef OUTPUTDRAIN_H
#define OUTPUTDRAIN_H

// A device script may outlive the tool: a save still copying when the technician leaves the
// report, or when the tool is killed. Its standard output and error are pipes the tool reads;
// once the tool has gone, their read ends close with it, and the script's next write would
// kill it (SIGPIPE) or fail. The output drain, a small program of its own started beside each
// script, holds copies of those read ends and reads nothing while the tool does, so that the
// script sees exactly what it would see under any reader. When the tool stops reading (the
// script's end as the tool sees it, or the tool's own end, however it comes), it reads and
// discards whatever still arrives, until every process that holds the write ends has ended.
//
// It learns that the tool stopped reading from a pipe of its own, the lifeline, whose only
// write end the tool holds and closes then; the kernel closes it for a tool that dies.
namespace OutputDrain {

// the drain's program, beside the tool's executable; named so that nothing looking for the
// tool (pidof Tovrimax, killall -0 Tovrimax, ps | grep Tovrimax) takes it for the tool
inline constexpr char Program[] = "scriptdrain";

// where the drain finds the read ends of the script's output and the lifeline's read end
inline constexpr int StdoutFd = 3;
inline constexpr int StderrFd = 4;
inline constexpr int LifelineFd = 5;

} // namespace OutputDrain

// In the child between fork and exec, once the script's standard output and error are in
// place: starts the drain program with the read ends of both pipes (copies the child still
// holds from the tool) and the lifeline's read end. The drain is adopted by init, so the
// script never sees a child it did not start. Async-signal-safe.
//
// The start report is the write end of a pipe whose other end the tool reads once the script
// runs: whatever keeps the drain from running (no read end found, a failed fork, dup or
// exec) is written to it as one int, the errno value, and the drain's process gives up before
// it could hold any of the script's write ends. When the drain runs, the pipe only closes.
// Does nothing with no lifeline or no report pipe: the tool knows that it made none.
void startOutputDrain(const char *drainProgram, int lifelineReadEnd, int startReport);

#endif // OUTPUTDRAIN_H
