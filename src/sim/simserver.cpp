// SimServer: runs a VirtualModule on the master end of a pseudo-terminal in a thread of its own,
// with the line's timing (pacing, latency, adapter chunking) and faults on demand.
#include "sim/simserver.h"

#include "sim/pty.h"
#include "sim/publish.h"
#include "sim/replay.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <map>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kNever = std::numeric_limits<qint64>::max();
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
// The host needs a moment to read the last reply before the line drops: a hang-up discards
// whatever the terminal still holds.
constexpr qint64 kDisconnectLingerNs = 100 * kNsPerMs;

// The speed the terminal's settings claim, 0 when unknown.
int terminalBaud(int fd)
{
    termios t {};
    if (::tcgetattr(fd, &t) != 0)
        return 0;
    switch (cfgetospeed(&t)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

} // namespace

QByteArray resampleUart(const QByteArray &bytes, int fromBaud, int toBaud)
{
    if (fromBaud <= 0 || toBaud <= 0 || fromBaud == toBaud)
        return bytes;
    // Line level at sender bit k: idle high, then per byte a low start bit, 8 data bits LSB
    // first and a high stop bit.
    const qint64 bits = bytes.size() * qint64(kBitsPerByte);
    auto level = [&](qint64 k) {
        if (k < 0 || k >= bits)
            return 1;
        const int pos = int(k % kBitsPerByte);
        if (pos == 0)
            return 0;
        if (pos == 9)
            return 1;
        return (quint8(bytes.at(k / kBitsPerByte)) >> (pos - 1)) & 1;
    };
    // Times in units of 1 / (fromBaud * toBaud) s: a sender bit lasts toBaud, a receiver bit
    // fromBaud, so every instant is an integer.
    const qint64 tx = toBaud, rx = fromBaud;
    auto levelAt = [&](qint64 t) { return level(t / tx); };
    QByteArray out;
    qint64 k = 0; // sender bit from which to look for the next start edge
    while (k < bits) {
        if (!(level(k - 1) == 1 && level(k) == 0)) {
            ++k;
            continue;
        }
        const qint64 start = k * tx;
        int value = 0;
        for (int b = 0; b < 8; ++b)
            value |= levelAt(start + rx * (2 * b + 3) / 2) << b;
        const qint64 stopAt = start + rx * 19 / 2;
        if (levelAt(stopAt) == 1)
            out.append(char(value));
        k = stopAt / tx + 1;
    }
    return out;
}

struct SimServer::Engine
{
    explicit Engine(const ServerOptions &options)
        : module(options.module)
        , random(options.seed)
    {
        for (const ModuleSettings &settings : options.moreModules)
            others.emplace_back(settings);
        if (options.replay)
            replay = std::make_unique<Replay>(options.replay->entries, 0);
    }

    struct WireByte
    {
        qint64 deliverNs;
        char byte;
    };

    VirtualModule module;
    std::vector<VirtualModule> others; ///< further modules on the same line
    std::unique_ptr<Replay> replay; ///< plays a recording instead of the modules
    QRandomGenerator random;
    std::multimap<qint64, Response> scheduled; ///< replies waiting for their latency, by due time
    std::deque<WireByte> wire; ///< bytes on the wire, with the time they reach the port
    QByteArray out; ///< reached the port, not yet taken by the terminal
    qint64 wireFreeNs = 0; ///< when the last queued byte has left the module
    qint64 byteNs = 0;
    int lineBaud = 0; ///< the module's speed on the line: a new rate holds once its answer is out
    quint32 series = 0;
    qint64 nextContinuousNs = -1;
    quint64 replyCount = 0;
    qint64 disconnectNs = -1;
};

SimServer::SimServer(QObject *parent)
    : QObject(parent)
{
}

SimServer::~SimServer()
{
    stop();
}

bool SimServer::start(const ServerOptions &options)
{
    stop();
    m_options = options;
    m_error.clear();
    m_pty = std::make_unique<PseudoTerminal>();
    if (!m_pty->open()) {
        m_error = m_pty->errorString();
        m_pty.reset();
        return false;
    }
    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        m_pty.reset();
        return false;
    }
    m_engine = std::make_unique<Engine>(options);
    {
        QMutexLocker lock(&m_lock);
        m_counters = {};
        m_settings = m_engine->module.settings();
    }
    if (options.publish) {
        m_publisher = std::make_unique<PortPublisher>();
        if (!m_publisher->publish(m_pty->slavePath()))
            m_error = m_publisher->errorString();
    }
    m_stopRequested = false;
    m_running = true;
    // A plain thread around poll(): the line's timing needs sub-millisecond wake-ups that an
    // event loop's timers do not give.
    m_thread = std::thread([this] {
        run();
        m_running = false;
    });
    return true;
}

