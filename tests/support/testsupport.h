// Helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QMessageBox;
class QPlainTextEdit;
class QTimer;

namespace testsupport {

/** @brief Bytes of hex text such as "AA 00 21" (blanks ignored). */
QByteArray hex(const char *text);
/** @brief A 0xAA (or 0xEE) reply: the header, @p body as hex text and the 8-bit sum of the body. */
QByteArray aa(const char *body, quint8 header = 0xAA);
/**
 * @brief A 0xAA measurement reply (address 0) of @p distance mm and @p signal, as packed hex
 * text, the way the serial worker hands a reply up to the window.
 */
QString aaMeasurement(qint32 distance, qint16 signal);

/** @brief A Modbus RTU frame: @p body as hex text followed by its CRC-16. */
QByteArray rtu(const char *body);

/** @brief Lines of @p log shown in red (module errors, refusals, port failures), as plain text. */
QStringList redLines(const QPlainTextEdit *log);

/** @brief A python3 that can import openpyxl to read workbooks back, or empty text if none. */
QString pythonWithOpenpyxl();

/** @brief Folder of the source tree (for data files the tests read). */
QString sourceDir();
/** @brief Folder of the build tree (for the programs the tests start). */
QString binaryDir();

/**
 * @brief Watches for modal message boxes while alive, records the title and
 * text of each and closes it with its default/OK button, so slots that show a
 * box do not block a test.
 */
class MessageBoxCatcher : public QObject
{
    Q_OBJECT
public:
    explicit MessageBoxCatcher(QObject *parent = nullptr);
    ~MessageBoxCatcher() override;

    int count() const { return m_titles.size(); }
    QString lastTitle() const { return m_titles.value(m_titles.size() - 1); }
    QString lastText() const { return m_texts.value(m_texts.size() - 1); }
    void clear();
    /** @brief Runs @p hook on each box just before it is closed (to look at the world as the
     * operator sees it while the box is up). */
    void setOnBox(std::function<void(QMessageBox *)> hook) { m_onBox = std::move(hook); }

private:
    void poll();

    QTimer *m_timer;
    QStringList m_titles;
    QStringList m_texts;
    std::function<void(QMessageBox *)> m_onBox;
};

} // namespace testsupport
