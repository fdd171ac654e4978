// Opening a results database, its schema, and saving and loading whole runs.
#include "store/store.h"
#include "store/schema.h"
#include "store/store_p.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QtEndian>

namespace store {

using namespace core::plan;

const char *const Store::Private::kStatements[StatementCount] = {
    // The server keeps the first copy of a run: a second upload of it changes nothing.
    "INSERT INTO runs (uuid, plan_name, plan_version, plan_sha256, station, operator, lot, port,"
    " serial, software, hardware, start_ms, start_offset, end_ms, end_offset, outcome)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (uuid) DO NOTHING RETURNING id",
    "INSERT INTO steps (run_id, idx, name, outcome) VALUES (?, ?, ?, ?)",
    "INSERT INTO attempts (run_id, step_idx, idx, start_ms, start_offset, end_ms, end_offset,"
    " outcome, message) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
    "INSERT INTO samples (run_id, step_idx, attempt_idx, data) VALUES (?, ?, ?, ?)",
    "INSERT INTO measurements (run_id, step_idx, attempt_idx, idx, step, name, value, text_value,"
    " unit, min, max, marginal, outcome) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
};

const char Store::Private::kRunColumns[]
    = "uuid, plan_name, plan_version, plan_sha256, station, operator, lot, port, serial, software,"
      " hardware, start_ms, start_offset, end_ms, end_offset, outcome";

namespace {

QAtomicInt connectionCount;

QVariant msOf(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch())
                          : QVariant(QMetaType::fromType<qlonglong>());
}

QVariant offsetOf(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.offsetFromUtc()) : QVariant(QMetaType::fromType<int>());
}

QDateTime timeOf(const QVariant &ms, const QVariant &offset)
{
    return ms.isNull()
        ? QDateTime()
        : QDateTime::fromMSecsSinceEpoch(ms.toLongLong(), Qt::OffsetFromUTC, offset.toInt());
}

// Qt binds a null text as NULL; a field left empty is stored as empty text.
QVariant textOf(const QString &text)
{
    return text.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(text);
}

QVariant optionalOf(const std::optional<double> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}

std::optional<double> optionalFrom(const QVariant &v)
{
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}

Outcome outcomeFrom(const QVariant &v)
{
    return outcomeFromName(v.toString()).value_or(Outcome::None);
}

