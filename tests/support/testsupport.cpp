// Helpers shared by the test programs: frames built from their definition, and the test's folders.
#include "testsupport.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>

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

QString program(const char *name)
{
    return binaryDir() + QLatin1Char('/') + QLatin1String(name);
}

Module::Module(const QStringList &options)
{
    process.start(program("tovandrix-sim"),
        QStringList { "--no-publish", "-v", "--hardware", "0A0B", "--software", "0C0D", "--voltage",
            "3456", "--temperature", "21.5", "--angle", "3.4", "--distance", "4321", "--signal",
            "77" }
            + options);
    const QRegularExpression pts(QStringLiteral(" on (/dev/pts/\\d+) "));
    while (!pts.match(out).hasMatch() && process.waitForReadyRead(20000))
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
    path = pts.match(out).captured(1);
}

Module::~Module()
{
    if (process.state() != QProcess::NotRunning)
        received();
}

QString Module::received()
{
    ::kill(pid_t(process.processId()), SIGINT);
    process.waitForFinished(20000);
    out += QString::fromLocal8Bit(process.readAllStandardOutput());
    QStringList bytes;
    const QRegularExpression request(QStringLiteral("<- ([0-9A-F ]+)\\n"));
    for (const auto &m : request.globalMatch(out))
        bytes << m.captured(1);
    return bytes.join(QLatin1Char(' '));
}

} // namespace testsupport
