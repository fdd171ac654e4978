// The state of one measuring run: records, reply numbering, chart range, last frame, address
// search.
#include "core/session.h"

#include "core/frames.h"
#include "core/replytext.h"

#include <QTime>

#include <limits>

namespace core {

QStringList recordTexts(const Record &record)
{
    const QString clock = frames::clockText(QTime::fromMSecsSinceStartOfDay(record.clockMs));
    const QString value = record.isError()
        ? QStringLiteral("%1")
              .arg(quint32(record.value), 2 * record.codeBytes, 16, QLatin1Char('0'))
              .toUpper()
        : QString::number(record.value);
    return { clock, replies::measureModeText(record.mode, record.language), value,
        record.isError() ? QString() : QString::number(record.signal),
        record.measuringMs < 0 ? QString() : QString::number(record.measuringMs) };
}

Record recordOf(
    const replies::Reply &reply, qint32 clockMs, int mode, Language language, qint32 measuringMs)
{
    Record record;
    record.clockMs = clockMs;
    record.mode = qint8(mode);
    record.language = language;
    record.measuringMs = measuringMs;
    record.value = qint32(reply.number);
    if (reply.isError()) {
        record.error = true;
        record.codeBytes = quint8(reply.word.size());
    } else {
        record.signal = reply.signal;
    }
    return record;
}

void Session::addRecord(const Record &record)
{
    m_records.append(record);
    if (record.isError())
        m_stats.addError(record.clockMs);
    else
        m_stats.add(record.value, record.clockMs);
}

QList<QList<QString>> Session::table() const
{
    QList<QList<QString>> rows;
    rows.reserve(m_records.size());
    for (const Record &record : m_records)
        rows.append(recordTexts(record));
    return rows;
}

ChartRange Session::addChartPoint(qint32 distance, bool monitoring)
{
    ChartRange range;
    if (!monitoring) {
        if (m_replyNumber > kInitialXUpper)
            range.xUpper = m_replyNumber;
        if (distance > m_maxY) {
            // 10% headroom above the largest distance; a distance near either int limit would
            // overflow the conversion, so the range stops there.
            const double top = 1.1 * double(distance);
            m_maxY = top >= double(std::numeric_limits<int>::max())
                ? std::numeric_limits<int>::max()
                : top <= double(std::numeric_limits<int>::min()) ? std::numeric_limits<int>::min()
                                                                 : int(top);
        } else if (distance < m_minY) {
            m_minY = distance;
        }
        range.setYRange = true;
    }
    range.minY = m_minY;
    range.maxY = m_maxY;
    return range;
}

void Session::clear()
{
    m_records.clear();
    m_stats.clear();
    m_replyNumber = 0;
    m_minY = kInitialMinY;
    m_maxY = kInitialMaxY;
}

int Session::nextProbe()
{
    ++m_probe;
    if (m_probe >= kLastProbe) {
        const int last = m_probe;
        endAddressSearch();
        return last;
    }
    return m_probe;
}

void Session::endAddressSearch()
{
    m_searching = false;
    m_probe = -1;
}

} // namespace core
