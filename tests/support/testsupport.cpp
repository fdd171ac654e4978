// Helpers shared by the test programs: frames built from their definition, and the test's folders.
#include "testsupport.h"

#include <QProcess>

namespace testsupport {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

quint8 sum8(const QByteArray &bytes)
{
    unsigned sum = 0;
    for (const char c : bytes)
        sum += quint8(c);
    return quint8(sum & 0xFF);
}

quint16 crc16(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray aa(const QByteArray &body, quint8 header)
{
    return char(header) + body + char(sum8(body));
}

QByteArray aaMeasurement(qint32 distance, qint16 signal)
{
    QByteArray body = hex("00 00 22 00 03");
    for (int shift = 24; shift >= 0; shift -= 8)
        body.append(char((quint32(distance) >> shift) & 0xFF));
    body.append(char((quint16(signal) >> 8) & 0xFF));
    body.append(char(quint16(signal) & 0xFF));
    return aa(body);
}

QByteArray rtu(const QByteArray &body)
{
    const quint16 crc = crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

QString pythonWithOpenpyxl()
{
    // A pyenv shim may shadow the Debian interpreter that has openpyxl.
    for (const QString &candidate :
        { QStringLiteral("python3"), QStringLiteral("/usr/bin/python3") }) {
        QProcess probe;
        probe.start(candidate, { QStringLiteral("-c"), QStringLiteral("import openpyxl") });
        if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit
            && probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

QString sourceDir()
{
    return qEnvironmentVariable("TOVANDRIX_SOURCE_DIR", QStringLiteral("."));
}

QString binaryDir()
{
    return qEnvironmentVariable("TOVANDRIX_BINARY_DIR", QStringLiteral("."));
}

} // namespace testsupport
