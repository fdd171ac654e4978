// The window's wiring over a pseudo-terminal with the virtual module: what each button puts on
// the line, the two-state buttons, refusals, the address search, Delete Data and Save Data.
#include "ui_widget.h"
#include "windowrig.h"

#include "testsupport.h"

#include "core/commands.h"
#include "core/frames.h"
#include "core/replay/bytelog.h"
#include "export/save_file.h"
#include "io/mytimer.h"
#include "ui/texts.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <memory>

using core::commands::Command;
using testsupport::WindowRig;

namespace {

// The control of each command, in the order of core::commands::Command (none for the second half of
// a toggle); the slow-speed radio button stands for the speed choice.
const char *const kButtons[] = { "button_read_vcc", "button_read_state", "button_hardware",
    "button_sofftware", "button_serial_number", "button_reaad_temp", "button_measure_offce",
    "button_angle", "button_address", "button_light", nullptr, "button_set_measurement_offset",
    "button_set_address", "button_set_baudrate", "button_once", "button_continue", nullptr,
    "radioButton_low" };

/** What an operator does: empty the field and type @p text (the field's validator applies). */
void type(QLineEdit *field, const QString &text)
{
    field->clear();
    QTest::keyClicks(field, text);
}

/** The bytes a built command puts on the line: its hex text, plus the CRC in check mode 1. */
QByteArray wire(const core::commands::Built &built, int checkMode)
{
    QByteArray frame = built.text ? core::frames::fromHexText(*built.text) : QByteArray();
    if (built.text && checkMode == 1) {
        const quint16 crc = testsupport::crc16(frame);
        frame.append(char(crc & 0xFF)).append(char(crc >> 8));
    }
    return frame;
}

QByteArray wire(Command command, int checkMode, const core::commands::Inputs &in = {})
{
    return wire(core::commands::build(command, core::CheckMode(checkMode), in), checkMode);
}

/** What the module has read once it has read @p size bytes (or 5 s passed), and 150 ms more. */
QByteArray settled(WindowRig &r, qsizetype size)
{
    static_cast<void>(QTest::qWaitFor([&] { return r.received.size() >= size; }, 5000));
    QTest::qWait(150);
    return r.received;
}

/** Notes whether a file exists at every moment a message box is shown. */
struct BoxWitness : QObject
{
    QString path;
    bool fileAlwaysThere = true;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show && qobject_cast<QMessageBox *>(o))
            fileAlwaysThere = fileAlwaysThere && QFileInfo::exists(path);
        return false;
    }
};

// Prints the first sheet of a workbook as lines of comma-separated cells.
const char *const kReadWorkbook = R"(import openpyxl, sys
for row in openpyxl.load_workbook(sys.argv[1]).worksheets[0].iter_rows(values_only=True):
    print(','.join('' if c is None else str(c) for c in row)))";

/** The saved table as cells: the text file's lines cut at commas, or the workbook's rows. */
QList<QStringList> savedRows(const QString &path)
{
    QProcess reader;
    if (path.endsWith(QLatin1String(".xlsx")))
        reader.start(testsupport::pythonWithOpenpyxl(), { "-c", kReadWorkbook, path });
    else
        reader.start(QStringLiteral("cat"), { path });
    reader.waitForFinished(120000);
    QList<QStringList> rows;
    const QString text = QString::fromUtf8(reader.readAllStandardOutput());
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        rows << line.split(QLatin1Char(','));
    return rows;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void buttonSendsBuiltFrameOrWarns_data();
    void buttonSendsBuiltFrameOrWarns();
    void sendPanel_data();
    void sendPanel();
    void togglesAndDeleteData();
    void addressSearchThenSetAddress();
    void findModule_data();
    void findModule();
    void saveData_data();
    void saveData();
    void analysisView();
    void recordBytes();
};

