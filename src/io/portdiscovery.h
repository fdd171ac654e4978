// Port discovery: the system's serial ports and the virtual modules running on this machine.
#pragma once

#include <QList>
#include <QString>

namespace io::ports {

/// What the port list shows after the path of a virtual module.
inline constexpr char kVirtualDescription[] = "Virtual laser module";

/** One entry of the port list. */
struct PortEntry
{
    QString path; ///< what is opened: a system port's name (ttyUSB0, COM3) or a link path
    QString description; ///< the driver's description, or kVirtualDescription
};

/**
 * @brief Folder of the links that virtual modules publish: $XDG_RUNTIME_DIR/tovandrix, or
 * /tmp/tovandrix-<uid> when XDG_RUNTIME_DIR is not set.
 */
QString publishFolder();

/** @brief The lock file a running virtual module holds beside its link. */
QString lockPathOf(const QString &link);

/**
 * @brief Links of the virtual modules that are running now, in number order. Links left behind by
 * a module that died are removed on the way.
 */
QList<PortEntry> virtualPorts();

/** @brief The system's serial ports first, then the running virtual modules. */
QList<PortEntry> availablePorts();

/**
 * @brief Where the serial port library looks for @p name: a bare name such as ttyUSB0 is a device
 * in /dev on Unix; a path (or a Windows name such as COM3) is itself.
 */
QString systemLocation(const QString &name);

} // namespace io::ports
