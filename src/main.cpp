// exchange-menu: the text menu of a market-exchange trading exercise.
//
// Each cycle shows the menu, reads one option number, echoes it and answers
// it with one fixed line. The session ends when input ends, or when output can
// no longer be written.
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string_view>

// Ends the line being written and sends it out at once, as a single write:
// the prompt is then on the screen before the program waits, and whatever
// reads the other end never sees half a line. When output fails (a closed
// pipe, a full disk) nobody is left to read the menu, so the session ends
// rather than cycling on unseen.
//
// Fixed text goes to the stream's buffer directly: the formatting layer's
// checks on every piece of every line cost more than the rest of a cycle
// besides the write itself.
static void endLine()
{
    std::streambuf &out = *std::cout.rdbuf();
    if (!std::cout || out.sputc('\n') != '\n' || out.pubsync() != 0)
        std::exit(EXIT_FAILURE);
}

static void writeLine(std::string_view text)
{
    auto length = static_cast<std::streamsize>(text.size());
    if (std::cout.rdbuf()->sputn(text.data(), length) != length)
        std::exit(EXIT_FAILURE);
    endLine();
}

void PrintMenu()
{
    writeLine("======================= ");
    writeLine("1. Print help ");
    writeLine("2. Print exchange stats ");
    writeLine("3. Make an Offer ");
    writeLine("4. Make a bid ");
    writeLine("5. Print wallet ");
    writeLine("6. Continue");
    writeLine("======================= ");
}

int getUseroption()
{
    writeLine(" Type in 1-6: ");

    // Input that ends where a number should start (Ctrl-D, Ctrl-Z, the end of
    // a script) ends the session quietly: there is no number to echo.
    if ((std::cin >> std::ws).eof())
        std::exit(EXIT_SUCCESS);

    int userOption = 0;
    std::cin >> userOption;
    std::cout << " You choose: " << userOption;
    endLine();

    // A failed read (not a number, or out of range) leaves the stream failed
    // and the rest of the line unread; left so, every later read would fail
    // at once and the menu would spin without waiting. Clear it and drop the
    // line, without storing it, so the next prompt waits for fresh input.
    if (std::cin.fail()) {
        std::cin.clear();
        std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return userOption;
}

void processUseroption(int userOption)
{
    switch (userOption) {
    case 0:
        writeLine("Wrong choice. Choose 1-6");
        break;
    case 1:
        writeLine("Help - your aim is to make money. Analyse the market and make bids and offer ");
        break;
    case 2:
        writeLine("Market looks good ");
        break;
    case 3:
        writeLine("Mark and offer - enter the amount");
        break;
    case 4:
        writeLine("Make a bid - enter the amount");
        break;
    case 5:
        writeLine("Your wallet is empty. ");
        break;
    case 6:
        writeLine("Going to next time frame. ");
        break;
    default:
        break;
    }
}

int main()
{
    // Unsynchronised streams keep buffers of their own: input is read in
    // large blocks, and each line leaves in one write when it is flushed.
    std::ios_base::sync_with_stdio(false);

    for (;;) {
        PrintMenu();
        int userOption = getUseroption();
        processUseroption(userOption);
    }
}
