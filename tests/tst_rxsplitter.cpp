// Reply acceptance and the recovery of merged, split and noisy replies by the receive splitter.
#include "frames.h"
#include "rxsplitter.h"

#include "testsupport.h"
#include <QRandomGenerator>

#include <QTest>

namespace {

using testsupport::aa;
using testsupport::hex;
using testsupport::rtu;

const QByteArray kVoltage = aa("80 00 06 00 01 0C E4");
const QByteArray kTemperature = aa("80 00 08 00 01 01 0B");
const QByteArray kMeasure = aa("00 00 22 00 03 00 00 04 D2 00 6E");
const QByteArray kMeasure2 = aa("00 00 22 00 03 00 00 05 10 00 70");
const QByteArray kModuleError = aa("80 00 20 00 01 00 05", 0xEE);

const QByteArray kRtuMeasure = rtu("01 04 06 00 00 04 D2 00 6E");
const QByteArray kRtuVoltage = rtu("01 04 02 0C E4");
const QByteArray kRtuSetAddress = rtu("01 06 00 00 00 02");
const QByteArray kRtuException = rtu("01 84 02");

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = char(bytes.at(at) ^ 0x10);
    return bytes;
}

} // namespace

class TestRxSplitter : public QObject
{
    Q_OBJECT
private slots:
    void acceptsWhole_data();
    void acceptsWhole();
    void plausibleStart_data();
    void plausibleStart();
    void completeReplyIsHandedUpAtOnce_data();
    void completeReplyIsHandedUpAtOnce();
    void feed_data();
    void feed();
    void backToBackStreamRecovered_data();
    void backToBackStreamRecovered();
    void randomChunksRecovered_data();
    void randomChunksRecovered();
    void oneCorruptedByteSparesTheNextReply_data();
    void oneCorruptedByteSparesTheNextReply();
    void drainKeepsBufferBounded_data();
    void drainKeepsBufferBounded();
};

void TestRxSplitter::acceptsWhole_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::newRow("aa-single-measurement-reply") << 0 << hex("AA0000200001000021") << true;
    QTest::newRow("aa-last-byte-22-refused") << 0 << hex("AA0000200001000022") << false;
    QTest::newRow("aa-sum-1f5-last-byte-f5") << 0 << hex("AAFFF6F5") << true;
    QTest::newRow("aa-sum-05-last-byte-05") << 0 << hex("AA020305") << true;
    QTest::newRow("ee-header-same-sum-check") << 0 << kModuleError << true;
    QTest::newRow("ee-header-bad-sum-refused") << 0 << flipped(kModuleError, 8) << false;
    QTest::newRow("other-header-refused") << 0 << hex("AB0000200001000021") << false;
    QTest::newRow("single-byte-00-unchecked") << 0 << hex("00") << true;
    QTest::newRow("single-byte-58-unchecked") << 0 << hex("58") << true;
    QTest::newRow("aa-two-bytes-sum-of-nothing") << 0 << hex("AA00") << true;
    QTest::newRow("aa-empty-refused") << 0 << QByteArray() << false;
    // Found by the fault tests: the sum stays right when a 00 byte is lost, the length does not.
    QTest::newRow("aa-measurement-without-its-7th-byte-refused")
        << 0 << kMeasure.left(6) + kMeasure.mid(7) << false;
    QTest::newRow("aa-one-word-reply-with-extra-00-refused")
        << 0 << kVoltage.left(8) + hex("00") + kVoltage.right(1) << false;
    QTest::newRow("aa-word-count-2-length-not-checked") << 0 << aa("80 00 0E 00 02 12 34") << true;
    QTest::newRow("modbus-crc-840a") << 1 << hex("010300000001840A") << true;
    QTest::newRow("modbus-crc-swapped-refused") << 1 << hex("0103000000010A84") << false;
    QTest::newRow("modbus-one-byte-refused") << 1 << hex("00") << false;
    QTest::newRow("modbus-ffff-crc-of-nothing") << 1 << hex("FFFF") << true;
    QTest::newRow("modbus-aa-reply-refused") << 1 << hex("AA0000200001000021") << false;
    QTest::newRow("unknown-mode-refuses-all") << 2 << hex("AA0000200001000021") << false;
}

void TestRxSplitter::acceptsWhole()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QCOMPARE(rx::acceptsWhole(reply, mode), ok);
}