QByteArray packSamples(const QList<qint32> &samples)
{
    QByteArray data(samples.size() * 4, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint32>(samples[i], data.data() + 4 * i);
    return data;
}

QList<qint32> unpackSamples(const QByteArray &data)
{
    QList<qint32> samples(data.size() / 4);
    for (qsizetype i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<qint32>(data.constData() + 4 * i);
    return samples;
}

} // namespace

RunRecord runFromRow(const QSqlQuery &q, int c)
{
    RunRecord run;
    run.id = q.value(c).toString();
    run.plan = { q.value(c + 1).toString(), q.value(c + 2).toString(), q.value(c + 3).toString() };
    run.station = q.value(c + 4).toString();
    run.operatorName = q.value(c + 5).toString();
    run.lot = q.value(c + 6).toString();
    run.port = q.value(c + 7).toString();
    run.unit = { q.value(c + 8).toString(), q.value(c + 9).toString(), q.value(c + 10).toString() };
    run.startTime = timeOf(q.value(c + 11), q.value(c + 12));
    run.endTime = timeOf(q.value(c + 13), q.value(c + 14));
    run.outcome = outcomeFrom(q.value(c + 15));
    return run;
}

bool Store::Private::failed(const QSqlQuery &query, const QString &what)
{
    const QSqlError e = query.lastError().isValid() ? query.lastError() : db().lastError();
    error = QStringLiteral("%1: %2: %3").arg(where.describe(), what, e.text());
    broken = true;
    return false;
}

bool Store::Private::run(QSqlQuery &query, const QString &sql, const QVariantList &values)
{
    // Statements without values go as they are: PostgreSQL prepares no BEGIN or COMMIT.
    const QString what = sql.section(QLatin1Char(' '), 0, 2);
    if (values.isEmpty())
        return query.exec(sql) || failed(query, what);
    if (!query.prepare(sql))
        return failed(query, what);
    for (const QVariant &v : values)
        query.addBindValue(v);
    return query.exec() || failed(query, what);
}

QSqlQuery *Store::Private::statement(Statement which)
{
    if (!prepared[which]) {
        prepared[which].emplace(db());
        if (!prepared[which]->prepare(QLatin1String(kStatements[which]))) {
            failed(*prepared[which], QStringLiteral("preparing a statement"));
            prepared[which].reset();
            return nullptr;
        }
    }
    return &*prepared[which];
}

bool Store::Private::begin()
{
    QSqlQuery q(db());
    return run(q,
        where.backend == Backend::Sqlite ? QStringLiteral("BEGIN IMMEDIATE")
                                         : QStringLiteral("BEGIN"));
}

bool Store::Private::commit()
{
    QSqlQuery q(db());
    return run(q, QStringLiteral("COMMIT"));
}

void Store::Private::rollback()
{
    QSqlQuery q(db());
    q.exec(QStringLiteral("ROLLBACK"));
}

void Store::Private::disconnect()
{
    for (auto &q : prepared)
        q.reset();
    if (!connection.isEmpty()) {
        db().close();
        QSqlDatabase::removeDatabase(connection);
    }
    connection.clear();
}

bool Store::Private::connect()
{
    disconnect();
    const bool sqlite = where.backend == Backend::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        error = QStringLiteral("Qt's %1 driver is missing (Debian package %2)")
                    .arg(driver, sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql");
        return false;
    }
    connection = QStringLiteral("tovandrix-store-%1").arg(connectionCount.fetchAndAddRelaxed(1));
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection);
    if (sqlite) {
        if (!QDir().mkpath(QFileInfo(where.path).absolutePath())) {
            error = QStringLiteral("%1: cannot make its folder").arg(where.path);
            return false;
        }
        db.setDatabaseName(where.path);
        // Another process of the station (a sync beside a test) may hold the write lock a moment.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(where.host);
        db.setPort(where.port);
        db.setDatabaseName(where.database);
        db.setUserName(where.user);
        db.setConnectOptions(where.options);
        if (!password.isEmpty())
            db.setPassword(password);
    }
    if (!db.open()) {
        error = QStringLiteral("%1: %2").arg(where.describe(), db.lastError().text());
        return false;
    }
    broken = false;
    // Each commit waits until the disk has it; a connection made anew after a failure too.
    QSqlQuery q(db);
    return !sqlite || run(q, QStringLiteral("PRAGMA synchronous=FULL"));
}

bool Store::Private::ready()
{
    // A server restarted since the last call leaves a connection that only fails when used:
    // one round trip finds out before anything is sent that matters.
    if (!broken && !connection.isEmpty() && where.backend == Backend::Postgres)
        broken = !QSqlQuery(db()).exec(QStringLiteral("SELECT 1"));
    return (!broken && !connection.isEmpty()) || connect();
}

