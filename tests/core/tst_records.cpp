// Record lines as the CLI writes them and analyze reads them back: the CSV and JSON texts, what
// each kind of line reads back as, and which time texts are taken.
#include "core/recordlines.h"

#include <QDateTime>
#include <QTest>

using core::Record;
using core::records::ReadLine;

Q_DECLARE_METATYPE(core::Record)
Q_DECLARE_METATYPE(core::records::ReadLine::Kind)

namespace {
const QString kTime = QStringLiteral("2026-12-07T23:59:58.102+01:00");
// Lines with their double quotes written as single ones, to keep the rows readable.
QString q(const char *text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('\''), QLatin1Char('"'));
}

// The same moment from Qt's own ISO reader, not from the code under test.
qint64 utcOf(const QString &iso)
{
    return QDateTime::fromString(iso, Qt::ISODateWithMs).toMSecsSinceEpoch();
}
} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        // {clock ms, value, signal, measuring ms, mode, language, error, code bytes}
        QTest::addColumn<QString>("port");
        QTest::addColumn<Record>("record");
        QTest::addColumn<QString>("csv");
        QTest::addColumn<QString>("json");
        QTest::newRow("measurement")
            << "/dev/ttyUSB0" << Record { 0, 1234, 110, 187, 0, core::Language::English, false, 0 }
            << "/dev/ttyUSB0," + kTime + ",Auto measure,1234,110,187"
            << q("{'port':'/dev/ttyUSB0','time':'") + kTime
                + q("','mode':'Auto "
                    "measure','distance_mm':1234,'signal':110,'measuring_time_ms':187}");
        QTest::newRow("no-measuring-time-is-empty-and-null")
            << "p" << Record { 0, -5, 3, -1, 2, core::Language::English, false, 0 }
            << "p," + kTime + ",Fast measure,-5,3,"
            << q("{'port':'p','time':'") + kTime
                + q("','mode':'Fast "
                    "measure','distance_mm':-5,'signal':3,'measuring_time_ms':null}");
        QTest::newRow("error-code-keeps-leading-zeros")
            << "p" << Record { 0, 0x0F, 0, 187, 1, core::Language::English, true, 2 }
            << "p," + kTime + ",Slow measure,000F,,187"
            << q("{'port':'p','time':'") + kTime
                + q("','mode':'Slow "
                    "measure','distance_mm':'000F','signal':null,'measuring_time_ms':187}");
        QTest::newRow("port-with-comma-quote-and-backslash")
            << q("a,'b'\\c") << Record { 0, 7, 1, 2, 0, core::Language::English, false, 0 }
            << q("'a,''b''\\c',") + kTime + ",Auto measure,7,1,2"
            << q("{'port':'a,\\'b\\'\\\\c','time':'") + kTime
                + q("','mode':'Auto measure','distance_mm':7,'signal':1,'measuring_time_ms':2}");
    }
    void roundTrip()
    {
        QFETCH(QString, port);
        QFETCH(Record, record);
        QFETCH(QString, csv);
        QFETCH(QString, json);
        QCOMPARE(core::records::csvLine(port, kTime, record), csv + "\n");
        QCOMPARE(core::records::jsonLine(port, kTime, record), json + "\n");
        for (const QString &line : { csv, json }) {
            const ReadLine back = core::records::readLine(line);
            QCOMPARE(back.kind, ReadLine::Kind::Record);
            QCOMPARE(back.port, port);
            QCOMPARE(back.utcMs, utcOf(kTime));
            QCOMPARE(back.record.value, record.value);
            QCOMPARE(back.record.error, record.error);
            QCOMPARE(back.record.measuringMs, record.measuringMs);
            if (!record.error)
                QCOMPARE(back.record.signal, record.signal);
        }
    }

    void kinds_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<ReadLine::Kind>("kind");
        using K = ReadLine::Kind;
        const QString t = kTime;
        QTest::newRow("csv-header")
            << "port,time,mode,distance_mm,signal,measuring_time_ms" << K::Other;
        QTest::newRow("json-statistics-object") << q("{'port':'p','records':3}") << K::Other;
        QTest::newRow("temperature")
            << q("{'port':'p','time':'") + t + q("','temperature_c':21.5}") << K::Temperature;
        QTest::newRow("csv-five-cells") << "p," + t + ",Auto measure,1,2" << K::Damaged;
        QTest::newRow("csv-signal-not-a-number") << "p," + t + ",Auto measure,1,x,2" << K::Damaged;
        QTest::newRow("csv-distance-not-a-number")
            << "p," + t + ",Auto measure,y,1,2" << K::Damaged;
        QTest::newRow("csv-error-code-not-hex") << "p," + t + ",Auto measure,00G1,,2" << K::Damaged;
        QTest::newRow("csv-time-without-date") << "p,23:59:58.102,Auto measure,1,1,2" << K::Damaged;
        QTest::newRow("json-distance-not-a-number")
            << q("{'port':'p','time':'") + t + q("','distance_mm':true}") << K::Damaged;
        QTest::newRow("json-cut-short") << q("{'port':'p','time':'") << K::Damaged;
        QTest::newRow("not-a-line-of-ours") << "hello" << K::Damaged;
    }
    void kinds()
    {
        QFETCH(QString, line);
        QFETCH(ReadLine::Kind, kind);
        const ReadLine back = core::records::readLine(line);
        QCOMPARE(back.kind, kind);
        if (kind == ReadLine::Kind::Temperature) {
            QCOMPARE(back.celsius, 21.5);
            QCOMPARE(back.utcMs, utcOf(kTime));
        }
    }

    void isoTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::newRow("ahead-of-utc") << kTime << true;
        QTest::newRow("behind-utc-half-hour") << "2026-01-01T00:00:00.000-05:30" << true;
        QTest::newRow("utc-written-out") << "2024-02-29T12:00:00.999+00:00" << true;
        QTest::newRow("zulu-not-ours") << "2026-12-07T23:59:58.102Z" << false;
        QTest::newRow("hour-24") << "2026-12-07T24:00:00.000+00:00" << false;
        QTest::newRow("minute-60") << "2026-12-07T10:60:00.000+00:00" << false;
        QTest::newRow("second-60") << "2026-12-07T10:00:60.000+00:00" << false;
        QTest::newRow("february-30") << "2026-02-30T10:00:00.000+00:00" << false;
        QTest::newRow("offset-hour-24") << "2026-12-07T10:00:00.000+24:00" << false;
        QTest::newRow("offset-minute-60") << "2026-12-07T10:00:00.000+01:60" << false;
        QTest::newRow("no-milliseconds") << "2026-12-07T10:00:00+01:00" << false;
        QTest::newRow("letter-for-digit") << "2026-12-07T1O:00:00.000+01:00" << false;
    }
    void isoTime()
    {
        QFETCH(QString, text);
        QFETCH(bool, taken);
        const std::optional<qint64> ms = core::records::parseIsoTime(text);
        QCOMPARE(ms.has_value(), taken);
        if (taken) {
            QCOMPARE(*ms, utcOf(text));
            // Written back in the zone it was read in, the text is the same.
            const int offsetS = QDateTime::fromString(text, Qt::ISODateWithMs).offsetFromUtc();
            QCOMPARE(core::records::isoTime(*ms, offsetS), text);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
