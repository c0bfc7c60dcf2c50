// veltro-cli broadcast: the window's broadcast with the settings and registry values of the
// program, this run's options on top, and the same supervision and reconnection.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#include "cli_options.h"
#include "commands.h"
#include "devices/devices.h"
#include "dshow/filtergraph.h"
#include "login.h"
#include "pipeline/bitrate_lists.h"
#include "pipeline/format_lists.h"
#include "session/broadcast_session.h"
#include "settings/folders.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

void InstallStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Usage(const std::string& error)
{
    std::fprintf(stderr,
                 "%s\nusage: veltro-cli broadcast (--url RTMP_URL | --user U --password P --channel N) [--seconds S]\n"
                 "       [--record FILE] [--video-device N|none] [--audio-device N|none] [--format NAME]\n"
                 "       [--size WxH] [--fps F] [--resize WxH] [--video-bitrate K] [--audio-bitrate K] [--half-fps]\n"
                 "       [--graph]  (prints the pipeline's filters and connections once it runs)\n",
                 error.c_str());
    return 2;
}

// "--video-device N|none" into the source switch and position of the settings.
bool ApplyDeviceOption(const std::optional<std::string>& value, int& source, int& index)
{
    if (!value) return true;
    if (*value == "none") {
        source = 0;
        return true;
    }
    source = 1;
    return ParseCount(*value, index);
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/') return path;
    char folder[4096];
    return getcwd(folder, sizeof folder) ? std::string(folder) + "/" + path : path;
}

// The position of `text` in a list the window offers; -1 when it is not there.
int PositionOf(const std::vector<std::string>& items, const std::string& text)
{
    auto found = std::find(items.begin(), items.end(), text);
    return found == items.end() ? -1 : int(found - items.begin());
}

int SizePosition(const BroadcastSession& session, int width, int height)
{
    const std::string wanted = SizeText(width, height);
    const auto& sizes = session.choices.Video_Input_Sizes;
    for (size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i].text == wanted) return int(i);
    return -1;
}

// The session's window: receives the sink's messages and the device removals while it lives.
class NotifyWindow {
public:
    explicit NotifyWindow(BroadcastSession& session)
        : handle_(CreateMessageWindow([&session](UINT message, WPARAM wParam,
                                                 LPARAM lParam) { session.OnWindowMessage(message, wParam, lParam); },
                                      [] {}))
    {
        RegisterDeviceRemovalWindow(handle_);
    }
    ~NotifyWindow()
    {
        UnregisterDeviceRemovalWindow(handle_);
        DestroyMessageWindow(handle_);
    }
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;
    HWND Handle() const { return handle_; }

private:
    HWND handle_;
};

void PrintTick(const SessionState& state)
{
    std::printf("%s\t%s\trequired %s kbit/s\toutgoing %s kbit/s\n", state.clock.c_str(), state.status.c_str(),
                state.requiredCounter.c_str(), state.actualCounter.c_str());
    std::fflush(stdout);
}

}  // namespace

