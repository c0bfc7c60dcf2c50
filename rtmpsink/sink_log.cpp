#include "sink_log.h"

#include <cstdio>

std::string FormatLogLine(const std::tm& when, const std::string& message)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "[%d/%d/%d - %d:%d:%d] ", when.tm_mday, when.tm_mon + 1, when.tm_year + 1900,
                  when.tm_hour, when.tm_min, when.tm_sec);
    return stamp + message + "\n";
}

void SinkLog::Write(const std::string& message)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string line = FormatLogLine(local, message);
    std::lock_guard<std::mutex> hold(lock_);
    if (std::FILE* file = std::fopen(path_.c_str(), "a")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
}
