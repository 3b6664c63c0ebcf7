// The program as a person meets it: live over pipes, at a terminal, with
// output that cannot be written, and with lines far longer than any typed.
#include "child_posix.h"
#include "session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef EXCHANGE_MENU_PATH
#error "EXCHANGE_MENU_PATH must name the built program"
#endif

namespace {

using namespace std::chrono_literals;

const std::string menuAndPrompt = "======================= \n"
                                  "1. Print help \n"
                                  "2. Print exchange stats \n"
                                  "3. Make an Offer \n"
                                  "4. Make a bid \n"
                                  "5. Print wallet \n"
                                  "6. Continue\n"
                                  "======================= \n"
                                  " Type in 1-6: \n";

// What a terminal shows for program output: each line end as CR LF.
std::string onTerminal(const std::string &text)
{
    std::string shown;
    for (char c : text) {
        if (c == '\n')
            shown += '\r';
        shown += c;
    }
    return shown;
}

// Reads from `fd` until `text` holds at least as much as `expected`, then
// gives back what arrived, so that a mismatch shows the whole of it.
std::string readAtLeast(int fd, const std::string &expected, Clock::duration limit = 5s)
{
    std::string text;
    readUntil(
        fd, text, [&](const std::string &got) { return got.size() >= expected.size(); },
        Clock::now() + limit);
    return text;
}

TEST(LiveSession, OverPipesEachAnswerArrivesBeforeMoreInputIsWritten)
{
    Child child = startChild({EXCHANGE_MENU_PATH}, -1, -1, -1);

    EXPECT_EQ(readAtLeast(child.output, menuAndPrompt), menuAndPrompt);
    EXPECT_TRUE(staysQuiet(child.output, 200ms)) << "it wrote more before any input";

    ASSERT_TRUE(writeAll(child.input, "2\n"));
    std::string afterTwo = " You choose: 2\nMarket looks good \n" + menuAndPrompt;
    EXPECT_EQ(readAtLeast(child.output, afterTwo), afterTwo);
    EXPECT_TRUE(staysQuiet(child.output, 200ms)) << "it did not wait for the next input";
    EXPECT_TRUE(isRunning(child.pid));

    close(child.input);
    Ending ending = waitChild(child.pid, Clock::now() + 5s);
    EXPECT_FALSE(ending.timedOut);
    EXPECT_EQ(ending.exitCode, 0);
    EXPECT_EQ(readToEnd(child.output, Clock::now() + 1s), "")
        << "it wrote something after the input ended";
    EXPECT_EQ(readToEnd(child.errors, Clock::now() + 1s), "");
    close(child.output);
    close(child.errors);
}

// Each line leaves the program in one write call of its own, whole: whatever
// reads the other end never sees half a line, nor two lines run together.
TEST(LiveSession, EachLineLeavesInAWriteOfItsOwn)
{
    const std::string strace = "/usr/bin/strace";
    if (access(strace.c_str(), X_OK) != 0)
        GTEST_SKIP() << "strace is not installed";
    std::string traceFile = testing::TempDir() + "exchange-menu-writes.txt";
    // The leak checker of a sanitizer build cannot run under a tracer, and
    // says so with a failure; the other tests cover leaks.
    Child child = startChild({strace, "-qq", "-e", "trace=write", "-e", "signal=none", "-E",
                              "LSAN_OPTIONS=detect_leaks=0", "-o", traceFile, EXCHANGE_MENU_PATH},
                             -1, -1, -1);
    ASSERT_TRUE(writeAll(child.input, "1\nabc\n"));
    close(child.input);
    std::string output = readToEnd(child.output, Clock::now() + 10s);
    Ending ending = waitChild(child.pid, Clock::now() + 5s);
    std::string errors = readToEnd(child.errors, Clock::now() + 1s);
    close(child.output);
    close(child.errors);
    ASSERT_EQ(ending.exitCode, 0) << errors;

    const std::string expected =
        menuAndPrompt + " You choose: 1\n" +
        "Help - your aim is to make money. Analyse the market and make bids and offer \n" +
        menuAndPrompt + " You choose: 0\nWrong choice. Choose 1-6\n" + menuAndPrompt;
    EXPECT_EQ(output, expected);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = expected.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(std::to_string(end + 1 - start));

    // Each traced call reads: write(1, "text"..., LENGTH) = WRITTEN
    std::vector<std::string> writes;
    std::ifstream trace(traceFile);
    for (std::string call; std::getline(trace, call);) {
        if (call.rfind("write(1, ", 0) == 0)
            writes.push_back(call.substr(call.rfind(" = ") + 3));
    }
    std::remove(traceFile.c_str());
    EXPECT_EQ(writes, lines) << "the sizes of the write calls, against those of the lines";
}

// A pseudo-terminal in the usual cooked mode: the keyboard's characters are
// echoed, a line goes to the program when Enter is pressed, Ctrl-D at the
// start of a line is the end of input.
class Terminal {
public:
    Terminal()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        termios modes{};
        tcgetattr(master_, &modes);
        modes.c_lflag |= ICANON | ECHO | ISIG;
        modes.c_oflag |= OPOST | ONLCR;
        modes.c_cc[VEOF] = 4; // Ctrl-D
        tcsetattr(master_, TCSANOW, &modes);
        device_ = ptsname(master_);
    }
    ~Terminal()
    {
        if (master_ >= 0)
            close(master_);
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    int keyboardAndScreen() const { return master_; }
    const std::string &device() const { return device_; }

private:
    int master_ = -1;
    std::string device_;
};

TEST(LiveSession, AtATerminalAsAPersonTypes)
{
    Terminal terminal;
    ASSERT_FALSE(terminal.device().empty()) << "no pseudo-terminal to be had";
    int screen = terminal.keyboardAndScreen();
    Child child = startOnTerminal(EXCHANGE_MENU_PATH, terminal.device());

    std::string firstScreen = onTerminal(menuAndPrompt);
    EXPECT_EQ(readAtLeast(screen, firstScreen), firstScreen);

    ASSERT_TRUE(writeAll(screen, "5\n"));
    std::string afterFive =
        "5\r\n" + onTerminal(" You choose: 5\nYour wallet is empty. \n" + menuAndPrompt);
    EXPECT_EQ(readAtLeast(screen, afterFive), afterFive);

    ASSERT_TRUE(writeAll(screen, "sell\n"));
    std::string afterLetters =
        "sell\r\n" + onTerminal(" You choose: 0\nWrong choice. Choose 1-6\n" + menuAndPrompt);
    EXPECT_EQ(readAtLeast(screen, afterLetters), afterLetters);
    EXPECT_TRUE(staysQuiet(screen, 300ms)) << "after letters it went on without waiting";
    EXPECT_TRUE(isRunning(child.pid));

    ASSERT_TRUE(writeAll(screen, "\x04"));
    Ending ending = waitChild(child.pid, Clock::now() + 5s);
    EXPECT_FALSE(ending.timedOut);
    EXPECT_EQ(ending.exitCode, 0);
}

// Endless input, "1" on every line, for as long as anybody reads it.
class EndlessInput {
public:
    EndlessInput()
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return;
        readEnd_ = ends[0];
        writer_ = std::thread([this, writeEnd = ends[1]] {
            std::string ones;
            for (int i = 0; i < 2048; ++i)
                ones += "1\n";
            while (!stop_ && write(writeEnd, ones.data(), ones.size()) > 0) {}
            close(writeEnd);
        });
    }
    ~EndlessInput()
    {
        stop_ = true;
        if (readEnd_ >= 0)
            close(readEnd_); // the writer's next write then fails
        if (writer_.joinable())
            writer_.join();
    }
    EndlessInput(const EndlessInput &) = delete;
    EndlessInput &operator=(const EndlessInput &) = delete;

