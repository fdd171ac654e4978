// The main window's generated form: names, cells, size limits, styling and the real geometry.
#include "mycombobox.h"
#include "squarebutton.h"
#include "ui_widget.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTest>

namespace {

constexpr int kMax = QWIDGETSIZE_MAX;

// The seven dark-red panel headers.
const char *const kHeaders[]
    = { "label_13", "label_14", "label_5", "label_8", "label_11", "label_6", "label_10" };

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void cells_data();
    void cells();
    void sizeLimits_data();
    void sizeLimits();
    void styleSheets_data();
    void styleSheets();
    void initialTexts_data();
    void initialTexts();
    void fonts_data();
    void fonts();
    void fontParts_data();
    void fontParts();
    void controlDetails();
    void shownGeometry_data();
    void shownGeometry();
    void look_data();
    void look();

private:
    QWidget *child(const char *name) const;

    QWidget *root = nullptr;
    Ui::Widget *ui = nullptr;
};

QWidget *TestLayout::child(const char *name) const
{
    if (root->objectName() == QLatin1String(name))
        return root;
    return root->findChild<QWidget *>(QLatin1String(name));
}

void TestLayout::init()
{
    // A plain QWidget stands in for the window class: the form must build on any QWidget.
    root = new QWidget;
    ui = new Ui::Widget;
    ui->setupUi(root);
}

void TestLayout::cleanup()
{
    delete ui;
    delete root;
    ui = nullptr;
    root = nullptr;
}

static void addCell(const char *name, const char *cls, const char *parent, int row, int col,
    int rowSpan = 1, int colSpan = 1)
{
    QTest::addRow("%s-%s-in-%s-at-%d-%d-span-%d", name, cls, parent, row, col, colSpan)
        << QByteArray(name) << QByteArray(cls) << QByteArray(parent) << row << col << rowSpan
        << colSpan;
}

