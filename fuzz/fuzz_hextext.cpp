// Fuzz target: the command-text converter and the hex text helpers, on arbitrary text and on the
// text of arbitrary bytes.
#include "core/frames.h"
#include "core/protocol.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

bool isHexDigit(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

// What the operator typed: any text, read as UTF-8 or as raw UTF-16 units (lone surrogates too).
void checkText(const QString &text)
{
    const QByteArray bytes = core::frames::fromHexText(text);
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    FUZZ_CHECK(bytes.size() == (digits.size() + 1) / 2);

    const bool strict = core::frames::isStrictHexText(text);
    bool allHex = !digits.isEmpty() && digits.size() % 2 == 0;
    for (const QChar c : std::as_const(digits))
        allHex = allHex && isHexDigit(c);
    FUZZ_CHECK(strict == allHex);
    // Strict text is exactly the bytes it spells: no digit is lost or turned into a zero byte.
    if (strict)
        FUZZ_CHECK(core::frames::toPackedHex(bytes) == digits.toUpper());

    core::frames::spacedPairs(text);
}

// Bytes on the wire: every way of writing them reads back as the same bytes.
void checkBytes(const QByteArray &bytes)
{
    const QString spaced = core::frames::toHexText(bytes);
    const QString packed = core::frames::toPackedHex(bytes);
    FUZZ_CHECK(packed.size() == 2 * bytes.size());
    FUZZ_CHECK(spaced.size() == (bytes.isEmpty() ? 0 : 3 * bytes.size() - 1));
    FUZZ_CHECK(core::frames::fromHexText(spaced) == bytes);
    FUZZ_CHECK(core::frames::fromHexText(packed) == bytes);
    FUZZ_CHECK(core::frames::spacedPairs(packed) == spaced);
    FUZZ_CHECK(core::frames::isStrictHexText(spaced) == !bytes.isEmpty());
    FUZZ_CHECK(core::protocol::checkCrc(core::protocol::appendCrc(bytes)));
    const quint8 sum = core::protocol::sum8(bytes.constData(), bytes.size());
    const QByteArray frame = QByteArray(1, char(0xAA)) + bytes + char(sum);
    FUZZ_CHECK(core::protocol::checkSum8Frame(frame));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int form = in.ConsumeIntegralInRange(0, 2);
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray raw(rest.data(), qsizetype(rest.size()));
    switch (form) {
    case 0:
        checkText(QString::fromUtf8(raw));
        break;
    case 1:
        checkText(QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2));
        break;
    default:
        checkBytes(raw);
        break;
    }
    return 0;
}
