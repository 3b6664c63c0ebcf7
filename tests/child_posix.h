// Starting the menu program on POSIX systems with its standard streams on
// pipes or on a terminal, and watching it with a time limit on every wait.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

using Clock = std::chrono::steady_clock;

struct Child {
    pid_t pid = -1;
    int input = -1;  // our end of its standard input, where that is a new pipe
    int output = -1; // our end of its standard output, where that is a new pipe
    int errors = -1; // our end of its standard error, where that is a new pipe
};

// Runs `command` (a program and its arguments) with `in`, `out` and `err` as
// its standard streams; each one that is -1 becomes a new pipe. The program
// starts with SIGPIPE at its default unless `keepSigpipeIgnored`, which passes
// on this process's ignoring of it (this process always ignores it, to
// outlive its children).
Child startChild(const std::vector<std::string> &command, int in, int out, int err,
                 bool keepSigpipeIgnored = false);

// Starts the program in a session of its own, with the terminal device
// `terminal` as its controlling terminal and as all three standard streams.
Child startOnTerminal(const std::string &program, const std::string &terminal);

// Writes all of `data` to `fd`; false when that failed part way, as it does
// once the reader has gone.
bool writeAll(int fd, std::string_view data);

// Appends to `text` what `fd` delivers until `enough(text)` holds, the stream
// ends, or `deadline` passes. Returns whether `enough(text)` holds.
bool readUntil(int fd, std::string &text, const std::function<bool(const std::string &)> &enough,
               Clock::time_point deadline);

// Reads what `fd` delivers until the stream ends or `deadline` passes.
std::string readToEnd(int fd, Clock::time_point deadline);

// Whether `fd` stays silent and open for the whole of `quiet`.
bool staysQuiet(int fd, std::chrono::milliseconds quiet);

struct Ending {
    bool timedOut = false; // it was still running at the deadline, and was killed
    int exitCode = -1;     // its exit status, -1 unless it exited by itself
    int signal = 0;        // the signal that ended it, if one did
};

// Waits for the child to end until `deadline`, then kills it.
Ending waitChild(pid_t pid, Clock::time_point deadline);

// Whether the child is still running (it is not reaped).
bool isRunning(pid_t pid);

// The largest resident set the running child has had since it started the
// program, in KiB, or -1 where the system does not tell.
long peakMemoryKiB(pid_t pid);
