// The debug log of the ui layer: quiet unless QT_LOGGING_RULES="tovandrix.ui.debug=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUi)