void TestLayout::cells_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("cls");
    QTest::addColumn<QByteArray>("parent");
    QTest::addColumn<int>("row"); // for a splitter pane: its index, top to bottom
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("rowSpan");
    QTest::addColumn<int>("colSpan");

    addCell("widget_5", "QWidget", "Widget", 0, 0);
    addCell("widget_3", "QWidget", "Widget", 0, 1);
    addCell("widget_6", "QWidget", "Widget", 1, 0, 1, 2);
    addCell("splitter", "QSplitter", "widget_5", 0, 0);
    addCell("widget_30", "QWidget", "splitter", 0, 0);
    addCell("widget_36", "QWidget", "splitter", 1, 0);
    addCell("widget_35", "QWidget", "splitter", 2, 0);
    addCell("label_11", "QLabel", "widget_30", 1, 0);
    addCell("widget_paint", "QCustomPlot", "widget_30", 2, 0);
    addCell("label_6", "QLabel", "widget_36", 1, 0);
    addCell("plainTextEdit_show_data", "QPlainTextEdit", "widget_36", 2, 0);
    addCell("label_10", "QLabel", "widget_35", 0, 0);
    addCell("widget_7", "QWidget", "widget_35", 1, 0);
    // Measurement control panel.
    addCell("button_light", "QPushButton", "widget_7", 0, 0);
    addCell("button_Language", "QPushButton", "widget_7", 0, 1);
    addCell("radioButton_auto", "QRadioButton", "widget_7", 1, 0);
    addCell("radioButton_low", "QRadioButton", "widget_7", 1, 1);
    addCell("radioButton_fast", "QRadioButton", "widget_7", 1, 2);
    addCell("button_once", "QPushButton", "widget_7", 1, 3);
    addCell("button_continue", "QPushButton", "widget_7", 1, 4);
    addCell("button_save", "QPushButton", "widget_7", 1, 5);
    addCell("button_clear_show", "QPushButton", "widget_7", 1, 6);
    addCell("button_send", "QPushButton", "widget_7", 2, 0);
    addCell("checkBo_hex", "QCheckBox", "widget_7", 2, 1);
    addCell("checkBox_dingshi_send", "QCheckBox", "widget_7", 2, 2);
    addCell("widget_8", "QWidget", "widget_7", 2, 3);
    addCell("lineEdit_dingshi_send", "QLineEdit", "widget_8", 0, 0);
    addCell("label_9", "QLabel", "widget_8", 0, 1);
    addCell("widget_12", "QWidget", "widget_7", 3, 0, 1, 7);
    addCell("label_12", "QLabel", "widget_12", 0, 0);
    addCell("lineEdit_send", "QLineEdit", "widget_12", 0, 1);
    // Right column.
    addCell("widget_31", "QWidget", "widget_3", 0, 0);
    addCell("widget_32", "QWidget", "widget_3", 1, 0);
    addCell("widget_33", "QWidget", "widget_3", 2, 0);
    addCell("widget_34", "QWidget", "widget_3", 3, 0);
    addCell("label_13", "QLabel", "widget_31", 0, 0);
    addCell("widget_10", "QWidget", "widget_31", 1, 0);
    addCell("label_18", "QLabel", "widget_10", 0, 0);
    addCell("chuankou_Box", "MyComboBox", "widget_10", 0, 1);
    addCell("label_3", "QLabel", "widget_10", 1, 0);
    addCell("comboBox_mokuai_choose", "QComboBox", "widget_10", 1, 1);
    addCell("label_16", "QLabel", "widget_10", 2, 0);
    addCell("botelv_Box", "QComboBox", "widget_10", 2, 1);
    addCell("label_17", "QLabel", "widget_10", 3, 0);
    addCell("jiaoyan_mode", "QComboBox", "widget_10", 3, 1);
    addCell("label_4", "QLabel", "widget_10", 4, 0);
    addCell("lineEdit_address", "QLineEdit", "widget_10", 4, 1);
    addCell("open_button", "QPushButton", "widget_10", 5, 0);
    addCell("port_name_show", "QRadioButton", "widget_10", 5, 1);
    addCell("button_set_measurement_offset", "QPushButton", "widget_10", 6, 0);
    addCell("lineEdit_set_measurement_offset", "QLineEdit", "widget_10", 6, 1);
    addCell("button_set_baudrate", "QPushButton", "widget_10", 7, 0);
    addCell("botelv_Box_2", "QComboBox", "widget_10", 7, 1);
    addCell("button_set_address", "QPushButton", "widget_10", 8, 0);
    addCell("label", "QLabel", "widget_10", 9, 0);
    addCell("lineEdit_old_address", "QLineEdit", "widget_10", 9, 1);
    addCell("label_2", "QLabel", "widget_10", 10, 0);
    addCell("lineEdit_new_address", "QLineEdit", "widget_10", 10, 1);
    addCell("label_14", "QLabel", "widget_32", 0, 0);
    addCell("widget_17", "QWidget", "widget_32", 1, 0);
    addCell("button_photo_1", "SquareButton", "widget_17", 0, 0);
    addCell("label_5", "QLabel", "widget_33", 0, 0);
    addCell("widget_2", "QWidget", "widget_33", 1, 0);
    addCell("button_paint_show", "QPushButton", "widget_2", 0, 1);
    addCell("button_jiancha", "QPushButton", "widget_2", 0, 2);
    addCell("button_paint_reset", "QPushButton", "widget_2", 0, 3);
    addCell("label_8", "QLabel", "widget_34", 0, 0);
    addCell("widget", "QWidget", "widget_34", 1, 0);
    addCell("button_sofftware", "QPushButton", "widget", 0, 0);
    addCell("button_hardware", "QPushButton", "widget", 0, 1);
    addCell("button_serial_number", "QPushButton", "widget", 0, 2);
    addCell("button_address", "QPushButton", "widget", 1, 0);
    addCell("button_measure_offce", "QPushButton", "widget", 1, 1);
    addCell("button_read_vcc", "QPushButton", "widget", 1, 2);
    addCell("button_reaad_temp", "QPushButton", "widget", 2, 0);
    addCell("button_read_state", "QPushButton", "widget", 2, 1);
    addCell("button_angle", "QPushButton", "widget", 2, 2);
    // Bottom bar.
    addCell("button_web", "QPushButton", "widget_6", 0, 5, 1, 2);
}