std::unique_ptr<Store> Store::open(const Location &where, QString *error, const QString &password)
{
    auto d = std::make_unique<Private>();
    d->where = where;
    d->password = password;
    auto readVersion = [&d](int *version) {
        *version = 0;
        if (!d->db().tables().contains(QStringLiteral("schema_version")))
            return true;
        QSqlQuery q(d->db());
        if (!d->run(q, QStringLiteral("SELECT MAX(version) FROM schema_version")))
            return false;
        *version = q.next() ? q.value(0).toInt() : 0;
        return true;
    };
    const bool sqlite = where.backend == Backend::Sqlite;
    int version = 0;
    bool ok = d->connect() && readVersion(&version);
    // Checked before anything is written: a newer program's database is left exactly as it is.
    if (ok && version > schema::kVersion) {
        d->error = QStringLiteral("%1 holds results of schema version %2, newer than this "
                                  "program's %3; it is left as it is: use a newer Tovandrix")
                       .arg(where.describe())
                       .arg(version)
                       .arg(schema::kVersion);
        ok = false;
    }
    QSqlQuery q(d->db());
    if (ok && sqlite) {
        ok = d->run(q, QStringLiteral("PRAGMA journal_mode=WAL")) && q.next()
            && q.value(0).toString() == QLatin1String("wal");
        if (!ok && d->error.isEmpty())
            d->error = where.path + QStringLiteral(": cannot keep a write-ahead log");
    }
    if (ok && version < schema::kVersion) {
        // Another station may be creating the same tables on the server at this moment.
        ok = d->begin()
            && (sqlite || d->run(q, QStringLiteral("SELECT pg_advisory_xact_lock(7438101)")))
            && readVersion(&version);
        for (int v = version + 1; ok && v <= schema::kVersion; ++v) {
            for (const QString &sql : schema::migration(v, where.backend))
                ok = ok && d->run(q, sql);
            ok = ok && d->run(q, QStringLiteral("UPDATE schema_version SET version = ?"), { v });
        }
        ok = ok && d->commit();
        if (!ok)
            d->rollback();
    }
    q = QSqlQuery();
    if (!ok) {
        if (error)
            *error = d->error;
        d->disconnect();
        return nullptr;
    }
    return std::unique_ptr<Store>(new Store(std::move(d)));
}

Store::Store(std::unique_ptr<Private> d)
    : d(std::move(d))
{
}

Store::~Store()
{
    d->disconnect();
}

const Location &Store::location() const
{
    return d->where;
}

QString Store::errorString() const
{
    return d->error;
}

Saved Store::save(const RunRecord &run)
{
    return save(QList<RunRecord> { run }).constFirst();
}

QList<Saved> Store::save(const QList<RunRecord> &runs)
{
    QList<Saved> saved;
    if (!runs.isEmpty() && d->ready() && d->begin()) {
        for (const RunRecord &run : runs) {
            const std::optional<Saved> one = d->insert(run);
            if (!one)
                break;
            saved.append(*one);
        }
        // One commit, one flush to the disk, however many runs it holds; nothing to commit when
        // every run was there.
        const bool whole = saved.size() == runs.size();
        if (whole && saved.contains(Saved::Stored) && d->commit())
            return saved;
        d->rollback();
        if (whole && !saved.contains(Saved::Stored))
            return saved;
    }
    return QList<Saved>(runs.size(), Saved::Failed);
}

std::optional<Saved> Store::Private::insert(const RunRecord &run)
{
    QSqlQuery *q = statement(InsertRun);
    if (!q)
        return std::nullopt;
    for (const QVariant &v : { textOf(run.id), textOf(run.plan.name), textOf(run.plan.version),
             textOf(run.plan.sha256), textOf(run.station), textOf(run.operatorName),
             textOf(run.lot), textOf(run.port), textOf(run.unit.serial), textOf(run.unit.software),
             textOf(run.unit.hardware), msOf(run.startTime), offsetOf(run.startTime),
             msOf(run.endTime), offsetOf(run.endTime), QVariant(outcomeName(run.outcome)) })
        q->addBindValue(v);
    if (!q->exec()) {
        failed(*q, QStringLiteral("storing run ") + run.id);
        return std::nullopt;
    }
    if (!q->next()) {
        q->finish();
        return Saved::AlreadyThere;
    }
    const qint64 id = q->value(0).toLongLong();
    q->finish();
    auto add = [this](Statement which, const QVariantList &values) {
        QSqlQuery *q = statement(which);
        if (!q)
            return false;
        for (const QVariant &v : values)
            q->addBindValue(v);
        return q->exec() || failed(*q, QStringLiteral("storing a run"));
    };
    for (int s = 0; s < run.steps.size(); ++s) {
        const Step &step = run.steps[s];
        if (!add(InsertStep, { id, s, textOf(step.name), outcomeName(step.outcome) }))
            return std::nullopt;
        for (int a = 0; a < step.attempts.size(); ++a) {
            const Attempt &at = step.attempts[a];
            if (!add(InsertAttempt,
                    { id, s, a, msOf(at.startTime), offsetOf(at.startTime), msOf(at.endTime),
                        offsetOf(at.endTime), outcomeName(at.outcome), textOf(at.message) })
                || !add(InsertSamples, { id, s, a, packSamples(at.samples) }))
                return std::nullopt;
            for (int m = 0; m < at.measurements.size(); ++m) {
                const Measurement &ms = at.measurements[m];
                if (!add(InsertMeasurement,
                        { id, s, a, m, textOf(step.name), textOf(ms.name), optionalOf(ms.value),
                            ms.text.isNull() ? QVariant(QMetaType::fromType<QString>())
                                             : QVariant(ms.text),
                            textOf(ms.unit), optionalOf(ms.min), optionalOf(ms.max),
                            optionalOf(ms.marginal), outcomeName(ms.outcome) }))
                    return std::nullopt;
            }
        }
    }
    return Saved::Stored;
}

