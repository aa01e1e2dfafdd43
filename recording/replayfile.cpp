// SPDX-License-Identifier: GPL-3.0-or-later
#include "replayfile.h"

#include "recordcsv.h"
#include "recordformat.h"

#include <QFileInfo>
#include <QList>

#include <cmath>
#include <cstring>
#include <utility>
#include <limits>

namespace {

// A field is quoted in a message up to this many bytes, escaped, so that a
// binary file cannot put control characters on the user's terminal.
constexpr int QuotedFieldBytes = 40;
// Digits before the point that a number may have before it is surely out of
// every field's range; the cap also keeps the arithmetic from overflowing.
constexpr int MaxIntegerDigits = 12;
// A capture is searched for a valid frame in pieces of this size, stopping
// at the first.
constexpr qint64 FrameSearchChunk = 1 << 16;
// Rows handed to a sink are read from the file in pieces of this size, so
// that the file is never held in memory next to what the sink makes of it.
constexpr qint64 PieceBytes = 4 << 20;

// The header's field names, in order.
const QList<QByteArray>& fieldNames()
{
    static const QList<QByteArray> names = QByteArray(RecordCsv::Header).trimmed().split(',');
    return names;
}

enum Field { HostTime, Index, Yaw, Pitch, Roll, XMg, YMg, ZMg, XMs2, YMs2, ZMs2 };

QByteArray quoted(const char* begin, const char* end)
{
    return RecordFormat::quoted(QByteArray(begin, int(qMin<qint64>(end - begin, QuotedFieldBytes + 1))),
                               QuotedFieldBytes);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal number with at most `decimals` digits after the point, as an
// integer in units of 10^-decimals: "-1.5" with 2 decimals is -150.
bool parseFixed(const char* p, const char* end, int decimals, qint64& value)
{
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    qint64 magnitude = 0;
    int integerDigits = 0;
    for (; p < end && isDigit(*p); ++p) {
        if (++integerDigits > MaxIntegerDigits)
            return false;
        magnitude = magnitude * 10 + (*p - '0');
    }
    if (integerDigits == 0)
        return false;
    int fractionDigits = 0;
    if (p < end && *p == '.') {
        for (++p; p < end && isDigit(*p) && fractionDigits < decimals; ++p, ++fractionDigits)
            magnitude = magnitude * 10 + (*p - '0');
        if (fractionDigits == 0)
            return false;
    }
    if (p != end)
        return false;
    for (; fractionDigits < decimals; ++fractionDigits)
        magnitude *= 10;
    value = negative ? -magnitude : magnitude;
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// host_time as written: local time with milliseconds and its UTC offset,
// 2026-12-08T06:06:27.924+01:00 (or Z for UTC). The instant in milliseconds
// since 1970 UTC.
bool parseHostTime(const char* p, const char* end, qint64& ms)
{
    const qint64 size = end - p;
    constexpr int LocalPart = 23; // up to and with the milliseconds
    if (size != LocalPart + 1 && size != LocalPart + 6)
        return false;
    bool ok = true;
    auto number = [&](int at, int digits) {
        int value = 0;
        for (int i = at; i < at + digits; ++i) {
            ok = ok && isDigit(p[i]);
            value = value * 10 + (p[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2), milli = number(20, 3);
    const std::pair<int, char> separators[] = {{4, '-'}, {7, '-'}, {10, 'T'}, {13, ':'}, {16, ':'}, {19, '.'}};
    for (const auto& [at, separator] : separators)
        ok = ok && p[at] == separator;
    int offsetMinutes = 0;
    if (size == LocalPart + 1) {
        ok = ok && p[LocalPart] == 'Z';
    } else {
        const char sign = p[LocalPart];
        ok = ok && (sign == '+' || sign == '-') && p[LocalPart + 3] == ':';
        const int offsetHours = number(LocalPart + 1, 2), offsetRest = number(LocalPart + 4, 2);
        ok = ok && offsetHours < 24 && offsetRest < 60;
        offsetMinutes = (sign == '-' ? -1 : 1) * (offsetHours * 60 + offsetRest);
    }
    if (!ok || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23
        || minute > 59 || second > 59)
        return false;
    const qint64 minutes = (daysFromCivil(year, month, day) * 24 + hour) * 60 + minute - offsetMinutes;
    ms = (minutes * 60 + second) * 1000 + milli;
    return true;
}

// One line of the file: its text without the line end ("\n", or "\r\n"
// as a text editor on another system may write it), and where the next
// begins.
struct Line
{
    const char* begin;
    const char* end;
    const char* next;
};

Line lineAt(const char* p, const char* fileEnd)
{
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(fileEnd - p)));
    Line line {p, newline ? newline : fileEnd, newline ? newline + 1 : fileEnd};
    if (line.end > line.begin && line.end[-1] == '\r')
        --line.end;
    return line;
}

// A first line of text that is not the header: a CSV with a wrong header,
// rather than binary junk.
bool looksLikeText(const Line& first)
{
    if (first.end == first.begin)
        return false;
    for (const char* p = first.begin; p < first.end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F)
            return false;
    }
    return true;
}

bool isHeader(const Line& first)
{
    const QByteArray header = QByteArray(RecordCsv::Header).trimmed();
    return first.end - first.begin == header.size()
        && std::memcmp(first.begin, header.constData(), size_t(header.size())) == 0;
}

} // namespace

bool ReplayFile::load(const QString& filePath)
{
    path = filePath;
    file.close();
    file.setFileName(filePath);
    if (QFileInfo(filePath).isDir())
        return fail(0, QStringLiteral("cannot read it: it is a folder"));
    if (!file.open(QIODevice::ReadOnly))
        return fail(0, QStringLiteral("cannot read it: %1").arg(file.errorString()));
    if (rowSink && !file.isSequential()) {
        bool csv = false;
        const bool ok = readInPieces(csv);
        if (csv)
            return ok;
        // Not a recording: refused, or a capture, as when read whole.
        file.seek(0);
    }
    // Mapped, a CSV of hundreds of megabytes costs no copy: its rows are
    // read straight from the page cache into their compact form. A capture
    // is copied out before it is sent: sending from the file itself would
    // crash the simulator (SIGBUS) should the file be cut short meanwhile,
    // as writing a new capture over it does.
    const qint64 size = file.size();
    if (!file.isSequential() && size > 0) {
        if (uchar* mapped = file.map(0, size)) {
            bool ok = read(reinterpret_cast<const char*>(mapped), size);
            if (ok && fileKind == Kind::Capture) {
                if (captureBytes > std::numeric_limits<int>::max()) {
                    file.unmap(mapped);
                    return fail(0, QStringLiteral("the capture is too large to replay (over 2 GiB)"));
                }
                content = QByteArray(capture, int(captureBytes));
                ok = read(content.constData(), content.size());
            }
            file.unmap(mapped);
            return ok;
        }
    }
    content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(0, QStringLiteral("cannot read it: %1").arg(file.errorString()));
    return read(content.constData(), content.size());
}

bool ReplayFile::readInPieces(bool& csv)
{
    // Read, not mapped: a file cut short while it is read (a recording
    // still being written, a file replaced) ends the reading there instead
    // of crashing the process on a page that is gone.
    QByteArray buffer = file.read(PieceBytes);
    const char* start = buffer.constData();
    const Line first = lineAt(start, start + buffer.size());
    csv = isHeader(first) && first.next > first.end;
    if (!csv)
        return false;
    startRows();
    fileKind = Kind::Csv;
    lineNumber = 2;
    qint64 previousMs = 0;
    buffer.remove(0, int(first.next - start));
    for (;;) {
        const QByteArray more = file.read(PieceBytes);
        if (file.error() != QFileDevice::NoError)
            return fail(0, QStringLiteral("cannot read it: %1").arg(file.errorString()));
        buffer += more;
        const bool atEnd = more.isEmpty();
        // Whole lines only, until the end: a row is never split between
        // two pieces.
        const int whole = atEnd ? buffer.size() : buffer.lastIndexOf('\n') + 1;
        bool cutOffFound = false;
        if (!readRows(buffer.constData(), buffer.constData() + whole, previousMs, cutOffFound))
            return false;
        buffer.remove(0, whole);
        if (atEnd || cutOffFound)
            break;
    }
    return rowsRead > 0 || fail(lineNumber, QStringLiteral("the recording has no rows"));
}

void ReplayFile::startRows()
{
    csvRows.clear();
    capture = nullptr;
    captureBytes = 0;
    faultLine = 0;
    fault.clear();
    cutOff.clear();
    rowsRead = 0;
}

bool ReplayFile::read(const char* data, qint64 size)
{
    startRows();
    if (size == 0)
        return fail(1, QStringLiteral("the file is empty"));

    const char* end = data + size;
    const Line first = lineAt(data, end);
    const QByteArray header = QByteArray(RecordCsv::Header).trimmed();
    if (isHeader(first)) {
        fileKind = Kind::Csv;
        if (readCsv(first.next, end))
            return true;
        csvRows.clear();
        return false;
    }
    if (holdsFrame(data, size)) {
        fileKind = Kind::Capture;
        capture = data;
        captureBytes = size;
        return true;
    }
    if (looksLikeText(first))
        return fail(1, QStringLiteral("not a recording: the first line is not the header %1")
                           .arg(QString::fromLatin1(header)));
    return fail(1, QStringLiteral("neither a recording (no header) nor a capture (no valid frame)"));
}

bool ReplayFile::readCsv(const char* data, const char* end)
{
    if (!rowSink) {
        std::size_t lines = 0;
        for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)))); ++p)
            ++lines;
        csvRows.reserve(lines + 1);
    }

    lineNumber = 2;
    qint64 previousMs = 0;
    bool cutOffFound = false;
    if (!readRows(data, end, previousMs, cutOffFound))
        return false;
    if (rowsRead == 0)
        return fail(lineNumber, QStringLiteral("the recording has no rows"));
    if (rowSink)
        return true;
    qint64 total = 0;
    for (std::size_t i = 1; i < csvRows.size(); ++i)
        total += csvRows[i].gapMs;
    csvRows.front().gapMs = csvRows.size() > 1 ? quint32(total / qint64(csvRows.size() - 1)) : 0;
    return true;
}

