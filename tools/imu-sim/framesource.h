// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef FRAMESOURCE_H
#define FRAMESOURCE_H

#include "motion.h"
#include "parser.h"
#include "stillboard.h"

#include <QByteArray>

#include <cstdint>

class ReplayFile;

// Where the simulated board's frames come from: its own motion, or a
// recording played back. The streaming loop paces, faults and sends them.
class FrameSource
{
public:
    struct Frame
    {
        // The record to encode, unless bytes holds the link's own bytes to
        // send as they are (a raw capture).
        UART_RCV record {};
        QByteArray bytes;
        // Seconds from this frame to the next, at the source's own pace.
        double interval = 0;
    };

    virtual ~FrameSource() = default;
    // The next frame; false when there is none left (a recording played to
    // its end without looping).
    virtual bool next(Frame& frame) = 0;
    // The board's reset: back to the first frame.
    virtual void restart() = 0;
    // What the reset does, for the log.
    virtual QByteArray restartText() const = 0;
};

// The simulated motion, numbered from index 0 and restarting from rest.
class MotionSource : public FrameSource
{
public:
    // framesPerSecond sets how far the motion moves per frame; interval is
    // the pace (0: as fast as the link carries).
    MotionSource(std::uint64_t seed, double framesPerSecond, double interval);
    bool next(Frame& frame) override;
    void restart() override;
    QByteArray restartText() const override { return "index and motion restart from rest"; }

private:
    BoardMotion motion;
    double framesPerSecond;
    double interval;
    quint8 index = 0;
    quint64 sinceReset = 0;
};

// The still board, numbered from index 0 and starting afresh at a reset.
class StillSource : public FrameSource
{
public:
    // framesPerSecond is the rate the frames are generated at, which the
    // noise is scaled to; interval is the pace (0: as fast as the link
    // carries).
    StillSource(const StillNoise& noise, std::uint64_t seed, double framesPerSecond, double interval);
    bool next(Frame& frame) override;
    void restart() override;
    QByteArray restartText() const override { return "index, yaw drift and bias walk restart"; }

private:
    StillBoard board;
    double interval;
    quint8 index = 0;
};

// A recording played back: each CSV row encoded into its frame again, or a
// raw capture in slices of one frame's length.
class ReplaySource : public FrameSource
{
public:
    // The rows follow one another by their host_time gaps when byHostTime
    // (and the recording has them), otherwise every interval seconds.
    ReplaySource(const ReplayFile& recording, bool loop, double interval, bool byHostTime);
    bool next(Frame& frame) override;
    void restart() override { position = 0; }
    QByteArray restartText() const override;

    // Frames in one pass through the recording.
    qint64 frameCount() const;

private:
    const ReplayFile& recording;
    bool loop;
    double interval;
    bool byHostTime;
    qint64 position = 0; // a row, or a byte of a capture
};

#endif // FRAMESOURCE_H
