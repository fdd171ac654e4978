// A station process for the upload tests: uploads what its SQLite file holds ("sync"), or stops
// for good right after the server took its first pending run, before marking it ("hold").
#include "store/station.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments(); // FILE SERVER sync|hold
    QString error;
    auto station = store::Station::open(args.value(2), &error, {}, args.value(1));
    auto server = store::Store::open(*store::parseLocation(args.value(2)), &error);
    if (!station || !server)
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 2;
    if (args.value(3) == QLatin1String("hold")) {
        const QString id = station->local().pending().value(0);
        if (server->save(*station->local().load(id)) != store::Saved::Stored)
            return 1;
        std::puts("held");
        std::fflush(stdout);
        ::pause();
    }
    return station->sync().error.isEmpty() ? 0 : 1;
}
