// Controls the window adds in free space, outside the grids of its panels.
#pragma once

#include <QList>
#include <QRect>

#include <functional>

class QFont;
class QPushButton;
class QWidget;

namespace ui {

/**
 * @brief Keeps @p control at the rectangle @p where gives (in its parent's coordinates) whenever
 * one of @p watched is resized, moved or shown. The control stays out of its panel's grid, so no
 * control of the panel moves or changes size for it.
 */
void keepAt(QWidget *control, const QList<QWidget *> &watched, std::function<QRect()> where);

/** @brief A push button of the window's look named @p objectName on @p panel, in @p font. */
QPushButton *addButton(QWidget *panel, const char *objectName, const QFont &font);

} // namespace ui
