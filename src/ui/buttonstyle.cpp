// The push buttons' style sheet, for the buttons whose look changes at run time.
#include "ui/buttonstyle.h"

namespace ui {

QString buttonStyle(const QString &objectName, ButtonLook look)
{
    QString rest;
    switch (look) {
    case ButtonLook::Normal:
        rest = QStringLiteral("background-color: rgb(206, 206, 206);    border-radius: 4px;");
        break;
    case ButtonLook::Active:
        rest = QStringLiteral("background-color: rgb(87, 87, 87);    border-radius: 4px;    "
                              "color: rgb(255, 255, 255);");
        break;
    case ButtonLook::Lit:
        rest = QStringLiteral("background-color: rgb(35, 153, 197);    border-radius: 4px;color: "
                              "rgb(255, 255, 255);");
        break;
    }
    return QStringLiteral("QPushButton {    ") + rest
        + QStringLiteral("}QPushButton:hover {    background-color: rgb(87, 87, 87);    color: "
                         "rgb(255, 255, 255);}QPushButton:pressed {    background-color: "
                         "rgb(35, 153, 197);    padding-left: 3px;    padding-top: 3px;}"
                         "QPushButton#%1 {    border: 1px solid rgb(87, 87, 87);}")
              .arg(objectName);
}

} // namespace ui
