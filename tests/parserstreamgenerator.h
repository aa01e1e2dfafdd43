// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PARSERSTREAMGENERATOR_H
#define PARSERSTREAMGENERATOR_H

#include "parser.h"

#include <QByteArray>
#include <QVector>

// Plays a board on a bad link: a long stream of frames with faults injected,
// together with what a correct parser must make of it. The expectations are
// worked out from what was put into the stream, never by parsing it.
namespace ParserStreamGenerator {

// A record the parser must deliver, with its counters as they must stand
// while the record is being delivered.
struct ExpectedRecord
{
    UART_RCV record;
    uint checksumMisses;
    uint indexMisses;
    quint64 droppedBytes;
};

struct Stream
{
    QByteArray bytes;
    QVector<ExpectedRecord> records;
    // After the whole stream.
    uint checksumMisses = 0;
    uint indexMisses = 0;
    quint64 droppedBytes = 0;

    // What was injected, so a test can tell it was not a clean stream.
    int corruptFrames = 0;
    int lostFrames = 0;
    int garbageRuns = 0;
    bool endsInsideFrame = false;
};

// The same seed always gives the same stream.
Stream generate(quint32 seed, int frameCount);

// Sizes that cut a stream of the given length into pieces: mostly small,
// some large, a few empty.
QVector<int> chunkSizes(quint32 seed, int length);

} // namespace ParserStreamGenerator

#endif // PARSERSTREAMGENERATOR_H
