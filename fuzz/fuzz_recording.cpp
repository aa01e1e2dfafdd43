// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the reader of files to replay (imu-sim --replay).
//
// Every input is read twice over:
// - as a file: no crash and no undefined behaviour (the sanitizers); a
//   refusal names a line within the file in one printable line; an accepted
//   CSV has no more rows than lines, drops a last row as cut off only when
//   it has no line end, and its rows written again by the
//   recording writer read back to the same records and gaps, and that text
//   round-trips to itself; an accepted capture is the whole input and does
//   not start with the header; read into a sink, as the viewer reads it,
//   it gets the same verdict and the same rows;
// - as records: each 16 bytes are a displayed record and a gap, written by
//   the recording writer with host_time at some UTC offset; the reader must
//   accept that file and give back every record and gap exactly.

#include "parser.h"
#include "recordcsv.h"
#include "recordformat.h"
#include "replayfile.h"

#include <QByteArray>
#include <QDateTime>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

// A start of the recordings written here, and the UTC offsets their
// host_time is written at (0 is written as Z).
constexpr qint64 StartMs = 1796710000000; // 2026-12-08
constexpr int OffsetsSeconds[] = {0, 3600, -9 * 3600 - 1800, 14 * 3600};
// The bytes of one record of the second reading, and the largest gap in ms.
constexpr size_t RecordBytes = 16;
constexpr quint32 GapMask = 0xFFFFF;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "recording reader invariant broken: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what)
{
    if (!holds)
        fail(what);
}

bool sameRecord(const UART_RCV& a, const UART_RCV& b)
{
    return a.index == b.index && a.angle1 == b.angle1 && a.angle2 == b.angle2 && a.angle3 == b.angle3
        && a.accel1 == b.accel1 && a.accel2 == b.accel2 && a.accel3 == b.accel3;
}

qint64 lineCount(const char* data, size_t size)
{
    qint64 lines = 1;
    for (size_t i = 0; i < size; ++i)
        lines += data[i] == '\n';
    return lines;
}

// The rows written by the recording writer, as the monitor and imu-decode
// write them; host_time from the gaps when timed.
QByteArray writeRows(const std::vector<ReplayFile::Row>& rows, bool timed, int offsetSeconds)
{
    QByteArray out = RecordCsv::Header;
    qint64 ms = StartMs;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i > 0)
            ms += rows[i].gapMs;
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds);
        const QByteArray hostTime = timed ? when.toString(Qt::ISODateWithMs).toLatin1() : QByteArray();
        UART_RCV shown = rows[i].record;
        RecordFormat::remap(shown);
        RecordCsv::appendRow(out, hostTime, shown);
    }
    return out;
}

// Reads what the writer wrote: accepted, with the same records and gaps,
// and written again to the same text.
void checkRoundTrip(const std::vector<ReplayFile::Row>& rows, bool timed, int offsetSeconds)
{
    const QByteArray text = writeRows(rows, timed, offsetSeconds);
    ReplayFile again;
    if (!again.read(text.constData(), text.size())) {
        std::fprintf(stderr, "%s\n", qPrintable(again.errorText()));
        fail("the writer's own text was refused");
    }
    check(again.kind() == ReplayFile::Kind::Csv && again.isTimed() == timed,
          "the writer's text read as another kind");
    check(again.rows().size() == rows.size(), "the writer's rows read back to another number");
    for (size_t i = 0; i < rows.size(); ++i) {
        check(sameRecord(again.rows()[i].record, rows[i].record), "a written record read back differently");
        check(i == 0 || !timed || again.rows()[i].gapMs == rows[i].gapMs, "a written gap read back differently");
    }
    check(writeRows(again.rows(), timed, offsetSeconds) == text, "the writer's text did not round-trip");
}

// The same file read with its rows handed to a sink, as the viewer reads
// it: the same verdict, and the same rows.
void checkStreamed(const char* data, size_t size, const ReplayFile& kept, bool accepted)
{
    ReplayFile streamed;
    std::vector<UART_RCV> rows;
    streamed.setRowSink([&rows](const UART_RCV& shown, qint64) {
        UART_RCV board = shown;
        RecordFormat::remap(board);
        rows.push_back(board);
    });
    check(streamed.read(data, qint64(size)) == accepted && streamed.errorText() == kept.errorText()
              && streamed.cutOffText() == kept.cutOffText(),
          "a file read into a sink got another verdict");
    if (!accepted || kept.kind() != ReplayFile::Kind::Csv)
        return;
    check(rows.size() == kept.rows().size(), "a sink got another number of rows");
    for (size_t i = 0; i < rows.size(); ++i)
        check(sameRecord(rows[i], kept.rows()[i].record), "a sink got another record");
}

void readAsFile(const char* data, size_t size)
{
    ReplayFile recording;
    const bool accepted = recording.read(data, qint64(size));
    checkStreamed(data, size, recording, accepted);
    if (!accepted) {
        check(recording.errorLine() >= 1 && recording.errorLine() <= lineCount(data, size),
              "a refusal names a line outside the file");
        for (const QChar c : recording.errorText())
            check(c.unicode() >= 0x20 && c.unicode() != 0x7F, "a refusal prints a control character");
        return;
    }
    // The header's text, then the end of its line.
    const QByteArray header = QByteArray(RecordCsv::Header).trimmed();
    const QByteArray input = QByteArray::fromRawData(data, int(size));
    const bool startsWithHeader = input.startsWith(header + '\n') || input.startsWith(header + "\r\n");
    if (recording.kind() == ReplayFile::Kind::Capture) {
        check(recording.captureData() == data && recording.captureSize() == qint64(size),
              "a capture is not the whole input");
        check(!startsWithHeader, "a recording read as a capture");
        return;
    }
    check(startsWithHeader, "a CSV without the header");
    // A last row dropped as cut off is one without its line end.
    check(recording.cutOffText().isEmpty() || !input.endsWith('\n'), "a row with its line end taken as cut off");
    for (const QChar c : recording.cutOffText())
        check(c.unicode() >= 0x20 && c.unicode() != 0x7F, "the cut-off line prints a control character");
    check(!recording.rows().empty(), "a CSV accepted without rows");
    check(qint64(recording.rows().size()) < lineCount(data, size), "more rows than lines");
    checkRoundTrip(recording.rows(), recording.isTimed(), OffsetsSeconds[size % std::size(OffsetsSeconds)]);
}

void readAsRecords(const uint8_t* data, size_t size)
{
    std::vector<ReplayFile::Row> rows;
    for (size_t at = 0; at + RecordBytes <= size; at += RecordBytes) {
        const uint8_t* p = data + at;
        auto value = [p](int i) { return qint16(quint16(p[1 + 2 * i] | (p[2 + 2 * i] << 8))); };
        UART_RCV shown {p[0], value(0), value(1), value(2), value(3), value(4), value(5)};
        RecordFormat::remap(shown);
        rows.push_back({shown, quint32(p[13] | (p[14] << 8) | (p[15] << 16)) & GapMask});
    }
    if (rows.empty())
        return;
    const bool timed = size % 2 == 0;
    checkRoundTrip(rows, timed, OffsetsSeconds[(size / 2) % std::size(OffsetsSeconds)]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readAsFile(reinterpret_cast<const char*>(data), size);
    readAsRecords(data, size);
    return 0;
}
