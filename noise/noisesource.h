// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISESOURCE_H
#define NOISESOURCE_H

#include "noiseanalysis.h"

#include <QString>

namespace Noise {

// One end of the span to analyse: seconds from the first record ("90",
// "12.5") or a time of day on the recording's own clock ("14:07:09",
// "14:07:09.250"), the UTC offset its host_time was written with.
struct SpanLimit
{
    enum class Kind { Open, Seconds, TimeOfDay };
    Kind kind = Kind::Open;
    double seconds = 0.0;
    qint64 msOfDay = 0;

    // False with error set when text is neither form.
    static bool parse(const QString& text, SpanLimit& limit, QString& error);
};

// Reads a recording (CSV with or without host_time, a cut-off last row
// accepted as the viewer does) or a raw capture of the link, and keeps the
// records from `from` to `to` (both included) as a span.
class SpanReader
{
public:
    void setLimits(const SpanLimit& from, const SpanLimit& to);
    // False with error set to one line ("FILE:LINE: what", as the reader
    // says it) when the file cannot be read or the limits do not fit it.
    bool read(const QString& path, Span& span, QString& error);

    // The reader's note about a cut-off last row, or empty.
    QString warning() const { return cutOff; }
    qint64 recordsInFile() const { return fileRecords; }
    bool isCapture() const { return capture; }
    bool isTimed() const { return timed; }

private:
    SpanLimit from;
    SpanLimit to;
    QString cutOff;
    qint64 fileRecords = 0;
    bool capture = false;
    bool timed = false;
};

} // namespace Noise

#endif // NOISESOURCE_H
