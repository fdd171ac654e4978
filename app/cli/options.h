// tovandrix-cli's commands and options, each written once: the help, the checks and the defaults
// all come from these tables.
#pragma once

#include "cli/jobs.h"

#include "cmdline/options.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

/** Exit statuses, the same for every command. */
enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1, ///< no reply, an error reply, a port or file failure
    kExitUsage = 2,
    kExitStopped = 130, ///< a signal or a closed output cut the command short
};

/** A command of the program: its name, how it is called and what it does. */
struct CommandInfo
{
    QString name;
    QString synopsis; ///< after the command's name
    QString summary;
    bool needsPort = true;
};

const QList<CommandInfo> &commandTable();
const QList<cmdline::Option> &optionTable();

/** The command line, parsed and judged: what every command reads from it. */
class Invocation
{
public:
    /**
     * @brief Parses and judges @p arguments (without the program's name). Throws
     * cmdline::UsageError; help and version requests are answered by the caller.
     */
    explicit Invocation(const QStringList &arguments);

    const cmdline::Args &args() const { return m_args; }
    const CommandInfo *command() const { return m_command; }
    QString name() const { return m_command ? m_command->name : QString(); }
    /** @brief The command's own arguments, after its name. */
    const QStringList &operands() const { return m_operands; }
    const QStringList &ports() const { return m_ports; }
    const Settings &settings() const { return m_settings; }

    bool isSet(const QString &option) const { return m_args.isSet(option); }
    /** @brief The value given, or the option's default for this command. */
    QString text(const QString &option) const;
    qint64 integer(const QString &option) const { return text(option).trimmed().toLongLong(); }
    double number(const QString &option) const { return text(option).trimmed().toDouble(); }

private:
    void readSettings();

    cmdline::Args m_args;
    const CommandInfo *m_command = nullptr;
    QStringList m_operands;
    QStringList m_ports;
    Settings m_settings;
};

/** @brief The whole help, or the help of @p command. */
QString helpText(const QString &command = {});

} // namespace cli
