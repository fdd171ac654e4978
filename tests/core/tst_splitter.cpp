// The receive splitter: which gathered replies pass whole, where frames start, and how merged,
// cut and noisy replies come out of feed() and drain(), and when a kept tail expires.
#include "core/rxsplitter.h"

#include "testsupport.h"

#include <QTest>

using testsupport::aa;
using testsupport::hex;
using testsupport::rtu;
using Bytes = QByteArrayList;

namespace {
const QByteArray kVolt = aa("80 00 06 00 01 0C E4");
const QByteArray kMeas = testsupport::aaMeasurement(1234, 110);
const QByteArray kErr = aa("80 00 20 00 01 00 05", 0xEE);
const QByteArray kRtuMeas = rtu("01 04 06 00 00 04 D2 00 6E");
const QByteArray kRtuVolt = rtu("01 04 02 0C E4");
const QByteArray kRtuSetAddr = rtu("01 06 00 00 00 02");
const QByteArray kRtuExc = rtu("01 84 02");
constexpr int kLife = int(core::rx::kTailLifeMs);

void jRow(const char *name, int mode, const QByteArray &bytes, bool whole, bool plausible)
{
    QTest::newRow(name) << mode << bytes << whole << plausible;
}

void sRow(const char *name, int mode, const QByteArray &bytes, const Bytes &frames,
    const QByteArray &rest, int skipped, int runs)
{
    QTest::newRow(name) << mode << bytes << frames << rest << skipped << runs;
}

void fRow(const char *name, int mode, const Bytes &chunks, const QList<int> &atMs,
    const Bytes &replies, int late, int dropped)
{
    QTest::newRow(name) << mode << chunks << atMs << replies << late << dropped;
}
} // namespace

