// Command-line options from one table: the parser, the checks and the help all read it.
#include "cmdline/options.h"

#include <QRegularExpression>

#include <cstdio>

namespace cmdline {

namespace {

bool isNegativeNumber(const QString &a)
{
    static const QRegularExpression number(QStringLiteral("^-[0-9]+(\\.[0-9]*)?$"));
    return number.match(a).hasMatch();
}

const Option *byShortName(const QList<Option> &table, QChar c)
{
    for (const Option &o : table)
        if (!o.shortName.isNull() && o.shortName == c)
            return &o;
    return nullptr;
}

QString dashed(const QString &name)
{
    return QStringLiteral("--") + name;
}

} // namespace

Check wholeNumber(qint64 low, qint64 high)
{
    return { QStringLiteral("a whole number from %1 to %2").arg(low).arg(high),
        [low, high](const QString &v) {
            bool ok = false;
            const qint64 n = v.trimmed().toLongLong(&ok);
            return ok && n >= low && n <= high;
        } };
}

Check decimal(double low, double high)
{
    return { QStringLiteral("a number from %1 to %2")
                 .arg(QString::number(low, 'g', 12), QString::number(high, 'g', 12)),
        [low, high](const QString &v) {
            bool ok = false;
            const double n = v.trimmed().toDouble(&ok);
            return ok && n >= low && n <= high;
        } };
}

Check oneOf(const QStringList &words)
{
    return { words.join(QLatin1Char('|')),
        [words](const QString &v) { return words.contains(v); } };
}

Check nonEmpty(const QString &wants)
{
    return { wants, [](const QString &v) { return !v.trimmed().isEmpty(); } };
}

Check hexNumber(quint64 high)
{
    return {
        QStringLiteral("a hexadecimal number up to %1").arg(QString::number(high, 16).toUpper()),
        [high](const QString &v) {
            bool ok = false;
            const quint64 n = v.trimmed().toULongLong(&ok, 16);
            return ok && n <= high;
        }
    };
}

const Option *find(const QList<Option> &table, const QString &name, const QString &command)
{
    const Option *any = nullptr;
    for (const Option &o : table) {
        if (o.name != name)
            continue;
        if (command.isEmpty() || o.belongsTo(command))
            return &o;
        any = any ? any : &o;
    }
    return command.isEmpty() ? any : nullptr;
}

Args parse(const QList<Option> &table, const QStringList &arguments)
{
    Args args;
    bool optionsEnd = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString a = arguments.at(i);
        if (optionsEnd || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")
            || isNegativeNumber(a)) {
            args.positional << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        QString name;
        QString value;
        bool hasValue = false;
        const Option *option = nullptr;
        if (a.startsWith(QLatin1String("--"))) {
            name = a.mid(2);
            const qsizetype eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
                hasValue = true;
            }
            option = find(table, name);
        } else if (a.size() == 2) {
            option = byShortName(table, a.at(1));
            name = option ? option->name : a;
        }
        if (name == QLatin1String("help") || a == QLatin1String("-h")) {
            args.help = true;
            continue;
        }
        if (name == QLatin1String("version")) {
            args.version = true;
            continue;
        }
        if (!option)
            throw UsageError { QStringLiteral("unknown option \"%1\"").arg(a) };
        if (option->valueName.isEmpty()) {
            if (hasValue)
                throw UsageError { QStringLiteral("%1 takes no value").arg(dashed(name)) };
        } else if (!hasValue) {
            if (i + 1 >= arguments.size())
                throw UsageError {
                    QStringLiteral("%1 wants %2").arg(dashed(name), option->check.wants)
                };
            value = arguments.at(++i);
        }
        // Given again, a single option takes its last value, as scripts that add to a base
        // command line expect.
        if (!option->repeatable)
            args.clear(name);
        args.add(name, value);
    }
    return args;
}

void validate(const QList<Option> &table, const QString &command, const Args &args)
{
    for (const QString &name : args.names()) {
        const Option *option = find(table, name, command);
        if (!option) {
            QStringList owners;
            for (const Option &o : table)
                if (o.name == name)
                    owners << o.commands;
            throw UsageError { QStringLiteral("%1 belongs to %2, not %3")
                                   .arg(dashed(name), owners.join(QStringLiteral(", ")), command) };
        }
        if (option->valueName.isEmpty())
            continue;
        for (const QString &value : args.values(name))
            if (!option->check.accepts(value))
                throw UsageError { QStringLiteral("%1 wants %2, not \"%3\"")
                                       .arg(dashed(name), option->check.wants, value) };
    }
}

QString optionsHelp(const QList<Option> &table, const QString &command)
{
    QString out;
    QStringList shown;
    for (const Option &o : table) {
        if (!command.isEmpty() ? !o.belongsTo(command) : shown.contains(o.name))
            continue;
        shown << o.name;
        QString head = QStringLiteral("  ");
        head += o.shortName.isNull() ? QString() : QStringLiteral("-%1, ").arg(o.shortName);
        head += dashed(o.name);
        if (!o.valueName.isEmpty())
            head += QLatin1Char(' ') + o.valueName;
        QString text = o.help;
        if (!o.valueName.isEmpty() && !o.check.wants.isEmpty())
            text += QStringLiteral(" (%1)").arg(o.check.wants);
        const QString def = command.isEmpty() ? o.defaultText : o.defaultFor(command);
        if (!def.isEmpty())
            text += QStringLiteral(" Default: %1.").arg(def);
        if (command.isEmpty() && !o.commands.isEmpty())
            text += QStringLiteral(" [%1]").arg(o.commands.join(QStringLiteral(", ")));
        out += head + QLatin1Char('\n') + wrapped(text, 6);
    }
    return out;
}

QString wrapped(const QString &text, int indent)
{
    const QString margin(indent, QLatin1Char(' '));
    QString out;
    QString line = margin;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (line.size() + word.size() > 78 && line.size() > indent) {
            out += line.chopped(1) + QLatin1Char('\n');
            line = margin;
        }
        line += word + QLatin1Char(' ');
    }
    return line.size() > indent ? out + line.chopped(1) + QLatin1Char('\n') : out;
}

int reportUsageError(const QString &program, const QString &text, const QString &helpCommand)
{
    std::fprintf(stderr, "%s: %s\nTry '%s%s --help'.\n", qPrintable(program), qPrintable(text),
        qPrintable(program),
        qPrintable(helpCommand.isEmpty() ? QString() : QLatin1Char(' ') + helpCommand));
    return 2;
}

} // namespace cmdline
