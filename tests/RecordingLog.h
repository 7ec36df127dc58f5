// Test double of the platform log function: records every call instead of
// writing it, so tests assert on the records themselves.
#ifndef QUILLET_TESTS_RECORDINGLOG_H
#define QUILLET_TESTS_RECORDINGLOG_H

#include <string>
#include <vector>

struct LogRecord {
    int level;
    std::string levelName, module, format, file;
    int line;
    std::string message;  // the format with its arguments applied
};

// Records written by the calling thread since its last TakeRecords().
std::vector<LogRecord> TakeRecords();

// The level and message of each record taken ("5 token analysis success \n"),
// after checking that each names its level, the module and the library's unit.
std::string TakeMessages();

#endif  // QUILLET_TESTS_RECORDINGLOG_H
