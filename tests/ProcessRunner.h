// Runs a program as a child process and collects what it wrote.
#ifndef QUILLET_TESTS_PROCESSRUNNER_H
#define QUILLET_TESTS_PROCESSRUNNER_H

#include <string>
#include <vector>

struct ProcessResult {
    int status;  // exit status 0-255, or -1 if the child did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] is the program path) without a shell, standard input
// closed, and waits for it. A cross build runs it through the emulator.
ProcessResult RunProcess(const std::vector<std::string> &argv);

#endif  // QUILLET_TESTS_PROCESSRUNNER_H
