// AnalysisView: the window that says how good the module is, from the run since Delete Data.
#include "ui/analysisview.h"

#include "ui/texts.h"

#include <qcustomplot.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace ui {

namespace {

constexpr int kCurvePoints = 240;
constexpr double kCurveSigmas = 4; ///< the curve reaches this far beyond the mean either way
const QColor kBars(35, 153, 197, 160);
const QColor kCurve(153, 18, 18);

using Rows = QList<QList<QString>>;

/** The blocks of an analysis table, the rows between its empty rows. */
QList<Rows> blocks(const Rows &rows)
{
    QList<Rows> out(1);
    for (const QList<QString> &row : rows) {
        if (row.isEmpty())
            out.append(Rows());
        else
            out.last().append(row);
    }
    return out;
}

/** Fills @p table with @p rows; the first is the header when @p header. */
void fill(QTableWidget *table, Rows rows, bool header)
{
    const QList<QString> head = header && !rows.isEmpty() ? rows.takeFirst() : QList<QString>();
    int columns = int(head.size());
    for (const QList<QString> &row : rows)
        columns = qMax(columns, int(row.size()));
    table->clear();
    table->setColumnCount(columns);
    table->setRowCount(int(rows.size()));
    table->setHorizontalHeaderLabels(head);
    table->horizontalHeader()->setVisible(header);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c) {
            auto *item = new QTableWidgetItem(rows[r][c]);
            // Labels read from the left, numbers line up on their last digit.
            item->setTextAlignment(
                (c == 0 && !header ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
            table->setItem(r, c, item);
        }
    }
    // Each column as wide as its texts, the last one taking the rest.
    for (int c = 0; c < columns; ++c)
        table->horizontalHeader()->setSectionResizeMode(
            c, c + 1 < columns ? QHeaderView::ResizeToContents : QHeaderView::Stretch);
}

QTableWidget *newTable(const char *objectName)
{
    auto *table = new QTableWidget;
    table->setObjectName(QLatin1String(objectName));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setAlternatingRowColors(true);
    return table;
}

QCustomPlot *newPlot(const char *objectName)
{
    auto *plot = new QCustomPlot;
    plot->setObjectName(QLatin1String(objectName));
    plot->setMinimumSize(420, 240);
    plot->legend->setVisible(true);
    plot->legend->setBrush(QColor(255, 255, 255, 215));
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    return plot;
}

} // namespace

AnalysisView::AnalysisView(QWidget *parent)
    : QDialog(parent)
    , m_figures(newTable("analysis_figures"))
    , m_allanTable(newTable("analysis_allan_table"))
    , m_histogram(newPlot("analysis_histogram"))
    , m_allan(newPlot("analysis_allan"))
{
    setObjectName(QStringLiteral("analysis_view"));
    auto *tables = new QVBoxLayout;
    tables->addWidget(m_figures);
    tables->addWidget(m_allanTable, 1);
    auto *plots = new QVBoxLayout;
    plots->addWidget(m_histogram);
    plots->addWidget(m_allan);
    auto *columns = new QHBoxLayout(this);
    columns->addLayout(tables, 0);
    columns->addLayout(plots, 1);
    m_figures->setMinimumWidth(330);
    for (QCPAxis *axis : { m_allan->xAxis, m_allan->yAxis }) {
        axis->setScaleType(QCPAxis::stLogarithmic);
        axis->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
        axis->setNumberFormat(QStringLiteral("gb"));
        axis->grid()->setSubGridVisible(true);
    }
    resize(1040, 680);
}

void AnalysisView::setFigures(const core::analysis::Figures &figures, core::Language language)
{
    setWindowTitle(texts::get(texts::Text::AnalysisTitle, language));
    const QList<Rows> parts = blocks(core::analysis::analysisTable(figures, language));
    fill(m_figures, parts.value(0), false);
    fill(m_allanTable, parts.value(1), true);
    // The figures take the height they need; the Allan table the rest.
    m_figures->setFixedHeight(m_figures->verticalHeader()->length() + 2 * m_figures->frameWidth());
    drawHistogram(figures, language);
    drawAllan(figures, language);
}

