// The work tovandrix-cli does on one port: a command's frames, their replies, a measuring run.
#pragma once

#include "core/analysis/analysis.h"
#include "core/commands.h"
#include "core/plan/runrecord.h"
#include "core/protocol.h"
#include "core/replies.h"
#include "core/runstats.h"
#include "io/link.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace cli {

class Output;

/** What every command reads from the command line. */
struct Settings
{
    core::CheckMode checkMode = core::CheckMode::Sum8;
    int address = 0; ///< the module's address in the frames of checkMode
    int baud = 9600;
    core::Language language = core::Language::English;
    int timeoutMs = 1000; ///< longest wait for a reply
    int measureMode = 0; ///< 0 auto, 1 slow, 2 fast

    core::commands::Inputs inputs() const;
};

/**
 * One port's share of a command, run in the event loop, finishing with an exit status: 0 done,
 * 1 no reply, an error reply or a port failure, 130 stopped before it did what was asked.
 */
class PortJob : public QObject
{
    Q_OBJECT
public:
    PortJob(const QString &port, const Settings &settings, Output *output);

    virtual void start() = 0;
    /**
     * @brief The program is asked to stop (a signal, or nobody reads its output any more). The
     * default ends at once, cut short.
     */
    virtual void stop(const QString &why);
    int exitCode() const { return m_exitCode; }
    bool isFinished() const { return m_finished; }

signals:
    void finished();

protected:
    void status(const QString &text) const;
    void fail(const QString &reason);
    /** @brief Exit status 1 at the end, however the job ends. */
    void markError() { m_exitCode = qMax(m_exitCode, 1); }
    void finish(int exitCode = 0);
    virtual void closePort() { }

    const QString m_port;
    const Settings m_settings;
    Output *const m_output;

private:
    int m_exitCode = 0;
    bool m_finished = false;
};

/**
 * A job that talks to its module through the serial worker: begin() sends the first frame,
 * reply() takes each reply.
 */
class LinkJob : public PortJob
{
    Q_OBJECT
public:
    LinkJob(const QString &port, const Settings &settings, Output *output);
    void start() override;
    /** @brief Every byte of the job goes to the byte log @p path, from the port's opening on. */
    void recordBytes(const QString &path) { m_recordPath = path; }

protected:
    virtual void begin() = 0;
    virtual void reply(const QByteArray &bytes) = 0;
    /** @brief No reply within the timeout; the default fails. */
    virtual void noReply();
    /** @brief The line was lost; the default fails. */
    virtual void lost(const QString &reason);
    /** @brief Ends the byte log (a log not written whole fails the job) and closes the port. */
    void closePort() override;

    /** @brief Sends @p frame (hex text, no CRC) and waits for its reply. */
    void ask(const QString &frame);
    /** @brief The frame of @p command with these settings, or empty (the check mode lacks it). */
    QString frameOf(core::commands::Command command, const core::commands::Inputs &inputs) const;
    core::replies::Reply decode(
        const QByteArray &bytes, const core::replies::AaContext &ctx = {}) const;
    /** @brief The decoded words of @p reply, or its hex text when it has none. */
    QString words(const core::replies::Reply &reply, const QByteArray &bytes) const;

    io::Link m_link;
    QElapsedTimer m_sentAt; ///< when the frame asked last was handed over
    QString m_baudText; ///< the rate a set-baud-rate reply confirms
    QString m_recordPath; ///< the byte log; empty: none
};

/** A list of frames sent one after the other, each reply shown as one decoded line. */
class QueryJob : public LinkJob
{
    Q_OBJECT
public:
    struct Query
    {
        QString frame;
        bool addressProbe = false; ///< a 0xAA status read that reports the address
        bool raw = false; ///< show the reply's bytes (send HEX)
    };
    QueryJob(const QString &port, const Settings &settings, Output *output,
        const QList<Query> &queries, const QString &baudText = QString());

protected:
    void begin() override;
    void reply(const QByteArray &bytes) override;

private:
    void next();

    QList<Query> m_queries;
    int m_index = -1;
};

/** What a measuring run does besides measuring. */
struct MeasureExtras
{
    bool analyze = false; ///< the run's figures after it
    double temperatureEveryS = 0; ///< temperature reads this far apart; 0: none
    core::analysis::Options analysis;
    bool keepRun = false; ///< the distances kept for run(), for the results store
};

/**
 * Single measurements (a count, or for a time) or a continuous run, one record per result. With
 * temperature reads, a continuous 0xAA run is stopped for each read and started again: a module
 * that streams results takes no other request until it has had the stop byte.
 */
class MeasureJob : public LinkJob
{
    Q_OBJECT
public:
    /**
     * @p count single measurements, or for @p seconds (0: until stopped) when count is 0;
     * @p extras.keepRun keeps the distances for run().
     */
    MeasureJob(const QString &port, const Settings &settings, Output *output, int count,
        double seconds, bool setSpeed, const MeasureExtras &extras = {});
    void stop(const QString &why) override;
    /** @brief The run as a record without a plan, for the results store (with keepRun). */
    core::plan::RunRecord run() const;

protected:
    void begin() override;
    void reply(const QByteArray &bytes) override;
    void noReply() override;
    void lost(const QString &reason) override;

private:
    bool continuous() const;
    bool openEnded() const { return m_count == 0 && m_seconds == 0; }
    void startMeasuring();
    void measureOnce();
    void sendStop(bool toReadTemperature = false);
    void readTemperature();
    void resume();
    void end(int exitCode);
    /** When a reply came: the records' clock, its decoded line, the ISO time. */
    struct Stamp
    {
        qint32 clockMs;
        QString text;
        QString iso;
    };
    Stamp stamp(const core::replies::Reply &decoded, const QByteArray &bytes) const;
    void record(const core::replies::Reply &decoded, const QByteArray &bytes);

    enum class Phase {
        Speed,
        Single,
        Running,
        Draining,
        Pausing, ///< stop byte sent for a temperature read; results still on the line come
        Temperature, ///< the temperature read asked
        Done
    } m_phase
        = Phase::Single;
    const int m_count;
    const double m_seconds;
    const bool m_setSpeed;
    bool m_stopped = false; ///< asked to stop before the run was over
    int m_asked = 0;
    int m_records = 0;
    int m_errors = 0;
    int m_replyNumber = 0;
    QElapsedTimer m_started;
    QTimer m_deadline;
    core::RunStats m_stats; ///< of this port's records, summed up when the run ends
    const MeasureExtras m_extras;
    QTimer m_temperatureTimer;
    bool m_temperatureDue = false;
    bool m_keepRecords = false; ///< for the figures: asked for, or a workbook's Analysis sheet
    QList<core::Record> m_kept; ///< the records, when kept
    QList<core::analysis::Temperature> m_temperatures;
    const bool m_keepRun;
    QList<qint32> m_samples; ///< the distances, kept only for run()
    QDateTime m_startTime;
    QDateTime m_endTime;
};

} // namespace cli
