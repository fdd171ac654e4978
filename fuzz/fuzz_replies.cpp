// Fuzz target: both reply decoders and their words, fed an arbitrary last-sent frame and an
// arbitrary reply, with the records and the chart range they make in a session.
#include "core/replies.h"
#include "core/replytext.h"
#include "core/session.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// A record value goes into a comma-separated file and a workbook: it must stay one plain cell.
bool isPlainCell(const QString &value)
{
    if (value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('\n'))
        || value.contains(QLatin1Char('"')))
        return false;
    if (value.isEmpty())
        return true;
    const QChar first = value.front();
    if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('@'))
        return false;
    // A leading minus is a negative number, never the start of a formula.
    return first != QLatin1Char('-') || (value.size() > 1 && value.at(1).isDigit());
}

void check(const core::replies::Reply &r, core::Session &session, int language, bool monitoring)
{
    for (int lang = 0; lang <= 1; ++lang) {
        const QString words
            = core::replies::describe(r, core::Language(lang), QStringLiteral("9600"));
        FUZZ_CHECK(words.isEmpty()
            == (r.kind == core::replies::Kind::Nothing
                || r.kind == core::replies::Kind::NotAFrame));
    }
    FUZZ_CHECK(r.word.size() <= 2);
    if (r.newAddress)
        FUZZ_CHECK(*r.newAddress >= 0 && *r.newAddress <= 0xFF);
    FUZZ_CHECK(!r.chartPoint || r.kind == core::replies::Kind::Measurement);
    if (r.isMeasurement()) {
        core::Record record;
        record.value = qint32(r.number);
        record.signal = r.signal;
        record.error = r.isError();
        record.codeBytes = quint8(r.word.size());
        record.language = core::languageAt(language);
        session.addRecord(record);
        const QStringList cells = core::recordTexts(record);
        FUZZ_CHECK(cells.size() == 5);
        for (const QString &cell : cells)
            FUZZ_CHECK(isPlainCell(cell));
    }
    if (r.chartPoint) {
        const int minY = session.minY();
        const int maxY = session.maxY();
        const core::ChartRange range = session.addChartPoint(qint32(r.number), monitoring);
        FUZZ_CHECK(range.minY <= minY && range.maxY >= maxY && range.minY <= range.maxY);
        FUZZ_CHECK(!monitoring || (range.minY == minY && range.maxY == maxY));
    }
    session.countReply();
}

QByteArray bytesOf(FuzzedDataProvider &in)
{
    const std::string bytes = in.ConsumeRandomLengthString(40);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int language = in.ConsumeIntegralInRange(0, 1);
    const bool monitoring = in.ConsumeBool();
    core::replies::AaContext ctx;
    ctx.addressSearchRunning = in.ConsumeBool();
    ctx.lastProbedAddress = in.ConsumeIntegralInRange(-1, 127);
    const QByteArray sent = bytesOf(in);
    core::Session session;
    while (in.remaining_bytes() > 0) {
        const QByteArray reply = bytesOf(in);
        for (int checkMode = 0; checkMode <= 2; ++checkMode)
            core::replies::routeReply(reply, core::checkModeAt(checkMode));
        check(core::replies::decodeAa(reply, ctx), session, language, monitoring);
        check(core::replies::decodeModbus(reply, sent), session, language, monitoring);
    }
    FUZZ_CHECK(session.table().size() == session.records().size());
    return 0;
}
