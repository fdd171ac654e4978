// Known answers for hex text, the command-text converter, CRC-16 and time-of-day stamps.
#include "frames.h"

#include <QTest>

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void fromHexText_data();
    void fromHexText();
    void hexTextRoundTrip_data();
    void hexTextRoundTrip();
    void spacedPairs_data();
    void spacedPairs();
    void crc16_data();
    void crc16();
    void checkCrc_data();
    void checkCrc();
    void checkSum8Frame_data();
    void checkSum8Frame();
    void strictHex_data();
    void strictHex();
    void timeOfDay_data();
    void timeOfDay();
};

void TestFrames::fromHexText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("single-measurement-frame")
        << "AA 00 00 20 00 01 00 00 21" << QByteArray::fromHex("AA0000200001000021");
    QTest::newRow("lower-case-packed") << "aa0000" << QByteArray::fromHex("AA0000");
    QTest::newRow("blanks-removed-before-pairing") << "A A" << QByteArray::fromHex("AA");
    QTest::newRow("odd-length-last-digit-own-byte") << "ABC" << QByteArray::fromHex("AB0C");
    QTest::newRow("odd-length-F-is-0F") << "F" << QByteArray::fromHex("0F");
    QTest::newRow("invalid-pair-gives-zero") << "ZZ 10" << QByteArray::fromHex("0010");
    QTest::newRow("half-invalid-pair-gives-zero") << "1G 10" << QByteArray::fromHex("0010");
    QTest::newRow("invalid-odd-last-gives-zero") << "10 Z" << QByteArray::fromHex("1000");
    QTest::newRow("empty-text") << "" << QByteArray();
    QTest::newRow("only-blanks") << "   " << QByteArray();
    QTest::newRow("set-baud-rate-code-glued")
        << "01 06 00 03 005" << QByteArray::fromHex("010600030005");
    QTest::newRow("tab-is-not-a-blank") << "A\tB" << QByteArray::fromHex("000B");
}

void TestFrames::fromHexText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(frames::fromHexText(text), bytes);
}

void TestFrames::hexTextRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("spaced");
    QTest::addColumn<QString>("packed");
    QTest::newRow("leading-zero-kept") << QByteArray::fromHex("0A00FF") << "0A 00 FF"
                                       << "0A00FF";
    QTest::newRow("empty") << QByteArray() << ""
                           << "";
    QTest::newRow("crc-frame") << QByteArray::fromHex("010300000001840A")
                               << "01 03 00 00 00 01 84 0A"
                               << "010300000001840A";
}

void TestFrames::hexTextRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, spaced);
    QFETCH(QString, packed);
    QCOMPARE(frames::toHexText(bytes), spaced);
    QCOMPARE(frames::toPackedHex(bytes), packed);
    QCOMPARE(frames::fromHexText(spaced), bytes);
    QCOMPARE(frames::fromHexText(packed), bytes);
}

void TestFrames::spacedPairs_data()
{
    QTest::addColumn<QString>("packed");
    QTest::addColumn<QString>("spaced");
    QTest::newRow("even") << "AA80000A"
                          << "AA 80 00 0A";
    QTest::newRow("odd-tail-own-piece") << "AA0"
                                        << "AA 0";
    QTest::newRow("empty") << ""
                           << "";
}

void TestFrames::spacedPairs()
{
    QFETCH(QString, packed);
    QFETCH(QString, spaced);
    QCOMPARE(frames::spacedPairs(packed), spaced);
}

void TestFrames::crc16_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");
    QTest::newRow("modbus-crc-check-value-123456789") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("read-holding-register-0") << QByteArray::fromHex("010300000001") << 0x0A84;
    QTest::newRow("no-bytes-is-ffff") << QByteArray() << 0xFFFF;
}

void TestFrames::crc16()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(frames::crc16(data)), crc);
    // On the wire the low byte goes first.
    const QByteArray framed = frames::appendCrc(data);
    QCOMPARE(framed.size(), data.size() + 2);
    QCOMPARE(quint8(framed.at(framed.size() - 2)), quint8(crc & 0xFF));
    QCOMPARE(quint8(framed.at(framed.size() - 1)), quint8(crc >> 8));
    QVERIFY(frames::checkCrc(framed));
}

void TestFrames::checkCrc_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("ok");
    QTest::newRow("read-register-with-crc") << QByteArray::fromHex("010300000001840A") << true;
    QTest::newRow("crc-bytes-swapped") << QByteArray::fromHex("0103000000010A84") << false;
    QTest::newRow("two-bytes-ffff-is-crc-of-nothing") << QByteArray::fromHex("FFFF") << true;
    QTest::newRow("one-byte-never") << QByteArray::fromHex("FF") << false;
    QTest::newRow("empty-never") << QByteArray() << false;
    QTest::newRow("one-data-bit-flipped") << QByteArray::fromHex("010300000101840A") << false;
}

void TestFrames::checkCrc()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, ok);
    QCOMPARE(frames::checkCrc(frame), ok);
}

void TestFrames::checkSum8Frame_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("ok");
    QTest::newRow("single-measurement-echo") << QByteArray::fromHex("AA0000200001000021") << true;
    QTest::newRow("wrong-checksum-22") << QByteArray::fromHex("AA0000200001000022") << false;
    QTest::newRow("sum-1f5-keeps-low-byte-f5") << QByteArray::fromHex("AAFFF6F5") << true;
    QTest::newRow("ee-header-same-rule") << QByteArray::fromHex("EE0000000001000F10") << true;
    QTest::newRow("other-header-refused") << QByteArray::fromHex("AB0000200001000021") << false;
    QTest::newRow("two-bytes-sum-zero") << QByteArray::fromHex("AA00") << true;
    QTest::newRow("one-byte-not-a-frame") << QByteArray::fromHex("AA") << false;
}

void TestFrames::checkSum8Frame()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, ok);
    QCOMPARE(frames::checkSum8Frame(frame), ok);
}

void TestFrames::strictHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::newRow("spaced-pairs") << "AA 00 21" << true;
    QTest::newRow("packed-lower") << "aa0021" << true;
    QTest::newRow("odd-digit-count") << "ABC" << false;
    QTest::newRow("invalid-digit") << "ZZ 10" << false;
    QTest::newRow("empty") << "" << false;
}

void TestFrames::strictHex()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QCOMPARE(frames::isStrictHexText(text), ok);
}

void TestFrames::timeOfDay_data()
{
    QTest::addColumn<QString>("clock");
    QTest::addColumn<int>("ms");
    QTest::newRow("afternoon") << "13:05:09.042" << 47109042;
    QTest::newRow("midnight") << "00:00:00.000" << 0;
    QTest::newRow("end-of-day") << "23:59:59.999" << 86399999;
    QTest::newRow("separators-not-examined") << "13x05x09x042" << 47109042;
    QTest::newRow("invalid-field-counts-zero") << "ab:05:09.042" << 309042;
    QTest::newRow("missing-millis") << "13:05:09" << 47109000;
    QTest::newRow("empty") << "" << 0;
}

void TestFrames::timeOfDay()
{
    QFETCH(QString, clock);
    QFETCH(int, ms);
    QCOMPARE(frames::timeOfDayMs(clock), ms);
    if (ms > 0 && clock.size() == 12 && clock.at(2) == QLatin1Char(':'))
        QCOMPARE(frames::timeOfDayMs(frames::clockText(QTime::fromMSecsSinceStartOfDay(ms))), ms);
}

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
