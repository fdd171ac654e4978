// Hex text both ways, CRC-16, the 8-bit sum and time-of-day stamps, against known answers and
// against the checksums the test support computes from their definition.
#include "core/frames.h"
#include "core/protocol.h"

#include "testsupport.h"

#include <QTest>

using testsupport::hex;

namespace {
void textRow(const char *name, const QString &text, const char *bytes, bool strict)
{
    QTest::newRow(name) << text << hex(bytes) << strict;
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void hexText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // what the tolerant converter makes of it
        QTest::addColumn<bool>("strict"); // whole pairs of hex digits, blanks ignored
        textRow("spaced-frame", "AA 00 00 20 00 01 00 00 21", "AA0000200001000021", true);
        textRow("lower-case-packed", "aa0f", "AA0F", true);
        textRow("blanks-dropped-before-pairing", "A A 0 1", "AA01", true);
        textRow("odd-last-char-own-byte", "ABC", "AB0C", false);
        textRow("non-hex-pair-gives-00", "ZZ 10", "0010", false);
        textRow("low-half-invalid-gives-00", "1G 10", "0010", false);
        textRow("non-hex-odd-last-gives-00", "10 Z", "1000", false);
        textRow("glued-baud-code-pairs-after-blanks", "01 06 00 03 005", "010600030005", false);
        textRow("tab-is-no-blank", "A\tB", "000B", false);
        textRow("empty", "", "", false);
    }
    void hexText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, strict);
        QCOMPARE(core::frames::fromHexText(text), bytes);
        QCOMPARE(core::frames::isStrictHexText(text), strict);
        // Back to text, judged by Qt's own hex writer.
        const QString spaced = QString::fromLatin1(bytes.toHex(' ').toUpper());
        const QString packed = QString::fromLatin1(bytes.toHex().toUpper());
        QCOMPARE(core::frames::toHexText(bytes), spaced);
        QCOMPARE(core::frames::toPackedHex(bytes), packed);
        QCOMPARE(core::frames::spacedPairs(packed), spaced);
        QCOMPARE(core::frames::spacedPairs(packed + "F"), spaced + (spaced.isEmpty() ? "F" : " F"));
        QCOMPARE(core::frames::fromHexText(spaced), bytes);
    }

    // How long a reply is, from its first bytes: the rule the splitter, the early hand-off and
    // the worker's wait for the rest of a frame read.
    void replyLength_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QList<int>>("lengths"); // best first
        QTest::addColumn<int>("implied");
        QTest::addColumn<int>("shortest"); // the fewest bytes it can still have
        QTest::newRow("aa-measure-echo-6-bytes-count-says-9")
            << 0 << hex("AA0000200001") << QList<int> { 9, 13 } << 9 << 9;
        QTest::newRow("aa-5-bytes-measurement-register-13")
            << 0 << hex("AA80002200") << QList<int> { 13, 9 } << 13 << 9;
        QTest::newRow("aa-4-bytes-voltage-register-9")
            << 0 << hex("AA800006") << QList<int> { 9, 13 } << 9 << 9;
        QTest::newRow("aa-count-3-13")
            << 0 << hex("AA8000060003") << QList<int> { 13, 9 } << 13 << 13;
        QTest::newRow("aa-no-count-could-be-5")
            << 0 << hex("AA8000060203") << QList<int> { 9, 13 } << 9 << 5;
        QTest::newRow("ee-error-9") << 0 << hex("EE") << QList<int> { 9, 13 } << 9 << 9;
        QTest::newRow("aa-not-a-header") << 0 << hex("55AA") << QList<int>() << 0 << 0;
        QTest::newRow("rtu-read-4-bytes-9") << 1 << hex("010304") << QList<int> { 9 } << 9 << 9;
        QTest::newRow("rtu-read-count-still-to-come")
            << 1 << hex("0104") << QList<int>() << 256 << 5;
        QTest::newRow("rtu-exception-5") << 1 << hex("0183") << QList<int> { 5 } << 5 << 5;
        QTest::newRow("rtu-write-echo-8") << 1 << hex("0106") << QList<int> { 8 } << 8 << 8;
        QTest::newRow("rtu-coils-speed-echo-or-count")
            << 1 << hex("010101") << QList<int> { 8, 6 } << 8 << 6;
        QTest::newRow("rtu-unknown-function") << 1 << hex("0107") << QList<int>() << 0 << 0;
        QTest::newRow("rtu-address-alone") << 1 << hex("01") << QList<int>() << 256 << 4;
    }
    void replyLength()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, head);
        QFETCH(QList<int>, lengths);
        QFETCH(int, implied);
        QFETCH(int, shortest);
        const auto *p = reinterpret_cast<const quint8 *>(head.constData());
        const core::protocol::ReplyLengths r
            = core::protocol::replyLengths(p, head.size(), core::CheckMode(mode));
        QCOMPARE(QList<int>(r.len.begin(), r.len.begin() + r.count), lengths);
        QCOMPARE(core::protocol::impliedLength(p, head.size(), core::CheckMode(mode)), implied);
        QCOMPARE(core::protocol::shortestLength(p, head.size(), core::CheckMode(mode)), shortest);
    }

    void frameCheck_data()
    {
        QTest::addColumn<bool>("crc"); // else the 8-bit sum of a 0xAA/0xEE frame
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("ok");
        QTest::newRow("sum-single-measurement-frame") << false << hex("AA0000200001000021") << true;
        QTest::newRow("sum-1f5-keeps-low-byte") << false << hex("AAFFF6F5") << true;
        QTest::newRow("sum-ee-header-same-rule") << false << hex("EE0000000001000F10") << true;
        QTest::newRow("sum-other-header") << false << hex("AB0000200001000021") << false;
        QTest::newRow("sum-two-bytes-sum-of-nothing") << false << hex("AA00") << true;
        QTest::newRow("sum-one-byte") << false << hex("AA") << false;
        QTest::newRow("crc-check-value-4b37") << true << QByteArray("123456789\x37\x4B") << true;
        QTest::newRow("crc-low-byte-first") << true << hex("010300000001840A") << true;
        QTest::newRow("crc-bytes-swapped") << true << hex("0103000000010A84") << false;
        QTest::newRow("crc-two-bytes-ffff-of-nothing") << true << hex("FFFF") << true;
        QTest::newRow("crc-one-byte") << true << hex("FF") << false;
        // Every address probe (AA 80+a 00 00 sum), also with a wrong sum, and one Modbus request
        // to every address, framed by the test support's own checksums.
        for (int a = 0; a <= 127; ++a) {
            const QByteArray probe = testsupport::aa(QByteArray(1, char(0x80 + a)) + hex("0000"));
            QTest::addRow("sum-probe-%d", a) << false << probe << true;
            QTest::addRow("sum-probe-%d-off", a)
                << false << probe.chopped(1) + char(~probe.back()) << false;
        }
        for (int a = 1; a <= 247; ++a)
            QTest::addRow("crc-request-to-%d", a)
                << true << testsupport::rtu(char(a) + hex("0400040003")) << true;
    }
    void frameCheck()
    {
        QFETCH(bool, crc);
        QFETCH(QByteArray, frame);
        QFETCH(bool, ok);
        QCOMPARE(crc ? core::protocol::checkCrc(frame) : core::protocol::checkSum8Frame(frame), ok);
        if (crc && ok)
            QCOMPARE(core::protocol::appendCrc(frame.chopped(2)), frame);
    }

    void timeOfDay_data()
    {
        QTest::addColumn<QString>("clock");
        QTest::addColumn<int>("ms");
        QTest::newRow("afternoon") << "13:05:09.042" << 47109042;
        QTest::newRow("end-of-day") << "23:59:59.999" << 86399999;
        QTest::newRow("separators-not-examined") << "13x05x09x042" << 47109042;
        QTest::newRow("invalid-hours-count-0") << "ab:05:09.042" << 309042;
        QTest::newRow("invalid-millis-count-0") << "13:05:09.0z2" << 47109000;
        QTest::newRow("missing-millis") << "13:05:09" << 47109000;
        QTest::newRow("empty") << "" << 0;
    }
    void timeOfDay()
    {
        QFETCH(QString, clock);
        QFETCH(int, ms);
        QCOMPARE(core::frames::timeOfDayMs(clock), ms);
        if (QTime::fromString(clock, QStringLiteral("HH:mm:ss.zzz")).isValid())
            QCOMPARE(core::frames::clockText(QTime::fromMSecsSinceStartOfDay(ms)), clock);
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