void TestLayout::cells()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, cls);
    QFETCH(QByteArray, parent);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(int, rowSpan);
    QFETCH(int, colSpan);

    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    QVERIFY2(w->inherits(cls.constData()), w->metaObject()->className());
    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName().toLatin1(), parent);

    if (auto *splitter = qobject_cast<QSplitter *>(w->parentWidget())) {
        QCOMPARE(splitter->indexOf(w), row);
        return;
    }
    auto *grid = qobject_cast<QGridLayout *>(w->parentWidget()->layout());
    QVERIFY2(grid, "the parent is laid out by a grid");
    const int index = grid->indexOf(w);
    QVERIFY(index >= 0);
    int r = -1, c = -1, rs = -1, cs = -1;
    grid->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, col);
    QCOMPARE(rs, rowSpan);
    QCOMPARE(cs, colSpan);
}

void TestLayout::sizeLimits_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");

    QTest::newRow("right-column-at-most-300-wide")
        << QByteArray("widget_3") << QSize(0, 0) << QSize(300, kMax);
    QTest::newRow("bottom-bar-at-most-20-high")
        << QByteArray("widget_6") << QSize(0, 0) << QSize(kMax, 20);
    QTest::newRow("control-panel-at-most-150-high")
        << QByteArray("widget_35") << QSize(0, 0) << QSize(kMax, 150);
    QTest::newRow("serial-panel-at-most-350-high")
        << QByteArray("widget_31") << QSize(0, 0) << QSize(kMax, 350);
    QTest::newRow("chart-control-at-most-80-high")
        << QByteArray("widget_33") << QSize(0, 0) << QSize(kMax, 80);
    QTest::newRow("status-panel-at-most-130-high")
        << QByteArray("widget_34") << QSize(0, 0) << QSize(kMax, 130);
    for (const char *header : kHeaders)
        QTest::addRow("header-%s-exactly-20-high", header)
            << QByteArray(header) << QSize(0, 20) << QSize(kMax, 20);
    QTest::newRow("field-label-90-wide-20-high")
        << QByteArray("label_18") << QSize(90, 0) << QSize(90, 20);
    QTest::newRow("field-label-90-wide")
        << QByteArray("label_2") << QSize(90, 0) << QSize(90, kMax);
    QTest::newRow("port-box-at-least-160-wide")
        << QByteArray("chuankou_Box") << QSize(160, 0) << QSize(kMax, kMax);
    QTest::newRow("baud-box-at-most-80-wide")
        << QByteArray("botelv_Box") << QSize(0, 0) << QSize(80, kMax);
    QTest::newRow("lamp-at-most-80-wide")
        << QByteArray("port_name_show") << QSize(0, 0) << QSize(80, kMax);
    QTest::newRow("open-button-may-grow-in-height")
        << QByteArray("open_button") << QSize(90, 20) << QSize(90, kMax);
    QTest::newRow("settings-button-90x20")
        << QByteArray("button_set_address") << QSize(90, 20) << QSize(90, 20);
    QTest::newRow("chart-show-button-90x20")
        << QByteArray("button_paint_show") << QSize(90, 20) << QSize(90, 20);
    QTest::newRow("chart-reset-button-90-wide")
        << QByteArray("button_paint_reset") << QSize(90, 20) << QSize(90, kMax);
    QTest::newRow("status-button-90-wide")
        << QByteArray("button_angle") << QSize(90, 20) << QSize(90, kMax);
    QTest::newRow("laser-button-may-shrink")
        << QByteArray("button_light") << QSize(90, 0) << QSize(90, 20);
    QTest::newRow("clear-button-up-to-999-high")
        << QByteArray("button_clear_show") << QSize(90, 0) << QSize(90, 999);
    QTest::newRow("speed-radio-95x20")
        << QByteArray("radioButton_low") << QSize(95, 20) << QSize(95, 20);
    QTest::newRow("fast-radio-may-grow-in-height")
        << QByteArray("radioButton_fast") << QSize(95, 20) << QSize(95, kMax);
    QTest::newRow("hex-box-90x20") << QByteArray("checkBo_hex") << QSize(90, 20) << QSize(90, 20);
    QTest::newRow("timed-box-95x20")
        << QByteArray("checkBox_dingshi_send") << QSize(95, 20) << QSize(95, 20);
    QTest::newRow("period-strip-90x20") << QByteArray("widget_8") << QSize(90, 20) << QSize(90, 20);
    QTest::newRow("command-strip-at-most-20-high")
        << QByteArray("widget_12") << QSize(0, 0) << QSize(kMax, 20);
    QTest::newRow("command-label-90-wide")
        << QByteArray("label_12") << QSize(90, 0) << QSize(90, kMax);
}