void TestWindow::buttonSendsBuiltFrameOrWarns_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("field"); // a field given other text than the sound default
    QTest::addColumn<QString>("text");
    // Address in check mode 0 is the address search, tested below.
    for (int c = 0; c < int(std::size(kButtons)); ++c)
        for (int mode = 0; mode < 2; ++mode)
            if (kButtons[c] && (Command(c) != Command::ReadAddress || mode == 1))
                QTest::addRow("%s-check-mode-%d", kButtons[c], mode)
                    << c << mode << QString() << QString();
    // Fields with no usable number: a warning instead of a made-up frame.
    const struct
    {
        Command command;
        int mode;
        const char *field, *text;
    } fields[] = { { Command::SetOffset, 0, "set_measurement_offset", "" },
        { Command::SetOffset, 1, "set_measurement_offset", "12a" },
        { Command::SetOffset, 0, "set_measurement_offset", "65536" },
        { Command::ReadVoltage, 0, "address", "" }, { Command::MeasureOnce, 1, "address", "" },
        { Command::SetAddress, 1, "old_address", "" },
        { Command::SetAddress, 0, "new_address", "" },
        { Command::ReadVoltage, 0, "address", "200" }, { Command::LaserOn, 0, "address", "200" } };
    for (const auto &f : fields)
        QTest::addRow("%s-check-mode-%d-%s-'%s'", kButtons[int(f.command)], f.mode, f.field, f.text)
            << int(f.command) << f.mode << QStringLiteral("lineEdit_") + f.field << f.text;
}

void TestWindow::buttonSendsBuiltFrameOrWarns()
{
    QFETCH(int, command);
    QFETCH(int, mode);
    QFETCH(QString, field);
    QFETCH(QString, text);
    WindowRig r;
    sim::ServerOptions o;
    o.module.address = 5;
    o.module.modbusAddress = 7;
    QVERIFY(r.open(o, mode));
    // Every input differs from its default and from the others, so a mixed-up field shows.
    Ui::Widget *ui = r.w.ui;
    type(ui->lineEdit_address, QString::number(mode == 0 ? 5 : 7));
    type(ui->lineEdit_set_measurement_offset, QStringLiteral("-5"));
    type(ui->lineEdit_old_address, QString::number(mode == 0 ? 5 : 7));
    type(ui->lineEdit_new_address, QStringLiteral("9"));
    ui->botelv_Box_2->setCurrentIndex(5);
    r.click("radioButton_fast"); // a speed frame of its own in check mode 1
    QByteArray expected = wire(Command::MeasureMode, mode, { 5, 7, 2 });
    if (!field.isEmpty())
        type(r.w.findChild<QLineEdit *>(field), text);
    const auto number = [](QLineEdit *field) { return field->text().toInt(); };
    const int address = number(ui->lineEdit_address);
    core::commands::Inputs in { mode == 0 ? address : 0, mode == 1 ? address : 1, 2,
        number(ui->lineEdit_set_measurement_offset), number(ui->lineEdit_old_address),
        number(ui->lineEdit_new_address), 5 };
    if (Command(command) == Command::MeasureMode)
        in.measureMode = 1; // the row's button is the slow one
    const core::commands::Built built
        = core::commands::build(Command(command), core::CheckMode(mode), in);
    const core::commands::Warning warning = built.text
        ? core::commands::fieldWarning(Command(command), core::CheckMode(mode),
            { ui->lineEdit_address->text(), ui->lineEdit_set_measurement_offset->text(),
                ui->lineEdit_old_address->text(), ui->lineEdit_new_address->text() })
        : built.warning;
    if (warning == core::commands::Warning::None)
        expected += wire(built, mode);

    auto *target = r.w.findChild<QAbstractButton *>(QLatin1String(kButtons[command]));
    const QString before = target->text();
    r.click(kButtons[command]);
    QCOMPARE(settled(r, expected.size()), expected);
    QCOMPARE(r.boxes.count(), warning == core::commands::Warning::None ? 0 : 1);
    if (warning != core::commands::Warning::None) {
        QCOMPARE(
            r.boxes.lastText(), ui::texts::warningText(warning, core::languageAt(r.w.language)));
        QCOMPARE(target->text(), before);
    }
}

