// Helpers shared by the test programs.
#include "testsupport.h"

#include <QtGlobal>

namespace testsupport {

QString sourceDir()
{
    return qEnvironmentVariable("TOVANDRIX_SOURCE_DIR", QStringLiteral("."));
}

} // namespace testsupport