void TestLayout::sizeLimits()
{
    QFETCH(QByteArray, name);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);

    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    QCOMPARE(w->minimumSize(), minimum);
    QCOMPARE(w->maximumSize(), maximum);
}

void TestLayout::styleSheets_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QStringList>("rules");

    const QString buttonRest
        = "QPushButton{background-color: rgb(206, 206, 206); border-radius: 4px;}";
    const QString buttonHover = "QPushButton:hover{background-color: rgb(87, 87, 87); "
                                "color: rgb(255, 255, 255);}";
    const QString buttonPressed = "QPushButton:pressed{background-color: rgb(35, 153, 197); "
                                  "padding-left: 3px; padding-top: 3px;}";

    const QString windowGrey = "QWidget#Widget{background-color: rgb(192, 192, 192);}";
    QTest::newRow("window-grey") << QByteArray("Widget") << QStringList { windowGrey };
    QTest::newRow("splitter-bare-grey")
        << QByteArray("splitter") << QStringList { "background-color: rgb(192, 192, 192);" };
    QTest::newRow("panel-header-dark-red")
        << QByteArray("label_13")
        << QStringList { "QLabel#label_13{", "color: rgb(255, 255, 255);", "letter-spacing: 1px;",
               "background-color: rgb(153, 18, 18);", "border-top-left-radius: 4px;",
               "border-top-right-radius: 4px;", "border-bottom-left-radius: 0px;",
               "border-bottom-right-radius: 0px;" };
    QTest::newRow("panel-body-light")
        << QByteArray("widget_10")
        << QStringList { "QWidget#widget_10{", "border-top-left-radius: 0px;",
               "border-bottom-right-radius: 4px;", "background-color: rgb(235, 235, 235);" };
    QTest::newRow("chart-bare-radii") << QByteArray("widget_paint")
                                      << QStringList { "background-color: rgb(235, 235, 235);",
                                             "border-bottom-left-radius: 4px;" };
    QTest::newRow("button-grey-rounded")
        << QByteArray("button_once")
        << QStringList { buttonRest, buttonHover, buttonPressed,
               "QPushButton#button_once{border: 1px solid rgb(87, 87, 87);}" };
    QTest::newRow("button-left-aligned")
        << QByteArray("open_button")
        << QStringList { buttonRest, "QPushButton#open_button{border: 1px solid rgb(87, 87, 87);}",
               "QPushButton{text-align: left;}" };
    QTest::newRow("picture-button")
        << QByteArray("button_photo_1")
        << QStringList { "QPushButton{background-color: rgb(235, 235, 235); border-radius: 4px;}" };
    QTest::newRow("combo-box-arrow-and-scroll-bar")
        << QByteArray("jiaoyan_mode")
        << QStringList { "QComboBox{border: none; border-radius: 4px; background-color: white;}",
               "image: url(:/new/prefix1/down_arrow.jpg);", "subcontrol-position: right center;",
               "QComboBox QScrollBar::handle::vertical{border-radius: 4px; width: 10px; "
               "background: rgb(244, 244, 244);}",
               "QComboBox QScrollBar::sub-line::vertical{border: none;}" };
    QTest::newRow("line-edit-white")
        << QByteArray("lineEdit_send")
        << QStringList { "QLineEdit{background-color: rgb(255, 255, 255); border-radius: 4px;}" };
    QTest::newRow("field-label-transparent")
        << QByteArray("label_18") << QStringList { "QLabel{background-color: transparent;}" };
    QTest::newRow("inline-label-light") << QByteArray(
        "label_12") << QStringList { "QLabel{background-color: rgb(235, 235, 235);}" };
    QTest::newRow("lamp")
        << QByteArray("port_name_show")
        << QStringList {
               "QRadioButton{background-color: rgb(235, 235, 235); border-radius: 4px;}"
           };
    QTest::newRow("radio-indicator-left")
        << QByteArray("radioButton_auto")
        << QStringList { "QRadioButton:hover{background-color: rgb(87, 87, 87); "
                         "color: rgb(255, 255, 255);}",
               "QRadioButton::indicator{subcontrol-origin: padding; "
               "subcontrol-position: left center;}" };
    QTest::newRow("radio-slow-indicator-spacing") << QByteArray(
        "radioButton_low") << QStringList { "QRadioButton::indicator{spacing: 0px;}" };
    QTest::newRow("check-box")
        << QByteArray("checkBo_hex")
        << QStringList { "QCheckBox{background-color: rgb(235, 235, 235); border-radius: 4px;}",
               "QCheckBox:hover{background-color: rgb(87, 87, 87); "
               "color: rgb(255, 255, 255);}" };
    QTest::newRow("input-strip")
        << QByteArray("widget_8")
        << QStringList { "QWidget{background-color: rgb(242, 242, 242); border-radius: 4px;}" };
    QTest::newRow("log-spaced-letters-and-scroll-bar")
        << QByteArray("plainTextEdit_show_data")
        << QStringList {
               "QPlainTextEdit{letter-spacing: 2px; background-color: rgb(235, 235, 235);",
               "QPlainTextEdit QScrollBar::vertical{width: 15px; border: none; "
               "background: rgb(255, 255, 255);}"
           };
}

