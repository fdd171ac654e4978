// Program entry: one main window, shown, then the event loop.
#include "widget.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);
    int result = 0;
    {
        // The window goes before the application object.
        Widget w;
        w.show();
        // The start-up benchmark times the program up to here, then lets it go.
        if (qEnvironmentVariableIsSet("TOVANDRIX_EXIT_WHEN_SHOWN")) {
            QTimer::singleShot(0, &a, [] {
                std::puts("shown");
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        result = a.exec();
    }
    return result;
}
