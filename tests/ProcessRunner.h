// Runs a program as a child process and collects what it wrote.
#pragma once

#include <string>
#include <vector>

// Exit status 0-255 (-1 if the child did not exit normally) and what it wrote.
struct ProcessResult { int status; std::string out, err; };

// Runs `argv` (argv[0] is the program path) without a shell and waits for it.
// A cross build runs it through the emulator.
ProcessResult RunProcess(const std::vector<std::string> &argv);
