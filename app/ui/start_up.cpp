#include "start_up.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>

#include "pipeline/encoder_settings.h"

bool StartChecks(IPopupPresenter& presenter, SingleInstanceLock& instance)
{
    switch (instance.Acquire()) {
    case SingleInstanceLock::Result::Failed:
        return false;
    case SingleInstanceLock::Result::AlreadyRunning:
        presenter.ShowMessage("Veltro application is already in use", "");
        return false;
    case SingleInstanceLock::Result::Acquired:
        break;
    }
    EnsureEncoderDefaults(presenter);
    return true;
}

namespace {

int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char byte = 1;
    (void)!write(terminationPipe[1], &byte, 1);
}

}  // namespace

void CloseOnTermination(QWidget* window)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0) return;
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        (void)!read(terminationPipe[0], &byte, 1);
        window->close();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
