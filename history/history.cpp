// SPDX-License-Identifier: GPL-3.0-or-later
#include "history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Every record of a block summarised at once, per channel. The sums are
// whole numbers in stored units and so exact, whatever their size: the
// variance below is taken from them without the cancellation that spoils
// a sum of squares in floating point.
struct BlockSummary
{
    qint16 min[History::Channels];
    qint16 max[History::Channels];
    qint32 sum[History::Channels];
    qint64 sumOfSquares[History::Channels];
};

} // namespace

struct History::Chunk
{
    qint64 time[ChunkSize];
    qint16 value[Channels][ChunkSize];
    BlockSummary block[ChunkSize / BlockSize];
};

struct History::Sums
{
    qint64 count = 0;
    qint64 sum = 0;
    qint64 sumOfSquares = 0;
    int min = std::numeric_limits<int>::max();
    int max = std::numeric_limits<int>::min();

    void add(int v)
    {
        ++count;
        sum += v;
        sumOfSquares += qint64(v) * v;
        min = std::min(min, v);
        max = std::max(max, v);
    }
};

History::History(qint64 keptMs)
    : kept(keptMs)
{
}

History::~History() = default;

void History::reserve(qint64 records)
{
    const qint64 held = qint64(chunks.size()) * ChunkSize - head;
    for (qint64 room = held + qint64(spare.size()) * ChunkSize; room < records; room += ChunkSize)
        spare.push_back(std::make_unique<Chunk>());
}

void History::clear()
{
    chunks.clear();
    count = head = shiftMs = 0;
}

void History::append(qint64 msSinceEpoch, const UART_RCV& remapped)
{
    qint64 at = msSinceEpoch + shiftMs;
    if (count > 0 && at < lastTime()) {
        shiftMs += lastTime() - at;
        at = lastTime();
    }

    const qint64 physical = head + count;
    if (physical == qint64(chunks.size()) * ChunkSize) {
        if (spare.empty()) {
            chunks.push_back(std::make_unique<Chunk>());
        } else {
            chunks.push_back(std::move(spare.back()));
            spare.pop_back();
        }
    }
    Chunk& chunk = *chunks.back();
    const int slot = int(physical % ChunkSize);
    chunk.time[slot] = at;
    const qint16 values[Channels] = {remapped.angle1, remapped.angle2, remapped.angle3,
                                     remapped.accel1, remapped.accel2, remapped.accel3};
    BlockSummary& block = chunk.block[slot / BlockSize];
    const bool blockStarts = slot % BlockSize == 0;
    for (int c = 0; c < Channels; ++c) {
        const qint16 v = values[c];
        chunk.value[c][slot] = v;
        if (blockStarts) {
            block.min[c] = block.max[c] = v;
            block.sum[c] = v;
            block.sumOfSquares[c] = qint64(v) * v;
        } else {
            block.min[c] = std::min(block.min[c], v);
            block.max[c] = std::max(block.max[c], v);
            block.sum[c] += v;
            block.sumOfSquares[c] += qint64(v) * v;
        }
    }
    ++count;

    if (kept > 0)
        dropOlderThan(at - kept);
}

void History::dropOlderThan(qint64 ms)
{
    while (count > 0 && chunkOf(head).time[head % ChunkSize] < ms) {
        ++head;
        --count;
        if (head == ChunkSize) {
            chunks.pop_front();
            head = 0;
        }
    }
}

qint64 History::timeAt(qint64 i) const
{
    const qint64 p = head + i;
    return chunkOf(p).time[p % ChunkSize];
}

qint16 History::rawAt(qint64 i, int channel) const
{
    const qint64 p = head + i;
    return chunkOf(p).value[channel][p % ChunkSize];
}

double History::valueAt(qint64 i, int channel) const
{
    return rawAt(i, channel) * unitOf(channel);
}

