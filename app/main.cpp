// Program entry: one main window, shown, then the event loop.
#include "widget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);
    int result = 0;
    {
        // The window goes before the application object.
        Widget w;
        w.show();
        result = a.exec();
    }
    return result;
}
