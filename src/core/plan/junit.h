// JUnit XML of test runs, the report CI dashboards read.
#pragma once

#include "core/plan/runrecord.h"

#include <QList>
#include <QString>

namespace core::plan {

/**
 * @brief The JUnit XML text of @p runs: one <testsuite> per unit (named "PORT SERIAL", with the
 * run's fields as properties), one <testcase> per step; a FAIL step has a
 * <failure> naming the limit and the value, an unjudged one an <error>, a skipped one <skipped/>.
 * Every attempt of a retried step is listed in the case's system-out.
 */
QString junitXml(const QList<RunRecord> &runs);

} // namespace core::plan
