// Helpers shared by the test programs: frames built from their definition, and the test's folders.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

/** @brief Bytes of hex text such as "AA 00 21" (blanks ignored). */
QByteArray hex(const char *text);
/** @brief Low 8 bits of the sum of @p bytes, computed here from its definition. */
quint8 sum8(const QByteArray &bytes);
/** @brief Modbus CRC-16 (init 0xFFFF, reflected polynomial 0xA001), computed bit by bit here. */
quint16 crc16(const QByteArray &bytes);
/** @brief A 0xAA (or 0xEE) frame: the header, @p body as hex text and the 8-bit sum of the body. */
QByteArray aa(const QByteArray &body, quint8 header = 0xAA);
inline QByteArray aa(const char *body, quint8 header = 0xAA)
{
    return aa(hex(body), header);
}
/** @brief A 0xAA measurement reply from address 0 of @p distance mm and @p signal. */
QByteArray aaMeasurement(qint32 distance, qint16 signal);
/** @brief A Modbus RTU frame: @p body followed by its CRC-16, low byte first. */
QByteArray rtu(const QByteArray &body);
inline QByteArray rtu(const char *body)
{
    return rtu(hex(body));
}

/** @brief A python3 that can import openpyxl to read workbooks back, or empty text if none. */
QString pythonWithOpenpyxl();
/** @brief Folder of the source tree (for data files the tests read). */
QString sourceDir();
/** @brief Folder of the build tree (for the programs the tests start). */
QString binaryDir();

/** @brief A program of the build tree, such as "tovandrix-cli". */
QString program(const char *name);

/**
 * A virtual module (tovandrix-sim) on a pseudo-terminal of its own, told its values (voltage
 * 3456, distance 4321 mm, ...) and @p options; it prints every request it gets.
 */
struct Module
{
    QProcess process;
    QString path; ///< the module's terminal, empty when it did not start
    QString out;

    explicit Module(const QStringList &options);
    ~Module();
    /** @brief Stops the module: every byte it received, in order, however the reads cut them. */
    QString received();
};

} // namespace testsupport
