// The window against the virtual module over a real pseudo-terminal, in both protocols: every
// measurement reply the module sent becomes one record, one numbered reply line and (0xAA) one
// chart point. The oracle is the module's replies, decoded here from the protocols' definition.
#include "ui_widget.h"
#include "windowrig.h"

#include "sim/pty.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QTest>

using testsupport::WindowRig;

namespace {

constexpr int kMeasuringMs = 83; // not a multiple of the adapter's 16 ms: the cut moves
constexpr int kTimeoutMs = 20000;

struct Measured
{
    int address = -1;
    qint32 distance = 0;
    qint16 signal = 0;
};

quint32 bigEndian(const QByteArray &bytes, int at, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

// A measurement reply as the protocol defines it; address -1 when the bytes are not one.
Measured decode(const QByteArray &r, int checkMode)
{
    if (checkMode == 0) {
        // AA, address, 00 22, 00 03, distance (4), signal (2), sum8 of the bytes in between.
        if (r.size() != 13 || quint8(r.at(0)) != 0xAA || r.mid(2, 4) != testsupport::hex("00220003")
            || testsupport::sum8(r.mid(1, 11)) != quint8(r.at(12)))
            return {};
        return { quint8(r.at(1)), qint32(bigEndian(r, 6, 4)), qint16(bigEndian(r, 10, 2)) };
    }
    // Address, 04, 06 bytes: distance (2 registers), signal; CRC-16 low byte first.
    if (r.size() != 11 || r.at(1) != 0x04 || r.at(2) != 0x06
        || testsupport::crc16(r.left(9)) != quint16(quint8(r.at(9)) | quint8(r.at(10)) << 8))
        return {};
    return { quint8(r.at(0)), qint32(bigEndian(r, 3, 4)), qint16(bigEndian(r, 7, 2)) };
}

// The "N  [hh:mm:ss.zzz] Receive:AA 00 ..." lines of the log: number and bytes of each.
QList<std::pair<int, QByteArray>> receiveLines(const QString &log)
{
    static const QRegularExpression line(
        QStringLiteral("^(\\d+)  \\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] Receive:([0-9A-F ]+)$"),
        QRegularExpression::MultilineOption);
    QList<std::pair<int, QByteArray>> out;
    for (auto it = line.globalMatch(log); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out.append({ m.captured(1).toInt(), QByteArray::fromHex(m.captured(2).toLatin1()) });
    }
    return out;
}

} // namespace

class TestModule : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyReplyOneRecord_data();
    void everyReplyOneRecord();
};

void TestModule::initTestCase()
{
    PseudoTerminal probe;
    if (!probe.open())
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal: ") + probe.errorString()));
}

void TestModule::everyReplyOneRecord_data()
{
    QTest::addColumn<int>("checkMode"); // 0: 0xAA frames, 1: Modbus RTU
    QTest::addColumn<bool>("continuous"); // a continuous run, else single measurements
    QTest::addColumn<int>("baudCode"); // 3: 9600, 7: 115200
    QTest::addColumn<int>("chunkMs"); // USB adapter latency timer, 0: off
    QTest::addColumn<int>("address"); // the module's address in the row's protocol
    QTest::addColumn<int>("count"); // replies to wait for
    QTest::newRow("aa-continuous-115200-whole-replies") << 0 << true << 7 << 0 << 0 << 12;
    QTest::newRow("aa-continuous-9600-adapter-16ms-chunks") << 0 << true << 3 << 16 << 0 << 25;
    QTest::newRow("aa-continuous-115200-adapter-16ms-chunks") << 0 << true << 7 << 16 << 0 << 16;
    QTest::newRow("aa-continuous-module-at-address-5") << 0 << true << 7 << 0 << 5 << 8;
    QTest::newRow("aa-single-module-at-address-127") << 0 << false << 7 << 0 << 127 << 4;
    QTest::newRow("modbus-single-115200-whole-replies") << 1 << false << 7 << 0 << 1 << 6;
    QTest::newRow("modbus-single-9600-adapter-16ms-chunks") << 1 << false << 3 << 16 << 1 << 6;
    QTest::newRow("modbus-single-115200-adapter-16ms-chunks") << 1 << false << 7 << 16 << 1 << 6;
    QTest::newRow("modbus-single-module-at-address-17") << 1 << false << 7 << 0 << 17 << 4;
}

