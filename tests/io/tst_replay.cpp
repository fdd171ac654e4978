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

using core::commands::Command;
using core::replay::Direction;

namespace {

struct Exchange
{
    QList<QByteArray> replies;
    QList<qint64> replyUs; ///< per request of one reply: from sending it to the reply
};

// The program's side: each request of @p script (command, replies to wait for, ...) through a
// Link, every byte recorded into @p path when a recorder is given; then the replies still on the
// line (@p expected of them in all, or what comes in 150 ms).
Exchange exchange(const QString &port, int baud, int check, const QList<int> &script,
    io::Recorder *recorder, const QString &path, qsizetype expected = -1)
{
    Exchange x;
    io::Link link;
    QString error;
    QElapsedTimer clock;
    clock.start();
    if (!link.open(port, baud, core::CheckMode(check), &error)
        || (recorder && !recorder->open(path, { baud, check }, 0, &error)))
        return x;
    QObject::connect(&link, &io::Link::replyReceived, [&](const QByteArray &reply) {
        x.replies << reply;
        if (recorder)
            recorder->add(Direction::Received, reply, clock.nsecsElapsed() / 1000);
    });
    for (qsizetype k = 0; k + 1 < script.size(); k += 2) {
        const auto text
            = core::commands::build(Command(script[k]), core::CheckMode(check), {}).text;
        const QByteArray frame = core::frames::fromHexText(text.value_or(QString()));
        const qsizetype before = x.replies.size();
        const qint64 sentUs = clock.nsecsElapsed() / 1000;
        link.send(frame);
        if (recorder)
            recorder->add(
                Direction::Sent, check ? core::protocol::appendCrc(frame) : frame, sentUs);
        if (!QTest::qWaitFor([&] { return x.replies.size() >= before + script[k + 1]; }, 5000))
            return x;
        if (script[k + 1] == 1)
            x.replyUs << clock.nsecsElapsed() / 1000 - sentUs;
    }
    // The caller judges what came; without an expected count this only lets the time pass.
    static_cast<void>(QTest::qWaitFor(
        [&] { return expected >= 0 && x.replies.size() >= expected; }, expected < 0 ? 150 : 5000));
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
        QTest::addColumn<QList<int>>("script"); // command, replies to wait for, ...
        QTest::addColumn<QList<int>>("replay"); // the script played to the recording
        QTest::addColumn<int>("unmatched"); // bytes of the replay's script not in the recording
        const int once = int(Command::MeasureOnce), voltage = int(Command::ReadVoltage);
        const QList<int> three { once, 1, once, 1, once, 1 };
        const QList<int> stream { int(Command::ContinuousStart), 300, int(Command::ContinuousStop),
            0 };
        QTest::newRow("single-measurements-aa-9600") << 9600 << 0 << three << three << 0;
        const QList<int> queries { voltage, 1, once, 1, int(Command::ReadTemperature), 1, once, 1 };
        QTest::newRow("modbus-queries-and-measurements-19200")
            << 19200 << 1 << queries << queries << 0;
        QTest::newRow("continuous-stream-at-the-wire-limit-115200")
            << 115200 << 0 << stream << stream << 0;
        // The stop byte sooner than recorded: what came before it in the recording comes at once.
        QTest::newRow("stream-stopped-sooner-comes-whole")
            << 115200 << 0 << stream
            << QList<int> { int(Command::ContinuousStart), 20, int(Command::ContinuousStop), 0 }
            << 0;
        QTest::newRow("request-not-recorded-gets-no-answer")
            << 9600 << 0 << three << (QList<int> { voltage, 0 } + three) << 5;
    }
    void replayedRun()
    {
        QFETCH(int, baud);
        QFETCH(int, check);
        QFETCH(QList<int>, script);
        QFETCH(QList<int>, replay);
        QFETCH(int, unmatched);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.tvxr");
        sim::ServerOptions options;
        options.module.baudCode = core::protocol::baudCode(baud).value_or(-1);
        options.module.model = sim::DistanceModel::Noisy;
        options.module.continuousRate = sim::kWireSpeed; // a stream as fast as the line goes
        options.publish = false;
        sim::SimServer module;
        QVERIFY(module.start(options));
        io::Recorder recorder;
        const Exchange recorded
            = exchange(module.slavePath(), baud, check, script, &recorder, path);
        module.stop();
        QVERIFY(!recorded.replies.isEmpty());

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        options.replay = core::replay::decode(file.readAll());
        QVERIFY2(options.replay->error.isEmpty(), qPrintable(options.replay->error));
        sim::SimServer player;
        QVERIFY(player.start(options));
        const Exchange replayed = exchange(
            player.slavePath(), baud, check, replay, nullptr, path, recorded.replies.size());
        QCOMPARE(replayed.replies, recorded.replies);
        QCOMPARE(player.counters().bytesUnmatched, quint64(unmatched));
        // The recorded delays: a reply never comes sooner than it did.
        for (qsizetype k = 0; k < recorded.replyUs.size(); ++k)
            QVERIFY(replayed.replyUs.value(k) >= recorded.replyUs[k]);
    }
};

QTEST_MAIN(TestReplay)
#include "tst_replay.moc"
