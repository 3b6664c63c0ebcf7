// Scripted sessions: each one's whole output, byte for byte, and exit status.
// The expected output is put together from the program's texts as they are
// meant to read, never from what the program printed.
#include "session.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <map>
#include <string>

#ifndef EXCHANGE_MENU_PATH
#error "EXCHANGE_MENU_PATH must name the built program"
#endif

namespace {

#ifdef _WIN32
// The Windows console's text mode writes each line end as CR LF.
const std::string lineEnd = "\r\n";
#else
const std::string lineEnd = "\n";
#endif

std::string menuAndPrompt()
{
    std::string text;
    for (const char *line :
         {"======================= ", "1. Print help ", "2. Print exchange stats ",
          "3. Make an Offer ", "4. Make a bid ", "5. Print wallet ", "6. Continue",
          "======================= ", " Type in 1-6: "})
        text += line + lineEnd;
    return text;
}

const std::map<long long, std::string> answers = {
    {0, "Wrong choice. Choose 1-6"},
    {1, "Help - your aim is to make money. Analyse the market and make bids and offer "},
    {2, "Market looks good "},
    {3, "Mark and offer - enter the amount"},
    {4, "Make a bid - enter the amount"},
    {5, "Your wallet is empty. "},
    {6, "Going to next time frame. "},
};

// The output of a whole session: a cycle for each number echoed, then the
// menu and the prompt at which the input ended.
std::string expectedOutput(std::initializer_list<long long> echoes)
{
    std::string text;
    for (long long echoed : echoes) {
        text += menuAndPrompt() + " You choose: " + std::to_string(echoed) + lineEnd;
        auto answer = answers.find(echoed);
        if (answer != answers.end())
            text += answer->second + lineEnd;
    }
    return text + menuAndPrompt();
}

struct Script {
    const char *name;
    std::string input;
    std::string expected;
};

std::ostream &operator<<(std::ostream &out, const Script &script)
{
    return out << script.name;
}

const std::string longLineOfDigits(200000, '7');

const Script scripts[] = {
    {"EveryOptionAndZero", "1\n2\n3\n4\n5\n6\n0\n", expectedOutput({1, 2, 3, 4, 5, 6, 0})},
    {"OutsideTheMenu", "7\n-3\n-1\n100\n", expectedOutput({7, -3, -1, 100})},
    {"AmountAfterAnOffer", "3\n100\n", expectedOutput({3, 100})},
    {"LimitsOfTheRange", "2147483647\n-2147483648\n", expectedOutput({INT_MAX, INT_MIN})},
    // Past the range a number reads as the nearest limit, and the rest of its
    // line is dropped with it.
    {"JustPastTheLimits", "2147483648\n-2147483649 6\n2\n", expectedOutput({INT_MAX, INT_MIN, 2})},
    {"FarPastTheLimit", longLineOfDigits + " 1\n5\n", expectedOutput({INT_MAX, 5})},
    {"SignsAndLeadingZeros", "+4\n05\n-0\n007\n+0006\n", expectedOutput({4, 5, 0, 7, 6})},
    {"TwoNumbersOnALine", "2 5\n", expectedOutput({2, 5})},
    {"NumberGluedToLetters", "3x\n4\n", expectedOutput({3, 0, 4})},
    {"BlankLinesAndSpacesFirst", "\n\n   \t  2\n", expectedOutput({2})},
    {"CrLfLineEnds", "1\r\n\r\nabc\r\n6\r\n", expectedOutput({1, 0, 6})},
    {"Letters", "abc\n6\n", expectedOutput({0, 6})},
    // The number behind the letters goes with the rest of their line.
    {"LettersThenANumber", "help 4\n1\n", expectedOutput({0, 1})},
    {"LoneSigns", "-\n+ 5\n", expectedOutput({0, 0})},
    {"EmptyInput", "", expectedOutput({})},
    {"OnlyWhitespace", " \n\t\n  ", expectedOutput({})},
    {"EndAfterALineEnd", "1\n", expectedOutput({1})},
    {"EndInsideANumber", "12", expectedOutput({12})},
    {"EndAfterAnOption", "5", expectedOutput({5})},
    {"EndAfterALoneSign", "-", expectedOutput({0})},
    {"EndAfterLetters", "abc", expectedOutput({0})},
    {"EndAfterANumberOutOfRange", "99999999999", expectedOutput({INT_MAX})},
#ifdef _WIN32
    // Ctrl-Z ends console input on Windows, wherever a read meets it.
    {"CtrlZEndsInput",
     "2\n\x1a"
     "5\n",
     expectedOutput({2})},
#else
    // Elsewhere Ctrl-Z is just a character that is not a number.
    {"CtrlZIsNotANumber",
     "2\n\x1a"
     "5\n",
     expectedOutput({2, 0})},
#endif
};

class ScriptedSession : public testing::TestWithParam<Script> {};

TEST_P(ScriptedSession, WritesTheWholeDialogueThenEndsWithStatusZero)
{
    const Script &script = GetParam();
    const auto limit = std::chrono::seconds(10);
    Session session = runSession(EXCHANGE_MENU_PATH, script.input, limit);
    // Wine now and then hangs while starting a program; one such start may be
    // retried, never a run that wrote something.
    if (session.timedOut && session.output.empty())
        session = runSession(EXCHANGE_MENU_PATH, script.input, limit);

    ASSERT_FALSE(session.timedOut) << "still running after " << limit.count() << " s";
    EXPECT_EQ(session.output, script.expected);
    EXPECT_EQ(session.errors, "");
    EXPECT_EQ(session.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ScriptedSession, testing::ValuesIn(scripts),
                         [](const auto &each) { return std::string(each.param.name); });

} // namespace
