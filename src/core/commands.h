// Command frames the window sends to a module, built as hex text for both check modes.
#pragma once

#include "core/protocol.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace core::commands {

/** One button (or radio group) action; the frame it sends depends on the check mode. */
enum class Command {
    ReadVoltage,
    ReadStatus,
    ReadHardwareVersion,
    ReadSoftwareVersion,
    ReadSerialNumber,
    ReadTemperature,
    ReadOffset,
    ReadAngle,
    ReadAddress, ///< check mode 0: one probe of the address search, to Inputs::address
    LaserOn,
    LaserOff,
    SetOffset,
    SetAddress,
    SetBaudRate,
    MeasureOnce,
    ContinuousStart,
    ContinuousStop,
    MeasureMode, ///< the speed radio buttons; only check mode 1 sends a frame
};

/** The warning box shown instead of a frame. */
enum class Warning {
    None,
    StatusNotAvailable, ///< read status in check mode 1
    ContinuousNotAvailable, ///< continuous measurement in check mode 1
    AngleNotAvailable, ///< read tilt angle in check mode 0
    AddressOutOfRange, ///< the frame would carry an address its protocol has no module at
    OffsetInvalid, ///< the offset field holds no number that 16 bits carry
    AddressInvalid, ///< an address field is empty or holds no address
};

/** The window's values a frame may carry, read at the moment of the click. */
struct Inputs
{
    int address = 0; ///< address_index: 0xAA frames
    int modbusAddress = 1; ///< address_index_moudbus: Modbus frames
    int measureMode = 0; ///< 0 auto, 1 slow, 2 fast
    int offset = 0; ///< measurement offset in mm, any int (sent as its low 16 bits)
    int oldAddress = 0; ///< set address: the module addressed
    int newAddress = 0; ///< set address: the address it gets
    int baudCode = 0; ///< index of the module baud-rate box
};

/** What a click produces: hex text to send, or a warning to show, or neither. */
struct Built
{
    std::optional<QString> text;
    Warning warning = Warning::None;
};

/**
 * @brief The hex text of @p command in @p checkMode (a 0xAA frame, or Modbus without its CRC,
 * which the serial worker appends). A command the check mode lacks, or a frame to an address
 * outside the protocol's range, gives no text and a warning; MeasureMode with 0xAA frames gives
 * neither.
 */
Built build(Command command, CheckMode checkMode, const Inputs &inputs);

/** @brief A field's text read as a decimal int the way the window reads it: 0 when not a number. */
int fieldNumber(const QString &text);

/** Offsets a field may hold: what 16 bits carry, read signed or unsigned. */
constexpr int kOffsetMin = -32768;
constexpr int kOffsetMax = 65535;

/**
 * @brief The offset an operator typed: a decimal integer from kOffsetMin to kOffsetMax, an
 * optional sign, blanks around it allowed. Nothing for empty text, other text or a number the
 * 16-bit register cannot carry, so the window refuses instead of sending a made-up offset.
 */
std::optional<int> offsetField(const QString &text);

/**
 * @brief The address an operator typed: a decimal integer from 0 to 255 (leading zeros and blanks
 * around it allowed). Nothing for empty or other text.
 */
std::optional<int> addressField(const QString &text);

/** The texts of the window's fields that a command may read, as typed. */
struct FieldTexts
{
    QString address; ///< lineEdit_address
    QString offset; ///< lineEdit_set_measurement_offset
    QString oldAddress; ///< lineEdit_old_address
    QString newAddress; ///< lineEdit_new_address
};

/**
 * @brief The warning for a field that @p command reads in @p checkMode and that holds no usable
 * number (OffsetInvalid, AddressInvalid), or Warning::None. Fields the command does not read are
 * not looked at.
 */
Warning fieldWarning(Command command, CheckMode checkMode, const FieldTexts &fields);

/** @brief The low 8 bits of @p value as two upper-case hex digits ("05", "FF"). */
QString hexByte(int value);

/** @brief Low 8 bits of the sum of every byte after the header of a 0xAA frame's hex text. */
int aaChecksum(const QString &frameText);

/** @brief The low 16 bits of @p offset as "HH LL" (-5 -> "FF FB", 40000 -> "9C 40"). */
QString offsetText(int offset);

/** @brief The address-search probe to @p address: a status read, AA P 00 00 P with P = address +
 * 0x80. */
QString addressProbe(int address);

/** @brief The single byte that ends continuous measurement: "58", no header, no checksum. */
QString stopByte();

/** @brief The Modbus measurement-mode frame M 01 06 00 02 m (six bytes, mode last). */
QString measureModeFrame(int modbusAddress, int mode);

/**
 * @brief The Modbus set-baud-rate text, M 06 00 03 followed by "00" and the code
 * as one decimal digit with no blank ("01 06 00 03 005"); the converter pairs
 * digits after dropping blanks, so it goes out as 00 05.
 */
QString modbusBaudRateText(int modbusAddress, int code);

} // namespace core::commands
