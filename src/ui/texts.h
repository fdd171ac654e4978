// The window's own texts in Chinese and English, in one table.
#pragma once

#include "core/commands.h"

#include <QList>
#include <QString>

namespace ui::texts {

enum class Text {
    WarnTitle,
    SerialFailure,
    SaveFailed,
    SaveTitle,
    SaveDone,
    PictureNotSaved,
    NotHex,
    BadPeriod,
    Send,
    Receive,
    LogTrimmed,
    NoModel,
    NoCheck,
    CrcCheck,
    ChartX,
    ChartY,
    FindTitle,
    FindTrying,
    FindFound,
    FindNone,
    FindCancelled,
    FindFailed,
    AnalysisTitle,
    AnalysisDistance,
    AnalysisRecords,
    AnalysisNormal,
    AnalysisTau,
    AnalysisAdev,
    AnalysisWhiteNoise,
    RecordDone,
    RecordFailed,
    // two-state controls, "off" state first
    OpenSerial,
    CloseSerial,
    LaserOn,
    LaserOff,
    RepeatMeasure,
    StopMeasure,
    OpenChart,
    CloseChart,
    StartTracking,
    StopTracking,
    RecordBytes,
    StopRecording,
    Count
};

/** A control whose text only changes with the language. */
struct ControlText
{
    const char *objectName;
    const char *chinese;
    const char *english;
};

/** @brief Every such control of the main window with its two texts. */
const QList<ControlText> &controlTexts();

/** @brief @p text in @p language. */
QString get(Text text, core::Language language);

/** @brief A two-state control's text: @p off, or when @p on the twin that follows it. */
QString toggle(Text off, bool on, core::Language language);

/** @brief The words of a warning box that replaces a command (title and text). */
QString warningTitle(core::commands::Warning warning, core::Language language);
QString warningText(core::commands::Warning warning, core::Language language);

} // namespace ui::texts
