#include "test_peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Every test program runs with its own HOME, XDG folders and registry folder.
class PrivateHome : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string home = MakeTempDir();
        setenv("HOME", home.c_str(), 1);
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            std::string folder = home + "/" + name;
            RunCommand("mkdir -p '" + folder + "' && chmod 700 '" + folder + "'");
            setenv(name, folder.c_str(), 1);
        }
        std::string registry = home + "/registry";
        RunCommand("mkdir -p '" + registry + "'");
        setenv("VELTRO_REGISTRY_DIR", registry.c_str(), 1);
    }
};
const auto* const kPrivateHome = ::testing::AddGlobalTestEnvironment(new PrivateHome);

}  // namespace

std::string MakeTempDir()
{
    char pattern[] = "/tmp/veltro-rtmp-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "/tmp";
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        if (output) output->append(chunk, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int FreeLoopbackPort()
{
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0)
        port = ntohs(local.sin_port);
    close(probe);
    return port;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    pid_ = fork();
    if (pid_ == 0) {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (Running()) {
        Signal(SIGKILL);
        Wait(5);
    }
}

bool ChildProcess::Running()
{
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Signal(int signal)
{
    if (pid_ > 0) kill(pid_, signal);
}

int ChildProcess::Wait(int seconds)
{
    for (int i = 0; i < seconds * 20 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (Running()) {
        Signal(SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

NginxRtmpServer::NginxRtmpServer(const std::string& dir) : dir_(dir) {}

std::string NginxRtmpServer::Url(const std::string& path) const
{
    return "rtmp://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

NginxRtmpServer::~NginxRtmpServer() { Stop(); }

bool NginxRtmpServer::Start()
{
    // The worker runs as nobody when started as root: it must reach the recording folder.
    RunCommand("mkdir -p '" + dir_ + "/logs' '" + dir_ + "/rec' && chmod 755 '" + dir_ + "' && chmod 777 '" + dir_ +
               "/rec'");
    // nginx cannot listen on port 0 and tell which port it got: take a free one, and another
    // when a parallel test took it first.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreeLoopbackPort();
        std::ofstream config(dir_ + "/nginx.conf");
        config << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
               << "daemon on;\nworker_processes 1;\npid " << dir_ << "/nginx.pid;\n"
               << "error_log " << dir_ << "/logs/error.log info;\n"
               << "events { worker_connections 64; }\n"
               << "rtmp { server { listen 127.0.0.1:" << port_ << "; chunk_size 4096;\n"
               << "  application live { live on; record all; record_path " << dir_ << "/rec; } } }\n";
        config.close();
        std::string args = " -p '" + dir_ + "' -c '" + dir_ + "/nginx.conf' -e '" + dir_ + "/logs/error.log'";
        if (RunCommand("nginx" + args + " >/dev/null 2>&1") != 0) continue;
        running_ = true;
        std::string listening = "ss -ltn 2>/dev/null | grep -q '127.0.0.1:" + std::to_string(port_) + " '";
        for (int i = 0; i < 100; ++i) {
            if (RunCommand(listening) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    return false;
}

void NginxRtmpServer::Stop()
{
    if (!running_) return;
    running_ = false;
    std::string pid = ReadTextFile(dir_ + "/nginx.pid");
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    if (pid.empty()) return;
    RunCommand("kill -QUIT " + pid);
    for (int i = 0; i < 200 && RunCommand("kill -0 " + pid + " 2>/dev/null") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

std::string ProbeStream(const std::string& file, const std::string& selector, const std::string& entries)
{
    std::string output;
    RunCommand("ffprobe -v error -count_packets -select_streams " + selector + " -show_entries stream=" + entries +
                   " -of csv=p=0 '" + file + "'",
               &output);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}
