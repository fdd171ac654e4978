// The debug log of the io layer: quiet unless QT_LOGGING_RULES="tovandrix.io.debug=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcIo)
