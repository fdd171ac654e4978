// AnalysisView: the window that says how good the module is, from the run since Delete Data.
#pragma once

#include "core/analysis/analysis.h"
#include "core/protocol.h"

#include <QDialog>

class QCustomPlot;
class QTableWidget;

namespace ui {

/**
 * The figures of a run (core::analysis) shown: a table of the figures and one of the Allan
 * deviation, the histogram of the distances with the normal curve of the run's mean and sigma
 * over it, and the Allan deviation on log-log axes beside the slope of white noise (-1/2) through
 * its first point, which tells noise that averages away from drift that does not. Texts in both
 * languages; the window hands it new figures, it computes nothing itself.
 */
class AnalysisView : public QDialog
{
    Q_OBJECT
public:
    explicit AnalysisView(QWidget *parent = nullptr);

    /** @brief Shows @p figures, every text in @p language. */
    void setFigures(const core::analysis::Figures &figures, core::Language language);

private:
    void drawHistogram(const core::analysis::Figures &figures, core::Language language);
    void drawAllan(const core::analysis::Figures &figures, core::Language language);

    QTableWidget *m_figures;
    QTableWidget *m_allanTable;
    QCustomPlot *m_histogram;
    QCustomPlot *m_allan;
};

} // namespace ui
