// Test helpers: a private folder, child processes, and nginx with the RTMP module on
// 127.0.0.1 and a port of its own.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

std::string MakeTempDir();
// Runs a shell command; returns its exit status and, when wanted, its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
std::string ReadTextFile(const std::string& path);
// A TCP port on 127.0.0.1 that was free a moment ago (the system picked it for a bind to
// port 0), for peers that cannot report the port they bound.
int FreeLoopbackPort();

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
    explicit NginxRtmpServer(const std::string& dir);
    ~NginxRtmpServer();
    bool Start();
    int Port() const { return port_; }
    // rtmp://127.0.0.1:PORT/<path>
    std::string Url(const std::string& path) const;
    // Graceful stop: recordings are complete afterwards.
    void Stop();
    std::string RecordPath(const std::string& streamName) const { return dir_ + "/rec/" + streamName + ".flv"; }

private:
    int port_ = 0;
    std::string dir_;
    bool running_ = false;
};

// One line of ffprobe values (stream entries, comma-separated) for a stream selector.
std::string ProbeStream(const std::string& file, const std::string& selector, const std::string& entries);
