// A station process for the upload tests: uploads what its SQLite file holds ("sync"), or stops
// for good right after the server took its first pending run, before marking it ("hold").
#include "store/store.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString error;
    auto local = store::Store::open(*store::parseLocation(args.value(1)), &error);
    auto server = store::Store::open(*store::parseLocation(args.value(2)), &error);
    if (!local || !server) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    if (args.value(3) == QLatin1String("hold")) {
        if (server->save(*local->load(local->pending().value(0))) != store::Saved::Stored)
            return 1;
        std::puts("held");
        std::fflush(stdout);
        ::pause();
    }
    return local->uploadPending(*server).error.isEmpty() ? 0 : 1;
}