void TestRxSplitter::plausibleStart_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("plausible");
    QTest::newRow("aa-first-5-bytes-of-measurement") << 0 << kMeasure.left(5) << true;
    QTest::newRow("aa-whole-measurement-is-no-start") << 0 << kMeasure << false;
    QTest::newRow("modbus-address-byte-alone") << 1 << hex("01") << true;
    QTest::newRow("modbus-read-of-251-bytes-fits-256")
        << 1 << hex("0103FB") + QByteArray(200, '\0') << true;
    // Found by fuzzing: such a start was kept as a partial frame of up to 259 bytes.
    QTest::newRow("modbus-read-of-255-bytes-cannot-fit")
        << 1 << hex("0103FF") + QByteArray(10, '\0') << false;
    QTest::newRow("modbus-read-of-252-bytes-cannot-fit")
        << 1 << hex("0104FC") + QByteArray(250, '\0') << false;
}

void TestRxSplitter::plausibleStart()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, plausible);
    QCOMPARE(rx::isPlausibleStart(bytes, mode), plausible);
    // A partial frame waits whole for its rest; what is no frame start is not kept with it.
    rx::Splitter splitter(mode);
    splitter.feed(bytes, 0);
    if (plausible)
        QCOMPARE(splitter.tail(), bytes);
    else
        QVERIFY(splitter.tail().size() < bytes.size());
}

void TestRxSplitter::completeReplyIsHandedUpAtOnce_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("aa-single-measurement-echo") << 0 << hex("AA0000200001000021");
    QTest::newRow("aa-voltage") << 0 << kVoltage;
    QTest::newRow("aa-measurement-address-0") << 0 << kMeasure;
    QTest::newRow("ee-module-error") << 0 << kModuleError;
    QTest::newRow("aa-single-byte") << 0 << hex("58");
    QTest::newRow("modbus-measurement") << 1 << kRtuMeasure;
    QTest::newRow("modbus-set-address-echo") << 1 << kRtuSetAddress;
    QTest::newRow("modbus-measurement-mode-echo") << 1 << rtu("01 01 06 00 02 01");
    QTest::newRow("modbus-exception") << 1 << kRtuException;
    QTest::newRow("modbus-ffff") << 1 << hex("FFFF");
}

// A reply that is whole when it arrives is handed up with no wait for more.
void TestRxSplitter::completeReplyIsHandedUpAtOnce()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, reply);
    rx::Splitter splitter(mode);
    QCOMPARE(splitter.feed(reply, 0), QByteArrayList { reply });
    QVERIFY(!splitter.hasTail());
}