void TestWindow::sendPanel_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("period"); // timed sending at this period, or Send Data when empty
    QTest::addColumn<QByteArray>("sent"); // empty: refused with a red line ending in the text
    const QString none, text = QString::fromUtf8("测é A<");
    QTest::newRow("hex-pairs-and-blanks-sent-exactly")
        << true << QString(" aa 01Fe ") << none << testsupport::hex("AA01FE");
    QTest::newRow("hex-odd-digit-refused") << true << QString("AA 0") << none << QByteArray();
    QTest::newRow("hex-non-hex-digit-refused") << true << QString("AG") << none << QByteArray();
    QTest::newRow("text-mode-sends-utf8") << false << text << none << text.toUtf8();
    for (const char *period : { " ", "1x", "-5", "0" })
        QTest::addRow("timed-period-'%s'-refused", period)
            << false << QString("AA") << period << QByteArray();
    // Timed sending reads the text at every tick (30 in the settling time): one report.
    QTest::newRow("timed-hex-typo-reported-once")
        << true << QString("AA 0G") << QString("5") << QByteArray();
}

void TestWindow::sendPanel()
{
    QFETCH(bool, hexMode);
    QFETCH(QString, text);
    QFETCH(QString, period);
    QFETCH(QByteArray, sent);
    WindowRig r;
    QVERIFY(r.open({}, 0));
    r.w.ui->checkBo_hex->setChecked(hexMode);
    r.w.ui->lineEdit_send->setText(text);
    r.w.ui->lineEdit_dingshi_send->setText(period);
    r.click(period.isEmpty() ? "button_send" : "checkBox_dingshi_send");
    QCOMPARE(settled(r, sent.size()), sent);
    const QStringList red = testsupport::redLines(r.w.ui->plainTextEdit_show_data);
    QCOMPARE(red.size(), sent.isEmpty() ? 1 : 0);
    const QString refused = period.toInt() > 0 || period.isEmpty() ? text : period;
    if (sent.isEmpty())
        QVERIFY2(red.first().endsWith(refused.trimmed()), qPrintable(red.first()));
    QCOMPARE(r.w.timer_dingshi_send->isActive(), period.toInt() > 0);
}

void TestWindow::togglesAndDeleteData()
{
    WindowRig r;
    sim::ServerOptions o;
    o.module.continuousRate = 100;
    QVERIFY(r.open(o, 0));
    r.w.show();
    QHash<QByteArray, QString> atRest;
    const auto flip = [&](const char *name, bool on) {
        const QString text = r.w.findChild<QAbstractButton *>(QLatin1String(name))->text();
        atRest.insert(name, atRest.value(name, text));
        r.click(name);
        const QString now = r.w.findChild<QAbstractButton *>(QLatin1String(name))->text();
        QVERIFY2((now != atRest.value(name)) == on, name);
    };
    for (const bool on : { true, false, true })
        flip("button_light", on);
    // Delete Data forgets the run: records, numbering and chart points.
    r.click("button_once");
    QTRY_COMPARE_WITH_TIMEOUT(r.w.session().records().size(), 1, 5000);
    r.click("button_clear_show");
    QVERIFY(r.w.session().records().isEmpty());
    QCOMPARE(r.w.curGraph->dataCount(), 0);
    r.click("button_once");
    QTRY_COMPARE_WITH_TIMEOUT(r.w.session().records().size(), 1, 5000);
    QCOMPARE(r.w.session().replyNumber(), 1);
    flip("button_continue", true);
    QTRY_VERIFY_WITH_TIMEOUT(r.w.session().replyNumber() > 25, 10000);
    flip("button_paint_show", true);
    QVERIFY(r.w.ui->widget_30->isVisible());
    // Past 20 points the x axis follows every new point...
    QCPAxis *x = r.w.ui->widget_paint->xAxis;
    // ...until tracking is stopped: points keep coming, the axes stay.
    flip("button_jiancha", true);
    const QCPRange frozenX = x->range(), frozenY = r.w.ui->widget_paint->yAxis->range();
    const int points = r.w.curGraph->dataCount();
    QTRY_VERIFY_WITH_TIMEOUT(r.w.curGraph->dataCount() > points + 10, 10000);
    QCOMPARE(x->range(), frozenX);
    QCOMPARE(r.w.ui->widget_paint->yAxis->range(), frozenY);
    flip("button_jiancha", false);
    QTRY_VERIFY_WITH_TIMEOUT(x->range().upper > frozenX.upper, 10000);
    // The second click of Repeat measure sends the stop byte.
    flip("button_continue", false);
    const QByteArray on = wire(Command::LaserOn, 0);
    const QByteArray once = wire(Command::MeasureOnce, 0);
    const QByteArray line = on + wire(Command::LaserOff, 0) + on + once + once
        + wire(Command::ContinuousStart, 0) + "X";
    QCOMPARE(settled(r, line.size()), line);
    flip("button_paint_show", false);
    QVERIFY(!r.w.ui->widget_30->isVisible());
}