    int readEnd() const { return readEnd_; }

private:
    int readEnd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

struct Unwritable {
    const char *name;
    bool toDevFull; // else a pipe whose reading end is already closed
    bool sigpipeIgnored;
};

std::ostream &operator<<(std::ostream &out, const Unwritable &sink)
{
    return out << sink.name;
}

class UnwritableOutput : public testing::TestWithParam<Unwritable> {};

TEST_P(UnwritableOutput, EndsTheSessionWithAFailure)
{
    const Unwritable &sink = GetParam();
    EndlessInput input;
    ASSERT_GE(input.readEnd(), 0);
    int output = -1;
    if (sink.toDevFull) {
        output = open("/dev/full", O_WRONLY | O_CLOEXEC);
    } else {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        close(ends[0]);
        output = ends[1];
    }
    ASSERT_GE(output, 0);
    Child child =
        startChild({EXCHANGE_MENU_PATH}, input.readEnd(), output, -1, sink.sigpipeIgnored);
    close(output);

    Ending ending = waitChild(child.pid, Clock::now() + 2s);
    std::string errors = readToEnd(child.errors, Clock::now() + 1s);
    close(child.errors);

    ASSERT_FALSE(ending.timedOut) << "it went on cycling with nobody to read it";
    if (sink.sigpipeIgnored || sink.toDevFull) {
        EXPECT_NE(ending.exitCode, 0);
        EXPECT_EQ(ending.signal, 0);
    } else {
        EXPECT_EQ(ending.signal, SIGPIPE);
    }
    EXPECT_EQ(errors, "");
}

INSTANTIATE_TEST_SUITE_P(Sinks, UnwritableOutput,
                         testing::Values(Unwritable{"DevFull", true, false},
                                         Unwritable{"ClosedPipeSigpipeIgnored", false, true},
                                         Unwritable{"ClosedPipe", false, false}),
                         [](const auto &each) { return std::string(each.param.name); });

// Gives the program one line of `length` copies of `filler`, then "5", and
// measures its peak memory once it has answered both and waits for more.
struct AfterOneLine {
    std::string output;
    long peakKiB = -1;
    Ending ending;
};

AfterOneLine afterOneLine(char filler, size_t length)
{
    Child child = startChild({EXCHANGE_MENU_PATH}, -1, -1, -1);
    // Written a block at a time, so that this process never holds the line.
    std::thread feeder([&] {
        const std::string block(std::min<size_t>(length, 1u << 20), filler);
        for (size_t left = length; left > 0; left -= std::min(left, block.size())) {
            if (!writeAll(child.input, std::string_view(block).substr(0, left)))
                return;
        }
        writeAll(child.input, "\n5\n");
    });

    AfterOneLine result;
    const std::string wallet = "Your wallet is empty. \n" + menuAndPrompt;
    readUntil(
        child.output, result.output,
        [&](const std::string &got) {
            return got.size() >= wallet.size() &&
                   got.compare(got.size() - wallet.size(), wallet.size(), wallet) == 0;
        },
        Clock::now() + 60s);
    result.peakKiB = peakMemoryKiB(child.pid);
    feeder.join();
    close(child.input);
    result.ending = waitChild(child.pid, Clock::now() + 5s);
    close(child.output);
    close(child.errors);
    return result;
}

struct LongLine {
    const char *name;
    char filler;
    int echoed; // what a line of nothing but `filler` reads as
};

std::ostream &operator<<(std::ostream &out, const LongLine &line)
{
    return out << line.name;
}

class VeryLongLine : public testing::TestWithParam<LongLine> {};

TEST_P(VeryLongLine, IsReadWithoutGrowingTheProgram)
{
    const LongLine &line = GetParam();
    std::string echo = " You choose: " + std::to_string(line.echoed) + "\n";
    if (line.echoed == 0)
        echo += "Wrong choice. Choose 1-6\n";
    const std::string expected = menuAndPrompt + echo + menuAndPrompt +
                                 " You choose: 5\nYour wallet is empty. \n" + menuAndPrompt;

    AfterOneLine shortLine = afterOneLine(line.filler, 16);
    AfterOneLine longLine = afterOneLine(line.filler, 64u << 20);

    EXPECT_EQ(shortLine.output, expected);
    EXPECT_EQ(longLine.output, expected);
    EXPECT_EQ(longLine.ending.exitCode, 0);
    if (shortLine.peakKiB < 0)
        GTEST_SKIP() << "this system does not tell a process's peak memory";
    EXPECT_LT(longLine.peakKiB - shortLine.peakKiB, 1024)
        << "a 64 MiB line took the program from " << shortLine.peakKiB << " KiB to "
        << longLine.peakKiB << " KiB";
}

INSTANTIATE_TEST_SUITE_P(Fillers, VeryLongLine,
                         testing::Values(LongLine{"Digits", '9', INT_MAX},
                                         LongLine{"Letters", 'x', 0}),
                         [](const auto &each) { return std::string(each.param.name); });

} // namespace
