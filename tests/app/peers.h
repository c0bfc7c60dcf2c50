// Real peers for the integration tests, started on loopback by the test and stopped by it:
// nginx with the RTMP module, the demo account service, and ffprobe.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// A child process with stdout and stderr in files.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& command, const std::string& outPath, const std::string& errPath)
    {
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> args;
            for (const std::string& part : command) args.push_back(const_cast<char*>(part.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~ChildProcess()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int signal) const { kill(pid_, signal); }
    pid_t Pid() const { return pid_; }
    // Exit code (128 + signal for a killed process).
    int Wait()
    {
        if (exited_) return code_;
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return code_;
    }
    bool Running()
    {
        if (exited_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0) return true;
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int code_ = -1;
};

inline std::string ReadText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline bool WaitFor(const std::function<bool()>& condition, int seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

inline std::string CommandOutput(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

// Kills the processes whose parent is `parent` (nginx's workers).
inline void KillChildrenOf(pid_t parent)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string stat = ReadText(entry.path().string() + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::stringstream fields(stat.substr(close + 2));
        std::string state;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent) kill(std::stoi(entry.path().filename().string()), SIGKILL);
    }
}

// A loopback port the system picked (bind to port 0), held by a socket that is bound but not
// listening. With SO_REUSEADDR on both sides the server can bind it while it is held, and the
// system hands it to nobody else meanwhile, so parallel tests never meet on one port.
class PortReservation {
public:
    explicit PortReservation(int port = 0) { Take(port); }
    ~PortReservation() { Release(); }
    PortReservation(const PortReservation&) = delete;
    PortReservation& operator=(const PortReservation&) = delete;

    int Port() const { return port_; }
    // Holds `port` (the one already picked) again while its server restarts. A killed server's
    // worker may still hold its listening socket for a moment; the port is taken once it is gone.
    void Take(int port)
    {
        Release();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!TryBind(port) && port != 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (fd_ < 0) throw std::runtime_error("cannot reserve loopback port " + std::to_string(port));
    }
    void Release()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    bool TryBind(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            Release();
            return false;
        }
        port_ = ntohs(address.sin_port);
        return true;
    }

    int fd_ = -1;
    int port_ = 0;
};

// True once something listens on 127.0.0.1:port.
inline bool Listening(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

// nginx on 127.0.0.1 at a port of its own, with one live application "live/demo" that records
// every stream to rec/.
class RtmpServer {
public:
    explicit RtmpServer(const std::string& folder) : folder_(folder)
    {
        std::filesystem::create_directories(folder + "/logs");
        std::filesystem::create_directories(RecordFolder());
        std::filesystem::permissions(RecordFolder(), std::filesystem::perms::all);
        std::ofstream(folder + "/nginx.conf")
            << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
               "daemon off;\nworker_processes 1;\npid "
            << folder << "/nginx.pid;\nerror_log " << folder
            << "/logs/error.log info;\nevents { worker_connections 64; }\n"
               "rtmp { server { listen "
            << Host() << "; chunk_size 4096;\n"
            << "  application live/demo { live on; record all; record_unique on; record_path " << RecordFolder()
            << "; } } }\n";
        Start();
    }
    ~RtmpServer() { Kill(); }

    // "127.0.0.1:PORT", the host part of the server's rtmp:// addresses.
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_.Port()); }

    void Start()
    {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"nginx", "-p", folder_, "-c", folder_ + "/nginx.conf", "-e",
                                     folder_ + "/logs/error.log"},
            folder_ + "/nginx.out", folder_ + "/nginx.err");
        WaitFor([this] { return Listening(port_.Port()) || !process_->Running(); }, 10);
        port_.Release();
    }
    // Kills the server with its worker (a crash, as far as its clients can tell); the port stays
    // held for the next Start.
    void Stop()
    {
        Kill();
        port_.Take(port_.Port());
    }
    std::string RecordFolder() const { return folder_ + "/rec"; }
    std::vector<std::string> Recordings() const
    {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(RecordFolder())) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }

private:
    void Kill()
    {
        if (!process_) return;
        // The master runs in the foreground as our child; its worker goes with it.
        process_->Signal(SIGSTOP);
        KillChildrenOf(process_->Pid());
        process_->Signal(SIGKILL);
        process_->Wait();
        process_.reset();
        std::filesystem::remove(folder_ + "/nginx.pid");
    }

    std::string folder_;
    PortReservation port_;
    std::unique_ptr<ChildProcess> process_;
};

// The demo account service on a loopback port it picks itself, answering user "demo" /
// password "demo"; its channels publish to `rtmpHost`.
class AccountService {
public:
    AccountService(const std::string& folder, const std::string& rtmpHost)
        : process_({"python3", std::string(VELTRO_SOURCE_DIR) + "/tools/demo/account_service.py", "--listen",
                    "127.0.0.1:0", "--rtmp-host", rtmpHost},
                   folder + "/account.out", folder + "/account.err"),
          outPath_(folder + "/account.out")
    {
        WaitFor([this] { return ReadText(outPath_).find('\n') != std::string::npos; }, 10);
        const std::string out = ReadText(outPath_);
        if (out.rfind("ready ", 0) == 0) address_ = out.substr(6, out.find('\n') - 6);
    }
    // "127.0.0.1:PORT"
    const std::string& Address() const { return address_; }

private:
    ChildProcess process_;
    std::string outPath_;
    std::string address_;
};

struct ProbeResult {
    std::vector<std::string> codecs;  // in stream order
    double duration = 0;
};

inline ProbeResult Probe(const std::string& path)
{
    ProbeResult result;
    std::string output = CommandOutput("ffprobe -v error -show_entries stream=codec_name:format=duration "
                                       "-of default=nw=1 '" + path + "' 2>/dev/null");
    std::stringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("codec_name=", 0) == 0) result.codecs.push_back(line.substr(11));
        if (line.rfind("duration=", 0) == 0 && line != "duration=N/A") result.duration = std::stod(line.substr(9));
    }
    std::sort(result.codecs.begin(), result.codecs.end());
    return result;
}

// The largest distance between neighbouring video packet times of a file, in seconds.
inline double LargestVideoGap(const std::string& path)
{
    std::string output = CommandOutput("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time "
                                       "-of csv=p=0 '" + path + "' 2>/dev/null");
    std::vector<double> times;
    std::stringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line != "N/A") times.push_back(std::stod(line));
    std::sort(times.begin(), times.end());
    double gap = 0;
    for (size_t i = 1; i < times.size(); ++i) gap = std::max(gap, times[i] - times[i - 1]);
    return gap;
}
