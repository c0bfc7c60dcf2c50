// Test helpers: a private folder, child processes, and nginx with the RTMP module on a
// loopback address of the test's own.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

std::string MakeTempDir();
// Runs a shell command; returns its exit status and, when wanted, its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
std::string ReadTextFile(const std::string& path);

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    // Waits up to `seconds` for the exit; kills the process when it does not end.
    int Wait(int seconds);
    void Signal(int signal);
    bool Running();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

class NginxRtmpServer {
public:
    // Records every stream of the application "live" to <dir>/rec/<name>.flv.
    NginxRtmpServer(const std::string& address, const std::string& dir);
    ~NginxRtmpServer();
    bool Start();
    // Graceful stop: recordings are complete afterwards.
    void Stop();
    std::string RecordPath(const std::string& streamName) const { return dir_ + "/rec/" + streamName + ".flv"; }

private:
    std::string address_;
    std::string dir_;
    bool running_ = false;
};

// One line of ffprobe values (stream entries, comma-separated) for a stream selector.
std::string ProbeStream(const std::string& file, const std::string& selector, const std::string& entries);
