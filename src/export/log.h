// The debug log of the export layer: quiet unless QT_LOGGING_RULES="tovandrix.export.debug=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcExport)