int RunBroadcast(int argc, char** argv)
{
    CliOptions options;
    std::string error;
    if (!options.Parse(argc, argv, 2,
                       {"url", "user", "password", "channel", "seconds", "record", "video-device", "audio-device",
                        "format", "size", "fps", "resize", "video-bitrate", "audio-bitrate"},
                       {"half-fps", "graph"}, error))
        return Usage(error);
    const bool byAccount = options.Has("user") || options.Has("password") || options.Has("channel");
    if (options.Has("url") == byAccount || (byAccount && !(options.Has("user") && options.Has("password") &&
                                                           options.Has("channel"))))
        return Usage("give either --url or --user, --password and --channel");
    int seconds = -1, channel = 0, width = 0, height = 0;
    if (options.Has("seconds") && !ParseCount(*options.Value("seconds"), seconds)) return Usage("bad --seconds");
    if (byAccount && !ParseCount(*options.Value("channel"), channel)) return Usage("bad --channel");

    StderrPopupPresenter presenter;
    TprogramSettings settings(&presenter);
    EnsureEncoderDefaults(presenter);
    settings.ReadSettings();
    BroadcastSession session(settings, ExecutableFolderPath());
    session.LoadSettingsIntoControls();

    // This run's devices, as the stored choices the window starts with.
    if (!ApplyDeviceOption(options.Value("video-device"), settings.VideoSource, settings.VideoIndex))
        return Usage("bad --video-device");
    if (!ApplyDeviceOption(options.Value("audio-device"), settings.AudioSource, settings.AudioIndex))
        return Usage("bad --audio-device");
    double rate = 0;
    if (auto fps = options.Value("fps"); fps && !ParseFramerate(*fps, rate)) return Usage("bad --fps");
    int resizeWidth = 0, resizeHeight = 0;
    if (auto resize = options.Value("resize"); resize && !ParseDimensions(*resize, resizeWidth, resizeHeight))
        return Usage("bad --resize");
    if (auto size = options.Value("size"); size && !ParseDimensions(*size, width, height)) return Usage("bad --size");

    if (byAccount) {
        session.authentication = Login(*options.Value("user"), *options.Value("password"));
        if (!session.authentication) return 1;
        session.channelPosition = channel;
    } else {
        session.directAddress = *options.Value("url");
    }

    NotifyWindow notify(session);
    const HWND window = notify.Handle();
    session.notifyWindow = window;
    session.processMessages = [window] { DispatchWindowMessages(window); };
    InstallStopHandlers();

    // Sources as the first login switches them on: audio, then video; then this run's
    // choices through the same handlers as the window's controls.
    if (settings.AudioSource == 1) session.SwitchAudioOn();
    if (settings.VideoSource == 1) session.SwitchVideoOn();
    if (auto format = options.Value("format")) {
        int position = session.state.videoOn ? PositionOf(session.choices.formats, *format) : -1;
        if (position < 0) {
            std::fprintf(stderr, "The format %s is not offered by the video device\n", format->c_str());
            return 1;
        }
        if (position != session.choices.formatSelection) session.ColorFormatChange(position);
    }
    if (options.Has("size")) {
        int position = session.state.videoOn ? SizePosition(session, width, height) : -1;
        if (position < 0) {
            std::fprintf(stderr, "The size %s is not offered for the format %s\n", options.Value("size")->c_str(),
                         session.choices.SelectedFormat().c_str());
            return 1;
        }
        if (position != session.choices.sizeSelection) session.VideoSizeChange(position);
    }
    if (auto fps = options.Value("fps"); fps && *fps != settings.Framerate) session.FramerateChange(*fps);
    if (options.Has("resize")) {
        session.ResizeOutputOn();
        session.resize_widthChange(std::to_string(resizeWidth));
        session.resize_heightChange(std::to_string(resizeHeight));
    }
    if (auto kbps = options.Value("video-bitrate")) session.VideoBitrateChange(*kbps);
    if (auto kbps = options.Value("audio-bitrate")) session.AudioBitrateChange(*kbps);
    if (options.Has("half-fps")) session.HalfFramerateChange(true);
    if (auto file = options.Value("record")) {
        session.RecordingOn();
        session.file_path_editChange(AbsolutePath(*file));
    }
    session.Stream_btnClick();
    int exitCode = 0;
    if (!session.state.isStreaming) {
        std::fprintf(stderr, "The broadcast did not start (%s); see %slog.txt\n", session.state.status.c_str(),
                     settings.Get_XML_FolderPath().c_str());
        exitCode = 1;
    } else {
        if (options.Has("graph")) {
            std::fputs(DescribeGraph(session.pipeline.Graph()).c_str(), stdout);
            std::fflush(stdout);
        }
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        auto nextTick = start + std::chrono::seconds(1);
        while (!stopRequested) {
            auto now = Clock::now();
            if (now < nextTick) {
                auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count();
                WaitAndDispatchWindowMessages(window, int(std::min<long long>(wait, 200)));
                continue;
            }
            nextTick += std::chrono::seconds(1);
            if (session.state.Connect_Timer) session.Connec_TimerTimer();
            if (session.state.Check_Stream) session.Check_StreamTimer();
            if (session.state.streamFlag == 0) {
                exitCode = 3;  // the broadcast was ended (capture device removed)
                break;
            }
            PrintTick(session.state);
            if (seconds >= 0 && Clock::now() - start >= std::chrono::seconds(seconds)) break;
        }
        if (session.state.streamFlag == 1 && session.state.front == FrontButton::StopReconnect)
            session.Stop_Reconnect_btnClick();
        else if (session.state.streamFlag == 1)
            session.StopBroadcast();
    }
    session.ShutdownCleanup(false);  // this run's options are not stored
    return exitCode;
}