qint64 History::lowerBound(double ms) const
{
    qint64 low = 0, high = count;
    while (low < high) {
        const qint64 mid = low + (high - low) / 2;
        if (double(timeAt(mid)) < ms)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

qint64 History::upperBound(double ms) const
{
    qint64 low = 0, high = count;
    while (low < high) {
        const qint64 mid = low + (high - low) / 2;
        if (double(timeAt(mid)) <= ms)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

qint64 History::nearest(double ms) const
{
    if (count == 0)
        return -1;
    const qint64 after = lowerBound(ms);
    if (after == count)
        return count - 1;
    if (after == 0)
        return 0;
    return ms - double(timeAt(after - 1)) <= double(timeAt(after)) - ms ? after - 1 : after;
}

History::Sums History::sumsOf(int channel, qint64 first, qint64 last) const
{
    Sums sums;
    qint64 p = head + std::max<qint64>(first, 0);
    const qint64 end = head + std::min(last, count);
    while (p < end) {
        const Chunk& chunk = chunkOf(p);
        const qint64 chunkEnd = std::min(end, (p / ChunkSize + 1) * ChunkSize);
        const qint16* values = chunk.value[channel];
        for (int slot = int(p % ChunkSize); p < chunkEnd;) {
            if (slot % BlockSize == 0 && p + BlockSize <= chunkEnd) {
                const BlockSummary& block = chunk.block[slot / BlockSize];
                sums.count += BlockSize;
                sums.sum += block.sum[channel];
                sums.sumOfSquares += block.sumOfSquares[channel];
                sums.min = std::min<int>(sums.min, block.min[channel]);
                sums.max = std::max<int>(sums.max, block.max[channel]);
                slot += BlockSize;
                p += BlockSize;
            } else {
                sums.add(values[slot]);
                ++slot;
                ++p;
            }
        }
    }
    return sums;
}

History::Statistics History::statisticsOf(int channel, qint64 first, qint64 last) const
{
    const Sums s = sumsOf(channel, first, last);
    Statistics stats;
    if (s.count == 0)
        return stats;
    const double unit = unitOf(channel);
    stats.count = s.count;
    stats.min = s.min * unit;
    stats.max = s.max * unit;
    // sum = q n + r, so sum^2 / n = q^2 n + 2 q r + r^2 / n: the squared
    // deviations come out exactly in whole numbers but for r^2 / n, below
    // one count.
    const qint64 n = s.count;
    const qint64 q = s.sum / n;
    const qint64 r = s.sum % n;
    const double squaredDeviations
        = double(s.sumOfSquares - q * q * n - 2 * q * r) - double(r) * double(r) / double(n);
    stats.mean = (double(q) + double(r) / double(n)) * unit;
    stats.standardDeviation = std::sqrt(std::max(0.0, squaredDeviations / double(n))) * unit;
    return stats;
}

History::Statistics History::statistics(int channel, double fromMs, double toMs) const
{
    return statisticsOf(channel, lowerBound(fromMs), upperBound(toMs));
}

QVector<History::Column> History::columns(int channel, double fromMs, double toMs, int columnCount) const
{
    QVector<Column> out;
    if (columnCount <= 0 || !(toMs >= fromMs))
        return out;
    out.resize(columnCount);
    const double width = (toMs - fromMs) / columnCount;
    const double unit = unitOf(channel);
    qint64 first = lowerBound(fromMs);
    for (int k = 0; k < columnCount; ++k) {
        const qint64 last = k + 1 == columnCount ? upperBound(toMs) : lowerBound(fromMs + width * (k + 1));
        Column& column = out[k];
        column.first = first;
        column.count = std::max<qint64>(0, last - first);
        if (column.count > 0) {
            const Sums s = sumsOf(channel, first, last);
            column.min = s.min * unit;
            column.max = s.max * unit;
        }
        first = std::max(first, last);
    }
    return out;
}

qint64 History::bytesHeld() const
{
    return qint64(sizeof(History)) + qint64(chunks.size() + spare.size()) * qint64(sizeof(Chunk))
        + qint64(chunks.size()) * qint64(sizeof(void*));
}