void TestLayout::styleSheets()
{
    QFETCH(QByteArray, name);
    QFETCH(QStringList, rules);

    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    const QString sheet = w->styleSheet().simplified();
    for (const QString &rule : std::as_const(rules))
        QVERIFY2(sheet.contains(rule.simplified()), qPrintable(rule + " not in " + sheet));
}

void TestLayout::initialTexts_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("port-label-two-blanks") << QByteArray("label_18") << " 串  口  号";
    QTest::newRow("check-mode-label") << QByteArray("label_17") << " 校 验 方 式";
    QTest::newRow("open-button") << QByteArray("open_button") << " 打 开 串 口";
    QTest::newRow("reset-baud-button") << QByteArray("button_set_baudrate") << " 重 置 波 特 率";
    QTest::newRow("address-field-00") << QByteArray("lineEdit_address") << "00";
    QTest::newRow("offset-4-and-4-blanks")
        << QByteArray("button_measure_offce") << "偏    移    量";
    QTest::newRow("voltage-12-blanks") << QByteArray("button_read_vcc") << "电            压";
    QTest::newRow("temperature-11-blanks") << QByteArray("button_reaad_temp") << "温           度";
    QTest::newRow("state-11-blanks") << QByteArray("button_read_state") << "状           态";
    QTest::newRow("tilt-12-blanks") << QByteArray("button_angle") << "倾            角";
    QTest::newRow("custom-command-7-leading-blanks")
        << QByteArray("label_12") << "       自定义命令";
    QTest::newRow("monitor-button") << QByteArray("button_jiancha") << "开 始 监 测";
    QTest::newRow("chart-header") << QByteArray("label_11") << "测距折线图";
    QTest::newRow("status-header") << QByteArray("label_8") << "模块状态查询";
    QTest::newRow("language-button") << QByteArray("button_Language") << "English";
    QTest::newRow("hex-box") << QByteArray("checkBo_hex") << "HEX发送";
    QTest::newRow("period-unit") << QByteArray("label_9") << "ms/次";
    QTest::newRow("lamp-without-text") << QByteArray("port_name_show") << QString();
    QTest::newRow("picture-button-without-text") << QByteArray("button_photo_1") << QString();
    QTest::newRow("home-page-link") << QByteArray("button_web") << "https://tovandrix.github.io/";
}

void TestLayout::initialTexts()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, text);

    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    QCOMPARE(w->property("text").toString(), text);
}

void TestLayout::fonts_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("family"); // empty: the form leaves the family open
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<bool>("bold");

    QTest::newRow("window-10pt-bold") << QByteArray("Widget") << QString() << 10 << true;
    for (const char *header : kHeaders)
        QTest::addRow("header-%s-dengxian-10pt-bold", header)
            << QByteArray(header) << "等线" << 10 << true;
    QTest::newRow("log-dengxian-10pt-bold")
        << QByteArray("plainTextEdit_show_data") << "等线" << 10 << true;
    QTest::newRow("button-dengxian-9pt-bold") << QByteArray("button_once") << "等线" << 9 << true;
    QTest::newRow("field-label-dengxian-9pt-bold") << QByteArray("label_18") << "等线" << 9 << true;
    QTest::newRow("column-dengxian-9pt-bold") << QByteArray("widget_3") << "等线" << 9 << true;
}

