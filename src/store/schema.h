// The tables of the results database and the steps that bring an older one up to date.
#pragma once

#include "store/location.h"

#include <QStringList>

namespace store::schema {

/** @brief The version this program writes and reads; a database of a later one is refused. */
constexpr int kVersion = 1;

/**
 * @brief The statements that take a database from @p version - 1 to @p version (1 creates every
 * table), in the backend's dialect. Migrations only go forward.
 */
QStringList migration(int version, Backend backend);

} // namespace store::schema
