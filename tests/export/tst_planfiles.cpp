// The files of test runs: a record per run under its start, serial and verdict, never half
// written, never over an earlier one; the JUnit report beside them.
#include "export/plan/planfiles.h"

#include "testsupport.h"

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
    void recordFiles_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("name");
        QTest::newRow("serial-and-verdict")
            << "20240417" << Outcome::Fail << "20261207T235958.102-20240417-FAIL";
        QTest::newRow("no-serial-read")
            << "" << Outcome::Error << "20261207T235958.102-unknown-ERROR";
        QTest::newRow("path-characters-replaced")
            << "a/b:c" << Outcome::Pass << "20261207T235958.102-a_b_c-PASS";
    }
    void recordFiles()
    {
        QFETCH(QString, serial);
        QFETCH(Outcome, outcome);
        QFETCH(QString, name);
        QTemporaryDir dir;
        RunRecord run;
        run.id = newRunId();
        run.startTime = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58, 102));
        run.endTime = run.startTime.addSecs(5);
        run.unit.serial = serial;
        run.outcome = outcome;
        run.steps = { { QStringLiteral("supply"), outcome, { {} } } };
        QString error;
        const QString first = exporting::plan::writeRecordFile(dir.path(), run, &error);
        const QString second = exporting::plan::writeRecordFile(dir.path(), run, &error);
        QCOMPARE(first, dir.filePath(name + ".json"));
        QCOMPARE(second, dir.filePath(name + "-2.json"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left
        QFile file(first);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(json.value("id").toString(), run.id);
        QCOMPARE(json.value("dut_id").toString(), serial);
        QCOMPARE(json.value("outcome").toString(), outcomeName(outcome));

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