void TestRxSplitter::feed_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArrayList>("chunks"); // each ended by a silence
    QTest::addColumn<QList<int>>("atMs");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<int>("droppedBytes");

    const QByteArrayList none;
    QTest::newRow("aa-single-measurement-handed-up")
        << 0 << QByteArrayList { hex("AA0000200001000021") } << QList<int> { 0 }
        << QByteArrayList { hex("AA0000200001000021") } << 0;
    QTest::newRow("aa-last-byte-22-dropped")
        << 0 << QByteArrayList { hex("AA0000200001000022") } << QList<int> { 0 } << none << 9;
    QTest::newRow("aa-other-header-dropped")
        << 0 << QByteArrayList { hex("AB0000200001000021") } << QList<int> { 0 } << none << 9;
    QTest::newRow("aa-single-byte-00-handed-up")
        << 0 << QByteArrayList { hex("00") } << QList<int> { 0 } << QByteArrayList { hex("00") }
        << 0;
    QTest::newRow("aa-two-replies-1ms-apart")
        << 0 << QByteArrayList { kVoltage + kMeasure } << QList<int> { 0 }
        << QByteArrayList { kVoltage, kMeasure } << 0;
    QTest::newRow("aa-two-measurements-merged")
        << 0 << QByteArrayList { kMeasure + kMeasure2 } << QList<int> { 0 }
        << QByteArrayList { kMeasure, kMeasure2 } << 0;
    QTest::newRow("aa-error-between-replies-merged")
        << 0 << QByteArrayList { kTemperature + kModuleError + kMeasure } << QList<int> { 0 }
        << QByteArrayList { kTemperature, kModuleError, kMeasure } << 0;
    QTest::newRow("aa-reply-in-two-chunks-12ms-apart")
        << 0 << QByteArrayList { kMeasure.left(5), kMeasure.mid(5) } << QList<int> { 0, 12 }
        << QByteArrayList { kMeasure } << 0;
    QTest::newRow("aa-reply-in-three-chunks-last-one-byte")
        << 0 << QByteArrayList { kVoltage.left(6), kVoltage.mid(6, 1), kVoltage.mid(7) }
        << QList<int> { 0, 10, 20 } << QByteArrayList { kVoltage } << 0;
    QTest::newRow("aa-reply-then-start-of-next")
        << 0 << QByteArrayList { kVoltage + kMeasure.left(4), kMeasure.mid(4) }
        << QList<int> { 0, 16 } << QByteArrayList { kVoltage, kMeasure } << 0;
    // A lone header byte passes as a one-byte reply, but it is far more likely the first piece
    // of a frame: it waits for the rest, and is handed up unchanged only if none comes.
    QTest::newRow("aa-lone-header-chunk-joins-the-rest")
        << 0 << QByteArrayList { kMeasure.left(1), kMeasure.mid(1) } << QList<int> { 0, 12 }
        << QByteArrayList { kMeasure } << 0;
    QTest::newRow("aa-lone-header-byte-handed-up-late-unchanged")
        << 0 << QByteArrayList { hex("EE") } << QList<int> { 0 } << QByteArrayList { hex("EE") }
        << 0;
    // From address 0 every reply starts AA 00 00, which passes the sum check by itself.
    QTest::newRow("aa-address-0-reply-cut-after-3-bytes")
        << 0 << QByteArrayList { kMeasure.left(3), kMeasure.mid(3) } << QList<int> { 0, 12 }
        << QByteArrayList { kMeasure } << 0;
    QTest::newRow("aa-address-0-reply-cut-after-2-bytes")
        << 0 << QByteArrayList { kMeasure.left(2), kMeasure.mid(2) } << QList<int> { 0, 12 }
        << QByteArrayList { kMeasure } << 0;
    QTest::newRow("aa-short-reply-handed-up-late-unchanged")
        << 0 << QByteArrayList { hex("AA00") } << QList<int> { 0 } << QByteArrayList { hex("AA00") }
        << 0;
    QTest::newRow("aa-short-reply-then-other-reply")
        << 0 << QByteArrayList { hex("AA00"), kVoltage } << QList<int> { 0, 30 }
        << QByteArrayList { hex("AA00"), kVoltage } << 0;
    QTest::newRow("aa-noise-before-reply-skipped")
        << 0 << QByteArrayList { hex("5501") + kVoltage } << QList<int> { 0 }
        << QByteArrayList { kVoltage } << 2;
    QTest::newRow("aa-noise-between-replies-skipped")
        << 0 << QByteArrayList { kVoltage + hex("010203") + kMeasure } << QList<int> { 0 }
        << QByteArrayList { kVoltage, kMeasure } << 3;
    QTest::newRow("aa-noise-with-header-byte-skipped")
        << 0 << QByteArrayList { kVoltage + hex("AA55") + kMeasure } << QList<int> { 0 }
        << QByteArrayList { kVoltage, kMeasure } << 2;
    QTest::newRow("aa-tail-never-completes-dropped")
        << 0 << QByteArrayList { kVoltage + kMeasure.left(6) } << QList<int> { 0 }
        << QByteArrayList { kVoltage } << 6;
    QTest::newRow("aa-rest-after-150ms-too-late")
        << 0 << QByteArrayList { kMeasure.left(6), kMeasure.mid(6) } << QList<int> { 0, 150 }
        << none << 13;
    QTest::newRow("aa-stale-fragment-then-whole-reply")
        << 0 << QByteArrayList { hex("AA8000"), kVoltage } << QList<int> { 0, 30 }
        << QByteArrayList { kVoltage } << 3;
    QTest::newRow("aa-lost-00-byte-reply-dropped-next-kept")
        << 0 << QByteArrayList { kMeasure.left(6) + kMeasure.mid(7), kMeasure2 }
        << QList<int> { 0, 20 } << QByteArrayList { kMeasure2 } << 12;
    QTest::newRow("aa-lost-00-byte-reply-merged-with-next")
        << 0 << QByteArrayList { kMeasure.left(6) + kMeasure.mid(7) + kMeasure2 }
        << QList<int> { 0 } << QByteArrayList { kMeasure2 } << 12;
    QTest::newRow("aa-corrupted-first-of-two-keeps-second")
        << 0 << QByteArrayList { flipped(kVoltage, 6) + kMeasure } << QList<int> { 0 }
        << QByteArrayList { kMeasure } << 9;

    QTest::newRow("modbus-measurement-reply-handed-up")
        << 1 << QByteArrayList { kRtuMeasure } << QList<int> { 0 } << QByteArrayList { kRtuMeasure }
        << 0;
    QTest::newRow("modbus-one-byte-dropped")
        << 1 << QByteArrayList { hex("01") } << QList<int> { 0 } << none << 1;
    QTest::newRow("modbus-ffff-handed-up")
        << 1 << QByteArrayList { hex("FFFF") } << QList<int> { 0 } << QByteArrayList { hex("FFFF") }
        << 0;
    QTest::newRow("modbus-bad-crc-dropped")
        << 1 << QByteArrayList { flipped(kRtuMeasure, 10) } << QList<int> { 0 } << none << 11;
    QTest::newRow("modbus-two-replies-1ms-apart")
        << 1 << QByteArrayList { kRtuVoltage + kRtuMeasure } << QList<int> { 0 }
        << QByteArrayList { kRtuVoltage, kRtuMeasure } << 0;
    QTest::newRow("modbus-write-echo-then-read-reply")
        << 1 << QByteArrayList { kRtuSetAddress + kRtuVoltage } << QList<int> { 0 }
        << QByteArrayList { kRtuSetAddress, kRtuVoltage } << 0;
    QTest::newRow("modbus-exception-then-reply")
        << 1 << QByteArrayList { kRtuException + kRtuVoltage } << QList<int> { 0 }
        << QByteArrayList { kRtuException, kRtuVoltage } << 0;
    QTest::newRow("modbus-reply-in-two-chunks-12ms-apart")
        << 1 << QByteArrayList { kRtuMeasure.left(4), kRtuMeasure.mid(4) } << QList<int> { 0, 12 }
        << QByteArrayList { kRtuMeasure } << 0;
    QTest::newRow("modbus-noise-between-replies-skipped")
        << 1 << QByteArrayList { kRtuVoltage + hex("00FF00") + kRtuMeasure } << QList<int> { 0 }
        << QByteArrayList { kRtuVoltage, kRtuMeasure } << 3;
    QTest::newRow("modbus-tail-never-completes-dropped")
        << 1 << QByteArrayList { kRtuVoltage + kRtuMeasure.left(5) } << QList<int> { 0 }
        << QByteArrayList { kRtuVoltage } << 5;
    QTest::newRow("modbus-corrupted-first-of-two-keeps-second")
        << 1 << QByteArrayList { flipped(kRtuVoltage, 3) + kRtuMeasure } << QList<int> { 0 }
        << QByteArrayList { kRtuMeasure } << 7;
    QTest::newRow("unknown-mode-drops-everything")
        << 2 << QByteArrayList { kVoltage } << QList<int> { 0 } << none << 9;
}

