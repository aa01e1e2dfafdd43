// SPDX-License-Identifier: GPL-3.0-or-later
// Parser throughput: a stream of valid frames, delivered in 4 KiB chunks as a
// serial port's reads would deliver them, with a listener connected. Prints
// bytes/s, frames/s and heap allocations per frame.
//
//   imu_bench_parser [MiB] [passes]     defaults: 64 MiB, 5 passes

#include "frameencoder.h"
#include "parser.h"

#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

// Every heap allocation of the process goes through malloc (operator new
// included, and Qt's containers), so counting here sees all of them.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<unsigned long long> allocations{0};

inline void countOne()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" void* malloc(size_t size)
{
    countOne();
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    countOne();
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, size_t size)
{
    countOne();
    return __libc_realloc(pointer, size);
}

namespace {

constexpr int ChunkSize = 4096;

double seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The board's frames, with varying values so that nothing is constant-folded
// and the index advances as it does on the link.
QVector<QByteArray> makeChunks(qint64 bytes, qint64& frames)
{
    frames = bytes / Parser::FrameSize + 1;
    QByteArray stream;
    stream.reserve(int(frames * Parser::FrameSize));
    for (qint64 n = 0; n < frames; ++n) {
        const auto v = qint16(n * 37);
        const UART_RCV record{quint8(n), v, qint16(-v), qint16(v ^ 0x5555), qint16(n), qint16(-1000),
                              qint16(1000 + (n & 0xFF))};
        stream.append(FrameEncoder::frame(record, {quint8(n), 0xAA, 0x00}));
    }
    QVector<QByteArray> chunks;
    for (int offset = 0; offset < stream.size(); offset += ChunkSize)
        chunks.append(stream.mid(offset, ChunkSize));
    return chunks;
}

struct Pass
{
    double wall = 0;
    double cpu = 0;
    unsigned long long allocations = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const qint64 mebibytes = argc > 1 ? std::max(1L, std::atol(argv[1])) : 64;
    const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    qint64 frames = 0;
    const QVector<QByteArray> chunks = makeChunks(mebibytes * 1024 * 1024, frames);
    const qint64 bytes = frames * Parser::FrameSize;

    std::vector<Pass> results;
    for (int pass = 0; pass <= passes; ++pass) { // pass 0 warms caches and is not reported
        Parser parser;
        qint64 emitted = 0;
        long long checksum = 0;
        QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV& data) {
            ++emitted;
            checksum += data.index + data.angle1 + data.accel3;
        });

        allocations = 0;
        counting = true;
        const double wall0 = seconds(CLOCK_MONOTONIC);
        const double cpu0 = seconds(CLOCK_THREAD_CPUTIME_ID);
        for (const QByteArray& chunk : chunks)
            parser.parse(chunk);
        const double cpu1 = seconds(CLOCK_THREAD_CPUTIME_ID);
        const double wall1 = seconds(CLOCK_MONOTONIC);
        counting = false;

        if (emitted != frames || parser.getCSumMisses() != 0 || parser.getIndexMisses() != 0
            || parser.getDroppedBytes() != 0) {
            std::fprintf(stderr,
                         "wrong result: %lld of %lld frames, %u checksum misses, %u index misses, "
                         "%llu dropped bytes\n",
                         (long long)emitted, (long long)frames, parser.getCSumMisses(),
                         parser.getIndexMisses(), (unsigned long long)parser.getDroppedBytes());
            return 1;
        }
        if (checksum == 42) // keeps the listener's work observable
            std::puts("");
        if (pass > 0)
            results.push_back({wall1 - wall0, cpu1 - cpu0, allocations.load()});
    }

    // The median pass: a shared machine's noise shows up as outliers.
    std::sort(results.begin(), results.end(), [](const Pass& a, const Pass& b) { return a.cpu < b.cpu; });
    const Pass& median = results[results.size() / 2];
    const Pass& best = results.front();
    unsigned long long mostAllocations = 0;
    for (const Pass& r : results)
        mostAllocations = std::max(mostAllocations, r.allocations);

    std::printf("parser: %lld frames, %.1f MiB in %d-byte chunks, %d passes (CPU time of one core)\n",
                (long long)frames, double(bytes) / (1024 * 1024), ChunkSize, passes);
    std::printf("  median: %.3f s  %.1f MB/s  %.2f M frames/s  %.0f ns/frame  (wall %.3f s)\n",
                median.cpu, double(bytes) / median.cpu / 1e6, double(frames) / median.cpu / 1e6,
                median.cpu / double(frames) * 1e9, median.wall);
    std::printf("  best:   %.3f s  %.1f MB/s  %.2f M frames/s  %.0f ns/frame\n", best.cpu,
                double(bytes) / best.cpu / 1e6, double(frames) / best.cpu / 1e6,
                best.cpu / double(frames) * 1e9);
    std::printf("  heap allocations: %llu in a pass, %.3f per frame, %.5f per byte\n", mostAllocations,
                double(mostAllocations) / double(frames), double(mostAllocations) / double(bytes));
    return 0;
}