void AnalysisView::drawHistogram(const core::analysis::Figures &f, core::Language language)
{
    QCustomPlot *plot = m_histogram;
    plot->clearPlottables();
    plot->xAxis->setLabel(texts::get(texts::Text::AnalysisDistance, language));
    plot->yAxis->setLabel(texts::get(texts::Text::AnalysisRecords, language));
    if (f.histogram.isEmpty()) {
        plot->legend->setVisible(false);
        plot->replot();
        return;
    }
    plot->legend->setVisible(true);
    const double width = f.histogram.first().to - f.histogram.first().from;
    auto *bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setName(texts::get(texts::Text::AnalysisRecords, language));
    bars->setWidth(width);
    bars->setPen(QPen(kBars.darker(130)));
    bars->setBrush(kBars);
    double top = 0;
    for (const core::analysis::Bin &b : f.histogram) {
        bars->addData((b.from + b.to) / 2, double(b.count));
        top = qMax(top, double(b.count));
    }
    double left = f.histogram.first().from, right = f.histogram.last().to;
    if (f.sigma > 0) {
        // Drawn smooth, as records per bin: n x width x the normal density.
        QCPGraph *curve = plot->addGraph();
        curve->setName(texts::get(texts::Text::AnalysisNormal, language));
        curve->setPen(QPen(kCurve, 2));
        left = qMin(left, f.mean - kCurveSigmas * f.sigma);
        right = qMax(right, f.mean + kCurveSigmas * f.sigma);
        const double scale = double(f.distances()) * width / (f.sigma * std::sqrt(2 * M_PI));
        for (int i = 0; i <= kCurvePoints; ++i) {
            const double x = left + (right - left) * i / kCurvePoints;
            const double z = (x - f.mean) / f.sigma;
            const double y = scale * std::exp(-z * z / 2);
            curve->addData(x, y);
            top = qMax(top, y);
        }
    }
    plot->xAxis->setRange(left - width / 2, right + width / 2);
    plot->yAxis->setRange(0, top * 1.15);
    plot->replot();
}

void AnalysisView::drawAllan(const core::analysis::Figures &f, core::Language language)
{
    QCustomPlot *plot = m_allan;
    plot->clearGraphs();
    plot->xAxis->setLabel(texts::get(texts::Text::AnalysisTau, language));
    plot->yAxis->setLabel(texts::get(texts::Text::AnalysisAdev, language));
    // A log axis has no place for 0: a run without noise at some tau has no point there.
    QList<core::analysis::AllanPoint> shown;
    for (const core::analysis::AllanPoint &p : f.allan)
        if (p.tauS > 0 && p.adev > 0)
            shown.append(p);
    plot->legend->setVisible(!shown.isEmpty());
    if (shown.isEmpty()) {
        plot->replot();
        return;
    }
    QCPGraph *adev = plot->addGraph();
    adev->setName(texts::get(texts::Text::AnalysisAdev, language));
    adev->setPen(QPen(kBars.darker(150), 2));
    adev->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 6));
    QCPGraph *white = plot->addGraph();
    white->setName(texts::get(texts::Text::AnalysisWhiteNoise, language));
    white->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    const core::analysis::AllanPoint first = shown.first();
    for (const core::analysis::AllanPoint &p : shown) {
        adev->addData(p.tauS, p.adev);
        white->addData(p.tauS, first.adev * std::sqrt(first.tauS / p.tauS));
    }
    plot->rescaleAxes();
    // A little room around the points, as a share of the decades shown.
    for (QCPAxis *axis : { plot->xAxis, plot->yAxis }) {
        const QCPRange r = axis->range();
        const double pad = std::pow(qMax(r.upper / r.lower, 10.0), 0.08);
        axis->setRange(r.lower / pad, r.upper * pad);
    }
    plot->replot();
}

} // namespace ui
