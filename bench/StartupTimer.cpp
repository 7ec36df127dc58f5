// startup_timer ROUNDS NAME PROGRAM [ARG]... [-- NAME PROGRAM [ARG]...]...
//
// Wall time of whole processes: each round starts every command once, in
// turn, so that all of them see the same machine; prints the median, the
// fastest and the slowest run of each in microseconds, as a Markdown table.
// Standard output and error of the commands go to /dev/null.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char **environ;

namespace {

struct Command {
    std::string name;
    std::vector<char *> argv;  // null-terminated
    std::vector<double> micros;
};

// One run of `command`; its wall time in microseconds, or -1 if it could not start.
double TimeOnce(Command &command, const posix_spawn_file_actions_t &silence)
{
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, command.argv[0], &silence, nullptr, command.argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(stop - start).count();
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc < 4) {
        std::fputs("usage: startup_timer ROUNDS NAME PROGRAM [ARG]... [-- NAME PROGRAM [ARG]...]...\n", stderr);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::vector<Command> commands(1);
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--") {
            commands.emplace_back();
        } else if (commands.back().name.empty()) {
            commands.back().name = argv[i];
        } else {
            commands.back().argv.push_back(argv[i]);
        }
    }
    posix_spawn_file_actions_t silence;
    posix_spawn_file_actions_init(&silence);
    posix_spawn_file_actions_addopen(&silence, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&silence, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    for (Command &command : commands)
        command.argv.push_back(nullptr);

    for (int round = 0; round < rounds; ++round) {
        for (Command &command : commands) {
            const double micros = TimeOnce(command, silence);
            if (micros < 0) {
                std::fprintf(stderr, "startup_timer: cannot start %s\n", command.argv[0]);
                return 1;
            }
            command.micros.push_back(micros);
        }
    }
    std::printf("| program | median µs | fastest µs | slowest µs |\n|---|---:|---:|---:|\n");
    for (Command &command : commands) {
        std::vector<double> &m = command.micros;
        std::sort(m.begin(), m.end());
        std::printf("| %s | %.1f | %.1f | %.1f |\n", command.name.c_str(), m[m.size() / 2], m.front(),
                    m.back());
    }
    return 0;
}