class TestSplitter : public QObject
{
    Q_OBJECT
private slots:
    void judgeWhole_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("whole"); // acceptsWhole
        QTest::addColumn<bool>("plausible"); // could be the start of a frame still arriving
        jRow("aa-13-bytes-count-3", 0, kMeas, true, false);
        jRow("ee-9-bytes-count-1", 0, kErr, true, false);
        jRow("aa-13-bytes-count-1", 0, aa("80 00 06 00 01 0C E4 00 00 00 00"), false, false);
        jRow("aa-9-bytes-count-3", 0, aa("00 00 22 00 03 00 00"), false, true);
        jRow("aa-7-bytes-count-1", 0, aa("00 00 00 00 01"), false, true);
        jRow("aa-6-bytes-too-short-for-a-count", 0, hex("AA0100000001"), true, true);
        jRow("aa-lost-00-sum-right-length-wrong", 0, kMeas.left(6) + kMeas.mid(7), false, true);
        jRow("aa-count-2-length-free", 0, aa("80 00 0E 00 02 12 34"), true, false);
        jRow("aa-count-high-byte-set-length-free", 0, aa("80 00 0E 01 03 12 34"), true, false);
        // Without a usable count, a measurement register means the 13-byte form, unless 0xEE.
        jRow("aa-count-2-measurement-may-go-on", 0, aa("80 00 22 00 02 12 34"), true, true);
        jRow("ee-count-2-measurement-is-short", 0, aa("80 00 20 00 02 00 05", 0xEE), true, false);
        jRow("aa00-sum-of-nothing", 0, hex("AA00"), true, true);
        jRow("empty", 0, QByteArray(), false, false);
        jRow("rtu-address-byte-alone", 1, hex("01"), false, true);
        jRow("rtu-exception-first-4", 1, kRtuExc.left(4), false, true);
        jRow("rtu-exception-whole", 1, kRtuExc, true, false);
        jRow("rtu-read-251-bytes-fits", 1, hex("0103FB") + QByteArray(200, 0), false, true);
        jRow("rtu-read-coils-count-6-still-coming", 1, hex("010106") + QByteArray(6, 0), false,
            true);
        jRow("rtu-read-252-bytes-no-start", 1, hex("0104FC") + QByteArray(250, 0), false, false);
        jRow("rtu-read-252-refused-from-its-count", 1, hex("0103FC"), false, false);
        jRow("rtu-read-coils-252-refused-from-its-count", 1, hex("0101FC"), false, false);
    }
    void judgeWhole()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, whole);
        QFETCH(bool, plausible);
        QCOMPARE(core::rx::acceptsWhole(bytes, core::CheckMode(mode)), whole);
        QCOMPARE(core::rx::isPlausibleStart(bytes, core::CheckMode(mode)), plausible);
    }

    void split_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Bytes>("frames");
        QTest::addColumn<QByteArray>("rest");
        QTest::addColumn<int>("skippedBytes");
        QTest::addColumn<int>("skippedRuns");
        const QByteArray t = aa("80 00 08 00 01 01 0B"), m = kMeas, v = kVolt, e = kErr;
        const QByteArray r = kRtuMeas, x = kRtuExc, s = kRtuSetAddr,
                         echo = rtu("01 01 06 00 02 01");
        sRow("aa-three-merged", 0, t + e + m, { t, e, m }, {}, 0, 0);
        sRow("aa-noise-before-and-between", 0, hex("5501") + v + hex("010203") + m, { v, m }, {}, 5,
            2);
        sRow("aa-header-byte-in-noise", 0, v + hex("AA55") + m, { v, m }, {}, 2, 1);
        // No reply is shorter than five bytes, whatever its sum says.
        sRow("aa-4-bytes-with-a-good-sum-are-noise", 0, aa("01 01") + v, { v }, {}, 4, 1);
        sRow("aa-cut-end-is-rest", 0, v + hex("01") + m.left(6), { v }, m.left(6), 1, 1);
        sRow("rtu-echo-exception-mode-echo", 1, s + x + echo, { s, x, echo }, {}, 0, 0);
        sRow("rtu-unknown-function", 1, rtu("01 07 00") + kRtuVolt, { kRtuVolt }, {}, 5, 1);
        sRow("rtu-cut-end-is-rest", 1, x + r.left(5), { x }, r.left(5), 0, 0);
        sRow("rtu-write-echo-before-noise", 1, s + hex("5A5A"), { s }, hex("5A"), 1, 1);
        // Which fallback comes first when a frame is followed by stray bytes: with Modbus the
        // known length, whose CRC is rarely wrong (here a longer span also passes, followed by
        // the address); with 0xAA an unusual length followed by a header beats the known one
        // followed by noise, since an 8-bit sum passes by chance.
        const QByteArray longer = rtu(kRtuVolt + hex("AA07"));
        sRow("rtu-known-length-before-stray-bytes", 1, longer + hex("01"), { kRtuVolt },
            longer.mid(10) + hex("01"), 3, 1);
        // A frame whose sum byte is a header: the search for the next frame starts after it, not
        // inside it (here a frame would start at that byte).
        const QByteArray sumAa = aa("80 00 06 00 01 12 11");
        sRow("aa-no-frame-from-inside-the-last-one", 0, sumAa + hex("80 00 06 00 01 12 34 CD"),
            { sumAa }, {}, 8, 1);
        const QByteArray u = aa("80 00 0E 12 34");
        sRow("aa-unusual-length-with-a-header-after-beats-noise", 0, u + hex("AA5201"), { u },
            hex("AA5201"), 0, 0);
    }
    void split()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, bytes);
        QFETCH(Bytes, frames);
        QFETCH(QByteArray, rest);
        QFETCH(int, skippedBytes);
        QFETCH(int, skippedRuns);
        const core::rx::SplitResult r = core::rx::split(bytes, core::CheckMode(mode), true);
        QCOMPARE(r.frames, frames);
        QCOMPARE(r.rest, rest);
        QCOMPARE(int(r.skippedBytes), skippedBytes);
        QCOMPARE(r.skippedRuns, skippedRuns);
        // Each frame starts where frameLengthAt() finds one of its length, and no earlier.
        for (qsizetype at = 0, k = 0; k < frames.size(); at += frames.at(k++).size()) {
            for (; bytes.mid(at, frames.at(k).size()) != frames.at(k); ++at)
                QCOMPARE(core::rx::frameLengthAt(bytes, at, core::CheckMode(mode)), qsizetype(0));
            QCOMPARE(
                core::rx::frameLengthAt(bytes, at, core::CheckMode(mode)), frames.at(k).size());
        }
    }

    void feed_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<Bytes>("chunks"); // each ended by a silence; an empty one: time passes
        QTest::addColumn<QList<int>>("atMs");
        QTest::addColumn<Bytes>("replies");
        QTest::addColumn<int>("late"); // of them, handed up only once a long silence follows
        QTest::addColumn<int>("droppedBytes");
        const QByteArray m = kMeas, v = kVolt, r = kRtuMeas, z = hex("AA0000");
        fRow("aa-whole-measurement", 0, { m }, { 0 }, { m }, 0, 0);
        fRow("aa-one-byte-unchecked", 0, { hex("58") }, { 0 }, { hex("58") }, 0, 0);
        fRow("aa-lone-header-joins-rest", 0, { m.left(1), m.mid(1) }, { 0, 12 }, { m }, 0, 0);
        fRow("aa-aa0000-joins-rest-and-next", 0, { z, m.mid(3) + v }, { 0, 12 }, { m, v }, 0, 0);
        fRow("aa-reply-and-next-start", 0, { v + m.left(4), m.mid(4) }, { 0, 16 }, { v, m }, 0, 0);
        // Two replies whose 8-bit sums happen to add up to a whole one (first sum 0x2B).
        fRow("aa-two-replies-passing-as-one", 0, { aa("80 00 0E 00 02 00 9B") + v }, { 0 },
            { aa("80 00 0E 00 02 00 9B"), v }, 0, 0);
        fRow("aa-stale-fragment-then-reply", 0, { hex("AA8000"), v }, { 0, 30 }, { v }, 0, 3);
        const QByteArray bad = v.left(8) + char(v.back() ^ 0x01);
        fRow("aa-damaged-reply-in-two-pieces-dropped-whole", 0, { bad.left(4), bad.mid(4) },
            { 0, 12 }, {}, 0, 9);
        fRow("aa-lost-00-next-kept", 0, { m.left(6) + m.mid(7), v }, { 0, 20 }, { v }, 0, 12);
        // A tail lives kTailLifeMs after it first arrived; a short reply held back then goes up.
        fRow("aa-rest-at-tail-life-joins", 0, { m.left(6), m.mid(6) }, { 0, kLife }, { m }, 0, 0);
        fRow("aa-rest-too-late", 0, { m.left(6), m.mid(6) }, { 0, kLife + 1 }, {}, 0, 13);
        fRow("aa-trickle-keeps-first-arrival", 0, { m.left(4), m.mid(4, 2), m.mid(6) },
            { 0, 60, 120 }, {}, 0, 13);
        // A tail given up leaves no age behind: the next cut reply has its own life.
        fRow("aa-new-tail-gets-its-own-life", 0, { m.left(6), {}, m.left(6), m.mid(6) },
            { 0, kLife + 1, kLife + 50, kLife + 60 }, { m }, 0, 6);
        fRow("aa0000-held-at-tail-life", 0, { z, {} }, { 0, kLife }, { z }, 1, 0);
        fRow("aa0000-handed-up-after", 0, { z, {} }, { 0, kLife + 1 }, { z }, 0, 0);
        fRow("ee-lone-header-handed-up-late", 0, { hex("EE") }, { 0 }, { hex("EE") }, 1, 0);
        fRow("aa00-held-then-reply", 0, { hex("AA00"), v }, { 0, 30 }, { hex("AA00"), v }, 0, 0);
        fRow("rtu-one-byte-dropped", 1, { hex("01") }, { 0 }, {}, 0, 1);
        fRow("rtu-cut-in-two", 1, { r.left(4), r.mid(4) }, { 0, 12 }, { r }, 0, 0);
    }
    void feed()
    {
        QFETCH(int, mode);
        QFETCH(Bytes, chunks);
        QFETCH(QList<int>, atMs);
        QFETCH(Bytes, replies);
        QFETCH(int, late);
        QFETCH(int, droppedBytes);
        core::rx::Splitter splitter { core::CheckMode(mode) };
        Bytes out;
        for (int k = 0; k < chunks.size(); ++k)
            out += splitter.feed(chunks.at(k), atMs.at(k));
        QCOMPARE(out, replies.mid(0, replies.size() - late));
        out += splitter.feed(QByteArray(), atMs.last() + 1000); // a long silence gives up any tail
        QCOMPARE(out, replies);
        QVERIFY(!splitter.hasTail());
        const core::rx::Counters &c = splitter.counters();
        QCOMPARE(c.droppedBytes, qint64(droppedBytes));
        QCOMPARE(c.dropped > 0, droppedBytes > 0);
        QCOMPARE(c.accepted + c.split + c.joined, qint64(replies.size())); // each counted once
    }

    void early_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("kept"); // fed at a silence first
        QTest::addColumn<Bytes>("reads"); // of one gather, no silence between them
        QTest::addColumn<QList<int>>("early"); // replies handed up early after each read
        const QByteArray m = kMeas, v = kVolt, r = kRtuMeas, x = kRtuExc;
        QTest::newRow("aa-reply-up-at-its-last-byte")
            << 0 << QByteArray() << Bytes { v.left(8), v.mid(8) } << QList<int> { 0, 1 };
        QTest::newRow("aa-measurement-and-voltage-in-one-read")
            << 0 << QByteArray() << Bytes { m + v } << QList<int> { 2 };
        QTest::newRow("aa-reply-then-noise-noise-waits")
            << 0 << QByteArray() << Bytes { v + hex("01"), v } << QList<int> { 1, 0 };
        QTest::newRow("aa-noise-first-all-waits")
            << 0 << QByteArray() << Bytes { hex("01") + v } << QList<int> { 0 };
        QTest::newRow("aa-no-word-count-waits")
            << 0 << QByteArray() << Bytes { aa("80 00 0E 00 02 12 34") } << QList<int> { 0 };
        QTest::newRow("aa-bad-sum-waits")
            << 0 << QByteArray() << Bytes { v.left(8) + char(v.back() ^ 1) } << QList<int> { 0 };
        // Its first six bytes pass as a frame of their own with a header after them: the silence
        // rule cuts there when noise follows, so it waits.
        QTest::newRow("aa-shorter-cut-could-win-waits")
            << 0 << QByteArray() << Bytes { aa("80 00 81 00 01 AA 00") } << QList<int> { 0 };
        QTest::newRow("aa-kept-tail-waits")
            << 0 << m.left(6) << Bytes { m.mid(6), v } << QList<int> { 0, 0 };
        QTest::newRow("rtu-reply-up-at-its-last-byte")
            << 1 << QByteArray() << Bytes { r.left(5), r.mid(5) } << QList<int> { 0, 1 };
        QTest::newRow("rtu-exception") << 1 << QByteArray() << Bytes { x } << QList<int> { 1 };
        // Function 0x01 answers with 8 bytes (the speed echo) or by its byte count: the longer
        // of the two could still pass.
        QTest::newRow("rtu-speed-echo-waits")
            << 1 << QByteArray() << Bytes { rtu("01 01 06 00 02 01") } << QList<int> { 0 };
    }
    void early()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, kept);
        QFETCH(Bytes, reads);
        QFETCH(QList<int>, early);
        core::rx::Splitter splitter { core::CheckMode(mode) };
        QCOMPARE(splitter.feed(kept, 0), Bytes());
        QByteArray gathered;
        qsizetype taken = 0;
        Bytes handed;
        for (int k = 0; k < reads.size(); ++k) {
            gathered += reads.at(k);
            const Bytes now = splitter.early(gathered, taken);
            QCOMPARE(now.size(), early.at(k));
            handed += now;
        }
        // Early replies are the whole replies at the front of the gather, in order. (That the
        // silence then hands up the same as without them is the differential fuzz target's.)
        QCOMPARE(handed.join(), gathered.left(taken));
    }

    void drain_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("kept"); // fed at a silence first
        QTest::addColumn<QByteArray>("gathered"); // then bytes that come on without a silence
        QTest::addColumn<Bytes>("replies");
        QTest::addColumn<QByteArray>("left"); // too close to the end to be judged yet
        // A frame is judged once more than a whole frame window (0xAA: 32 bytes, Modbus: 256)
        // follows its start.
        QTest::newRow("aa-frames-with-a-window-behind")
            << 0 << QByteArray() << kMeas.repeated(3) + kMeas.left(6) << Bytes { kMeas }
            << kMeas.repeated(2) + kMeas.left(6);
        QTest::newRow("aa-noise-dropped-up-to-the-window")
            << 0 << QByteArray() << QByteArray(40, 1) << Bytes() << QByteArray(32, 1);
        QTest::newRow("aa-kept-tail-put-in-front")
            << 0 << kMeas.left(6) << kMeas.mid(6) + kMeas.repeated(3) << Bytes { kMeas, kMeas }
            << kMeas.repeated(2);
        QTest::newRow("aa-held-short-reply-goes-first")
            << 0 << hex("AA0000") << kVolt.repeated(5) << Bytes { hex("AA0000"), kVolt, kVolt }
            << kVolt.repeated(3);
        const QByteArray v0 = aa("00 00 06 00 01 0C E4"); // its first two bytes pass alone
        QTest::newRow("aa-held-aa00-completed-by-the-stream")
            << 0 << v0.left(2) << v0.mid(2) + kVolt.repeated(4) << Bytes { v0, kVolt }
            << kVolt.repeated(3);
        QTest::newRow("rtu-frames-with-a-window-behind")
            << 1 << QByteArray() << kRtuMeas.repeated(30) << Bytes(7, kRtuMeas)
            << kRtuMeas.repeated(23);
    }
    void drain()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, gathered);
        QFETCH(Bytes, replies);
        QFETCH(QByteArray, left);
        core::rx::Splitter splitter { core::CheckMode(mode) };
        QCOMPARE(splitter.feed(kept, 0), Bytes());
        QCOMPARE(splitter.drain(gathered, 10), replies);
        QCOMPARE(gathered, left);
        const core::rx::Counters &c = splitter.counters();
        QCOMPARE(c.accepted + c.split + c.joined, qint64(replies.size())); // each counted once
        QVERIFY(!splitter.hasTail());
    }
};

QTEST_APPLESS_MAIN(TestSplitter)
#include "tst_splitter.moc"
