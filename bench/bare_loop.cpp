// The floor for the menu's cost: the same lines as a session that cycles
// through options 1 to 6, each line handed to the system in one write call,
// with nothing read, parsed or buffered.
#include <cstdlib>
#include <cstring>
#include <unistd.h>

static void writeLine(const char *line)
{
    size_t length = std::strlen(line);
    if (write(STDOUT_FILENO, line, length) != static_cast<ssize_t>(length))
        std::exit(EXIT_FAILURE);
}

int main(int argc, char **argv)
{
    const long cycles = argc > 1 ? std::atol(argv[1]) : 200000;
    const char *const menu[] = {"======================= \n",
                                "1. Print help \n",
                                "2. Print exchange stats \n",
                                "3. Make an Offer \n",
                                "4. Make a bid \n",
                                "5. Print wallet \n",
                                "6. Continue\n",
                                "======================= \n",
                                " Type in 1-6: \n"};
    const char *const echoes[] = {" You choose: 1\n", " You choose: 2\n", " You choose: 3\n",
                                  " You choose: 4\n", " You choose: 5\n", " You choose: 6\n"};
    const char *const answers[] = {
        "Help - your aim is to make money. Analyse the market and make bids and offer \n",
        "Market looks good \n",
        "Mark and offer - enter the amount\n",
        "Make a bid - enter the amount\n",
        "Your wallet is empty. \n",
        "Going to next time frame. \n"};
    for (long cycle = 0; cycle < cycles; ++cycle) {
        for (const char *line : menu)
            writeLine(line);
        writeLine(echoes[cycle % 6]);
        writeLine(answers[cycle % 6]);
    }
    for (const char *line : menu)
        writeLine(line);
}