void TestLayout::fonts()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(bool, bold);

    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    const QFont font = w->font();
    if (!family.isEmpty())
        QCOMPARE(font.families().value(0), family);
    QCOMPARE(font.pointSize(), pointSize);
    QCOMPARE(font.bold(), bold);
    QVERIFY(!font.italic());
}

void TestLayout::fontParts_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<uint>("parts");

    // Under a style sheet Qt does not hand fonts down, so the parts a control leaves open fall
    // back to the application font: a part set or left open here is visible on screen.
    const uint full = QFont::FamiliesResolved | QFont::SizeResolved | QFont::WeightResolved
        | QFont::StyleResolved;
    QTest::newRow("window-size-and-weight")
        << QByteArray("Widget") << uint(QFont::SizeResolved | QFont::WeightResolved);
    QTest::newRow("control-full-font") << QByteArray("button_once") << full;
    QTest::newRow("baud-box-kerning-on")
        << QByteArray("botelv_Box_2") << (full | QFont::KerningResolved);
    QTest::newRow("set-address-kerning-on")
        << QByteArray("button_set_address") << (full | QFont::KerningResolved);
    QTest::newRow("panel-size-and-style-only")
        << QByteArray("widget_31") << uint(QFont::SizeResolved | QFont::StyleResolved);
    QTest::newRow("picture-body-size-and-style-only")
        << QByteArray("widget_17") << uint(QFont::SizeResolved | QFont::StyleResolved);
    QTest::newRow("picture-button-size-only")
        << QByteArray("button_photo_1") << uint(QFont::SizeResolved);
    QTest::newRow("splitter-family-size-style") << QByteArray(
        "splitter") << uint(QFont::FamiliesResolved | QFont::SizeResolved | QFont::StyleResolved);
    QTest::newRow("control-panel-family-size-style") << QByteArray(
        "widget_35") << uint(QFont::FamiliesResolved | QFont::SizeResolved | QFont::StyleResolved);
    QTest::newRow("command-strip-family-and-style")
        << QByteArray("widget_12") << uint(QFont::FamiliesResolved | QFont::StyleResolved);
    QTest::newRow("period-strip-family-and-style")
        << QByteArray("widget_8") << uint(QFont::FamiliesResolved | QFont::StyleResolved);
}

void TestLayout::fontParts()
{
    QFETCH(QByteArray, name);
    QFETCH(uint, parts);

    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    QCOMPARE(w->font().resolveMask(), parts);
}

