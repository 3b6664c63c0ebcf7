// Runs the built menu program as a separate process, as a script would: all of
// the input on its standard input, then the end of input.
#pragma once

#include <chrono>
#include <string>

struct Session {
    std::string output; // all it wrote to standard output
    std::string errors; // all it wrote to standard error
    int exitCode = -1;  // -1 unless it exited by itself
    bool timedOut = false;
};

// Waits at most `limit` for the program to end; one still running then is killed.
Session runSession(const std::string &program, const std::string &input,
                   std::chrono::milliseconds limit);