void TestRxSplitter::feed()
{
    QFETCH(int, mode);
    QFETCH(QByteArrayList, chunks);
    QFETCH(QList<int>, atMs);
    QFETCH(QByteArrayList, replies);
    QFETCH(int, droppedBytes);

    rx::Splitter splitter(mode);
    QByteArrayList out;
    for (int k = 0; k < chunks.size(); ++k)
        out += splitter.feed(chunks.at(k), atMs.at(k));
    // A long silence afterwards: whatever partial frame is still kept is given up.
    out += splitter.feed(QByteArray(), atMs.last() + 1000);

    QCOMPARE(out, replies);
    QVERIFY(!splitter.hasTail());
    QCOMPARE(splitter.counters().droppedBytes, qint64(droppedBytes));
}

void TestRxSplitter::backToBackStreamRecovered_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("aa-replies-no-silence") << 0;
    QTest::newRow("modbus-replies-no-silence") << 1;
}

// Replies with random values streamed with no silence at all come out exactly, in order.
void TestRxSplitter::backToBackStreamRecovered()
{
    QFETCH(int, mode);
    QRandomGenerator rng(20240611);
    QByteArrayList sent;
    QByteArray stream;
    for (int k = 0; k < 400; ++k) {
        QByteArray reply;
        const quint32 v = rng.generate();
        const int b0 = v & 0xFF, b1 = (v >> 8) & 0xFF, b2 = (v >> 16) & 0xFF, b3 = v >> 24;
        if (mode == 0) {
            static const int kRegisters[] = { 0x00, 0x06, 0x08, 0x0A, 0x0C, 0x0E, 0x12 };
            const QByteArray body = (k % 3 == 0)
                ? bytesOf({ 0x00, 0x00, 0x22, 0x00, 0x03, b0, b1, b2, b3, b1, b0 })
                : bytesOf({ 0x80, 0x00, kRegisters[v % 7], 0x00, 0x01, b2, b3 });
            reply = char(0xAA) + body + char(frames::sum8(body.constData(), body.size()));
        } else {
            reply = frames::appendCrc((k % 3 == 0)
                    ? bytesOf({ 0x01, 0x04, 0x06, b0, b1, b2, b3, b1, b0 })
                    : bytesOf({ 0x01, 0x04, 0x02, b2, b3 }));
        }
        sent << reply;
        stream += reply;
    }

    rx::Splitter splitter(mode);
    QByteArrayList out;
    QByteArray gathered;
    for (qsizetype at = 0; at < stream.size(); at += 64) {
        gathered += stream.mid(at, 64);
        if (gathered.size() >= rx::kStreamLimit)
            out += splitter.drain(gathered, 0);
    }
    out += splitter.feed(gathered, 0);
    QCOMPARE(out.size(), sent.size());
    QCOMPARE(out, sent);
    QCOMPARE(splitter.counters().droppedBytes, qint64(0));
}

