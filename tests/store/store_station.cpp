// A station process for the upload tests to kill in the middle of an upload: it uploads what
// its SQLite file (the first argument) holds to the server (the second).
#include "store/station.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString error;
    auto station
        = store::Station::open(app.arguments().value(2), &error, {}, app.arguments().value(1));
    if (!station)
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 2;
    return station->sync().error.isEmpty() ? 0 : 1;
}
