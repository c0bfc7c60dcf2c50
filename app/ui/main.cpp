// veltro: the broadcaster's window.
#include <QApplication>

#include "app_info.h"
#include "main_form.h"
#include "pipeline/encoder_settings.h"
#include "popup_form.h"
#include "single_instance.h"
#include "veltro_style.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("veltro");
    QApplication::setApplicationDisplayName(kApplicationTitle);
    QApplication::setStyle(new VeltroStyle);

    PopupPresenter presenter;
    SingleInstanceLock instance;
    switch (instance.Acquire()) {
    case SingleInstanceLock::Result::Failed:
        return 1;
    case SingleInstanceLock::Result::AlreadyRunning:
        presenter.ShowMessage("Veltro application is already in use", "");
        return 0;
    case SingleInstanceLock::Result::Acquired:
        break;
    }
    EnsureEncoderDefaults(presenter);

    TMain_form window(presenter);
    window.show();
    return application.exec();
}
