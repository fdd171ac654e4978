// The words of a decoded reply in Chinese and English, as every front-end shows them.
#pragma once

#include "core/replies.h"

#include <QString>

namespace core::replies {

/**
 * @brief Label, value and unit of @p reply as the log shows them (no line number, no separator);
 * empty for Kind::Nothing and Kind::NotAFrame.
 * @p baudRateText is the module baud rate chosen in the window, which a baud-rate reply confirms.
 */
QString describe(const Reply &reply, Language language, const QString &baudRateText);

/** @brief The result table's mode text of @p measureMode (0 auto, 1 slow, 2 fast); empty outside.
 */
QString measureModeText(int measureMode, Language language);

} // namespace core::replies
