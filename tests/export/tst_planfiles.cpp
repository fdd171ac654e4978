// The files of test runs: a record per run under its start, serial and verdict, never half
// written, never over an earlier one; the JUnit report beside them.
#include "export/plan/planfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace core::plan;

class TestPlanFiles : public QObject
{
    Q_OBJECT
private slots:
    void recordAndJunitFiles()
    {
        QTemporaryDir dir;
        RunRecord run;
        run.id = newRunId();
        run.startTime = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58, 102));
        run.unit.serial = QStringLiteral("2024/04:17"); // no folder, no drive
        run.outcome = Outcome::Fail;
        QString error;
        const QString first = exporting::plan::writeRecordFile(dir.path(), run, &error);
        const QString second = exporting::plan::writeRecordFile(dir.path(), run, &error);
        QCOMPARE(first, dir.filePath("20261207T235958.102-2024_04_17-FAIL.json"));
        QCOMPARE(second, dir.filePath("20261207T235958.102-2024_04_17-FAIL-2.json"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left
        QFile file(first);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(json.value("id").toString() + json.value("dut_id").toString(),
            run.id + run.unit.serial);
        run.unit.serial.clear();
        QVERIFY(exporting::plan::writeRecordFile(dir.path(), run, &error)
                    .endsWith("-unknown-FAIL.json"));

        const QString missing = dir.filePath("no/such/folder");
        QCOMPARE(exporting::plan::writeRecordFile(missing, run, &error), QString());
        QVERIFY(!error.isEmpty());
        QVERIFY(exporting::plan::writeJunitFile(dir.filePath("junit.xml"), { run }, &error));
        QFile junit(dir.filePath("junit.xml"));
        QVERIFY(junit.open(QIODevice::ReadOnly) && junit.readLine().startsWith("<?xml"));
        error.clear();
        QVERIFY(!exporting::plan::writeJunitFile(missing + "/junit.xml", { run }, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPlanFiles)
#include "tst_planfiles.moc"
