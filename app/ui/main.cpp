// veltro: the broadcaster's window.
#include <QApplication>

#include "app_info.h"
#include "main_form.h"
#include "popup_form.h"
#include "start_up.h"
#include "veltro_style.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("veltro");
    QApplication::setApplicationDisplayName(kApplicationTitle);
    QApplication::setStyle(new VeltroStyle);

    PopupPresenter presenter;
    SingleInstanceLock instance;
    if (!StartChecks(presenter, instance)) return 0;

    TMain_form window(presenter);
    CloseOnTermination(&window);
    window.show();
    return application.exec();
}
