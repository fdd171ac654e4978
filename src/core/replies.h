// Reply decoders of both protocols: what a module's reply says, as values.
#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace core::replies {

/// A reply needs at least two bytes before any decoder looks at it.
constexpr int kMinParsedBytes = 2;

/** @brief What a reply says. Kinds both protocols know are shared; each carries its own words. */
enum class Kind {
    Nothing, ///< nothing to show (unknown register, unexpected laser value, nothing sent yet)
    NotAFrame, ///< a reply in 0xAA mode that is not a 0xAA or 0xEE frame
    Measurement, ///< number: distance in mm; signal
    ModuleError, ///< word: the error code bytes (0xEE reply); number: their value
    ModbusException, ///< word: the exception code byte (function code with bit 7 set)
    LaserOn,
    LaserOff,
    MeasureModeSet, ///< number: the speed set, 0 auto, 1 slow, 2 fast (Modbus)
    Temperature, ///< number: tenths of a degree Celsius
    Angle, ///< number: tenths of a degree (Modbus)
    Voltage, ///< word: the voltage in mV as the module sends it (shown as hex)
    HardwareVersion, ///< word
    SoftwareVersion, ///< word
    SerialNumber, ///< word
    Status, ///< word (0xAA)
    AddressFound, ///< number: the address that answered the address search (0xAA)
    Address, ///< word: the address register (Modbus)
    AddressSet, ///< number: the new address; word: the byte as sent back (Modbus shows it as hex)
    OffsetRead, ///< number: the offset in mm
    OffsetSet, ///< number: the offset in mm
    BaudRateSet, ///< the module took the baud rate chosen in the window
};

/** @brief The outcome of one decoded reply: values only; the front-end picks the words. */
struct Reply
{
    Kind kind = Kind::Nothing;
    CheckMode protocol = CheckMode::Sum8; ///< which decoder read it
    qint64 number = 0;
    qint32 signal = 0; ///< Measurement: the signal strength
    QByteArray word; ///< bytes shown as hex, as many as the reply holds (at most 2)
    /// 0xAA measurements go to the chart too; Modbus ones only to the result table.
    bool chartPoint = false;
    /// A status reply that ended the address search.
    bool endsAddressSearch = false;
    /// The module's address after a set-address reply.
    std::optional<int> newAddress;

    bool isError() const { return kind == Kind::ModuleError || kind == Kind::ModbusException; }
    bool isMeasurement() const { return kind == Kind::Measurement || kind == Kind::ModuleError; }
};

/** @brief What the 0xAA decoder reads besides the reply: the address search. */
struct AaContext
{
    bool addressSearchRunning = false;
    int lastProbedAddress = -1; ///< the address probed last, for a reply that does not name one
};

/** @brief Decodes a 0xAA-protocol reply (checksum included) by its header and register code. */
Reply decodeAa(const QByteArray &reply, const AaContext &ctx);

/**
 * @brief Decodes a Modbus reply (CRC included) as the answer to @p lastSent, the frame written
 * last (CRC included); the register a reply answers is only in the request.
 */
Reply decodeModbus(const QByteArray &reply, const QByteArray &lastSent);

/** @brief Where a reply goes. */
enum class Route {
    Empty, ///< nothing arrived: not shown, not counted
    TooShort, ///< shown and closed by a separator, not decoded, not counted
    Aa, ///< the 0xAA decoder, then counted
    Modbus, ///< the Modbus decoder, then counted
    Unparsed, ///< check mode neither 0 nor 1: shown and counted, not decoded
};

/** @brief Route of @p reply under @p checkMode; no check mode (a check-mode box index that names
 * none) decodes nothing. */
Route routeReply(const QByteArray &reply, std::optional<CheckMode> checkMode);

} // namespace core::replies