void TestWindow::addressSearchThenSetAddress()
{
    WindowRig r;
    sim::ServerOptions o;
    o.module.address = 5;
    QVERIFY(r.open(o, 0));
    r.click("button_address");
    QTRY_VERIFY_WITH_TIMEOUT(!r.w.session().addressSearchRunning(), 10000);
    QByteArray line; // once the line is quiet: probes already on their way have arrived
    while (line != r.received) {
        line = r.received;
        QTest::qWait(300);
    }
    // Status reads with the read flag to 0, 1, 2, ...; stopped long before the last address.
    const int probes = int(line.size() / 5);
    QVERIFY2(line.size() % 5 == 0 && probes > 5 && probes < 100, line.toHex(' ').data());
    for (int a = 0; a < probes; ++a)
        QCOMPARE(line.mid(a * 5, 5), testsupport::aa(QByteArray(1, char(0x80 + a)).append(2, 0)));

    // Set Address moves the module and every later frame to the new address.
    type(r.w.ui->lineEdit_address, QStringLiteral("5"));
    type(r.w.ui->lineEdit_old_address, QStringLiteral("5"));
    type(r.w.ui->lineEdit_new_address, QStringLiteral("9"));
    r.click("button_set_address");
    QTRY_COMPARE_WITH_TIMEOUT(r.w.address_index, 9, 5000);
    r.received.clear();
    r.click("button_read_vcc");
    const QByteArray read = wire(Command::ReadVoltage, 0, { 9 });
    QCOMPARE(settled(r, read.size()), read);
    QVERIFY(r.waitForReplies(3)); // the module moved too
}

void TestWindow::findModule_data()
{
    QTest::addColumn<int>("moduleBaud");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("line");
    QTest::newRow("found-fills-the-fields-and-opens")
        << 19200 << false << "Module found on %1: 19200 baud, No-check, address 5";
    QTest::newRow("not-found-says-so-in-red")
        << 4800 << false << "No module answered on %1 (14 settings tried)";
    QTest::newRow("cancelled-leaves-port-closed-fields-unchanged")
        << 19200 << true << "Module search cancelled";
}

