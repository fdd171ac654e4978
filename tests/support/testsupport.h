// Helpers shared by the test programs.
#pragma once

#include <QString>

namespace testsupport {

/** @brief Folder of the source tree (for data files the tests read). */
QString sourceDir();

} // namespace testsupport
