// Recorder: writes the byte log of a run (core/replay/bytelog.h) as the bytes go by.
#include "io/recorder.h"

#include <algorithm>

namespace io {

namespace {
constexpr int kLogFlushMs = 1000;
constexpr qint64 kLogJoinSlackUs = 500;
constexpr qint64 kLineBitsPerByte = 10; // start bit, 8 data bits, stop bit
} // namespace

Recorder::Recorder(QObject *parent)
    : QObject(parent)
{
    m_flushTimer.setInterval(kLogFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &Recorder::flush);
}

Recorder::~Recorder()
{
    close();
}

bool Recorder::open(
    const QString &path, const core::replay::Header &header, qint64 startUs, QString *error)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = m_file.errorString();
        return false;
    }
    m_error.clear();
    m_buffer = core::replay::encodeHeader(header);
    m_byteUs = header.baud > 0 ? kLineBitsPerByte * 1000000 / header.baud : 0;
    m_entryUs = startUs;
    m_pending = false;
    m_flushTimer.start();
    return true;
}

void Recorder::add(core::replay::Direction direction, const QByteArray &bytes, qint64 timeUs)
{
    if (!m_file.isOpen() || bytes.isEmpty())
        return;
    const qint64 onLineUs = m_byteUs * bytes.size();
    if (m_pending && direction == m_direction && timeUs - m_lastUs <= onLineUs + kLogJoinSlackUs) {
        m_bytes += bytes;
        m_lastUs = timeUs;
        return;
    }
    endEntry();
    // Bytes received are seen once they have come in; their entry starts when they began.
    const qint64 began
        = direction == core::replay::Direction::Received ? timeUs - onLineUs : timeUs;
    m_pending = true;
    m_direction = direction;
    m_startUs = std::max(began, m_entryUs);
    m_lastUs = timeUs;
    m_bytes = bytes;
}

void Recorder::close()
{
    if (!m_file.isOpen())
        return;
    flush();
    m_flushTimer.stop();
    m_file.close();
}

void Recorder::endEntry()
{
    if (!m_pending)
        return;
    core::replay::appendEntry(&m_buffer, m_direction, quint64(m_startUs - m_entryUs), m_bytes);
    m_entryUs = m_startUs;
    m_pending = false;
}

void Recorder::flush()
{
    endEntry();
    if (m_buffer.isEmpty())
        return;
    if (m_file.write(m_buffer) != m_buffer.size() || !m_file.flush())
        m_error = m_file.errorString();
    m_buffer.clear();
}

} // namespace io
