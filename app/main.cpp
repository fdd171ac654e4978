// Program entry: one main window, shown, then the event loop.
#include "ui/widget.h"

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
        // For smoke tests and the start-up benchmark: say when the window is up, then close
        // it as a user would.
        bool ok = false;
        const int closeAfter = qEnvironmentVariableIntValue("TOVANDRIX_CLOSE_AFTER_MS", &ok);
        if (ok && closeAfter >= 0) {
            QTimer::singleShot(0, &w, [] {
                std::puts("shown");
                std::fflush(stdout);
            });
            QTimer::singleShot(closeAfter, &w, &QWidget::close);
        }
        result = a.exec();
    }
    return result;
}
