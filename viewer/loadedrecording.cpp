// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadedrecording.h"

#include "history.h"
#include "replayfile.h"

#include <QDate>
#include <QDateTime>

#include <algorithm>
#include <cmath>

LoadedRecording::LoadedRecording()
    : records(std::make_unique<History>(0))
{
}

LoadedRecording::~LoadedRecording() = default;

std::unique_ptr<LoadedRecording> LoadedRecording::load(const QString& path, QString& error)
{
    std::unique_ptr<LoadedRecording> loaded(new LoadedRecording);
    loaded->filePath = path;
    History& history = *loaded->records;
    const qint64 untimedOrigin = QDate::currentDate().startOfDay().toMSecsSinceEpoch();
    qint64 row = 0;
    quint8 lastIndex = 0;
    ReplayFile file;
    RecordingMarks& marks = loaded->recordingMarks;
    marks.readBeside(path);
    file.setRowSink([&](const UART_RCV& shown, qint64 msSinceEpoch) {
        if (marks.wantsRows())
            marks.row(row, msSinceEpoch, shown.index);
        // The parser's rule, so that the viewer and the live window agree.
        const bool broken = row > 0 && Parser::breaksSequence(lastIndex, shown.index);
        loaded->misses += broken;
        lastIndex = shown.index;
        if (row == 0)
            loaded->timed = file.isTimed();
        const qint64 ms = loaded->timed ? msSinceEpoch : untimedOrigin + std::llround(double(row) * FramePeriodMs);
        const qint64 shiftBefore = history.clockShiftMs();
        history.append(ms, shown);
        if (history.clockShiftMs() != shiftBefore)
            loaded->shiftFrom.emplace_back(row, history.clockShiftMs());
        loaded->indices.push_back(shown.index);
        if (broken)
            loaded->breakTimes.push_back(history.lastTime());
        ++row;
    });
    if (!file.load(path)) {
        error = file.errorText();
        return nullptr;
    }
    if (file.kind() == ReplayFile::Kind::Capture) {
        error = QStringLiteral("%1: a raw capture of the link, not a recording: decode it with imu-decode first")
                    .arg(path);
        return nullptr;
    }
    loaded->timed = file.isTimed();
    loaded->cutOff = file.cutOffText();
    marks.place(history, loaded->timed);
    return loaded;
}

UART_RCV LoadedRecording::recordAt(qint64 i) const
{
    const History& h = *records;
    return {indices[size_t(i)], h.rawAt(i, 0), h.rawAt(i, 1), h.rawAt(i, 2),
            h.rawAt(i, 3),      h.rawAt(i, 4), h.rawAt(i, 5)};
}

qint64 LoadedRecording::hostTimeAt(qint64 i) const
{
    const auto after = std::upper_bound(shiftFrom.begin(), shiftFrom.end(), i,
                                        [](qint64 record, const std::pair<qint64, qint64>& s) { return record < s.first; });
    const qint64 shift = after == shiftFrom.begin() ? 0 : std::prev(after)->second;
    return records->timeAt(i) - shift;
}
