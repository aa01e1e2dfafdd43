// SPDX-License-Identifier: GPL-3.0-or-later
#include "parserstreamgenerator.h"

#include "frameencoder.h"

#include <random>

namespace ParserStreamGenerator {

namespace {

constexpr quint8 Sync = 0xAA;

class Random
{
public:
    explicit Random(quint32 seed) : engine(seed) {}

    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine); }
    bool chance(double p) { return std::bernoulli_distribution(p)(engine); }

    // Bytes that exercise the sync search: 0xAA far more often than 1 in 256.
    quint8 byte() { return chance(0.15) ? Sync : quint8(between(0, 255)); }

    qint16 value()
    {
        switch (between(0, 5)) {
        case 0: return qint16(0xAAAA);
        case 1: return qint16(between(0, 1) ? 32767 : -32768);
        case 2: return qint16(between(-5, 5));
        default: return qint16(between(-32768, 32767));
        }
    }

private:
    std::mt19937 engine;
};

// Bytes between frames that a parser must drop, all of them: 0xAA only ever
// followed by another value, and never last, since a trailing 0xAA would
// pair with the next frame's first sync byte.
QByteArray garbage(Random& random)
{
    QByteArray out;
    const int length = random.chance(0.1) ? random.between(20, 300) : random.between(1, 12);
    while (out.size() < length) {
        quint8 b = random.byte();
        if (b == Sync) {
            out.append(char(Sync));
            do
                b = random.byte();
            while (b == Sync);
        }
        out.append(char(b));
    }
    return out;
}

} // namespace

Stream generate(quint32 seed, int frameCount)
{
    Random random(seed);
    Stream out;
    bool haveLast = false;
    quint8 lastIndex = 0;
    quint8 index = quint8(random.between(0, 255));

    for (int n = 0; n < frameCount; ++n) {
        if (random.chance(0.08)) {
            const QByteArray junk = garbage(random);
            out.bytes += junk;
            out.droppedBytes += quint64(junk.size());
            ++out.garbageRuns;
        }
        // What the board's counter does between frames: mostly one up, now
        // and then a step back, a repeat or a jump (a board reset).
        const int step = random.chance(0.9) ? 1 : random.between(0, 3) == 0 ? -1 : random.between(0, 255);
        index = quint8(index + step);

        const UART_RCV record{index,          random.value(), random.value(), random.value(),
                              random.value(), random.value(), random.value()};
        const FrameEncoder::Tail tail{random.byte(), random.byte(), random.byte()};

        const int fate = random.between(0, 99);
        if (fate < 4) { // lost on the way: never sent
            ++out.lostFrames;
        } else if (fate < 10) { // damaged on the way: sent with a wrong checksum
            QByteArray frame = FrameEncoder::frame(record, tail);
            frame[frame.size() - 1] = char(quint8(frame.back()) ^ quint8(random.between(1, 255)));
            out.bytes += frame;
            ++out.checksumMisses;
            ++out.corruptFrames;
        } else {
            out.bytes += FrameEncoder::frame(record, tail);
            out.records.append({record, out.checksumMisses, out.indexMisses, out.droppedBytes});
            if (haveLast) {
                const quint8 d = quint8(record.index - lastIndex);
                if (d != 1 && d != 255)
                    ++out.indexMisses;
            }
            haveLast = true;
            lastIndex = record.index;
        }
    }

    // Often the capture stops in the middle of a frame: nothing of it counts yet.
    if (random.chance(0.5)) {
        const UART_RCV record{quint8(index + 1), 1, 2, 3, 4, 5, 6};
        out.bytes += FrameEncoder::frame(record).left(random.between(1, Parser::FrameSize - 1));
        out.endsInsideFrame = true;
    }
    return out;
}

QVector<int> chunkSizes(quint32 seed, int length)
{
    Random random(seed ^ 0x9E3779B9u);
    QVector<int> sizes;
    int total = 0;
    while (total < length) {
        int size;
        switch (random.between(0, 9)) {
        case 0: size = 0; break;
        case 1: size = random.between(1, 4096); break;
        case 2: size = Parser::FrameSize; break;
        case 3:
        case 4: size = 1; break;
        default: size = random.between(1, 40); break;
        }
        size = qMin(size, length - total);
        sizes.append(size);
        total += size;
    }
    return sizes;
}

} // namespace ParserStreamGenerator
