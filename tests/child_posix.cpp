#include "child_posix.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Writing to a child that has died must fail with EPIPE, not kill the tests.
void ignoreSigpipe()
{
    static const bool done = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    (void)done;
}

struct Spawn {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    Spawn()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~Spawn()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    Spawn(const Spawn &) = delete;
    Spawn &operator=(const Spawn &) = delete;

    void setFlags(bool keepSigpipeIgnored, bool newSession)
    {
        short flags = 0;
        if (!keepSigpipeIgnored) {
            sigset_t defaults;
            sigemptyset(&defaults);
            sigaddset(&defaults, SIGPIPE);
            posix_spawnattr_setsigdefault(&attributes, &defaults);
            flags |= POSIX_SPAWN_SETSIGDEF;
        }
        if (newSession)
            flags |= POSIX_SPAWN_SETSID;
        posix_spawnattr_setflags(&attributes, flags);
    }

    pid_t start(std::vector<std::string> command)
    {
        std::vector<char *> argv;
        for (std::string &word : command)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
        if (error != 0) {
            errno = error;
            fail("posix_spawn " + command[0]);
        }
        return pid;
    }
};

// Connects the child's descriptor `target` to `given`, or to a new pipe when
// `given` is -1; returns our end of that pipe, or -1.
int connect(Spawn &spawn, int target, int given, int (&opened)[3], int &count)
{
    if (given >= 0) {
        posix_spawn_file_actions_adddup2(&spawn.actions, given, target);
        return -1;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        fail("pipe2");
    bool childReads = target == STDIN_FILENO;
    int childEnd = childReads ? ends[0] : ends[1];
    posix_spawn_file_actions_adddup2(&spawn.actions, childEnd, target);
    opened[count++] = childEnd;
    return childReads ? ends[1] : ends[0];
}

} // namespace

Child startChild(const std::vector<std::string> &command, int in, int out, int err,
                 bool keepSigpipeIgnored)
{
    ignoreSigpipe();
    Spawn spawn;
    spawn.setFlags(keepSigpipeIgnored, false);
    int childEnds[3];
    int count = 0;
    Child child;
    child.input = connect(spawn, STDIN_FILENO, in, childEnds, count);
    child.output = connect(spawn, STDOUT_FILENO, out, childEnds, count);
    child.errors = connect(spawn, STDERR_FILENO, err, childEnds, count);
    child.pid = spawn.start(command);
    for (int i = 0; i < count; ++i)
        close(childEnds[i]);
    return child;
}

Child startOnTerminal(const std::string &program, const std::string &terminal)
{
    ignoreSigpipe();
    Spawn spawn;
    spawn.setFlags(false, true);
    // Opened after the new session begins, the terminal becomes the child's
    // controlling terminal, as a login shell's would.
    posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, terminal.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, STDIN_FILENO, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions, STDIN_FILENO, STDERR_FILENO);
    Child child;
    child.pid = spawn.start({program});
    return child;
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t wrote = write(fd, data.data(), data.size());
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(wrote));
    }
    return true;
}

bool readUntil(int fd, std::string &text, const std::function<bool(const std::string &)> &enough,
               Clock::time_point deadline)
{
    while (!enough(text)) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd ready{fd, POLLIN, 0};
        int polled = poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled < 0)
            fail("poll");
        if (polled == 0)
            continue;
        char block[65536];
        ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) // end of the stream; a terminal whose other side closed says EIO
            return enough(text);
        text.append(block, static_cast<size_t>(got));
    }
    return true;
}

std::string readToEnd(int fd, Clock::time_point deadline)
{
    std::string text;
    readUntil(
        fd, text, [](const std::string &) { return false; }, deadline);
    return text;
}

bool staysQuiet(int fd, std::chrono::milliseconds quiet)
{
    pollfd ready{fd, POLLIN, 0};
    int polled;
    do
        polled = poll(&ready, 1, static_cast<int>(quiet.count()));
    while (polled < 0 && errno == EINTR);
    return polled == 0;
}

Ending waitChild(pid_t pid, Clock::time_point deadline)
{
    Ending ending;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            fail("waitpid");
        if (Clock::now() >= deadline) {
            ending.timedOut = true;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status))
        ending.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        ending.signal = WTERMSIG(status);
    return ending;
}

bool isRunning(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

long peakMemoryKiB(pid_t pid)
{
    // The high-water mark of the program's own memory: unlike the rusage of a
    // reaped child, it leaves out what the child shared with this process
    // before it started the program.
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string field;
    while (status >> field) {
        if (field == "VmHWM:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
    }
    return -1;
}
