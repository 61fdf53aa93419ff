// verdix: ask for a letter grade, read one character, answer with a remark.

#include <csignal>
#include <cstdio>

int main()
{
    // A reader that has gone away must not kill the process: the exit
    // status is 0 on every path, whether the output arrives or not.
    std::signal(SIGPIPE, SIG_IGN);

    std::puts("Enter your grade: ");

    // Only the first byte counts. When there is none (end of input, or
    // a failed read) the grade is NUL, which is not a proper grade. It is
    // kept in static storage so that main has no stack slot to guard: a
    // guard would cost every start-up one more symbol lookup.
    static char grade;
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