bool ReplayFile::readRows(const char* data, const char* end, qint64& previousMs, bool& cutOffFound)
{
    for (const char* p = data; p < end; ++lineNumber) {
        const Line row = lineAt(p, end);
        if (!readRow(row.begin, row.end, previousMs)) {
            // Killed while writing its last row, a writer leaves that row
            // without its line end, and everything above it whole.
            const bool unended = row.next == end && end[-1] != '\n';
            cutOffFound = unended && faultCutsShort && acceptCutOff(lineNumber);
            return cutOffFound;
        }
        p = row.next;
    }
    return true;
}

bool ReplayFile::acceptCutOff(qint64 line)
{
    if (rowsRead == 0)
        return fail(line, QStringLiteral("the only row is cut off (%1)").arg(fault));
    const QString why = fault;
    faultLine = 0;
    fault.clear();
    cutOff = QStringLiteral("%1:%2: the last row is cut off (%3), as a crash while it was written leaves it; "
                            "%4 whole rows used")
                 .arg(path)
                 .arg(line)
                 .arg(why)
                 .arg(rowsRead);
    return true;
}

bool ReplayFile::readRow(const char* begin, const char* end, qint64& previousMs)
{
    if (begin == end)
        return fail(lineNumber, QStringLiteral("an empty line where a row was expected"));
    const char* fields[RecordCsv::FieldCount + 1];
    int count = 0;
    for (const char* p = begin;; ++p) {
        if (p == end || *p == ',') {
            if (count < RecordCsv::FieldCount)
                fields[count + 1] = p + 1;
            ++count;
            if (p == end)
                break;
        }
    }
    if (count != RecordCsv::FieldCount) {
        fail(lineNumber, QStringLiteral("the row has %1 fields, expected %2").arg(count).arg(RecordCsv::FieldCount));
        faultCutsShort = count < RecordCsv::FieldCount;
        return false;
    }
    fields[0] = begin;
    auto fieldEnd = [&](int field) { return field + 1 < RecordCsv::FieldCount ? fields[field + 1] - 1 : end; };
    auto name = [](int field) { return QString::fromLatin1(fieldNames().value(field)); };
    auto text = [&](int field) { return QString::fromLatin1(quoted(fields[field], fieldEnd(field))); };
    // A row cut short in its last field may still have all its fields.
    auto failField = [this](int field, const QString& what) {
        fail(lineNumber, what);
        faultCutsShort = field == RecordCsv::FieldCount - 1;
        return false;
    };

    const bool hasTime = fields[HostTime] != fieldEnd(HostTime);
    if (rowsRead == 0)
        timed = hasTime;
    else if (hasTime != timed)
        return fail(lineNumber, timed ? QStringLiteral("host_time is empty, but the rows above have one")
                                : QStringLiteral("host_time is given, but the rows above have none"));
    qint64 ms = 0;
    if (hasTime && !parseHostTime(fields[HostTime], fieldEnd(HostTime), ms))
        return fail(lineNumber, QStringLiteral("host_time %1 is not a local time with milliseconds and UTC "
                                         "offset, such as 2026-12-08T06:06:27.924+01:00")
                              .arg(text(HostTime)));

    // Each number field: its decimals and its range in those units.
    struct Spec
    {
        int decimals;
        qint64 min, max;
    };
    constexpr qint64 Min16 = std::numeric_limits<qint16>::min(), Max16 = std::numeric_limits<qint16>::max();
    constexpr Spec index {0, 0, 255}, angle {2, Min16, Max16}, mg {0, Min16, Max16};
    // What -32768 and 32767 mg come to.
    constexpr Spec ms2 {3, -321344, 321335};
    const Spec specs[] = {index, angle, angle, angle, mg, mg, mg, ms2, ms2, ms2};
    qint64 values[RecordCsv::FieldCount] = {};
    for (int field = Index; field < RecordCsv::FieldCount; ++field) {
        const Spec& spec = specs[field - Index];
        if (!parseFixed(fields[field], fieldEnd(field), spec.decimals, values[field])) {
            const QString decimals = spec.decimals ? QStringLiteral(" with at most %1 decimals").arg(spec.decimals)
                                                   : QString();
            return failField(field, QStringLiteral("%1 %2 is not a number%3").arg(name(field), text(field), decimals));
        }
        if (values[field] < spec.min || values[field] > spec.max) {
            auto shown = [&spec](qint64 v) {
                return QString::number(double(v) / std::pow(10, spec.decimals), 'f', spec.decimals);
            };
            return failField(field, QStringLiteral("%1 %2 is out of range (%3 to %4)")
                                        .arg(name(field), text(field), shown(spec.min), shown(spec.max)));
        }
    }
    // The m/s^2 columns repeat the milli-g ones, rounded to thousandths. A row
    // where they disagree was edited or cut short, and would not replay to
    // what it says.
    constexpr qint64 StandardGravityE5 = 980665; // m/s^2 per g, times 10^5
    constexpr qint64 HalfThousandthE8 = 50000;   // 0.0005 m/s^2, times 10^8
    for (int axis = 0; axis < 3; ++axis) {
        const qint64 milliG = values[XMg + axis], thousandths = values[XMs2 + axis];
        if (qAbs(thousandths * 100000 - milliG * StandardGravityE5) > HalfThousandthE8)
            return failField(XMs2 + axis, QStringLiteral("%1 %2 does not match %3 %4, which gives %5")
                                               .arg(name(XMs2 + axis), text(XMs2 + axis), name(XMg + axis))
                                               .arg(milliG)
                                               .arg(RecordFormat::metresPerSecondSquared(qint16(milliG))));
    }

    // The row holds the displayed values; the board's are the remapping's,
    // which is its own inverse.
    Row row {};
    row.record.index = quint8(values[Index]);
    row.record.angle1 = qint16(values[Yaw]);
    row.record.angle2 = qint16(values[Pitch]);
    row.record.angle3 = qint16(values[Roll]);
    row.record.accel1 = qint16(values[XMg]);
    row.record.accel2 = qint16(values[YMg]);
    row.record.accel3 = qint16(values[ZMg]);
    if (rowSink) {
        ++rowsRead;
        rowSink(row.record, ms);
        return true;
    }
    RecordFormat::remap(row.record);
    // A clock stepped back (or recordings joined out of order) gives no
    // pause; the rows after it keep their own gaps.
    if (hasTime && rowsRead > 0)
        row.gapMs = quint32(qBound<qint64>(0, ms - previousMs, std::numeric_limits<quint32>::max()));
    previousMs = ms;
    csvRows.push_back(row);
    ++rowsRead;
    return true;
}

bool ReplayFile::holdsFrame(const char* data, qint64 size) const
{
    Parser parser;
    bool found = false;
    QObject::connect(&parser, &Parser::dataReady, [&found](UART_RCV&) { found = true; });
    for (qint64 at = 0; at < size && !found; at += FrameSearchChunk)
        parser.parse(QByteArray::fromRawData(data + at, int(qMin(FrameSearchChunk, size - at))));
    return found;
}

bool ReplayFile::fail(qint64 atLine, const QString& what)
{
    faultLine = atLine;
    fault = what;
    faultCutsShort = false;
    return false;
}

QString ReplayFile::errorText() const
{
    if (faultLine > 0)
        return QStringLiteral("%1:%2: %3").arg(path).arg(faultLine).arg(fault);
    return QStringLiteral("%1: %2").arg(path, fault);
}
