// The work tovandrix-cli does on one port: a command's frames, their replies, a measuring run.
#pragma once

#include "core/commands.h"
#include "core/replies.h"
#include "core/runstats.h"
#include "io/link.h"

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
    int checkMode = 0; ///< 0: 0xAA frames, 1: Modbus RTU with CRC
    int address = 0; ///< the module's address in the frames of checkMode
    int baud = 9600;
    int language = 1; ///< 0 Chinese, 1 English
    int timeoutMs = 1000; ///< longest wait for a reply
    int measureMode = 0; ///< 0 auto, 1 slow, 2 fast

    commands::Inputs inputs() const;
};

/**
 * One port's share of a command, run in the event loop: opens the port, exchanges frames, and
 * finishes with an exit code (0 done, 1 no reply, an error reply or a port failure). A new command
 * is a new subclass: begin() sends the first frame, reply() takes each reply.
 */
class PortJob : public QObject
{
    Q_OBJECT
public:
    PortJob(const QString &port, const Settings &settings, Output *output);

    virtual void start();
    /** @brief Ctrl+C: the default ends at once with exit code 1. */
    virtual void interrupt();
    int exitCode() const { return m_exitCode; }
    bool isFinished() const { return m_finished; }

signals:
    void finished();

protected:
    virtual void begin() = 0;
    virtual void reply(const QByteArray &bytes) = 0;
    /** @brief No reply within the timeout; the default fails. */
    virtual void noReply();
    /** @brief The line was lost; the default fails. */
    virtual void lost(const QString &reason);

    /** @brief Sends @p frame (hex text, no CRC) and waits for its reply. */
    void ask(const QString &frame);
    /** @brief The frame of @p command with these settings, or empty (the check mode lacks it). */
    QString frameOf(commands::Command command, const commands::Inputs &inputs) const;
    replies::Reply decode(const QByteArray &bytes, const replies::AaContext &ctx = {}) const;
    /** @brief The decoded words of @p reply, or its hex text when it has none. */
    QString words(const replies::Reply &reply, const QByteArray &bytes) const;
    void status(const QString &text) const;
    void fail(const QString &reason);
    /** @brief Exit code 1 at the end, however the job ends. */
    void markError() { m_exitCode = 1; }
    void finish(int exitCode = 0);

    const QString m_port;
    const Settings m_settings;
    Output *const m_output;
    io::Link m_link;
    QElapsedTimer m_sentAt; ///< when the frame asked last was handed over
    QString m_baudText; ///< the rate a set-baud-rate reply confirms

private:
    int m_exitCode = 0;
    bool m_finished = false;
};

/** A list of frames sent one after the other, each reply shown as one decoded line. */
class QueryJob : public PortJob
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

/** Single measurements (a count, or for a time) or a continuous run, one record per result. */
class MeasureJob : public PortJob
{
    Q_OBJECT
public:
    /** @p count single measurements, or for @p seconds (0: until interrupted) when count is 0. */
    MeasureJob(const QString &port, const Settings &settings, Output *output, int count,
        double seconds, bool setSpeed);
    void interrupt() override;

protected:
    void begin() override;
    void reply(const QByteArray &bytes) override;
    void noReply() override;
    void lost(const QString &reason) override;

private:
    bool continuous() const;
    void startMeasuring();
    void measureOnce();
    void stop();
    void end(int exitCode);

    enum class Phase { Speed, Single, Running, Draining, Done } m_phase = Phase::Single;
    const int m_count;
    const double m_seconds;
    const bool m_setSpeed;
    int m_asked = 0;
    int m_records = 0;
    int m_errors = 0;
    int m_replyNumber = 0;
    QElapsedTimer m_started;
    QTimer m_deadline;
    core::RunStats m_stats; ///< of this port's records, summed up when the run ends
};

} // namespace cli
