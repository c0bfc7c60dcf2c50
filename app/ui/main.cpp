// veltro: the broadcaster's window.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app_info.h"
#include "main_form.h"
#include "popup_form.h"
#include "start_up.h"
#include "veltro_style.h"

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("veltro %s\n", ProgramFileVersion());
        return 0;
    }
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