void TestWindow::findModule()
{
    QFETCH(int, moduleBaud);
    QFETCH(bool, cancel);
    QFETCH(QString, line);
    WindowRig r;
    sim::ServerOptions o;
    o.strictSpeed = true;
    o.module.baudCode = int(std::find(std::begin(core::protocol::kBaudRates),
                                std::end(core::protocol::kBaudRates), moduleBaud)
        - std::begin(core::protocol::kBaudRates));
    o.module.address = 5;
    QVERIFY(r.open(o, 0));
    r.w.ui->botelv_Box->setCurrentText(QStringLiteral("9600"));
    // A module thread on a busy test machine answers later than a real one.
    r.w.setModuleSearchPlan(
        { { 9600, 19200 }, { core::CheckMode::Sum8 }, std::make_pair(0, 6), 60 });
    r.click("button_find_module"); // the open port is closed for the scan
    auto *dialog = r.w.findChild<QDialog *>();
    if (cancel) {
        QTRY_VERIFY(dialog->isVisible());
        dialog->reject();
    }
    QTRY_VERIFY_WITH_TIMEOUT(r.log().contains(line.replace("%1", r.server.slavePath())), 10000);
    const bool found = moduleBaud == 19200 && !cancel;
    QCOMPARE(r.w.ui->botelv_Box->currentText(), found ? "19200" : "9600");
    QCOMPARE(r.w.ui->lineEdit_address->text(), found ? "5" : "00");
    QCOMPARE(testsupport::redLines(r.w.ui->plainTextEdit_show_data).size(), int(!found && !cancel));
    QTRY_COMPARE(r.w.serialport_state_1, found);
    if (found) { // and the link works at what was found
        r.received.clear();
        r.click("button_read_vcc");
        const QByteArray read = wire(Command::ReadVoltage, 0, { 5 });
        QCOMPARE(settled(r, read.size()), read);
    }
}

void TestWindow::saveData_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("closeAtOnce");
    QTest::newRow("text-file-box-after-file") << "run.txt" << false;
    QTest::newRow("workbook-box-after-file") << "run.xlsx" << false;
    QTest::newRow("workbook-window-closed-at-once") << "run.xlsx" << true;
}