void TestRxSplitter::randomChunksRecovered_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("aa-replies-cut-anywhere") << 0;
    QTest::newRow("modbus-replies-cut-anywhere") << 1;
}

// An adapter may cut the stream anywhere; every piece ends in a silence shorter than the tail
// lifetime. Each reply must come out once and whole.
void TestRxSplitter::randomChunksRecovered()
{
    QFETCH(int, mode);
    QRandomGenerator rng(77);
    const QByteArrayList kinds = mode == 0
        ? QByteArrayList { kVoltage, kTemperature, kMeasure, kMeasure2, kModuleError }
        : QByteArrayList { kRtuMeasure, kRtuVoltage, kRtuSetAddress, kRtuException };
    QByteArrayList sent;
    QByteArray stream;
    for (int k = 0; k < 300; ++k) {
        sent << kinds.at(rng.bounded(int(kinds.size())));
        stream += sent.last();
    }
    rx::Splitter splitter(mode);
    QByteArrayList out;
    qint64 now = 0;
    for (qsizetype at = 0; at < stream.size();) {
        // Two bytes at least: a lone byte with nothing kept is a one-byte reply by rule.
        const qsizetype n = qMin<qsizetype>(2 + rng.bounded(20), stream.size() - at);
        out += splitter.feed(stream.mid(at, n), now);
        at += n;
        now += 6 + rng.bounded(30);
    }
    out += splitter.feed(QByteArray(), now + 1000);
    QCOMPARE(out, sent);
}

void TestRxSplitter::oneCorruptedByteSparesTheNextReply_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<qsizetype>("at");
    QTest::addColumn<QByteArray>("second");
    for (qsizetype at = 0; at < kMeasure.size(); ++at)
        QTest::addRow("aa-measurement-byte-%d-corrupted", int(at))
            << 0 << kMeasure << at << kVoltage;
    for (qsizetype at = 0; at < kRtuMeasure.size(); ++at)
        QTest::addRow("modbus-measurement-byte-%d-corrupted", int(at))
            << 1 << kRtuMeasure << at << kRtuVoltage;
}

void TestRxSplitter::oneCorruptedByteSparesTheNextReply()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, first);
    QFETCH(qsizetype, at);
    QFETCH(QByteArray, second);
    rx::Splitter splitter(mode);
    const QByteArray bad = flipped(first, at);
    QByteArrayList out = splitter.feed(bad + second, 0);
    out += splitter.feed(QByteArray(), 1000);
    QVERIFY2(!out.isEmpty() && out.last() == second, qPrintable(frames::toHexText(bad + second)));
    QVERIFY(!out.contains(bad));
}

void TestRxSplitter::drainKeepsBufferBounded_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("aa-noise-stream") << 0;
    QTest::newRow("modbus-noise-stream") << 1;
}

// Noise that never falls silent must not pile up in the worker's buffer.
void TestRxSplitter::drainKeepsBufferBounded()
{
    QFETCH(int, mode);
    QRandomGenerator rng(5);
    QByteArray gathered;
    rx::Splitter splitter(mode);
    for (int k = 0; k < 400; ++k) {
        for (int b = 0; b < 64; ++b)
            gathered.append(char(rng.bounded(256)));
        if (gathered.size() >= rx::kStreamLimit)
            splitter.drain(gathered, 0);
        QVERIFY(gathered.size() < rx::kStreamLimit + 64);
    }
    QVERIFY(splitter.counters().droppedBytes > 400 * 64 - rx::kStreamLimit - 64 - 1000);
}

QTEST_APPLESS_MAIN(TestRxSplitter)
#include "tst_rxsplitter.moc"
