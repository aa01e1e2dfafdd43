// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisesource.h"

#include "parser.h"
#include "recordformat.h"
#include "replayfile.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace Noise {

namespace {

constexpr qint64 MsPerDay = 24 * 3600 * 1000;
constexpr double MsPerSecond = 1000.0;
// A frame's time on the link at its full rate: rows without host_time and
// captures are taken as evenly spaced at it.
constexpr double FramePeriodMs = MsPerSecond / FullRateHz;
// A capture is fed to the parser in pieces of this size.
constexpr int CapturePiece = 1 << 20;

// The UTC offset the first row's host_time was written with, in ms; the
// machine's own for the first record's time when there is none to read.
qint64 recordingOffsetMs(const QString& path, qint64 firstMs)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        file.readLine();
        const QByteArray row = file.readLine();
        const int comma = row.indexOf(',');
        if (comma > 0) {
            const QDateTime t = QDateTime::fromString(QString::fromLatin1(row.left(comma)), Qt::ISODateWithMs);
            if (t.isValid())
                return qint64(t.offsetFromUtc()) * 1000;
        }
    }
    return qint64(QDateTime::fromMSecsSinceEpoch(firstMs).offsetFromUtc()) * 1000;
}

// The limit as ms from the first record; Open gives the bound itself.
double resolve(const SpanLimit& limit, qint64 firstMs, qint64 offsetMs, double open)
{
    switch (limit.kind) {
    case SpanLimit::Kind::Open:
        return open;
    case SpanLimit::Kind::Seconds:
        return limit.seconds * MsPerSecond;
    case SpanLimit::Kind::TimeOfDay:
        break;
    }
    // The first time this time of day comes at or after the first record:
    // a recording past midnight reaches it the next day.
    const qint64 firstOfDay = ((firstMs + offsetMs) % MsPerDay + MsPerDay) % MsPerDay;
    qint64 ahead = limit.msOfDay - firstOfDay;
    if (ahead < 0)
        ahead += MsPerDay;
    return double(ahead);
}

} // namespace

bool SpanLimit::parse(const QString& text, SpanLimit& limit, QString& error)
{
    static const QRegularExpression timeOfDay(
        QStringLiteral("^([01]?\\d|2[0-3]):([0-5]\\d):([0-5]\\d)(?:\\.(\\d{1,3}))?$"));
    const QRegularExpressionMatch match = timeOfDay.match(text);
    if (match.hasMatch()) {
        limit.kind = Kind::TimeOfDay;
        const QString fraction = match.captured(4).leftJustified(3, QLatin1Char('0'));
        limit.msOfDay = ((match.captured(1).toLongLong() * 60 + match.captured(2).toLongLong()) * 60
                         + match.captured(3).toLongLong()) * 1000
            + (match.captured(4).isEmpty() ? 0 : fraction.toLongLong());
        return true;
    }
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (ok && std::isfinite(seconds) && seconds >= 0.0) {
        limit.kind = Kind::Seconds;
        limit.seconds = seconds;
        return true;
    }
    error = QStringLiteral("'%1' is neither a time of day (hh:mm:ss[.zzz]) nor seconds from the start").arg(text);
    return false;
}

void SpanReader::setLimits(const SpanLimit& fromLimit, const SpanLimit& toLimit)
{
    from = fromLimit;
    to = toLimit;
}

bool SpanReader::read(const QString& path, Span& span, QString& error)
{
    span = Span();
    cutOff.clear();
    fileRecords = 0;
    capture = false;
    timed = false;

    ReplayFile file;
    qint64 firstMs = 0;
    double fromMs = 0.0;
    double toMs = std::numeric_limits<double>::infinity();
    bool kept = false;
    quint8 lastIndex = 0;
    bool timeOfDayWithoutClock = false;
    const auto take = [&](const UART_RCV& shown, qint64 msSinceEpoch) {
        if (fileRecords == 0) {
            timed = msSinceEpoch != 0 && !capture && file.isTimed();
            firstMs = timed ? msSinceEpoch : 0;
            const qint64 offset = timed ? recordingOffsetMs(path, firstMs) : 0;
            timeOfDayWithoutClock = !timed
                && (from.kind == SpanLimit::Kind::TimeOfDay || to.kind == SpanLimit::Kind::TimeOfDay);
            fromMs = resolve(from, firstMs, offset, 0.0);
            toMs = resolve(to, firstMs, offset, std::numeric_limits<double>::infinity());
        }
        const double at = timed ? double(msSinceEpoch - firstMs) : double(fileRecords) * FramePeriodMs;
        ++fileRecords;
        if (at < fromMs || at > toMs)
            return;
        // The parser's rule, so that the tool, the viewer and the live
        // window count the same lost frames.
        if (kept && Parser::breaksSequence(lastIndex, shown.index))
            ++span.lostFrames;
        lastIndex = shown.index;
        if (!kept)
            span.firstMs = timed ? msSinceEpoch : 0;
        span.lastMs = timed ? msSinceEpoch : 0;
        kept = true;
        const qint16 values[Channels] = {shown.angle1, shown.angle2, shown.angle3,
                                         shown.accel1, shown.accel2, shown.accel3};
        for (int c = 0; c < Channels; ++c)
            span.raw[std::size_t(c)].push_back(values[c]);
    };
    file.setRowSink(take);
    if (!file.load(path)) {
        error = file.errorText();
        return false;
    }
    cutOff = file.cutOffText();
    if (file.kind() == ReplayFile::Kind::Capture) {
        capture = true;
        Parser parser;
        QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV& record) {
            UART_RCV shown = record;
            RecordFormat::remap(shown);
            take(shown, 0);
        });
        for (qint64 at = 0; at < file.captureSize(); at += CapturePiece) {
            const int piece = int(std::min<qint64>(CapturePiece, file.captureSize() - at));
            parser.parse(QByteArray::fromRawData(file.captureData() + at, piece));
        }
    }
    if (timeOfDayWithoutClock) {
        error = QStringLiteral("%1: its records have no host_time: give --from and --to in seconds from the start")
                    .arg(path);
        return false;
    }
    if (to.kind != SpanLimit::Kind::Open && toMs < fromMs) {
        error = QStringLiteral("%1: the span ends before it starts").arg(path);
        return false;
    }
    span.rateHz = Span::rateFrom(span.size(), span.firstMs, span.lastMs);
    return true;
}

} // namespace Noise
