// VirtualModule: the simulated laser module's logic (request parsing, settings, distance model,
// reply frames) as a state machine without any I/O.
#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QtGlobal>

#include <array>
#include <limits>

namespace sim {

enum class SpeedMode { Auto = 0, Slow = 1, Fast = 2 };
enum class DistanceModel { Constant, Ramp, Noisy };
enum class NoiseKind { Uniform, Gaussian };

/// Error codes carried in bytes 6-7 of an EE reply.
constexpr quint16 kErrorUnknownRegister = 0x0001;
constexpr quint16 kErrorBadValue = 0x0002;
constexpr quint16 kErrorOutOfRange = 0x0003;
constexpr quint16 kErrorWeakSignal = 0x0004;

/// Modbus exception codes.
constexpr quint8 kExceptionIllegalFunction = 0x01;
constexpr quint8 kExceptionIllegalAddress = 0x02;
constexpr quint8 kExceptionIllegalValue = 0x03;
constexpr quint8 kExceptionDeviceFailure = 0x04;

/// Continuous rate meaning "the next result as soon as the previous one has left the wire".
constexpr double kWireSpeed = std::numeric_limits<double>::infinity();

/**
 * Everything the module knows. The constructor takes the start values; the settings part then
 * follows the write commands for the life of the module.
 */
struct ModuleSettings
{
    // Settings the host can change.
    int address = 0; ///< 0xAA protocol, 0..127
    int modbusAddress = 1; ///< 1..247
    int baudCode = 3; ///< 3 = 9600
    int offsetMm = 0; ///< added to every distance
    SpeedMode speedMode = SpeedMode::Auto;
    bool laserOn = false;

    // Read-only values.
    quint16 status = 0x0000;
    int voltageMv = 3300; ///< sent as BCD so the four hex digits read as millivolts
    int temperatureTenths = 267;
    int angleTenths = 12;
    quint16 hardwareVersion = 0x0102;
    quint16 softwareVersion = 0x0215;
    quint32 serialNumber = 0x20240417; ///< the 0xAA reply carries the high word only
    int signal = 110;

    // Distance model: what the target does from one measurement to the next.
    DistanceModel model = DistanceModel::Constant;
    int distanceMm = 1234; ///< constant value, ramp start, centre of the noise
    int rampToMm = 5000;
    int rampStepMm = 10;
    int noiseMm = 5; ///< noisy model: uniform within +-noiseMm, or the Gaussian's sigma
    NoiseKind noiseKind = NoiseKind::Uniform;
    int minRangeMm = 30; ///< targets outside the range give an error reply
    int maxRangeMm = 40000;
    quint32 seed = 1;

    // Timing.
    int queryLatencyMs = 2;
    std::array<int, 3> measuringTimeMs { 80, 200, 20 }; ///< by speed mode: auto, slow, fast
    double continuousRate = 0; ///< results/s; 0: one per measuring time; kWireSpeed
    int frameGapMs = 20; ///< an unfinished frame is given up after this much silence

    // Fault on demand: every Nth measurement answers with an error (0: never).
    int errorEvery = 0;
    quint16 errorCode = kErrorWeakSignal;
};

/** One reply frame and when it is due. */
struct Response
{
    QByteArray bytes;
    int delayMs = 0; ///< counted from the feed() or expire() call that produced it
    int baudAfter = 0; ///< non-zero: the line runs at this rate once the reply has gone out
};

struct ModuleCounters
{
    quint64 requests = 0; ///< frames addressed to this module (the stop byte included)
    quint64 foreignFrames = 0; ///< valid 0xAA frames for other addresses
    quint64 discardedBytes = 0; ///< bytes that formed no valid frame
    quint64 measurements = 0;
};

class VirtualModule
{
public:
    explicit VirtualModule(const ModuleSettings &settings = {});

    /**
     * @brief Takes bytes as they came off the line at @p nowMs (any split or merge of frames)
     * and returns the replies to the frames completed by them.
     */
    QList<Response> feed(const QByteArray &bytes, qint64 nowMs);
    /** @brief Gives up on an unfinished frame once the line has been quiet long enough. */
    QList<Response> expire(qint64 nowMs);
    /** @brief When expire() has work to do, or -1 when no unfinished frame is held. */
    qint64 expiryMs() const;

    bool continuousRunning() const { return m_continuous; }
    /** @brief Increases with every start of continuous measurement. */
    quint32 continuousSeries() const { return m_series; }
    /** @brief Time between two continuous results; 0 means as fast as the wire allows. */
    qint64 continuousPeriodUs() const;
    /** @brief Measuring time of the current speed mode. */
    int measuringTimeMs() const;
    /** @brief The next result of the running continuous measurement. */
    QByteArray takeContinuousReply();

    const ModuleSettings &settings() const { return m_settings; }
    const ModuleCounters &counters() const { return m_counters; }
    /** @brief Line speed of the current baud-rate code. */
    int baud() const { return core::protocol::baudOfCode(m_settings.baudCode); }

private:
    QList<Response> scan(qint64 nowMs, bool giveUp);
    void handleAa(const QByteArray &frame, qint64 nowMs, QList<Response> &out);
    void handleModbus(const QByteArray &frame, qint64 nowMs, QList<Response> &out);
    void modbusRead(quint8 function, int start, int count, qint64 nowMs, QList<Response> &out);
    void modbusWrite(int reg, quint16 value, bool broadcast, qint64 nowMs, QList<Response> &out);
    Response reply(const QByteArray &bytes, int latencyMs, qint64 nowMs);
    /** @brief One measurement: the distance in mm, or an error code. */
    bool measure(qint32 *distance, quint16 *error);
    QByteArray aaMeasurement(int address);

    ModuleSettings m_settings;
    ModuleCounters m_counters;
    QRandomGenerator m_random;
    QByteArray m_rx;
    qint64 m_lastRxMs = 0;
    qint64 m_busyUntilMs = 0;
    qint64 m_rampStep = 0;
    bool m_continuous = false;
    quint32 m_series = 0;
};

} // namespace sim