void TestLayout::controlDetails()
{
    QVERIFY(ui->button_send->isDefault());
    QVERIFY(ui->button_web->isFlat());
    QVERIFY(!ui->botelv_Box_2->isEditable());
    QVERIFY(!ui->botelv_Box_2->duplicatesEnabled());
    QCOMPARE(ui->splitter->orientation(), Qt::Vertical);
    QCOMPARE(ui->button_photo_1->sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
    QCOMPARE(ui->button_photo_1->sizePolicy().verticalPolicy(), QSizePolicy::MinimumExpanding);
    // The combo boxes are filled by the window's constructor, never by the form.
    QCOMPARE(ui->botelv_Box->count(), 0);
    QCOMPARE(ui->jiaoyan_mode->count(), 0);
    QVERIFY(!ui->plainTextEdit_show_data->isReadOnly());
    QCOMPARE(root->windowTitle(), QStringLiteral("Widget"));
    QCOMPARE(root->size(), QSize(1012, 546));

    // The spacer pushes the link to the left end of the bar.
    QLayoutItem *spacer = ui->gridLayout_4->itemAtPosition(0, 7);
    QVERIFY(spacer && spacer->spacerItem());
    QCOMPARE(spacer->sizeHint(), QSize(671, 19));
    QCOMPARE(spacer->expandingDirections(), Qt::Horizontal);
    for (int col = 0; col < 5; ++col)
        QVERIFY(!ui->gridLayout_4->itemAtPosition(0, col));

    // Layouts without given margins keep the style's; a given one is exact.
    QCOMPARE(ui->gridLayout_13->contentsMargins(), QMargins(6, 2, 1, 0));
    QCOMPARE(ui->gridLayout_13->horizontalSpacing(), 3);
    QCOMPARE(ui->gridLayout_13->verticalSpacing(), 0);
    const int styleMargin = root->style()->pixelMetric(QStyle::PM_LayoutTopMargin);
    QCOMPARE(ui->gridLayout_12->contentsMargins(), QMargins(9, styleMargin, styleMargin, 1));
    QCOMPARE(ui->gridLayout_7->contentsMargins().top(), styleMargin);
}

void TestLayout::shownGeometry_data()
{
    QTest::addColumn<QSize>("windowSize");

    QTest::newRow("initial-1012x546") << QSize(1012, 546);
    QTest::newRow("wide-and-tall-1600x1000") << QSize(1600, 1000);
    QTest::newRow("narrow-800x500") << QSize(800, 500);
}

void TestLayout::shownGeometry()
{
    QFETCH(QSize, windowSize);

    // Every style sheet is parsed when the controls are first polished.
    QTest::failOnWarning(QRegularExpression("Could not parse"));
    root->resize(windowSize);
    root->show();
    QVERIFY(QTest::qWaitForWindowExposed(root));
    QCoreApplication::processEvents();

    QVERIFY2(ui->widget_3->width() <= 300, qPrintable(QString::number(ui->widget_3->width())));
    QVERIFY2(ui->widget_6->height() <= 20, qPrintable(QString::number(ui->widget_6->height())));
    QVERIFY(ui->widget_35->height() <= 150);
    for (const char *header : kHeaders) {
        QWidget *w = child(header);
        if (w->isVisible())
            QCOMPARE(w->height(), 20);
    }
    // Extra width goes to the left column.
    QVERIFY(ui->widget_5->width() > ui->widget_3->width());
    QCOMPARE(ui->button_photo_1->width(), ui->button_photo_1->height());
    QVERIFY(ui->button_photo_1->width() > 0);
}

void TestLayout::look_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QPoint>("pixel"); // away from text and rounded corners
    QTest::addColumn<QColor>("colour");

    QTest::newRow("window-margin-grey")
        << QByteArray("Widget") << QByteArray() << QPoint(2, 1) << QColor(192, 192, 192);
    QTest::newRow("bottom-bar-grey")
        << QByteArray("widget_6") << QByteArray() << QPoint(500, 10) << QColor(192, 192, 192);
    QTest::newRow("header-dark-red")
        << QByteArray("label_13") << QByteArray() << QPoint(3, 10) << QColor(153, 18, 18);
    QTest::newRow("panel-body-light")
        << QByteArray("widget_10") << QByteArray() << QPoint(3, 10) << QColor(235, 235, 235);
    QTest::newRow("log-light") << QByteArray("plainTextEdit_show_data") << QByteArray()
                               << QPoint(30, 30) << QColor(235, 235, 235);
    QTest::newRow("line-edit-white")
        << QByteArray("lineEdit_send") << QByteArray() << QPoint(30, 10) << QColor(Qt::white);
    QTest::newRow("button-grey-at-rest")
        << QByteArray("button_once") << QByteArray() << QPoint(5, 10) << QColor(206, 206, 206);
    QTest::newRow("button-border-dark")
        << QByteArray("button_once") << QByteArray() << QPoint(45, 0) << QColor(87, 87, 87);
    QTest::newRow("button-dark-under-mouse")
        << QByteArray("button_once") << QByteArray("hover") << QPoint(5, 10) << QColor(87, 87, 87);
    QTest::newRow("button-blue-pressed") << QByteArray("button_once") << QByteArray("pressed")
                                         << QPoint(5, 10) << QColor(35, 153, 197);
    QTest::newRow("check-box-dark-under-mouse")
        << QByteArray("checkBo_hex") << QByteArray("hover") << QPoint(60, 10) << QColor(87, 87, 87);
}

void TestLayout::look()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, state);
    QFETCH(QPoint, pixel);
    QFETCH(QColor, colour);

    root->show();
    QVERIFY(QTest::qWaitForWindowExposed(root));
    QWidget *w = child(name.constData());
    QVERIFY2(w, name.constData());
    if (state == "hover") {
        // Push buttons track the hover position themselves, so a real move is needed.
        QTest::mouseMove(w, pixel);
        QVERIFY(QTest::qWaitFor([w] { return w->underMouse(); }));
    }
    if (state == "pressed")
        qobject_cast<QAbstractButton *>(w)->setDown(true);
    const QImage image = w->grab().toImage();
    QCOMPARE(image.pixelColor(pixel), colour);
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
