// The push buttons' style sheet, for the buttons whose look changes at run time.
#pragma once

#include <QString>

namespace ui {

/** How a push button looks: at rest, while its function is on, or lit (the laser is on). */
enum class ButtonLook { Normal, Active, Lit };

/**
 * @brief The whole style sheet of the push button @p objectName: the grey rounded button that
 * turns dark under the mouse and blue while pressed, its rest colours as @p look says.
 */
QString buttonStyle(const QString &objectName, ButtonLook look = ButtonLook::Normal);

} // namespace ui
