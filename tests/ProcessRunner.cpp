#include "ProcessRunner.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

extern char **environ;

// Words put before every program: in a cross build the children are target
// programs, run through the same emulator as the tests themselves.
#ifndef PROCESS_LAUNCHER
#define PROCESS_LAUNCHER
#endif
static const char *const kLauncher[] = {PROCESS_LAUNCHER nullptr};

// All the child wrote to `file` (a file, not a pipe: no output size blocks the
// child), whose shared offset its writes left at the end; `file` is closed.
static std::string Drain(std::FILE *file)
{
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

ProcessResult RunProcess(const std::vector<std::string> &argv)
{
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    if (out == nullptr || err == nullptr)
        return {-1, {}, {}};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    std::vector<const char *> args(std::begin(kLauncher), std::end(kLauncher) - 1);
    for (const std::string &arg : argv)
        args.push_back(arg.c_str());
    args.push_back(nullptr);
    pid_t pid = -1;
    int wstatus = 0;
    char *const *words = const_cast<char *const *>(args.data());
    const bool exited = posix_spawn(&pid, args[0], &actions, nullptr, words, environ) == 0 &&
                        waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus);
    posix_spawn_file_actions_destroy(&actions);
    return {exited ? WEXITSTATUS(wstatus) : -1, Drain(out), Drain(err)};
}
