#include "session.h"

#include "child_posix.h"

#include <thread>
#include <unistd.h>

Session runSession(const std::string &program, const std::string &input,
                   std::chrono::milliseconds limit)
{
    auto deadline = Clock::now() + limit;
    Child child = startChild({program}, -1, -1, -1);

    // Feeding and reading at once keeps a program that answers while input is
    // still coming from filling its output pipe and stalling the both of us.
    std::thread feeder([&] {
        writeAll(child.input, input); // it may end without reading it all
        close(child.input);
    });
    Session session;
    std::thread errorReader([&] { session.errors = readToEnd(child.errors, deadline); });
    session.output = readToEnd(child.output, deadline);
    Ending ending = waitChild(child.pid, deadline);
    feeder.join();
    errorReader.join();
    close(child.output);
    close(child.errors);

    session.exitCode = ending.exitCode;
    session.timedOut = ending.timedOut;
    return session;
}