void SimServer::stop()
{
    if (m_thread.joinable()) {
        m_stopRequested = true;
        const char wake = 1;
        [[maybe_unused]] const auto n = ::write(m_wakePipe[1], &wake, 1);
        m_thread.join();
    }
    for (int &fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    {
        QMutexLocker lock(&m_lock);
        m_publisher.reset();
    }
    m_pty.reset();
    m_engine.reset();
}

bool SimServer::isRunning() const
{
    return m_running;
}

QString SimServer::slavePath() const
{
    return m_pty ? m_pty->slavePath() : QString();
}

QString SimServer::linkPath() const
{
    QMutexLocker lock(&m_lock);
    return m_publisher ? m_publisher->linkPath() : QString();
}

QString SimServer::errorString() const
{
    return m_error;
}

ServerCounters SimServer::counters() const
{
    QMutexLocker lock(&m_lock);
    return m_counters;
}

ModuleSettings SimServer::moduleSettings() const
{
    QMutexLocker lock(&m_lock);
    return m_settings;
}

void SimServer::run()
{
    Engine &e = *m_engine;
    const ServerOptions &o = m_options;
    const int fd = m_pty->masterFd();
    const qint64 chunkNs = qint64(o.chunkMs) * kNsPerMs;
    QElapsedTimer clock;
    clock.start();

    auto setBaud = [&](int baud) {
        e.lineBaud = baud;
        e.byteNs = o.pacing && baud > 0 ? kBitsPerByte * 1000000000LL / baud : 0;
    };
    setBaud(e.replay ? o.replay->header.baud : e.module.baud());

    auto garbled = [](const QByteArray &bytes, int from, int to) {
        return to > 0 ? resampleUart(bytes, from, to) : bytes;
    };

    auto toWire = [&](const QByteArray &bytes, qint64 now) {
        const qint64 start = std::max(now, e.wireFreeNs);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            // A byte reaches the port once its stop bit is in; an adapter with a latency timer
            // holds it until the next tick.
            qint64 t = start + (i + 1) * e.byteNs;
            if (chunkNs > 0)
                t = (t + chunkNs - 1) / chunkNs * chunkNs;
            e.wire.push_back({ t, bytes.at(i) });
        }
        e.wireFreeNs = start + bytes.size() * e.byteNs;
    };

    // `at` is when the reply was due, so a late wake-up does not stretch the line's timing.
    auto send = [&](const Response &reply, qint64 at) {
        const quint64 k = ++e.replyCount;
        if (o.disconnectAfter > 0 && k > quint64(o.disconnectAfter))
            return;
        auto every = [k](int n) { return n > 0 && k % quint64(n) == 0; };
        QByteArray bytes = reply.bytes;
        if (every(o.corruptEvery) && !bytes.isEmpty())
            bytes[bytes.size() - 1] = char(bytes.back() ^ 0xFF);
        if (every(o.dropEvery) && !bytes.isEmpty())
            bytes.remove(bytes.size() / 2, 1);
        if (every(o.noiseEvery)) {
            QByteArray noise(o.noiseBytes, Qt::Uninitialized);
            for (char &c : noise)
                c = char(e.random.bounded(256));
            toWire(noise, at);
            e.wireFreeNs += qint64(o.noiseGapMs) * kNsPerMs;
        }
        toWire(garbled(bytes, e.lineBaud, o.strictSpeed ? terminalBaud(fd) : 0), at);
        if (reply.baudAfter > 0)
            setBaud(reply.baudAfter);
        if (o.disconnectAfter > 0 && k == quint64(o.disconnectAfter))
            e.disconnectNs
                = (e.wire.empty() ? e.wireFreeNs : e.wire.back().deliverNs) + kDisconnectLingerNs;
        {
            QMutexLocker lock(&m_lock);
            ++m_counters.replies;
        }
        emit replySent(bytes);
    };

    auto schedule = [&](const QList<Response> &replies, qint64 now) {
        for (const Response &r : replies)
            e.scheduled.emplace(now + qint64(r.delayMs) * kNsPerMs, r);
    };

    while (!m_stopRequested) {
        qint64 now = clock.nsecsElapsed();

        if (const qint64 expiry = e.module.expiryMs(); expiry >= 0 && now / kNsPerMs >= expiry)
            schedule(e.module.expire(now / kNsPerMs), now);
        for (VirtualModule &other : e.others)
            if (const qint64 expiry = other.expiryMs(); expiry >= 0 && now / kNsPerMs >= expiry)
                schedule(other.expire(now / kNsPerMs), now);

        if (e.replay) {
            for (const Replay::Out &out : e.replay->take(now / 1000)) {
                toWire(out.bytes, out.dueUs * 1000);
                {
                    QMutexLocker lock(&m_lock);
                    ++m_counters.replies;
                }
                emit replySent(out.bytes);
            }
        }

        while (!e.scheduled.empty() && e.scheduled.begin()->first <= now) {
            send(e.scheduled.begin()->second, e.scheduled.begin()->first);
            e.scheduled.erase(e.scheduled.begin());
        }

        if (!e.module.continuousRunning()) {
            e.nextContinuousNs = -1;
        } else if (e.module.continuousSeries() != e.series) {
            e.series = e.module.continuousSeries();
            e.nextContinuousNs = now + qint64(e.module.measuringTimeMs()) * kNsPerMs;
        }
        // A terminal that takes nothing more holds the series back, as a busy UART would.
        const bool continuousDue = e.nextContinuousNs >= 0 && e.out.isEmpty();
        if (continuousDue && now >= e.nextContinuousNs) {
            const qint64 due = e.nextContinuousNs;
            Response r;
            r.bytes = e.module.takeContinuousReply();
            send(r, due);
            // Never faster than the wire: the next result waits for the line to be free.
            e.nextContinuousNs = std::max(due + e.module.continuousPeriodUs() * 1000, e.wireFreeNs);
        }

        while (!e.wire.empty() && e.wire.front().deliverNs <= now) {
            e.out.append(e.wire.front().byte);
            e.wire.pop_front();
        }
        if (!e.out.isEmpty()) {
            const ssize_t n = ::write(fd, e.out.constData(), size_t(e.out.size()));
            if (n > 0) {
                e.out.remove(0, n);
                QMutexLocker lock(&m_lock);
                m_counters.bytesSent += quint64(n);
            }
        }

        if (e.disconnectNs >= 0 && now >= e.disconnectNs && e.wire.empty() && e.out.isEmpty()) {
            m_pty->closeMaster();
            {
                QMutexLocker lock(&m_lock);
                if (m_publisher)
                    m_publisher->unpublish();
            }
            emit disconnected();
            return;
        }

        {
            QMutexLocker lock(&m_lock);
            m_settings = e.module.settings();
            m_counters.requests
                = e.replay ? e.replay->requestsMatched() : e.module.counters().requests;
            if (e.replay)
                m_counters.bytesUnmatched = e.replay->bytesUnmatched();
        }

        qint64 wake = kNever;
        if (!e.scheduled.empty())
            wake = std::min(wake, e.scheduled.begin()->first);
        // Judged again now: a write above may just have emptied what the terminal had refused,
        // and a series held back by it would otherwise sleep until the next request came.
        if (e.nextContinuousNs >= 0 && e.out.isEmpty())
            wake = std::min(wake, e.nextContinuousNs);
        if (!e.wire.empty())
            wake = std::min(wake, e.wire.front().deliverNs);
        if (const qint64 expiry = e.module.expiryMs(); expiry >= 0)
            wake = std::min(wake, expiry * kNsPerMs);
        for (const VirtualModule &other : e.others)
            if (const qint64 expiry = other.expiryMs(); expiry >= 0)
                wake = std::min(wake, expiry * kNsPerMs);
        if (e.disconnectNs >= 0)
            wake = std::min(wake, e.disconnectNs);
        if (const qint64 due = e.replay ? e.replay->nextDueUs() : -1; due >= 0)
            wake = std::min(wake, due * 1000);

        pollfd fds[2] = { { fd, short(POLLIN | (e.out.isEmpty() ? 0 : POLLOUT)), 0 },
            { m_wakePipe[0], POLLIN, 0 } };
        now = clock.nsecsElapsed();
        timespec timeout {};
        const timespec *timeoutPtr = nullptr;
        if (wake != kNever) {
            const qint64 left = std::max<qint64>(0, wake - now);
            timeout.tv_sec = time_t(left / 1000000000);
            timeout.tv_nsec = long(left % 1000000000);
            timeoutPtr = &timeout;
        }
        if (::ppoll(fds, 2, timeoutPtr, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLNVAL)
            break;

        if (fds[0].revents & POLLIN) {
            QByteArray bytes;
            char buf[4096];
            for (;;) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                bytes.append(buf, n);
            }
            if (!bytes.isEmpty()) {
                now = clock.nsecsElapsed();
                {
                    QMutexLocker lock(&m_lock);
                    m_counters.bytesReceived += quint64(bytes.size());
                }
                emit bytesReceived(bytes);
                if (e.replay) {
                    e.replay->feed(bytes, now / 1000);
                } else {
                    const QByteArray heard
                        = garbled(bytes, o.strictSpeed ? terminalBaud(fd) : 0, e.module.baud());
                    schedule(e.module.feed(heard, now / kNsPerMs), now);
                    for (VirtualModule &other : e.others)
                        schedule(other.feed(heard, now / kNsPerMs), now);
                }
            }
        }
        if (fds[1].revents & POLLIN) {
            char drain[16];
            while (::read(m_wakePipe[0], drain, sizeof drain) > 0) { }
        }
    }
}

} // namespace sim
