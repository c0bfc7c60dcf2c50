// rtmp.log: one line per event, "[day/month/year - hour:minute:second] message".
#pragma once

#include <ctime>
#include <mutex>
#include <string>

class SinkLog {
public:
    explicit SinkLog(std::string path) : path_(std::move(path)) {}

    // Opens the file for appending, writes the line and closes it; a file that cannot be
    // opened loses the line.
    void Write(const std::string& message);
    const std::string& Path() const { return path_; }

private:
    std::mutex lock_;
    std::string path_;
};

std::string FormatLogLine(const std::tm& when, const std::string& message);

// Writes through a log that may be absent.
inline void LogLine(SinkLog* log, const std::string& message)
{
    if (log) log->Write(message);
}
