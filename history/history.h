// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HISTORY_H
#define HISTORY_H

#include "parser.h"

#include <QVector>

#include <deque>
#include <memory>
#include <vector>

// The records a window can look back on: the six displayed values of each
// record and its arrival time, an hour of them at the link's full rate in
// about 50 MB (21.5 bytes a record: six 16-bit values, a 64-bit time and a
// share of the block summaries below).
//
// Records are kept in chunks of ChunkSize, so what grows older than the kept
// span leaves a chunk at a time and its memory goes back at once. Each chunk
// summarises every block of BlockSize records (minimum, maximum, sum and sum
// of squares of each channel), so the extremes or the statistics of an hour
// cost a visit per block instead of one per record: that is what lets six
// charts show an hour, column by column, in a few milliseconds.
//
// Times only increase. When the system clock is set back, the records after
// it are moved forward by the step, so that they follow the newest record
// instead of landing among older ones: nothing is lost from view and every
// search stays valid, and their times read that much later than the clock
// (clockShiftMs() says by how much).
class History
{
public:
    static constexpr int Channels = 6; // yaw, pitch, roll (degrees), X, Y, Z acceleration (mg), in the charts' order
    static constexpr qint64 DefaultKeptMs = 3600 * 1000;
    static constexpr int BlockSize = 64;
    static constexpr int ChunkSize = 64 * BlockSize;

    // keptMs <= 0: keep everything (a recording opened in a viewer).
    explicit History(qint64 keptMs = DefaultKeptMs);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Makes room for this many records in all, before they arrive.
    void reserve(qint64 records);
    // One record as displayed (after the window's remapping: angle1 yaw,
    // angle2 pitch, angle3 roll in hundredths of a degree; accel1..3 in mg),
    // at its arrival time.
    void append(qint64 msSinceEpoch, const UART_RCV& remapped);
    void clear();

    qint64 size() const { return count; }
    bool isEmpty() const { return count == 0; }
    qint64 keptMs() const { return kept; }
    qint64 clockShiftMs() const { return shiftMs; }

    qint64 timeAt(qint64 i) const;               // ms since epoch
    double valueAt(qint64 i, int channel) const; // display units: degrees, mg
    qint16 rawAt(qint64 i, int channel) const;   // hundredths of a degree, mg
    qint64 firstTime() const { return timeAt(0); }
    qint64 lastTime() const { return timeAt(count - 1); }
    // Display units per stored unit.
    static double unitOf(int channel) { return channel < 3 ? 0.01 : 1.0; }

    // The first record at or after ms, size() if none.
    qint64 lowerBound(double ms) const;
    // The first record after ms, size() if none.
    qint64 upperBound(double ms) const;
    // The record whose time is nearest to ms (the older one on a tie), -1
    // when there is none.
    qint64 nearest(double ms) const;

    struct Statistics
    {
        qint64 count = 0;
        double min = 0.0;
        double max = 0.0;
        double mean = 0.0;
        double standardDeviation = 0.0; // of the values themselves (divided by count)
    };
    // Of the records fromMs <= time <= toMs, in display units.
    Statistics statistics(int channel, double fromMs, double toMs) const;
    Statistics statisticsOf(int channel, qint64 first, qint64 last) const; // records [first, last)

    // A time span cut into columns of equal width, e.g. a chart's pixel
    // columns: how many records fall into each column, and their extremes
    // in display units. A column takes the records from its left edge up to
    // its right edge, the last column its right edge too.
    struct Column
    {
        qint64 first = 0; // its records are [first, first + count)
        qint64 count = 0;
        double min = 0.0;
        double max = 0.0;
    };
    QVector<Column> columns(int channel, double fromMs, double toMs, int columnCount) const;

    // What the store holds in memory, for the benchmark: bytes per record
    // kept is this over size().
    qint64 bytesHeld() const;

private:
    struct Chunk;
    struct Sums;

    Sums sumsOf(int channel, qint64 first, qint64 last) const;
    const Chunk& chunkOf(qint64 physical) const { return *chunks[size_t(physical / ChunkSize)]; }
    void dropOlderThan(qint64 ms);

    qint64 kept;
    qint64 count = 0;
    // Records of the first chunk already dropped.
    qint64 head = 0;
    qint64 shiftMs = 0;
    std::deque<std::unique_ptr<Chunk>> chunks;
    // Chunks made ahead by reserve().
    std::vector<std::unique_ptr<Chunk>> spare;
};

#endif // HISTORY_H
