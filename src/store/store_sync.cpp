// A station's runs on their way to the line's server, and run records brought in from files.
#include "store/store.h"
#include "store/store_p.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace store {

using namespace core::plan;

QStringList Store::pending()
{
    QStringList ids;
    if (!d->ready())
        return ids;
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (d->run(q, QStringLiteral("SELECT uuid FROM runs WHERE uploaded = 0 ORDER BY id")))
        while (q.next())
            ids.append(q.value(0).toString());
    return ids;
}

bool Store::markUploaded(const QString &id)
{
    if (!d->ready())
        return false;
    QSqlQuery q(d->db());
    return d->run(q, QStringLiteral("UPDATE runs SET uploaded = 1 WHERE uuid = ?"), { id });
}

SyncResult Store::uploadPending(Store &server)
{
    SyncResult result;
    d->error.clear();
    const QStringList ids = pending();
    if (ids.isEmpty() && !d->error.isEmpty()) {
        result.error = d->error;
        return result;
    }
    result.pending = int(ids.size());
    for (const QString &id : ids) {
        const std::optional<RunRecord> run = load(id);
        if (!run) {
            result.error = d->error;
            break;
        }
        // The server commits the run before it is marked here: a crash in between leaves it
        // pending, and the next upload finds it there already.
        const Saved saved = server.save(*run);
        if (saved == Saved::Failed) {
            result.error = server.errorString();
            break;
        }
        if (!markUploaded(id)) {
            result.error = d->error;
            break;
        }
        ++(saved == Saved::Stored ? result.uploaded : result.alreadyThere);
        --result.pending;
    }
    return result;
}

ImportResult Store::importFolder(const QString &folder)
{
    ImportResult result;
    const QDir dir(folder);
    if (!dir.exists()) {
        result.problems.append(folder + QStringLiteral(": no such folder"));
        return result;
    }
    for (const QString &name :
        dir.entryList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        QString why;
        std::optional<RunRecord> run;
        if (!file.open(QIODevice::ReadOnly)) {
            why = file.errorString();
        } else {
            QJsonParseError parse;
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
            if (!doc.isObject())
                why = parse.error != QJsonParseError::NoError ? parse.errorString()
                                                              : QStringLiteral("not a run record");
            else
                run = fromJson(doc.object(), &why);
        }
        const Saved saved = run ? save(*run) : Saved::Failed;
        if (saved == Saved::Stored)
            ++result.stored;
        else if (saved == Saved::AlreadyThere)
            ++result.alreadyThere;
        else
            result.problems.append(
                dir.filePath(name) + QStringLiteral(": ") + (run ? errorString() : why));
    }
    return result;
}

} // namespace store
