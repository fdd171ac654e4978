// The plan file: TOML read with toml++, every mistake reported with its line and column.
#include "core/plan/plan.h"

#include "core/commands.h"
#include "core/protocol.h"

#include <QCryptographicHash>

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>

namespace core::plan {

namespace {

const char *const kQuantityNames[]
    = { "serial", "software", "hardware", "status", "voltage", "temperature", "angle", "offset" };
const char *const kSpeedNames[] = { "auto", "slow", "fast" };

/** The first mistake found; thrown so that every check is one line. */
struct Mistake
{
    toml::source_position where;
    QString message;
};

[[noreturn]] void fail(const toml::source_region &at, const QString &message)
{
    throw Mistake { at.begin, message };
}

QString qs(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString typeName(const toml::node &n)
{
    switch (n.type()) {
    case toml::node_type::table:
        return QStringLiteral("a table");
    case toml::node_type::array:
        return QStringLiteral("a list");
    case toml::node_type::string:
        return QStringLiteral("text");
    case toml::node_type::integer:
        return QStringLiteral("an integer");
    case toml::node_type::floating_point:
        return QStringLiteral("a number");
    case toml::node_type::boolean:
        return QStringLiteral("true or false");
    default:
        return QStringLiteral("a date or time");
    }
}

[[noreturn]] void wrongType(const QString &key, const toml::node &n, const char *wanted)
{
    fail(n.source(),
        QStringLiteral("\"%1\" must be %2, not %3").arg(key, QLatin1String(wanted), typeName(n)));
}

/** Refuses every key of @p table that is not in @p known, at the key. */
void onlyKeys(
    const toml::table &table, const QString &where, std::initializer_list<const char *> known)
{
    for (auto &&entry : table) {
        const toml::key &key = entry.first;
        const bool ok = std::any_of(known.begin(), known.end(),
            [&](const char *k) { return key.str() == std::string_view(k); });
        if (!ok)
            fail(
                key.source(), QStringLiteral("unknown key \"%1\" in %2").arg(qs(key.str()), where));
    }
}

const toml::table &tableAt(const toml::node &n, const QString &key)
{
    if (!n.is_table())
        wrongType(key, n, "a table");
    return *n.as_table();
}

QString text(const toml::node &n, const QString &key)
{
    if (!n.is_string())
        wrongType(key, n, "text");
    return qs(n.as_string()->get());
}

bool boolean(const toml::node &n, const QString &key)
{
    if (!n.is_boolean())
        wrongType(key, n, "true or false");
    return n.as_boolean()->get();
}

qint64 integer(const toml::node &n, const QString &key, qint64 lowest, qint64 highest)
{
    if (!n.is_integer())
        wrongType(key, n, "an integer");
    const qint64 v = n.as_integer()->get();
    if (v < lowest || v > highest)
        fail(n.source(),
            QStringLiteral("\"%1\" must be from %2 to %3, not %4")
                .arg(key)
                .arg(lowest)
                .arg(highest)
                .arg(v));
    return v;
}

double number(const toml::node &n, const QString &key)
{
    double v = 0;
    if (n.is_integer())
        v = double(n.as_integer()->get());
    else if (n.is_floating_point())
        v = n.as_floating_point()->get();
    else
        wrongType(key, n, "a number");
    if (!std::isfinite(v))
        fail(n.source(), QStringLiteral("\"%1\" must be a finite number").arg(key));
    return v;
}

Limit limitOf(const toml::node *min, const toml::node *max, const toml::node *marginal,
    const QString &key, const toml::source_region &at)
{
    Limit l;
    if (min)
        l.min = number(*min, key + QStringLiteral(".min"));
    if (max)
        l.max = number(*max, key + QStringLiteral(".max"));
    if (!l.isSet())
        fail(at, QStringLiteral("\"%1\" needs min or max").arg(key));
    if (l.min && l.max && *l.min > *l.max)
        fail(at, QStringLiteral("\"%1\": min %2 is above max %3").arg(key).arg(*l.min).arg(*l.max));
    if (marginal) {
        l.marginal = number(*marginal, key + QStringLiteral(".marginal"));
        if (*l.marginal < 0)
            fail(marginal->source(),
                QStringLiteral("\"%1.marginal\" must not be negative").arg(key));
    }
    return l;
}

Limit limit(const toml::node &n, const QString &key)
{
    const toml::table &t = tableAt(n, key);
    onlyKeys(t, QStringLiteral("\"%1\" (a limit has min, max, marginal)").arg(key),
        { "min", "max", "marginal" });
    return limitOf(t.get("min"), t.get("max"), t.get("marginal"), key, n.source());
}

Speed speed(const toml::node &n, const QString &key)
{
    const QString s = text(n, key);
    for (int i = 0; i < 3; ++i)
        if (s == QLatin1String(kSpeedNames[i]))
            return Speed(i);
    fail(n.source(), QStringLiteral("\"%1\" must be auto, slow or fast, not \"%2\"").arg(key, s));
}

int baud(const toml::node &n, const QString &key)
{
    const qint64 v = integer(n, key, 1, 1 << 30);
    if (!protocol::baudCode(int(v)))
        fail(n.source(),
            QStringLiteral("\"%1\" %2 is not a speed the module knows (2400 to 115200)")
                .arg(key)
                .arg(v));
    return int(v);
}

int address(const toml::node &n, const QString &key, CheckMode checkMode)
{
    const protocol::AddressRange range = protocol::addressRange(checkMode);
    return int(integer(n, key, range.first, range.last));
}

void readStep(const toml::table &t, const toml::node &reads, TestStep &step)
{
    auto add = [&](const toml::node &n) {
        const QString name = text(n, QStringLiteral("read"));
        const auto q = quantityFromName(name);
        if (!q)
            fail(n.source(),
                QStringLiteral("unknown read \"%1\" (serial, software, hardware, status, voltage, "
                               "temperature, angle, offset)")
                    .arg(name));
        step.reads << *q;
    };
    if (const toml::array *list = reads.as_array()) {
        for (const toml::node &n : *list)
            add(n);
        if (step.reads.isEmpty())
            fail(reads.source(), QStringLiteral("\"read\" names nothing"));
    } else {
        add(reads);
    }
    const toml::node *min = t.get("min");
    const toml::node *max = t.get("max");
    const toml::node *marginal = t.get("marginal");
    const toml::node *unit = t.get("unit");
    if (!min && !max) {
        if (marginal || unit)
            fail((marginal ? marginal : unit)->source(),
                QStringLiteral("\"marginal\" and \"unit\" belong to a read with min or max"));
        return;
    }
    const toml::node &first = min ? *min : *max;
    if (step.reads.size() != 1 || !isNumeric(step.reads.first()))
        fail(first.source(),
            QStringLiteral(
                "limits need one read of a number (voltage, temperature, angle, offset)"));
    step.limit = limitOf(min, max, marginal, QStringLiteral("read"), first.source());
    step.unit = unit ? text(*unit, QStringLiteral("unit")) : defaultUnit(step.reads.first());
}

void measurementLimits(const toml::table &t, TestStep &step, const toml::node &at)
{
    if (const toml::node *n = t.get("mean_error"))
        step.meanError = limit(*n, QStringLiteral("mean_error"));
    if (const toml::node *n = t.get("sigma")) {
        step.sigma = limit(*n, QStringLiteral("sigma"));
    }
    if (const toml::node *n = t.get("errors"))
        step.errors = limit(*n, QStringLiteral("errors"));
    if (step.meanError.isSet() && !step.referenceMm)
        fail(at.source(), QStringLiteral("\"mean_error\" needs \"reference_mm\""));
}

TestStep step(const toml::table &t, int index, CheckMode checkMode)
{
    TestStep s;
    s.line = int(t.source().begin.line);
    s.column = int(t.source().begin.column);
    s.name = QStringLiteral("step %1").arg(index + 1);
    const char *kinds[] = { "read", "measure", "calibrate", "set" };
    const toml::node *kindNode = nullptr;
    for (int k = 0; k < 4; ++k) {
        const toml::node *n = t.get(kinds[k]);
        if (!n)
            continue;
        if (kindNode)
            fail(n->source(),
                QStringLiteral("a step is one of read, measure, calibrate, set; this one has two"));
        kindNode = n;
        s.kind = TestStep::Kind(k);
    }
    if (!kindNode)
        fail(t.source(), QStringLiteral("a step needs one of read, measure, calibrate, set"));
    if (const toml::node *n = t.get("name"))
        s.name = text(*n, QStringLiteral("name"));
    if (const toml::node *n = t.get("retries"))
        s.retries = int(integer(*n, QStringLiteral("retries"), 0, 100));

    switch (s.kind) {
    case TestStep::Kind::Read:
        onlyKeys(t, QStringLiteral("a read step"),
            { "name", "retries", "read", "min", "max", "marginal", "unit" });
        readStep(t, *kindNode, s);
        break;
    case TestStep::Kind::Measure: {
        onlyKeys(t, QStringLiteral("a measure step"),
            { "name", "retries", "measure", "reference_mm", "mean_error", "sigma", "errors" });
        const toml::table &m = tableAt(*kindNode, QStringLiteral("measure"));
        onlyKeys(m, QStringLiteral("\"measure\""), { "count", "speed" });
        const toml::node *count = m.get("count");
        if (!count)
            fail(kindNode->source(), QStringLiteral("\"measure\" needs a count"));
        s.count = int(integer(*count, QStringLiteral("measure.count"), 1, 100000));
        if (const toml::node *n = m.get("speed"))
            s.speed = speed(*n, QStringLiteral("measure.speed"));
        if (const toml::node *n = t.get("reference_mm"))
            s.referenceMm = number(*n, QStringLiteral("reference_mm"));
        measurementLimits(t, s, *kindNode);
        break;
    }
    case TestStep::Kind::Calibrate: {
        onlyKeys(t, QStringLiteral("a calibrate step"),
            { "name", "retries", "calibrate", "mean_error", "sigma", "errors" });
        const toml::table &c = tableAt(*kindNode, QStringLiteral("calibrate"));
        onlyKeys(
            c, QStringLiteral("\"calibrate\""), { "reference_mm", "count", "max_change", "speed" });
        const toml::node *reference = c.get("reference_mm");
        if (!reference)
            fail(kindNode->source(), QStringLiteral("\"calibrate\" needs reference_mm"));
        s.referenceMm = number(*reference, QStringLiteral("calibrate.reference_mm"));
        s.count = 10;
        if (const toml::node *n = c.get("count"))
            s.count = int(integer(*n, QStringLiteral("calibrate.count"), 1, 100000));
        if (const toml::node *n = c.get("max_change")) {
            s.maxChange = number(*n, QStringLiteral("calibrate.max_change"));
            if (*s.maxChange < 0)
                fail(n->source(), QStringLiteral("\"calibrate.max_change\" must not be negative"));
        }
        if (const toml::node *n = c.get("speed"))
            s.speed = speed(*n, QStringLiteral("calibrate.speed"));
        measurementLimits(t, s, *kindNode);
        break;
    }
    case TestStep::Kind::Set: {
        onlyKeys(t, QStringLiteral("a set step"), { "name", "retries", "set" });
        const toml::table &c = tableAt(*kindNode, QStringLiteral("set"));
        onlyKeys(c, QStringLiteral("\"set\""), { "address", "baud", "offset", "laser" });
        if (c.empty())
            fail(kindNode->source(), QStringLiteral("\"set\" names nothing to set"));
        if (const toml::node *n = c.get("address"))
            s.setAddress = address(*n, QStringLiteral("set.address"), checkMode);
        if (const toml::node *n = c.get("baud"))
            s.setBaud = baud(*n, QStringLiteral("set.baud"));
        if (const toml::node *n = c.get("offset"))
            s.setOffset = int(integer(*n, QStringLiteral("set.offset"), -32768, 32767));
        if (const toml::node *n = c.get("laser"))
            s.setLaser = boolean(*n, QStringLiteral("set.laser"));
        break;
    }
    }
    return s;
}

Plan planOf(const toml::table &root)
{
    onlyKeys(root, QStringLiteral("the plan (it has [plan], [link], [[step]])"),
        { "plan", "link", "step" });
    Plan plan;
    if (const toml::node *n = root.get("plan")) {
        const toml::table &t = tableAt(*n, QStringLiteral("plan"));
        onlyKeys(t, QStringLiteral("[plan]"), { "name", "version", "continue_on_fail" });
        if (const toml::node *v = t.get("name"))
            plan.name = text(*v, QStringLiteral("name"));
        if (const toml::node *v = t.get("version"))
            plan.version = text(*v, QStringLiteral("version"));
        if (const toml::node *v = t.get("continue_on_fail"))
            plan.continueOnFail = boolean(*v, QStringLiteral("continue_on_fail"));
    }
    const toml::table *link = nullptr;
    if (const toml::node *n = root.get("link")) {
        link = &tableAt(*n, QStringLiteral("link"));
        onlyKeys(*link, QStringLiteral("[link]"), { "check", "baud", "address", "timeout_ms" });
        if (const toml::node *v = link->get("check")) {
            const QString check = text(*v, QStringLiteral("check"));
            const std::optional<CheckMode> mode = checkModeFromWord(check);
            if (!mode)
                fail(v->source(),
                    QStringLiteral("\"check\" must be none or crc, not \"%1\"").arg(check));
            plan.link.checkMode = *mode;
        }
        if (const toml::node *v = link->get("baud"))
            plan.link.baud = baud(*v, QStringLiteral("baud"));
        // A Modbus module leaves the factory at address 1.
        plan.link.address = protocol::addressRange(plan.link.checkMode).factory;
        if (const toml::node *v = link->get("address"))
            plan.link.address = address(*v, QStringLiteral("address"), plan.link.checkMode);
        if (const toml::node *v = link->get("timeout_ms"))
            plan.link.timeoutMs = int(integer(*v, QStringLiteral("timeout_ms"), 1, 600000));
    }
    const toml::node *steps = root.get("step");
    if (!steps)
        fail(root.source(), QStringLiteral("the plan has no [[step]]"));
    const toml::array *list = steps->as_array();
    if (!list)
        wrongType(QStringLiteral("step"), *steps, "a list of tables ([[step]])");
    for (const toml::node &n : *list)
        plan.steps << step(
            tableAt(n, QStringLiteral("step")), int(plan.steps.size()), plan.link.checkMode);
    if (plan.steps.isEmpty())
        fail(steps->source(), QStringLiteral("the plan has no [[step]]"));
    return plan;
}

QString located(const QString &fileName, const toml::source_position &at, const QString &message)
{
    return QStringLiteral("%1:%2:%3: %4")
        .arg(fileName)
        .arg(qMax<quint32>(1, at.line))
        .arg(qMax<quint32>(1, at.column))
        .arg(message);
}

} // namespace

QString quantityName(Quantity q)
{
    return QLatin1String(kQuantityNames[int(q)]);
}

std::optional<Quantity> quantityFromName(const QString &name)
{
    for (int i = 0; i < int(std::size(kQuantityNames)); ++i)
        if (name == QLatin1String(kQuantityNames[i]))
            return Quantity(i);
    return std::nullopt;
}

bool isNumeric(Quantity q)
{
    return q == Quantity::Voltage || q == Quantity::Temperature || q == Quantity::Angle
        || q == Quantity::Offset;
}

QString defaultUnit(Quantity q)
{
    switch (q) {
    case Quantity::Voltage:
        return QStringLiteral("mV");
    case Quantity::Temperature:
        return QStringLiteral("°C");
    case Quantity::Angle:
        return QStringLiteral("°");
    case Quantity::Offset:
        return QStringLiteral("mm");
    default:
        return QString();
    }
}

Parsed parsePlan(const QByteArray &bytes, const QString &fileName)
{
    Parsed out;
    const std::string_view doc(bytes.constData(), size_t(bytes.size()));
    try {
        const toml::table root = toml::parse(doc, fileName.toStdString());
        Plan plan = planOf(root);
        plan.sha256 = QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        out.plan = plan;
    } catch (const toml::parse_error &e) {
        out.error = located(fileName, e.source().begin, qs(e.description()));
    } catch (const Mistake &m) {
        out.error = located(fileName, m.where, m.message);
    }
    return out;
}

} // namespace core::plan
