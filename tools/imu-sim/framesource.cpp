// SPDX-License-Identifier: GPL-3.0-or-later
#include "framesource.h"

#include "replayfile.h"

namespace {
constexpr double MillisecondsPerSecond = 1000.0;
} // namespace

MotionSource::MotionSource(std::uint64_t seed, double framesPerSecond, double interval)
    : motion(seed), framesPerSecond(framesPerSecond), interval(interval)
{
}

bool MotionSource::next(Frame& frame)
{
    frame.record = motion.sample(double(sinceReset) / framesPerSecond);
    frame.record.index = index++;
    frame.bytes.clear();
    frame.interval = interval;
    ++sinceReset;
    return true;
}

void MotionSource::restart()
{
    index = 0;
    sinceReset = 0;
}

StillSource::StillSource(const StillNoise& noise, std::uint64_t seed, double framesPerSecond, double interval)
    : board(noise, seed, framesPerSecond), interval(interval)
{
}

bool StillSource::next(Frame& frame)
{
    frame.record = board.next();
    frame.record.index = index++;
    frame.bytes.clear();
    frame.interval = interval;
    return true;
}

void StillSource::restart()
{
    index = 0;
    board.restart();
}

ReplaySource::ReplaySource(const ReplayFile& recording, bool loop, double interval, bool byHostTime)
    : recording(recording), loop(loop), interval(interval), byHostTime(byHostTime && recording.isTimed())
{
}

qint64 ReplaySource::frameCount() const
{
    if (recording.kind() == ReplayFile::Kind::Csv)
        return qint64(recording.rows().size());
    return (recording.captureSize() + Parser::FrameSize - 1) / Parser::FrameSize;
}

bool ReplaySource::next(Frame& frame)
{
    const bool csv = recording.kind() == ReplayFile::Kind::Csv;
    const qint64 end = csv ? qint64(recording.rows().size()) : recording.captureSize();
    if (position >= end) {
        if (!loop)
            return false;
        position = 0;
    }
    frame.interval = interval;
    if (csv) {
        const auto& rows = recording.rows();
        frame.record = rows[std::size_t(position)].record;
        frame.bytes.clear();
        ++position;
        // The pause before the next row; past the last, before the first,
        // which holds the recording's mean gap.
        if (byHostTime)
            frame.interval = rows[std::size_t(position % end)].gapMs / MillisecondsPerSecond;
    } else {
        const qint64 size = qMin<qint64>(Parser::FrameSize, end - position);
        frame.bytes = QByteArray::fromRawData(recording.captureData() + position, int(size));
        position += size;
    }
    return true;
}

QByteArray ReplaySource::restartText() const
{
    return recording.kind() == ReplayFile::Kind::Csv ? "the replay starts again from its first row"
                                                    : "the replay starts again from the capture's first byte";
}
