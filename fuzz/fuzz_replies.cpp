// Fuzz target: both reply decoders, fed an arbitrary last-sent frame and an arbitrary reply, in
// both languages, with the log formatting and the chart rule behind them.
#include "frames.h"
#include "fuzzcheck.h"
#include "replies.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Program text in a red block: everything else must arrive escaped.
const QString kRedTags[]
    = { QStringLiteral("<font color='red'>"), QStringLiteral("<br>"), QStringLiteral("</font>") };

void checkHtml(const QString &html)
{
    QString rest = html;
    for (const QString &tag : kRedTags)
        rest.remove(tag);
    FUZZ_CHECK(!rest.contains(QLatin1Char('<')) && !rest.contains(QLatin1Char('>')));
}

// A record value goes into a comma-separated file and a workbook: it must stay one plain cell.
bool isPlainCell(const QString &value)
{
    if (value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('\n'))
        || value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('"')))
        return false;
    if (value.isEmpty())
        return true;
    const QChar first = value.front();
    if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('@')
        || first == QLatin1Char('\t'))
        return false;
    // A leading minus is a negative number, never the start of a formula.
    return first != QLatin1Char('-') || (value.size() > 1 && value.at(1).isDigit());
}

void checkResult(const replies::Result &r, const QString &clock, int showNum, bool wireText)
{
    const QString block = replies::logBlock(r, showNum, clock);
    FUZZ_CHECK(block.isEmpty() == (r.kind == replies::Kind::Nothing));
    if (r.isRed())
        checkHtml(block);
    FUZZ_CHECK(r.record.isEmpty() || r.record.size() == 5);
    FUZZ_CHECK(r.kind != replies::Kind::Measurement || r.record.size() == 5);
    // Replies come from the worker as packed hex text, so every cell they fill is plain.
    if (wireText) {
        for (const QString &cell : r.record)
            FUZZ_CHECK(isPlainCell(cell));
    }
    if (r.newAddressIndex)
        FUZZ_CHECK(*r.newAddressIndex >= 0 && *r.newAddressIndex <= 0xFF);
    if (r.newAddressIndexMoudbus)
        FUZZ_CHECK(*r.newAddressIndexMoudbus >= 0 && *r.newAddressIndexMoudbus <= 0xFF);
}

QString textOf(FuzzedDataProvider &in, bool wire)
{
    const std::string bytes = in.ConsumeRandomLengthString(80);
    const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
    return wire ? frames::toPackedHex(raw) : QString::fromUtf8(raw);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // Mostly what the worker hands up; sometimes any text, which must not crash either.
    const bool wire = in.ConsumeIntegralInRange(0, 7) != 0;
    const int language = in.ConsumeIntegralInRange(0, 1);
    const int showNum = in.ConsumeIntegral<int>();
    const QString clock = frames::clockText(
        QTime::fromMSecsSinceStartOfDay(in.ConsumeIntegralInRange(0, 86399999)));

    replies::AaContext aa;
    aa.measureMode = in.ConsumeIntegralInRange(-1, 3);
    aa.modeCeliang = in.ConsumeIntegralInRange(0, 2);
    aa.measuringTimeMs = in.ConsumeIntegral<qint64>();
    aa.clock = clock;
    aa.addressSearchRunning = in.ConsumeBool();
    aa.addressI = in.ConsumeIntegralInRange(-1, 127);
    aa.baudRateText = QStringLiteral("115200");
    replies::ModbusContext mb;
    mb.measureMode = aa.measureMode;
    mb.modeCeliang = aa.modeCeliang;
    mb.measuringTimeMs = aa.measuringTimeMs;
    mb.clock = clock;
    mb.baudRateText = aa.baudRateText;

    const QString sent = textOf(in, wire);
    const QString reply = textOf(in, wire);

    for (int checkMode = 0; checkMode <= 2; ++checkMode)
        replies::routeReply(reply, checkMode);
    const replies::EchoLine echo = replies::echoLine(showNum, clock, reply, language);
    if (echo.html)
        checkHtml(echo.text);
    checkResult(replies::decodeAa(reply, aa, language), clock, showNum, wire);
    checkResult(replies::decodeModbus(reply, sent, mb, language), clock, showNum, wire);

    const int minY = in.ConsumeIntegral<int>();
    const int maxY = in.ConsumeIntegral<int>();
    const replies::ChartRange range = replies::applyDistance(minY, maxY,
        in.ConsumeIntegral<qint32>(), in.ConsumeIntegral<int>(), in.ConsumeIntegralInRange(0, 1));
    FUZZ_CHECK(range.minY <= minY);
    // MAX_Y starts at 300 and only grows while distances are positive.
    if (maxY >= 0)
        FUZZ_CHECK(range.maxY >= maxY);
    return 0;
}
