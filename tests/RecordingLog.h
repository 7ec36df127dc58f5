// Test double of the platform log function: it records each call, so tests
// assert on the records themselves.
#ifndef QUILLET_TESTS_RECORDINGLOG_H
#define QUILLET_TESTS_RECORDINGLOG_H

#include <string>
#include <vector>

struct LogRecord {
    int level;
    std::string levelName, module, file;
    int line;
    std::string message;  // the format with its arguments applied
};

// The calling thread's records since it last took them.
std::vector<LogRecord> TakeRecords();

// "5 token analysis success \n...": the level and message of each record
// taken, each checked to name its level, the module and the library's unit.
std::string TakeMessages();

#endif  // QUILLET_TESTS_RECORDINGLOG_H
