// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordformat.h"

#include <algorithm>
#include <cstdlib>

namespace RecordFormat {

namespace {

qint16 negate16(qint16 value)
{
    return static_cast<qint16>(-static_cast<quint16>(value));
}

// The numbers of a line are written as digits straight into a character
// buffer: the toolkit's double-to-text conversion and a string per field
// made up most of what a console line cost at the link's rate. The results
// are the toolkit's own to the character (QString::number with 'f').

// A number of at most this many characters, sign and point included.
constexpr int FieldCapacity = 24;

struct Field
{
    char text[FieldCapacity];
    int size = 0;
};

// |value| / 10^decimals with that many decimals, and its sign.
Field fixedPoint(bool negative, quint64 magnitude, int decimals)
{
    char digits[FieldCapacity];
    int count = 0;
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 || count <= decimals);

    Field field;
    if (negative)
        field.text[field.size++] = '-';
    while (count > 0) {
        if (count == decimals)
            field.text[field.size++] = '.';
        field.text[field.size++] = digits[--count];
    }
    return field;
}

Field integer(int value)
{
    return fixedPoint(value < 0, quint64(std::abs(qint64(value))), 0);
}

Field degreesField(qint16 hundredths)
{
    return fixedPoint(hundredths < 0, quint64(std::abs(int(hundredths))), 2);
}

Field metresPerSecondSquaredField(qint16 mg)
{
    // mg * 9.80665 / 1000 is exactly |mg| * 980665 hundred-millionths; kept
    // to thousandths, the rest decides the rounding. Exactly half way, the
    // double the monitor computes lies a hair to one side: it decides.
    constexpr quint64 ScaledStandardGravity = 980665;
    constexpr quint64 PerThousandth = 100000;
    const quint64 exact = quint64(std::abs(int(mg))) * ScaledStandardGravity;
    quint64 thousandths = exact / PerThousandth;
    const quint64 rest = exact % PerThousandth;
    if (rest * 2 == PerThousandth) {
        const QByteArray text = QByteArray::number(convertToMsSquared(mg), 'f', 3);
        Field field;
        field.size = text.size();
        std::copy(text.constBegin(), text.constEnd(), field.text);
        return field;
    }
    if (rest * 2 > PerThousandth)
        ++thousandths;
    return fixedPoint(mg < 0, thousandths, 3);
}

QString toString(const Field& field)
{
    return QString::fromLatin1(field.text, field.size);
}

// A line of text built left to right; a field is right-aligned to its width
// and overflows it rather than being cut.
class Line
{
public:
    void put(const char* text)
    {
        while (*text)
            buffer[size++] = *text++;
    }

    void put(const Field& field, int width)
    {
        for (int pad = width - field.size; pad > 0; --pad)
            buffer[size++] = ' ';
        std::copy(field.text, field.text + field.size, buffer + size);
        size += field.size;
    }

    QString text() const { return QString::fromLatin1(buffer, size); }

private:
    // The fixed text and ten fields at their widest.
    char buffer[256];
    int size = 0;
};

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
    return toString(degreesField(hundredths));
}

QString metresPerSecondSquared(qint16 mg)
{
    return toString(metresPerSecondSquaredField(mg));
}

QString consoleLine(const UART_RCV& remapped)
{
    // "Ind: %1; Yaw: %2; Pitch: %3; Roll: %4; Xacc: %5 mg (%6 m/s2); ..."
    // with the fields right-aligned to widths 3, 7, 7, 7 and then 6 and 7
    // for each acceleration.
    Line line;
    line.put("Ind: ");
    line.put(integer(remapped.index), 3);
    line.put("; Yaw: ");
    line.put(degreesField(remapped.angle1), 7);
    line.put("; Pitch: ");
    line.put(degreesField(remapped.angle2), 7);
    line.put("; Roll: ");
    line.put(degreesField(remapped.angle3), 7);
    const struct
    {
        const char* name;
        qint16 mg;
    } accelerations[] = {
        {"; Xacc: ", remapped.accel1}, {"; Yacc: ", remapped.accel2}, {"; Zacc: ", remapped.accel3}};
    for (const auto& acceleration : accelerations) {
        line.put(acceleration.name);
        line.put(integer(acceleration.mg), 6);
        line.put(" mg (");
        line.put(metresPerSecondSquaredField(acceleration.mg), 7);
        line.put(" m/s2)");
    }
    return line.text();
}

QByteArray quoted(const QByteArray& bytes, int maxBytes)
{
    QByteArray out = "\"";
    for (int i = 0; i < bytes.size() && i < maxBytes; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\')
            out.append('\\').append(char(c));
        else if (c >= 0x20 && c < 0x7F)
            out.append(char(c));
        else
            out.append("\\x").append(QByteArray::number(c, 16).rightJustified(2, '0'));
    }
    out.append('"');
    if (bytes.size() > maxBytes)
        out.append("...");
    return out;
}

} // namespace RecordFormat
