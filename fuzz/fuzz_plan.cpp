// Fuzz target: the plan file reader on arbitrary bytes. It never crashes, answers with a plan or
// a placed error, never both, and a plan it takes keeps the rules the runner relies on.
#include "core/plan/plan.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using core::plan::TestStep;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const core::plan::Parsed parsed = core::plan::parsePlan(bytes, QStringLiteral("plan.toml"));
    FUZZ_CHECK(parsed.plan.has_value() == parsed.error.isEmpty());
    static const QRegularExpression placed(QStringLiteral("^plan\\.toml:[1-9]\\d*:[1-9]\\d*: "));
    FUZZ_CHECK(parsed.plan || placed.match(parsed.error).hasMatch());
    for (const TestStep &s : parsed.plan ? parsed.plan->steps : QList<TestStep>()) {
        for (const core::plan::Limit &l : { s.limit, s.meanError, s.sigma, s.errors })
            FUZZ_CHECK(!(l.min && l.max && *l.min > *l.max) && l.marginal.value_or(0) >= 0);
        const bool series
            = s.kind == TestStep::Kind::Measure || s.kind == TestStep::Kind::Calibrate;
        FUZZ_CHECK(!series || (s.count >= 1 && (!s.meanError.isSet() || s.referenceMm)));
        FUZZ_CHECK(s.kind != TestStep::Kind::Read || !s.reads.isEmpty());
        FUZZ_CHECK(!s.limit.isSet() || (s.reads.size() == 1 && isNumeric(s.reads.first())));
        FUZZ_CHECK(s.kind != TestStep::Kind::Set || s.setAddress || s.setBaud || s.setOffset
            || s.setLaser);
    }
    FUZZ_CHECK(!parsed.plan || !parsed.plan->steps.isEmpty());
    return 0;
}
