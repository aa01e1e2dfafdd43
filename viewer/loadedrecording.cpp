// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadedrecording.h"

#include "history.h"
#include "replayfile.h"

#include <QDate>
#include <QDateTime>

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
    file.setRowSink([&](const UART_RCV& shown, qint64 msSinceEpoch) {
        // The parser's rule, so that the viewer and the live window agree.
        const bool broken = row > 0 && Parser::breaksSequence(lastIndex, shown.index);
        loaded->misses += broken;
        lastIndex = shown.index;
        if (row == 0)
            loaded->timed = file.isTimed();
        const qint64 ms = loaded->timed ? msSinceEpoch : untimedOrigin + std::llround(double(row) * FramePeriodMs);
        history.append(ms, shown);
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
    return loaded;
}
