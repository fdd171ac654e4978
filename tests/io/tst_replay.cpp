// Record and replay over real pseudo-terminals: a run against the virtual module is recorded by
// the recorder, the recording is played by the virtual module's replay, and the program's serial
// worker gets the same replies, byte for byte, when it sends the same requests.
#include "core/commands.h"
#include "core/frames.h"
#include "io/link.h"
#include "io/recorder.h"
#include "sim/simserver.h"

#include "testsupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using commands::Command;
using core::replay::Direction;

namespace {

struct Exchange
{
    QList<QByteArray> replies;
    QList<qint64> replyUs; ///< per request of one reply: from sending it to the reply
};

// The program's side: each request of @p script (command, replies to wait for) through a Link,
// every byte recorded by @p recorder when given.
Exchange exchange(const QString &port, int baud, int check, const QList<int> &script,
    io::Recorder *recorder, const QString &logPath, qsizetype expected = -1)
{
    Exchange x;
    io::Link link;
    QString error;
    QElapsedTimer clock;
    clock.start();
    if (!link.open(port, baud, check, &error))
        return x;
    if (recorder && !recorder->open(logPath, { baud, check }, 0, &error))
        return x;
    QObject::connect(&link, &io::Link::replyReceived, [&](const QByteArray &reply) {
        x.replies << reply;
        if (recorder)
            recorder->add(Direction::Received, reply, clock.nsecsElapsed() / 1000);
    });
    for (qsizetype k = 0; k + 1 < script.size(); k += 2) {
        const auto text = commands::build(Command(script[k]), check, {}).text;
        const QByteArray frame = frames::fromHexText(text.value_or(QString()));
        const qsizetype before = x.replies.size();
        const qint64 sentUs = clock.nsecsElapsed() / 1000;
        link.send(frame);
        if (recorder)
            recorder->add(Direction::Sent, check ? frames::appendCrc(frame) : frame, sentUs);
        if (!QTest::qWaitFor([&] { return x.replies.size() >= before + script[k + 1]; }, 5000))
            return x;
        if (script[k + 1] == 1)
            x.replyUs << clock.nsecsElapsed() / 1000 - sentUs;
    }
    // Replies still on the line after the last request (a stream after its stop byte).
    if (expected < 0)
        QTest::qWait(150);
    else
        QTest::qWaitFor([&] { return x.replies.size() >= expected; }, 5000);
    if (recorder)
        recorder->close();
    return x;
}

} // namespace

class TestReplay : public QObject
{
    Q_OBJECT
private slots:
    void replayedRun_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("check");
        QTest::addColumn<double>("rate"); // continuous results per second; 0: the default
        QTest::addColumn<QList<int>>("script"); // command, replies to wait for, ...
        QTest::addColumn<bool>("strayFirst"); // a request not in the recording, before the rest
        QTest::addColumn<int>("hurry"); // replay: replies to wait for before the second request
        const int once = int(Command::MeasureOnce);
        const QList<int> three { once, 1, once, 1, once, 1 };
        QTest::newRow("single-measurements-aa-9600") << 9600 << 0 << 0.0 << three << false << 1;
        QTest::newRow("modbus-queries-and-measurements-19200")
            << 19200 << 1 << 0.0
            << QList<int> { int(Command::ReadVoltage), 1, once, 1, int(Command::ReadTemperature), 1,
                   once, 1 }
            << false << 1;
        const QList<int> stream { int(Command::ContinuousStart), 300, int(Command::ContinuousStop),
            0 };
        QTest::newRow("continuous-stream-at-the-wire-limit-115200")
            << 115200 << 0 << sim::kWireSpeed << stream << false << 300;
        // The stop byte sooner than recorded: what came before it in the recording comes at once.
        QTest::newRow("stream-stopped-sooner-comes-whole")
            << 115200 << 0 << sim::kWireSpeed << stream << false << 20;
        QTest::newRow("request-not-recorded-gets-no-answer")
            << 9600 << 0 << 0.0 << three << true << 1;
    }
    void replayedRun()
    {
        QFETCH(int, baud);
        QFETCH(int, check);
        QFETCH(double, rate);
        QFETCH(QList<int>, script);
        QFETCH(bool, strayFirst);
        QFETCH(int, hurry);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.tvxr");

        sim::ServerOptions options;
        options.module.baudCode = sim::codeForBaud(baud);
        options.module.model = sim::DistanceModel::Noisy;
        options.module.continuousRate = rate;
        options.publish = false;
        sim::SimServer module;
        QVERIFY(module.start(options));
        io::Recorder recorder;
        const Exchange recorded
            = exchange(module.slavePath(), baud, check, script, &recorder, path);
        module.stop();
        qsizetype single = 0; // requests of one reply
        for (qsizetype k = 1; k < script.size(); k += 2)
            single += script[k] == 1;
        QCOMPARE(recorded.replyUs.size(), single);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        options.replay = core::replay::decode(bytes);
        QVERIFY2(options.replay->error.isEmpty(), qPrintable(options.replay->error));
        QCOMPARE(options.replay->header.baud, baud);
        QCOMPARE(options.replay->header.checkMode, check);
        // Compact: the log's overhead over the bytes it holds stays small.
        qsizetype payload = 0;
        for (const auto &e : options.replay->entries)
            payload += e.bytes.size();
        QVERIFY(bytes.size() - payload <= 10 + 7 * options.replay->entries.size());

        sim::SimServer player;
        QVERIFY(player.start(options));
        qsizetype stray = 0;
        if (strayFirst) {
            io::Link link;
            QString error;
            QVERIFY(link.open(player.slavePath(), baud, check, &error));
            int answers = 0;
            connect(&link, &io::Link::replyReceived, this, [&] { ++answers; });
            const QByteArray voltage
                = frames::fromHexText(*commands::build(Command::ReadVoltage, check, {}).text);
            link.send(voltage);
            stray = voltage.size();
            QTest::qWait(300);
            QCOMPARE(answers, 0);
        }
        script[1] = hurry;
        const Exchange replayed = exchange(
            player.slavePath(), baud, check, script, nullptr, path, recorded.replies.size());
        QCOMPARE(replayed.replies, recorded.replies);
        QCOMPARE(player.counters().bytesUnmatched, quint64(stray));
        // The recorded delays: a reply never comes sooner than it did.
        for (qsizetype k = 0; k < recorded.replyUs.size(); ++k)
            QVERIFY(replayed.replyUs.value(k) >= recorded.replyUs[k]);
    }
};

QTEST_MAIN(TestReplay)
#include "tst_replay.moc"
