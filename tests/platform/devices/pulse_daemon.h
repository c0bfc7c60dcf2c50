// A private PulseAudio daemon with one null sink ("vsink", 48 kHz stereo) and, after it, one
// null source ("vmic", a microphone that records silence), started in a fresh temporary folder
// and pointed to by PULSE_SERVER for this process; stopped on destruction.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

class PulseDaemon {
public:
    PulseDaemon()
    {
        char pattern[] = "/tmp/veltro-pulse-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::filesystem::create_directories(dir_ + "/run");
        std::filesystem::create_directories(dir_ + "/home");
        std::filesystem::permissions(dir_ + "/run", std::filesystem::perms::owner_all);
        std::ofstream(dir_ + "/private.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << dir_ << "/run/native\n"
            << "load-module module-null-sink sink_name=vsink sink_properties=device.description=VirtualSink "
               "rate=48000 channels=2\n"
            << "load-module module-null-source source_name=vmic description=VirtualMic\n"
            << "set-default-sink vsink\nset-default-source vsink.monitor\n";
        setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
        setenv("HOME", (dir_ + "/home").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/run/native").c_str(), 1);
        pid_ = fork();
        if (pid_ == 0) {
            std::string script = dir_ + "/private.pa", log = "--log-target=file:" + dir_ + "/pa.log";
            execlp("pulseaudio", "pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1", "-n", "-F",
                   script.c_str(), log.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100 && !ready_; ++i) {
            ready_ = system("pactl info >/dev/null 2>&1") == 0;
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~PulseDaemon()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(dir_);
    }
    bool Ready() const { return ready_; }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// Runs pactl against the daemon; its output.
inline std::string Pactl(const std::string& arguments)
{
    std::string output;
    if (FILE* pipe = popen(("pactl " + arguments + " 2>&1").c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
        pclose(pipe);
    }
    return output;
}

// Plays `seconds` of a 1 kHz tone at half scale into vsink with pacat, in the background.
inline pid_t PlayToneIntoSink(const std::string& dir, int seconds)
{
    std::string file = dir + "/tone.raw";
    {
        std::ofstream out(file, std::ios::binary);
        for (int n = 0; n < 48000 * seconds; ++n) {
            int16_t v = int16_t(16000 * ((n / 24) % 2 ? 1 : -1));  // 1 kHz square wave
            out.write(reinterpret_cast<const char*>(&v), 2).write(reinterpret_cast<const char*>(&v), 2);
        }
    }
    pid_t pid = fork();
    if (pid == 0) {
        execlp("pacat", "pacat", "-d", "vsink", "--raw", "--format=s16le", "--rate=48000", "--channels=2",
               file.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}
