// The files of test runs: one JSON record per run, and the JUnit report of all of them.
#include "export/plan/planfiles.h"

#include "core/plan/junit.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace exporting::plan {

namespace {

bool saveWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

} // namespace

QString recordFileName(const core::plan::RunRecord &run)
{
    QString serial = run.unit.serial.isEmpty() ? QStringLiteral("unknown") : run.unit.serial;
    for (QChar &c : serial) {
        const bool safe = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('.')
            || c == QLatin1Char('_') || c == QLatin1Char('-');
        if (!safe)
            c = QLatin1Char('_');
    }
    return run.startTime.toLocalTime().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz"))
        + QLatin1Char('-') + serial + QLatin1Char('-') + core::plan::outcomeName(run.outcome)
        + QStringLiteral(".json");
}

QString writeRecordFile(const QString &dir, const core::plan::RunRecord &run, QString *error)
{
    const QString name = recordFileName(run);
    const QString stem = name.chopped(5);
    QString path = QDir(dir).filePath(name);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(dir).filePath(stem + QStringLiteral("-%1.json").arg(n));
    const QByteArray json = QJsonDocument(core::plan::toJson(run)).toJson(QJsonDocument::Indented);
    return saveWhole(path, json, error) ? path : QString();
}

bool writeJunitFile(const QString &path, const QList<core::plan::RunRecord> &runs, QString *error)
{
    return saveWhole(path, core::plan::junitXml(runs).toUtf8(), error);
}

} // namespace exporting::plan
