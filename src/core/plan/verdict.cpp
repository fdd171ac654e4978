// Verdicts of a test plan: limits, the value rules of replies, steps judged from values, the order
// of a run.
#include "core/plan/verdict.h"

#include "core/frames.h"

#include <QStringList>

#include <cmath>

namespace core::plan {

namespace {

Measurement measured(
    const QString &name, std::optional<double> value, const QString &unit, const Limit &limit = {})
{
    Measurement m;
    m.name = name;
    m.value = value;
    m.unit = unit;
    m.min = limit.min;
    m.max = limit.max;
    m.marginal = limit.marginal;
    if (limit.isSet())
        m.outcome = value ? judge(limit, *value) : Outcome::Fail;
    return m;
}

Measurement readMeasurement(Quantity q, const Reading &r, const Limit &limit, const QString &unit)
{
    Measurement m = measured(quantityName(q), r.value, unit.isEmpty() ? defaultUnit(q) : unit,
        r.value || r.errorReply ? limit : Limit {});
    m.text = r.text;
    if (r.errorReply)
        m.outcome = Outcome::Fail;
    else if (!r.problem.isEmpty())
        m.outcome = Outcome::Error;
    return m;
}

std::optional<double> meanOf(const QList<qint32> &samples)
{
    if (samples.isEmpty())
        return std::nullopt;
    double sum = 0;
    for (const qint32 s : samples)
        sum += s;
    return sum / double(samples.size());
}

std::optional<double> sigmaOf(const QList<qint32> &samples)
{
    const auto mean = meanOf(samples);
    if (!mean || samples.size() < 2)
        return std::nullopt;
    double squares = 0;
    for (const qint32 s : samples)
        squares += (s - *mean) * (s - *mean);
    return std::sqrt(squares / double(samples.size() - 1));
}

void addSeries(const TestStep &step, const Series &series, QList<Measurement> &out)
{
    const QString mm = QStringLiteral("mm");
    const auto mean = meanOf(series.samples);
    out << measured(QStringLiteral("mean"), mean, mm);
    if (step.referenceMm)
        out << measured(QStringLiteral("mean_error"),
            mean ? std::optional<double>(*mean - *step.referenceMm) : std::nullopt, mm,
            step.meanError);
    out << measured(QStringLiteral("sigma"), sigmaOf(series.samples), mm, step.sigma);
    out << measured(QStringLiteral("errors"), series.errorReplies, QString(), step.errors);
}

QString number(double v)
{
    return QString::number(v, 'g', 8);
}

} // namespace

Outcome judge(const Limit &limit, double value)
{
    if (!limit.isSet())
        return Outcome::None;
    if ((limit.min && value < *limit.min) || (limit.max && value > *limit.max))
        return Outcome::Fail;
    const double band = limit.marginal.value_or(0);
    if (band > 0
        && ((limit.min && value < *limit.min + band) || (limit.max && value > *limit.max - band)))
        return Outcome::Marginal;
    return Outcome::Pass;
}

replies::Kind replyKindOf(Quantity q)
{
    switch (q) {
    case Quantity::Serial:
        return replies::Kind::SerialNumber;
    case Quantity::Software:
        return replies::Kind::SoftwareVersion;
    case Quantity::Hardware:
        return replies::Kind::HardwareVersion;
    case Quantity::Status:
        return replies::Kind::Status;
    case Quantity::Voltage:
        return replies::Kind::Voltage;
    case Quantity::Temperature:
        return replies::Kind::Temperature;
    case Quantity::Angle:
        return replies::Kind::Angle;
    case Quantity::Offset:
        return replies::Kind::OffsetRead;
    }
    return replies::Kind::Nothing;
}

Reading readingOf(Quantity q, const replies::Reply &reply, const QByteArray &bytes)
{
    Reading r;
    if (reply.isError()) {
        r.errorReply = true;
        r.text = QStringLiteral("error reply ") + frames::toPackedHex(reply.word);
        return r;
    }
    if (reply.kind != replyKindOf(q)) {
        r.problem = QStringLiteral("not an answer to the %1 read: %2")
                        .arg(quantityName(q), frames::toHexText(bytes));
        return r;
    }
    switch (q) {
    case Quantity::Voltage: {
        // BCD: the window shows the four hex digits, and they are the millivolts.
        r.text = frames::toPackedHex(reply.word);
        bool decimal = r.text.size() == 4;
        for (const QChar c : r.text)
            decimal = decimal && c.isDigit();
        if (decimal)
            r.value = r.text.toInt();
        else
            r.problem = QStringLiteral("voltage %1 is not four decimal digits").arg(r.text);
        break;
    }
    case Quantity::Temperature:
    case Quantity::Angle:
        r.value = double(reply.number) / 10.0; // tenths of a degree
        break;
    case Quantity::Offset:
        r.value = double(reply.number);
        break;
    case Quantity::Serial:
        // A Modbus reply carries both registers (its byte count says how many bytes), though the
        // window shows only the first.
        if (reply.protocol == CheckMode::Crc && bytes.size() >= 3) {
            r.text = frames::toPackedHex(bytes.mid(3, qMin(4, int(quint8(bytes.at(2))))));
            break;
        }
        r.text = frames::toPackedHex(reply.word);
        break;
    default:
        r.text = frames::toPackedHex(reply.word);
        break;
    }
    return r;
}

Calibration calibrate(const TestStep &step, int currentOffset, const Series &series)
{
    Calibration c;
    const QString mm = QStringLiteral("mm");
    const auto mean = meanOf(series.samples);
    c.measurements << measured(QStringLiteral("offset"), currentOffset, mm);
    c.measurements << measured(QStringLiteral("calibration_mean"), mean, mm);
    Limit sigmaMax;
    sigmaMax.max = step.sigma.max;
    c.measurements << measured(
        QStringLiteral("calibration_sigma"), sigmaOf(series.samples), mm, sigmaMax);
    std::optional<double> change;
    if (mean)
        change = double(std::lround(step.referenceMm.value_or(0) - *mean));
    Limit changeMax;
    if (step.maxChange) {
        changeMax.min = -*step.maxChange;
        changeMax.max = *step.maxChange;
    }
    c.measurements << measured(QStringLiteral("offset_change"), change, mm, changeMax);
    // The module keeps its offset in a signed 16-bit register.
    Limit fits;
    fits.min = -32768;
    fits.max = 32767;
    c.measurements << measured(QStringLiteral("new_offset"),
        change ? std::optional<double>(currentOffset + *change) : std::nullopt, mm, fits);
    for (const Measurement &m : c.measurements)
        c.outcome = worse(c.outcome, m.outcome);
    if (c.outcome == Outcome::Fail)
        c.message = QStringLiteral("offset not written: ")
            + reasonOf({ {}, {}, c.outcome, c.measurements, {}, {} });
    else
        c.newOffset = int(currentOffset + *change);
    return c;
}

Attempt judgeAttempt(const TestStep &step, const Values &v)
{
    Attempt a;
    const bool single = v.reads.size() == 1 && step.kind == TestStep::Kind::Read;
    for (const auto &[q, reading] : v.reads)
        a.measurements << readMeasurement(
            q, reading, single ? step.limit : Limit {}, single ? step.unit : QString());
    switch (step.kind) {
    case TestStep::Kind::Read:
        break;
    case TestStep::Kind::Measure:
        addSeries(step, v.series, a.measurements);
        break;
    case TestStep::Kind::Calibrate: {
        if (!v.offsetBefore)
            break;
        const Calibration c = calibrate(step, *v.offsetBefore, v.calibrationSeries);
        a.measurements << c.measurements;
        a.samples << v.calibrationSeries.samples;
        a.message = c.message;
        if (!c.newOffset)
            break;
        if (v.offsetReadBack) {
            Limit same;
            same.min = same.max = *c.newOffset;
            a.measurements << measured(
                QStringLiteral("offset_read_back"), *v.offsetReadBack, QStringLiteral("mm"), same);
            if (v.series.samples.size() + v.series.errorReplies > 0)
                addSeries(step, v.series, a.measurements);
            a.samples << v.series.samples;
        }
        break;
    }
    case TestStep::Kind::Set:
        // What was written is kept beside what the module says at its new settings.
        if (step.setOffset && !v.reads.isEmpty() && v.reads.last().first == Quantity::Offset) {
            Measurement &back = a.measurements.last();
            back.min = back.max = *step.setOffset;
            back.outcome
                = back.value ? judge({ back.min, back.max, {} }, *back.value) : back.outcome;
        }
        break;
    }
    if (step.kind != TestStep::Kind::Calibrate)
        a.samples = v.series.samples;

    a.outcome = Outcome::None;
    for (const Measurement &m : std::as_const(a.measurements))
        a.outcome = worse(a.outcome, m.outcome);
    if (a.outcome == Outcome::None)
        a.outcome = Outcome::Pass;
    if (!v.failure.isEmpty()) {
        a.outcome = worse(a.outcome, Outcome::Fail);
        a.message = v.failure;
    }
    if (!v.error.isEmpty()) {
        a.outcome = worse(a.outcome, Outcome::Error);
        a.message = v.error;
    }
    if (v.aborted) {
        a.outcome = Outcome::Aborted;
        a.message = QStringLiteral("aborted");
    }
    return a;
}

Sequence::Sequence(const Plan &plan)
    : m_plan(plan)
{
    m_finished = plan.steps.isEmpty();
}

void Sequence::attemptDone(const Attempt &attempt, bool lineLost)
{
    if (m_finished)
        return;
    if (m_steps.size() == m_index)
        m_steps.append(Step { step().name, Outcome::None, {} });
    Step &s = m_steps.last();
    s.attempts << attempt;
    s.outcome = attempt.outcome;
    if (attempt.outcome == Outcome::Aborted || lineLost) {
        stop();
        return;
    }
    const bool bad = !passed(attempt.outcome);
    if (bad && s.attempts.size() <= step().retries)
        return;
    ++m_index;
    if ((bad && !m_plan.continueOnFail) || m_index == m_plan.steps.size())
        stop();
}

void Sequence::stop()
{
    m_finished = true;
    for (qsizetype i = m_steps.size(); i < m_plan.steps.size(); ++i)
        m_steps.append(Step { m_plan.steps.at(i).name, Outcome::Skipped, {} });
}

Outcome Sequence::outcome() const
{
    Outcome o = Outcome::None;
    for (const Step &s : m_steps)
        o = worse(o, s.outcome);
    return o;
}

QString describe(const Measurement &m)
{
    QString out = m.name;
    if (m.value)
        out += QLatin1Char(' ') + number(*m.value);
    else if (!m.text.isEmpty())
        out += QLatin1Char(' ') + m.text;
    else
        out += QStringLiteral(" -");
    if (!m.unit.isEmpty())
        out += QLatin1Char(' ') + m.unit;
    QStringList limits;
    if (m.min)
        limits << QStringLiteral("min ") + number(*m.min);
    if (m.max)
        limits << QStringLiteral("max ") + number(*m.max);
    if (m.marginal)
        limits << QStringLiteral("marginal ") + number(*m.marginal);
    if (!limits.isEmpty())
        out += QStringLiteral(" (") + limits.join(QStringLiteral(", ")) + QLatin1Char(')');
    if (m.outcome != Outcome::None)
        out += QLatin1Char(' ') + outcomeName(m.outcome);
    return out;
}

QString reasonOf(const Attempt &attempt)
{
    if (!attempt.message.isEmpty())
        return attempt.message;
    QStringList worst;
    Outcome level = Outcome::Pass;
    for (const Measurement &m : attempt.measurements) {
        if (m.outcome > level) {
            level = m.outcome;
            worst.clear();
        }
        if (m.outcome == level && level != Outcome::Pass)
            worst << describe(m);
    }
    return worst.join(QStringLiteral("; "));
}

QString progressLine(const QString &stepName, int attemptNumber, const Attempt &attempt)
{
    QStringList parts { QStringLiteral("%1, attempt %2: %3")
                            .arg(stepName)
                            .arg(attemptNumber)
                            .arg(outcomeName(attempt.outcome)) };
    for (const Measurement &m : attempt.measurements)
        parts << describe(m);
    if (!attempt.message.isEmpty())
        parts << attempt.message;
    return parts.join(QStringLiteral("; "));
}

QString unitLine(const RunRecord &run)
{
    const double seconds = double(run.startTime.msecsTo(run.endTime)) / 1000.0;
    return QStringList { run.port, run.unit.serial, outcomeName(run.outcome),
        QString::number(seconds, 'f', 1) }
        .join(QLatin1Char('\t'));
}

int exitStatus(const QList<RunRecord> &runs)
{
    Outcome o = Outcome::None;
    for (const RunRecord &run : runs)
        o = worse(o, run.outcome);
    if (passed(o))
        return 0;
    return o == Outcome::Fail ? 1 : 3;
}

} // namespace core::plan
