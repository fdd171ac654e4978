// PseudoTerminal: an openpty() pair whose master end plays the module and whose slave end is the
// port.
#pragma once

#include <QByteArray>
#include <QString>

class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    /** @brief Opens a new pair in raw mode; false (and errorString()) on failure. */
    bool open();
    /** @brief Closes the master end (the port then sees the line drop); the slave stays. */
    void closeMaster();
    void close();

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    /** @brief Path of the slave end, for example /dev/pts/7: what the program opens. */
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }

    /** @brief Writes all of @p bytes to the master end (blocking). */
    bool write(const QByteArray &bytes);
    /** @brief Reads what the master end has within @p timeoutMs (may be empty). */
    QByteArray read(int timeoutMs);
    /** @brief Reads until @p count bytes have arrived or @p timeoutMs passed. */
    QByteArray readExactly(qsizetype count, int timeoutMs);

private:
    int m_master = -1;
    int m_slave = -1; ///< kept open so the pair survives the program closing its port
    QString m_slavePath;
    QString m_error;
};
