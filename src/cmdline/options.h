// Command-line options from one table: the parser, the checks and the help all read it, so an
// option is written once. Shared by tovandrix-cli and tovandrix-sim.
#pragma once

#include <QChar>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace cmdline {

/** A mistake on the command line: the program says it, points to --help and exits 2. */
struct UsageError
{
    QString text;
};

/** How an option's value is judged, and the words that say what it wants. */
struct Check
{
    QString wants; ///< "a whole number from 1 to 100", for the help and the error
    std::function<bool(const QString &)> accepts;
};

Check wholeNumber(qint64 low, qint64 high);
Check decimal(double low, double high);
Check oneOf(const QStringList &words);
/** @brief Any text but the empty one. */
Check nonEmpty(const QString &wants);
/** @brief A hexadecimal number up to @p high ("0A0B"). */
Check hexNumber(quint64 high);

/** One option of the table. */
struct Option
{
    QString name; ///< without the dashes
    QString valueName; ///< "MS"; empty for a flag
    QString help;
    Check check; ///< for an option with a value
    QStringList commands; ///< the commands that take it; empty: every command
    QString defaultText; ///< shown in the help; may be overridden per command
    QMap<QString, QString> commandDefaults;
    QChar shortName = {};
    bool repeatable = false;

    bool belongsTo(const QString &command) const
    {
        return commands.isEmpty() || commands.contains(command);
    }
    QString defaultFor(const QString &command) const
    {
        return commandDefaults.value(command, defaultText);
    }
};

/** What a command line holds, before it is judged. */
class Args
{
public:
    QStringList positional;
    bool help = false;
    bool version = false;

    bool isSet(const QString &name) const { return m_values.contains(name); }
    /** @brief The value given (the last, for a repeatable option), or empty text. */
    QString value(const QString &name) const
    {
        return m_values.value(name).value(m_values.value(name).size() - 1);
    }
    QStringList values(const QString &name) const { return m_values.value(name); }
    /** @brief The names given, in the order of the table. */
    QStringList names() const { return m_values.keys(); }
    void add(const QString &name, const QString &value) { m_values[name].append(value); }
    void clear(const QString &name) { m_values.remove(name); }

private:
    QMap<QString, QStringList> m_values;
};

/**
 * @brief Reads @p arguments (without the program's name): "--name value", "--name=value", "-x
 * value", flags, and positional arguments (a negative number such as -5 is one, and so is all
 * after "--"). An unknown option or a missing value is a UsageError; an option that is not
 * repeatable keeps the last value given. Values are not judged here.
 */
Args parse(const QList<Option> &table, const QStringList &arguments);

/**
 * @brief Judges @p args for @p command: every option given must belong to it and pass its check.
 * Several table rows may share a name when they serve different commands.
 */
void validate(const QList<Option> &table, const QString &command, const Args &args);

/** @brief The row of @p name that serves @p command, or nullptr. */
const Option *find(const QList<Option> &table, const QString &name, const QString &command = {});

/**
 * @brief The help of the options that @p command takes (every option when it is empty): one
 * block per option with its value, what it wants, its help and its default for that command.
 */
QString optionsHelp(const QList<Option> &table, const QString &command = {});

/** @brief @p text in lines of at most 78 columns, each indented by @p indent blanks. */
QString wrapped(const QString &text, int indent);

/** @brief Prints "PROGRAM: TEXT" and "Try 'PROGRAM --help'." on standard error; returns 2. */
int reportUsageError(const QString &program, const QString &text, const QString &helpCommand = {});

} // namespace cmdline
