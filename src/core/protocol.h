// The protocol table: what the two wire protocols are, written once. Check mode and language as
// types, each protocol's addresses, register and function codes, line speeds, the length a reply
// has, and the 8-bit sum and CRC-16 that check it. Commands, decoders, the splitter, the scan,
// both front-ends and the virtual module's framing all read it from here.
#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>

#include <array>
#include <optional>

namespace core {

/** How frames are checked, and so which protocol is spoken. The values are the check-mode box's
 * indexes, which the window and the serial worker carry as ints. */
enum class CheckMode : quint8 {
    Sum8 = 0, ///< the module's own frames: 0xAA header, 8-bit sum last ("none")
    Crc = 1, ///< Modbus RTU: CRC-16 last, low byte first ("crc")
};

/** Language of every text shown; the values are those the window's language member holds. */
enum class Language : quint8 { Chinese = 0, English = 1 };

/** @brief The check mode of a check-mode box index; nothing for an index that names none. */
std::optional<CheckMode> checkModeAt(int index);
constexpr int indexOf(CheckMode mode)
{
    return int(mode);
}
/** @brief "none" or "crc", the command line's words for the check modes. */
QLatin1String checkModeWord(CheckMode mode);
std::optional<CheckMode> checkModeFromWord(const QString &word);

/** @brief Chinese for 0, English for anything else, as the window has always read its member. */
constexpr Language languageAt(int index)
{
    return index == 0 ? Language::Chinese : Language::English;
}
/** @brief "zh" or "en". */
QLatin1String languageWord(Language language);
std::optional<Language> languageFromWord(const QString &word);

namespace protocol {

/** The addresses a module can have in one protocol, and the one it leaves the factory with. */
struct AddressRange
{
    int first;
    int last;
    int factory;
    constexpr bool contains(int address) const { return address >= first && address <= last; }
};
/** 0xAA frames carry 7 bits (bit 7 is the read flag); Modbus reserves 0 for broadcast (no module
 * answers one) and 248-255. */
constexpr AddressRange addressRange(CheckMode mode)
{
    return mode == CheckMode::Sum8 ? AddressRange { 0, 127, 0 } : AddressRange { 1, 247, 1 };
}

/** Line speeds a module knows; the index is the code a set-baud-rate frame carries, and 0 at index
 * 0 stands for "none chosen". The window's baud-rate lists show them in this order. */
inline constexpr std::array<int, 8> kBaudRates
    = { 0, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
/** @brief The code of @p baud (1 to 7); nothing for a speed no module knows. */
std::optional<int> baudCode(int baud);
/** @brief The speed of @p code; 0 for code 0 or a code out of range. */
int baudOfCode(int code);

// ---- 0xAA frames -------------------------------------------------------------------------------

inline constexpr quint8 kAaHeader = 0xAA;
inline constexpr quint8 kAaErrorHeader = 0xEE; ///< a module error, otherwise framed alike
inline constexpr quint8 kAaReadFlag = 0x80; ///< bit 7 of the address byte of a read request
inline constexpr quint8 kAaStopByte = 0x58; ///< ends continuous measurement; no header, no sum
inline constexpr int kAaReadLength = 5; ///< header, address, register, sum
inline constexpr int kAaWriteLength = 9; ///< and a word count and one value; also most replies
inline constexpr int kAaMeasurementLength = 13; ///< a reply of three words: distance and signal
inline constexpr int kAaMinLength = 5;
/// Other lengths are tried too, but an 8-bit sum matches by chance once in 256, so they stay short.
inline constexpr int kAaMaxLength = 32;

/** Registers of the 0xAA protocol. */
enum class AaRegister : quint16 {
    Status = 0x0000, ///< also the probe of the address search
    Voltage = 0x0006,
    Temperature = 0x0008,
    HardwareVersion = 0x000A,
    SoftwareVersion = 0x000C,
    SerialNumber = 0x000E,
    Address = 0x0010,
    Offset = 0x0012,
    BaudRate = 0x0014,
    Measure = 0x0020, ///< write 0-2 single (auto, slow, fast), 4-6 continuous
    MeasureResult = 0x0022, ///< a continuous run's results
    Laser = 0x01BE,
};

constexpr bool isAaHeader(quint8 b)
{
    return b == kAaHeader || b == kAaErrorHeader;
}
/** @brief The low byte of a register whose replies carry a distance (13 bytes). */
constexpr bool isAaMeasurementRegister(quint8 low)
{
    return low == quint8(AaRegister::Measure) || low == quint8(AaRegister::MeasureResult);
}

// ---- Modbus RTU --------------------------------------------------------------------------------

enum class Function : quint8 {
    ReadCoils = 0x01, ///< the module also takes its measurement-mode frame under this code
    ReadDiscreteInputs = 0x02,
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteSingleCoil = 0x05,
    WriteSingleRegister = 0x06,
    WriteMultipleCoils = 0x0F,
    WriteMultipleRegisters = 0x10,
};
inline constexpr quint8 kExceptionFlag = 0x80; ///< set in the function code of an exception
/** Input registers (function 0x04). */
enum class InputRegister : quint16 {
    Voltage = 1,
    SoftwareVersion = 2,
    HardwareVersion = 3,
    Measurement = 4, ///< three registers: distance (two) and signal
    Angle = 5, ///< two registers
    Temperature = 6,
    SerialNumber = 7, ///< two registers
};
/** Holding registers (functions 0x03 and 0x06). */
enum class HoldingRegister : quint16 { Address = 0, Offset = 1, MeasureMode = 2, BaudRate = 3 };

inline constexpr int kRtuRequestLength = 8; ///< address, function, two words, CRC
inline constexpr int kRtuExceptionLength = 5; ///< address, function | 0x80, code, CRC
inline constexpr int kRtuMinLength = 4;
inline constexpr int kRtuMaxLength = 256;
/** @brief A read reply's length: address, function, byte count, two bytes a register, CRC. */
constexpr int rtuReadReplyLength(int registers)
{
    return 5 + 2 * registers;
}
bool isKnownFunction(quint8 code);

// ---- Reply lengths -----------------------------------------------------------------------------

/** Up to three lengths, best first, that a reply starting with some bytes has. */
struct ReplyLengths
{
    std::array<int, 3> len {};
    int count = 0;
    void add(int l);
    bool contains(int l) const;
};

/**
 * @brief The lengths a reply starting at @p p (@p avail bytes in hand) has if it is a reply the
 * module sends, best first. 0xAA: the word count in bytes 4-5 says 9 or 13 when it is 1 or 3, else
 * a measurement register means 13; the other length follows. Modbus: an exception is 5 bytes; a
 * read is as long as its byte count says; writes echo 8 bytes; function 0x01 is also the echo of
 * the measurement-mode frame. Empty when no reply starts there.
 */
ReplyLengths replyLengths(const quint8 *p, qsizetype avail, CheckMode mode);

/**
 * @brief The length the first @p avail bytes at @p p imply for their frame: kRtuMaxLength while a
 * Modbus read's byte count is still to come, 0 when no frame of @p mode can start with them. A
 * frame shorter than this is a start whose rest may still be on the way.
 */
int impliedLength(const quint8 *p, qsizetype avail, CheckMode mode);

/**
 * @brief The fewest bytes the reply starting at @p p can have, as far as its first @p avail bytes
 * tell: 0xAA frames 9 until the word count says 13 (a frame without one may be as short as 5);
 * Modbus 4 until the function code tells, then 5 for an exception, 8 for a write's echo, a read's
 * byte count once read. 0 when no reply of @p mode starts with these bytes.
 */
int shortestLength(const quint8 *p, qsizetype avail, CheckMode mode);

/**
 * @brief True when a 0xAA frame of @p len bytes contradicts the word count it states (bytes 4-5:
 * 00 01 or 00 03 make 9 or 13 bytes). A byte lost from the middle of a reply can leave the sum
 * right (a lost 00 always does), but not the length.
 */
bool contradictsWordCount(const quint8 *p, qsizetype len);

// ---- Checks ------------------------------------------------------------------------------------

/** @brief Low 8 bits of the sum of @p len bytes (the 0xAA frame checksum over its body). */
quint8 sum8(const char *data, qsizetype len);

/** @brief One byte of the Modbus CRC-16: init 0xFFFF, the reflected polynomial below, no final
 * XOR. */
constexpr quint16 crc16Step(quint16 crc, quint8 byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    return crc;
}
inline constexpr quint16 kCrc16Init = 0xFFFF;
quint16 crc16(const char *data, qsizetype len);
inline quint16 crc16(const QByteArray &bytes)
{
    return crc16(bytes.constData(), bytes.size());
}
/** @brief @p frame followed by its CRC-16, low byte first. */
QByteArray appendCrc(const QByteArray &frame);
/** @brief At least two bytes and the last two are the CRC-16 of the rest, low byte first. */
bool checkCrc(const char *data, qsizetype len);
inline bool checkCrc(const QByteArray &bytes)
{
    return checkCrc(bytes.constData(), bytes.size());
}
/**
 * @brief A 0xAA/0xEE frame check: header 0xAA or 0xEE, at least two bytes, last byte = low 8 bits
 * of the sum of the bytes between the first and the last.
 */
bool checkSum8Frame(const char *data, qsizetype len);
inline bool checkSum8Frame(const QByteArray &b)
{
    return checkSum8Frame(b.constData(), b.size());
}

} // namespace protocol
} // namespace core
