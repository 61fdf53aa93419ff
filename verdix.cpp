// SPDX-License-Identifier: MIT
// verdix: ask for a letter grade, read the answer, remark on its first byte.

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main()
{
    // The exit status is 0 on every path, whether the output arrives or
    // not: neither a reader that has gone away nor a file size limit may
    // kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    // Read no more than the answer. A terminal delivers the answer line in
    // one read of at most 4096 bytes, and all of it is taken, so nothing
    // typed or pasted on it is left for the shell to run. Anything else
    // gives up exactly one byte and keeps the rest for the next reader.
    static char line[4096];
    if (isatty(STDIN_FILENO))
        std::setvbuf(stdin, line, _IOFBF, sizeof line);
    else
        std::setvbuf(stdin, nullptr, _IONBF, 0);

    std::puts("Enter your grade: ");

    // Only the first byte counts. When there is none (end of input, or a
    // failed read) the grade is NUL, which is not a proper grade.
    char grade;
    if (std::scanf("%c", &grade) != 1)
        grade = '\0';

    switch (grade) {
    case 'A':
        std::printf("Amazing! A smart person! ");
        [[fallthrough]];
    case 'B':
        std::puts("You have met expectations.");
        break;
    case 'C':
        std::printf("You need to study harder!");
        [[fallthrough]];
    case 'D':
        std::puts("At least you passed!");
        break;
    case 'F':
        std::puts("Well, they're always hiring in the army.");
        break;
    default:
        std::puts("That's not even a proper grade!");
        break;
    }
    return 0;
}
