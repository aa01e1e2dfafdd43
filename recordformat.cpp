#include "recordformat.h"

namespace RecordFormat {

namespace {
qint16 negate16(qint16 value)
{
    return static_cast<qint16>(-static_cast<quint16>(value));
}
} // namespace

void remap(UART_RCV& data)
{
    data.angle1 = negate16(data.angle1);
    qSwap(data.angle2, data.angle3);
    data.accel3 = negate16(data.accel3);
}

double convertToMsSquared(short mg)
{
    constexpr double standardGravity = 9.80665;
    return (mg * standardGravity) / 1000;
}

QString degrees(qint16 hundredths)
{
    return QString::number(hundredths / 100.0, 'f', 2);
}

QString metresPerSecondSquared(qint16 mg)
{
    return QString::number(convertToMsSquared(mg), 'f', 3);
}

QString consoleLine(const UART_RCV& remapped)
{
    // arg() replaces the lowest-numbered placeholder first, so %10 is its own.
    return QStringLiteral("Ind: %1; Yaw: %2; Pitch: %3; Roll: %4; "
                          "Xacc: %5 mg (%6 m/s2); Yacc: %7 mg (%8 m/s2); Zacc: %9 mg (%10 m/s2)")
        .arg(uint(remapped.index), 3)
        .arg(degrees(remapped.angle1), 7)
        .arg(degrees(remapped.angle2), 7)
        .arg(degrees(remapped.angle3), 7)
        .arg(int(remapped.accel1), 6)
        .arg(metresPerSecondSquared(remapped.accel1), 7)
        .arg(int(remapped.accel2), 6)
        .arg(metresPerSecondSquared(remapped.accel2), 7)
        .arg(int(remapped.accel3), 6)
        .arg(metresPerSecondSquared(remapped.accel3), 7);
}

} // namespace RecordFormat
