// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the frame parser: arbitrary bytes in arbitrary chunks.
//
// Input: the first byte chooses how the rest is cut into chunks; the rest is
// the byte stream. For every input it checks what must hold for any stream:
// - no crash and no undefined behaviour (the sanitizers);
// - every byte is accounted for: dropped, part of a finished frame (delivered
//   or a checksum miss), or held in the one unfinished frame (at most 18);
// - deliveries plus checksum misses never exceed the frames whose two sync
//   bytes were accepted;
// - the counters never decrease, and an empty chunk changes nothing;
// - whole, in chunks, and by a plain offset-walking reading of the format,
//   the records and counters are the same.

#include "parser.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int FrameSize = 19;
constexpr quint8 Sync = 0xAA;

struct Delivery
{
    UART_RCV record;
    uint checksumMisses;
    uint indexMisses;
    quint64 droppedBytes;
};

struct Outcome
{
    std::vector<Delivery> deliveries;
    uint checksumMisses = 0;
    uint indexMisses = 0;
    quint64 droppedBytes = 0;
    quint64 framesStarted = 0; // two sync bytes accepted
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "parser invariant broken: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what)
{
    if (!holds)
        fail(what);
}

bool operator==(const Delivery& a, const Delivery& b)
{
    const UART_RCV& x = a.record;
    const UART_RCV& y = b.record;
    return x.index == y.index && x.angle1 == y.angle1 && x.angle2 == y.angle2 && x.angle3 == y.angle3
        && x.accel1 == y.accel1 && x.accel2 == y.accel2 && x.accel3 == y.accel3
        && a.checksumMisses == b.checksumMisses && a.indexMisses == b.indexMisses
        && a.droppedBytes == b.droppedBytes;
}

void compare(const Outcome& a, const Outcome& b, const char* what)
{
    check(a.deliveries.size() == b.deliveries.size(), what);
    for (size_t i = 0; i < a.deliveries.size(); ++i)
        check(a.deliveries[i] == b.deliveries[i], what);
    check(a.checksumMisses == b.checksumMisses && a.indexMisses == b.indexMisses
              && a.droppedBytes == b.droppedBytes,
          what);
}

qint16 little16(const uint8_t* p)
{
    return qint16(quint16(p[0] | (p[1] << 8)));
}

// The frame format read by offsets rather than by a state machine.
Outcome readByOffsets(const uint8_t* s, size_t n)
{
    Outcome out;
    bool haveLast = false;
    quint8 lastIndex = 0;
    size_t i = 0;
    while (i < n) {
        if (s[i] != Sync) {
            ++out.droppedBytes;
            ++i;
        } else if (i + 1 == n) {
            break; // a possible first sync byte, still waiting
        } else if (s[i + 1] != Sync) {
            out.droppedBytes += 2;
            i += 2;
        } else {
            ++out.framesStarted;
            if (i + FrameSize > n)
                break; // unfinished frame
            const uint8_t* p = s + i + 2;
            quint8 sum = 0;
            for (int k = 0; k < 16; ++k)
                sum = quint8(sum + p[k]);
            if (sum != s[i + 18]) {
                ++out.checksumMisses;
            } else {
                const UART_RCV r{p[0],          little16(p + 1), little16(p + 3), little16(p + 5),
                                 little16(p + 7), little16(p + 9), little16(p + 11)};
                out.deliveries.push_back({r, out.checksumMisses, out.indexMisses, out.droppedBytes});
                if (haveLast) {
                    const quint8 d = quint8(r.index - lastIndex);
                    if (d != 1 && d != 255)
                        ++out.indexMisses;
                }
                haveLast = true;
                lastIndex = r.index;
            }
            i += FrameSize;
        }
    }
    return out;
}

class Feeder
{
public:
    Feeder()
    {
        QObject::connect(&parser, &Parser::dataReady, [this](UART_RCV& data) {
            const Delivery d{data, parser.getCSumMisses(), parser.getIndexMisses(), parser.getDroppedBytes()};
            checkMonotonic(d.checksumMisses, d.indexMisses, d.droppedBytes);
            outcome.deliveries.push_back(d);
            // Listeners may modify the record; nothing of it may carry over.
            std::memset(static_cast<void*>(&data), 0x5A, sizeof data);
            data.index = d.record.index;
        });
    }

    void feed(const uint8_t* bytes, size_t size)
    {
        const QByteArray chunk(reinterpret_cast<const char*>(bytes), int(size));
        const uint checksumMisses = parser.getCSumMisses();
        const uint indexMisses = parser.getIndexMisses();
        const quint64 droppedBytes = parser.getDroppedBytes();
        const size_t delivered = outcome.deliveries.size();
        parser.parse(chunk);
        consumed += size;
        if (size == 0)
            check(parser.getCSumMisses() == checksumMisses && parser.getIndexMisses() == indexMisses
                      && parser.getDroppedBytes() == droppedBytes && outcome.deliveries.size() == delivered,
                  "an empty chunk changed something");
        checkMonotonic(parser.getCSumMisses(), parser.getIndexMisses(), parser.getDroppedBytes());

        const quint64 finished = outcome.deliveries.size() + parser.getCSumMisses();
        check(parser.getDroppedBytes() + FrameSize * finished <= consumed, "more bytes accounted for than fed");
        check(consumed - parser.getDroppedBytes() - FrameSize * finished < FrameSize,
              "bytes neither dropped nor in a frame");
    }

    Outcome finish()
    {
        outcome.checksumMisses = parser.getCSumMisses();
        outcome.indexMisses = parser.getIndexMisses();
        outcome.droppedBytes = parser.getDroppedBytes();
        return outcome;
    }

private:
    void checkMonotonic(uint checksumMisses, uint indexMisses, quint64 droppedBytes)
    {
        check(checksumMisses >= lastChecksumMisses && indexMisses >= lastIndexMisses
                  && droppedBytes >= lastDroppedBytes,
              "a counter decreased");
        lastChecksumMisses = checksumMisses;
        lastIndexMisses = indexMisses;
        lastDroppedBytes = droppedBytes;
    }

    Parser parser;
    Outcome outcome;
    quint64 consumed = 0;
    uint lastChecksumMisses = 0;
    uint lastIndexMisses = 0;
    quint64 lastDroppedBytes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t plan = data[0];
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;

    Feeder whole;
    whole.feed(stream, length);
    const Outcome wholeOutcome = whole.finish();

    // Chunk sizes from a small generator seeded by the plan byte: up to
    // 1 + (plan % 64) bytes each, with empty chunks now and then.
    Feeder chunked;
    quint32 state = 0x9E3779B9u ^ (quint32(plan) * 0x01000193u);
    const size_t largest = 1 + (plan % 64);
    for (size_t offset = 0; offset < length;) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        size_t n = (state >> 8) % (largest + 1);
        if (n > length - offset)
            n = length - offset;
        chunked.feed(stream + offset, n);
        offset += n;
    }
    const Outcome chunkedOutcome = chunked.finish();

    const Outcome reference = readByOffsets(stream, length);
    const quint64 finished = wholeOutcome.deliveries.size() + wholeOutcome.checksumMisses;
    check(finished <= reference.framesStarted, "more frames finished than started");
    check(reference.framesStarted - finished <= 1, "a started frame neither finished nor pending");
    compare(wholeOutcome, chunkedOutcome, "whole and chunked differ");
    compare(wholeOutcome, reference, "parser and offset reading differ");
    return 0;
}