void TestWindow::saveData()
{
    QFETCH(QString, name);
    QFETCH(bool, closeAtOnce);
    if (name.endsWith(QLatin1String(".xlsx")) && testsupport::pythonWithOpenpyxl().isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    auto r = std::make_unique<WindowRig>();
    sim::ServerOptions o;
    o.module.distanceMm = 2345;
    QVERIFY(r->open(o, 0));
    for (int i = 1; i <= 3; ++i) {
        r->click("button_once");
        QTRY_COMPARE_WITH_TIMEOUT(r->w.session().records().size(), i, 5000);
    }
    const QList<core::Record> records = r->w.session().records();
    r->w.askSaveFileName = [path] { return path; };
    BoxWitness witness;
    witness.path = path;
    qApp->installEventFilter(&witness);
    std::atomic<bool> busy { false };
    if (closeAtOnce) {
        // The export thread is busy when the window closes: quit() alone would drop the save.
        const auto hold = [&busy] {
            busy = true;
            QThread::msleep(1000);
        };
        QMetaObject::invokeMethod(r->w.start_save, hold, Qt::QueuedConnection);
        QTRY_VERIFY(busy);
    }
    r->click("button_save");
    if (!closeAtOnce) {
        QTRY_COMPARE_WITH_TIMEOUT(r->boxes.count(), 1, 30000);
        QCOMPARE(r->boxes.lastText(),
            ui::texts::get(ui::texts::Text::SaveDone, core::languageAt(r->w.language)));
    }
    r.reset();
    QVERIFY(witness.fileAlwaysThere); // no box came before the file was there
    const QList<QStringList> rows = savedRows(path);
    QCOMPARE(rows.size(), records.size() + 1); // a header, then one line per record
    for (int i = 0; i < records.size(); ++i) {
        QCOMPARE(rows.at(i + 1), core::recordTexts(records.at(i)));
        QCOMPARE(rows.at(i + 1).at(2), QStringLiteral("2345"));
    }
    QVERIFY(!QImage(dir.filePath(QStringLiteral("run.jpg"))).isNull());
    if (!name.endsWith(QLatin1String(".xlsx")))
        return;
    // The Analysis sheet: the figures of the three distances the module was told to give.
    QProcess reader;
    reader.start(testsupport::pythonWithOpenpyxl(),
        { testsupport::sourceDir() + "/tests/export/read_xlsx.py", path });
    QVERIFY(reader.waitForFinished(120000));
    const QJsonArray sheet
        = QJsonDocument::fromJson(reader.readAllStandardOutput())["analysis"].toArray();
    QCOMPARE(sheet[0][0].toString(), QStringLiteral("Records"));
    QCOMPARE(sheet[0][1].toDouble(), 3.0);
    QCOMPARE(sheet[3][0].toString(), QStringLiteral("Mean mm"));
    QCOMPARE(sheet[3][1].toDouble(), 2345.0);
}

void TestWindow::analysisView()
{
    WindowRig r;
    sim::ServerOptions o;
    o.module.model = sim::DistanceModel::Ramp;
    o.module.distanceMm = 1000;
    o.module.rampStepMm = 7;
    QVERIFY(r.open(o, 0));
    for (int i = 1; i <= 8; ++i) {
        r.click("button_once");
        QTRY_COMPARE_WITH_TIMEOUT(r.w.session().records().size(), i, 5000);
    }
    r.click("button_analysis");
    auto *view = r.w.findChild<QDialog *>(QStringLiteral("analysis_view"));
    QVERIFY(view && view->isVisible());
    auto *figures = view->findChild<QTableWidget *>(QStringLiteral("analysis_figures"));
    // The mean of the distances in the replies the module sent (bytes 6 to 9, high byte first).
    double mean = 0;
    for (const QByteArray &reply : std::as_const(r.replies))
        mean += qFromBigEndian<qint32>(reply.constData() + 6) / 8.0;
    QCOMPARE(figures->item(0, 1)->text(), QStringLiteral("8"));
    QCOMPARE(figures->item(3, 0)->text(), QStringLiteral("Mean mm"));
    QCOMPARE(figures->item(3, 1)->text().toDouble(), mean);
    auto *histogram = view->findChild<QCustomPlot *>(QStringLiteral("analysis_histogram"));
    double binned = 0;
    for (const QCPBarsData &bar : *static_cast<QCPBars *>(histogram->plottable(0))->data())
        binned += bar.value;
    QCOMPARE(binned, 8.0);
    // Eight distances: tau0, 2 tau0 and 4 tau0.
    QCOMPARE(
        view->findChild<QCustomPlot *>(QStringLiteral("analysis_allan"))->graph(0)->dataCount(), 3);
    r.click("button_Language");
    QCOMPARE(figures->item(0, 0)->text(), QStringLiteral("记录数"));
    r.click("button_clear_show"); // the run since Delete Data: none
    QCOMPARE(figures->item(0, 1)->text(), QStringLiteral("0"));
}

void TestWindow::recordBytes()
{
    QTemporaryDir dir;
    WindowRig r;
    QVERIFY(!r.w.findChild<QPushButton *>(QStringLiteral("button_record"))->isEnabled());
    QVERIFY(r.open({}, 0));
    r.w.askRecordFileName = [&dir] { return dir.filePath(QStringLiteral("line")); };
    r.click("button_record");
    for (int i = 1; i <= 3; ++i) {
        r.click("button_once");
        QTRY_COMPARE_WITH_TIMEOUT(r.w.session().records().size(), i, 5000);
    }
    r.click("button_record");
    QFile file(dir.filePath(QStringLiteral("line.tvxr")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const core::replay::Log log = core::replay::decode(file.readAll());
    QVERIFY2(log.error.isEmpty(), qPrintable(log.error));
    QCOMPARE(log.header.baud, core::protocol::kBaudRates[sim::ServerOptions().module.baudCode]);
    // Every byte the module read and every byte it sent, each way in order.
    QByteArray sent, received;
    for (const core::replay::Entry &e : log.entries)
        (e.direction == core::replay::Direction::Sent ? sent : received) += e.bytes;
    QCOMPARE(sent, r.received);
    QCOMPARE(received, r.replies.join());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
