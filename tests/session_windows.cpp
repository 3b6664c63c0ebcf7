#include "session.h"

#include <stdexcept>
#include <thread>
#include <windows.h>

namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": error " + std::to_string(GetLastError()));
}

// A pipe whose one end the child inherits and whose other end stays ours.
struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;

    explicit Pipe(bool childReads)
    {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        if (!CreatePipe(&read, &write, &inheritable, 0))
            fail("CreatePipe");
        if (!SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0))
            fail("SetHandleInformation");
    }
};

std::string readAll(HANDLE from)
{
    std::string text;
    char block[65536];
    DWORD got = 0;
    while (ReadFile(from, block, sizeof block, &got, nullptr) && got > 0)
        text.append(block, got);
    return text;
}

void writeAll(HANDLE to, const std::string &data)
{
    const char *next = data.data();
    size_t left = data.size();
    while (left > 0) {
        DWORD wrote = 0;
        DWORD chunk = left < 65536 ? static_cast<DWORD>(left) : 65536;
        if (!WriteFile(to, next, chunk, &wrote, nullptr)) // it ended without reading all of it
            return;
        next += wrote;
        left -= wrote;
    }
}

} // namespace

Session runSession(const std::string &program, const std::string &input,
                   std::chrono::milliseconds limit)
{
    Pipe in(true), out(false), err(false);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read;
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        fail("CreateProcess " + program);
    CloseHandle(process.hThread);
    CloseHandle(in.read);
    CloseHandle(out.write);
    CloseHandle(err.write);

    Session session;
    std::thread feeder([&] {
        writeAll(in.write, input);
        CloseHandle(in.write);
    });
    std::thread outputReader([&] { session.output = readAll(out.read); });
    std::thread errorReader([&] { session.errors = readAll(err.read); });

    DWORD waited = WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count()));
    if (waited != WAIT_OBJECT_0) {
        session.timedOut = true;
        TerminateProcess(process.hProcess, 1);
        // Termination is asynchronous; a program that outlives even this
        // leaves the joins below to the test's own time limit in CTest.
        WaitForSingleObject(process.hProcess, 10000);
    }
    // Its ending closed its ends of the pipes, so these threads finish now.
    feeder.join();
    outputReader.join();
    errorReader.join();
    CloseHandle(out.read);
    CloseHandle(err.read);

    DWORD exitCode = 0;
    if (!session.timedOut && GetExitCodeProcess(process.hProcess, &exitCode))
        session.exitCode = static_cast<int>(exitCode);
    CloseHandle(process.hProcess);
    return session;
}