void TestModule::everyReplyOneRecord()
{
    QFETCH(int, checkMode);
    QFETCH(bool, continuous);
    QFETCH(int, baudCode);
    QFETCH(int, chunkMs);
    QFETCH(int, address);
    QFETCH(int, count);
    sim::ServerOptions options;
    options.module.baudCode = baudCode;
    options.chunkMs = chunkMs;
    options.module.address = checkMode == 0 ? address : 0;
    options.module.modbusAddress = checkMode == 1 ? address : 1;
    options.module.measuringTimeMs = { kMeasuringMs, kMeasuringMs, kMeasuringMs };
    // A distance that changes with every result, so a lost, repeated or swapped one shows.
    options.module.model = sim::DistanceModel::Ramp;
    options.module.distanceMm = 1000;
    options.module.rampStepMm = 7;
    options.module.signal = 321;

    WindowRig rig;
    QVERIFY(rig.open(options, checkMode));
    QLineEdit *field = rig.w.ui->lineEdit_address;
    field->clear();
    QTest::keyClicks(field, QString::number(address));
    const QList<core::Record> &records = rig.w.session().records();

    if (continuous) {
        rig.click("button_continue");
        QTRY_VERIFY_WITH_TIMEOUT(rig.replies.size() >= count, kTimeoutMs);
        rig.click("button_continue");
        // Replies reach this thread in the order the module sent them, before it read the stop.
        QTRY_VERIFY_WITH_TIMEOUT(rig.received.endsWith('\x58'), kTimeoutMs);
        count = int(rig.replies.size());
    } else {
        for (int i = 0; i < count; ++i) {
            rig.click("button_once");
            QTRY_COMPARE_WITH_TIMEOUT(records.size(), i + 1, kTimeoutMs);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(records.size(), count, kTimeoutMs);
    QVERIFY(rig.waitForReplies(count));
    QCOMPARE(rig.replies.size(), count);
    QCOMPARE(records.size(), count);

    const QList<std::pair<int, QByteArray>> lines = receiveLines(rig.log());
    QCOMPARE(lines.size(), count);
    const QCPGraph *chart = rig.w.curGraph;
    QCOMPARE(chart->dataCount(), checkMode == 0 ? count : 0);
    for (int i = 0; i < count; ++i) {
        const QByteArray &reply = rig.replies.at(i);
        const Measured m = decode(reply, checkMode);
        QVERIFY2(m.address == address, reply.toHex(' ').constData());
        QCOMPARE(m.signal, qint16(321));
        QCOMPARE(records.at(i).value, m.distance);
        QCOMPARE(records.at(i).signal, qint32(m.signal));
        QVERIFY(!records.at(i).isError());
        // Only a single measurement has a start: it cannot come back before the module measured.
        if (continuous)
            QCOMPARE(records.at(i).measuringMs, -1);
        else
            QVERIFY2(records.at(i).measuringMs >= kMeasuringMs,
                qPrintable(QString::number(records.at(i).measuringMs)));
        // The reply is shown as it came, under its number.
        QCOMPARE(lines.at(i).first, i);
        QCOMPARE(lines.at(i).second.toHex(' '), reply.toHex(' '));
        if (checkMode == 0) {
            QCOMPARE(chart->data()->at(i)->key, double(i));
            QCOMPARE(chart->data()->at(i)->value, double(m.distance));
        }
    }
    QCOMPARE(rig.boxes.count(), 0);
}

QTEST_MAIN(TestModule)
#include "tst_module.moc"