std::optional<RunRecord> Store::load(const QString &uuid)
{
    if (!d->ready())
        return std::nullopt;
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (!d->run(q,
            QStringLiteral("SELECT id, %1 FROM runs WHERE uuid = ?").arg(Private::kRunColumns),
            { uuid })
        || !q.next())
        return std::nullopt;
    const qint64 id = q.value(0).toLongLong();
    RunRecord run = runFromRow(q, 1);
    const QVariantList key { id };
    if (!d->run(q, QStringLiteral("SELECT name, outcome FROM steps WHERE run_id = ? ORDER BY idx"),
            key))
        return std::nullopt;
    while (q.next())
        run.steps.append({ q.value(0).toString(), outcomeFrom(q.value(1)), {} });
    // Every child row names its step and attempt by place, so each lands where it was.
    auto attemptAt = [&run](const QSqlQuery &q) -> Attempt * {
        const int s = q.value(0).toInt(), a = q.value(1).toInt();
        if (s < 0 || s >= run.steps.size())
            return nullptr;
        QList<Attempt> &attempts = run.steps[s].attempts;
        return a >= 0 && a < attempts.size() ? &attempts[a] : nullptr;
    };
    if (!d->run(q,
            QStringLiteral(
                "SELECT step_idx, idx, start_ms, start_offset, end_ms, end_offset,"
                " outcome, message FROM attempts WHERE run_id = ? ORDER BY step_idx, idx"),
            key))
        return std::nullopt;
    while (q.next()) {
        const int s = q.value(0).toInt();
        if (s >= 0 && s < run.steps.size())
            run.steps[s].attempts.append(
                { timeOf(q.value(2), q.value(3)), timeOf(q.value(4), q.value(5)),
                    outcomeFrom(q.value(6)), {}, {}, q.value(7).toString() });
    }
    if (!d->run(q,
            QStringLiteral("SELECT step_idx, attempt_idx, data FROM samples WHERE run_id = ?"),
            key))
        return std::nullopt;
    while (q.next())
        if (Attempt *a = attemptAt(q))
            a->samples = unpackSamples(q.value(2).toByteArray());
    if (!d->run(q,
            QStringLiteral("SELECT step_idx, attempt_idx, name, value, text_value, unit, min, max,"
                           " marginal, outcome FROM measurements WHERE run_id = ?"
                           " ORDER BY step_idx, attempt_idx, idx"),
            key))
        return std::nullopt;
    while (q.next()) {
        Attempt *a = attemptAt(q);
        if (!a)
            continue;
        Measurement m { q.value(2).toString(), optionalFrom(q.value(3)), q.value(4).toString(),
            q.value(5).toString(), optionalFrom(q.value(6)), optionalFrom(q.value(7)),
            optionalFrom(q.value(8)), outcomeFrom(q.value(9)) };
        if (!q.value(4).isNull() && m.text.isNull())
            m.text = QLatin1String(""); // an empty text value stays a text, not a missing one
        a->measurements.append(m);
    }
    return run;
}

} // namespace store
