// Fuzz target: the plan file reader on arbitrary bytes. It never crashes, answers with a plan or
// a placed error, never both, and a plan it takes keeps the rules the runner relies on.
#include "core/plan/plan.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

namespace {

bool limitWhole(const core::plan::Limit &l)
{
    return !(l.min && l.max && *l.min > *l.max) && l.marginal.value_or(0) >= 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using core::plan::TestStep;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const core::plan::Parsed parsed = core::plan::parsePlan(bytes, QStringLiteral("plan.toml"));
    FUZZ_CHECK(parsed.plan.has_value() == parsed.error.isEmpty());
    if (!parsed.plan) {
        static const QRegularExpression placed(
            QStringLiteral("^plan\\.toml:[1-9]\\d*:[1-9]\\d*: "));
        FUZZ_CHECK(placed.match(parsed.error).hasMatch());
        return 0;
    }
    const core::plan::Plan &plan = *parsed.plan;
    FUZZ_CHECK(plan.sha256.size() == 64);
    FUZZ_CHECK(!plan.steps.isEmpty());
    FUZZ_CHECK(plan.link.checkMode == 0 || plan.link.checkMode == 1);
    FUZZ_CHECK(plan.link.timeoutMs > 0);
    for (const TestStep &s : plan.steps) {
        FUZZ_CHECK(limitWhole(s.limit) && limitWhole(s.meanError) && limitWhole(s.sigma)
            && limitWhole(s.errors));
        FUZZ_CHECK(s.retries >= 0);
        switch (s.kind) {
        case TestStep::Kind::Read:
            FUZZ_CHECK(!s.reads.isEmpty());
            FUZZ_CHECK(!s.limit.isSet() || (s.reads.size() == 1 && isNumeric(s.reads.first())));
            break;
        case TestStep::Kind::Calibrate:
            FUZZ_CHECK(s.referenceMm.has_value());
            [[fallthrough]];
        case TestStep::Kind::Measure:
            FUZZ_CHECK(s.count >= 1);
            FUZZ_CHECK(!s.meanError.isSet() || s.referenceMm);
            break;
        case TestStep::Kind::Set:
            FUZZ_CHECK(s.setAddress || s.setBaud || s.setOffset || s.setLaser);
            break;
        }
    }
    return 0;
}
