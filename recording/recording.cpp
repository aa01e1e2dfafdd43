// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording.h"

#include "markwriter.h"
#include "marksfile.h"
#include "recordcsv.h"
#include "recordwriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QThread>
#include <QTimer>

namespace {
// Rows go to the writer a few times a second: a handful of writes a second
// however fast records come, and little lost should the program be killed.
constexpr int SendPeriodMs = 250;
} // namespace

Recording::Recording(QObject* parent)
    : QObject(parent)
    , progress(std::make_shared<RecordProgress>())
    , thread(new QThread)
{
    auto* writer = new RecordWriter(progress);
    writer->moveToThread(thread);
    connect(thread, &QThread::finished, writer, &QObject::deleteLater);
    // Direct: the thread ends right after the writer, whatever the GUI
    // thread is doing.
    connect(writer, &RecordWriter::ended, thread, &QThread::quit, Qt::DirectConnection);
    connect(this, &Recording::openRequested, writer, &RecordWriter::open);
    connect(this, &Recording::rowsReady, writer, &RecordWriter::write);
    connect(this, &Recording::finishRequested, writer, &RecordWriter::finish);
    connect(writer, &RecordWriter::opened, this, &Recording::onOpened);
    connect(writer, &RecordWriter::ended, this, &Recording::onEnded);
    // The marks' writer shares the thread, and so learns the file's name and
    // its end before the next mark is taken.
    auto* marks = new MarkWriter;
    marks->moveToThread(thread);
    connect(thread, &QThread::finished, marks, &QObject::deleteLater);
    connect(writer, &RecordWriter::opened, marks, &MarkWriter::setRecordingPath);
    connect(writer, &RecordWriter::ended, marks, &MarkWriter::finish);
    connect(this, &Recording::markReady, marks, &MarkWriter::write);
    connect(marks, &MarkWriter::created, this, [this](const QString& file) { emit logged("Marks to " + file); });
    connect(marks, &MarkWriter::failed, this,
            [this](const QString& error) { emit logged("Marks no longer written: " + error); });

    sendTimer = new QTimer(this);
    sendTimer->setInterval(SendPeriodMs);
    connect(sendTimer, &QTimer::timeout, this, &Recording::sendRows);
    sendTimer->start();

    thread->setObjectName(QStringLiteral("record writer"));
    thread->start();
    // Named by its start in local time, in ASCII digits whatever the locale.
    const QString started = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    emit openRequested(QStringLiteral("imu-") + started);
}

Recording::~Recording()
{
    // Destroyed only once the writer has ended (its thread then only leaves
    // its event loop) or has been left behind by finishNow().
    if (thread) {
        thread->wait();
        delete thread;
    }
}

void Recording::add(const UART_RCV& remapped, qint64 msSinceEpoch)
{
    if (state != State::Recording)
        return;
    // Shared, not copied: the newest row's time costs nothing to keep.
    newestTime = hostClock.at(msSinceEpoch);
    RecordCsv::appendRow(pendingRows, newestTime, remapped);
    ++pendingCount;
    newestIndex = remapped.index;
}

bool Recording::newestRow(QByteArray& hostTime, int& index) const
{
    if (state != State::Recording || newestIndex < 0)
        return false;
    hostTime = newestTime;
    index = newestIndex;
    return true;
}

void Recording::addMark(const QByteArray& hostTime, int index, int number, const QString& note)
{
    if (state != State::Recording)
        return;
    QByteArray row;
    MarksFile::appendRow(row, hostTime, index, number, note);
    emit markReady(row);
}

void Recording::sendRows()
{
    if (pendingCount == 0)
        return;
    if (progress->backlog + pendingRows.size() > MaxBacklogBytes) {
        giveUp();
        return;
    }
    progress->backlog += pendingRows.size();
    emit rowsReady(pendingRows, pendingCount);
    pendingRows = QByteArray();
    pendingCount = 0;
}

void Recording::giveUp()
{
    state = State::GivenUp;
    sendTimer->stop();
    pendingRows = QByteArray();
    const qint64 kept = progress->rowsKept.exchange(RecordProgress::Abandoned);
    // The writer ends once the disk lets it go.
    emit finishRequested();
    emit logged(path.isEmpty()
                    ? QStringLiteral("Recording ended: the disk does not keep up; nothing was written")
                    : QStringLiteral("Recording ended: the disk does not keep up; %1 records kept in %2")
                          .arg(kept)
                          .arg(path));
    emit failed();
}

void Recording::stop()
{
    if (state != State::Recording)
        return;
    sendTimer->stop();
    sendRows();
    if (state != State::Recording)
        return;
    state = State::Stopping;
    emit finishRequested();
}

void Recording::onOpened(const QString& file)
{
    path = file;
    if (state != State::GivenUp)
        emit logged(QStringLiteral("Recording to ") + path);
}

void Recording::onEnded(qint64 rows, const QString& error)
{
    const State was = state;
    state = State::Over;
    sendTimer->stop();
    if (was != State::GivenUp) {
        if (error.isEmpty())
            emit logged(QStringLiteral("Recording stopped: %1 records in %2").arg(rows).arg(path));
        else if (path.isEmpty())
            emit logged(QStringLiteral("Recording failed: ") + error);
        else
            emit logged(QStringLiteral("Recording ended: %1; %2 records kept").arg(error).arg(rows));
        if (!error.isEmpty())
            emit failed();
    }
    deleteLater();
}

void Recording::finishNow(int waitMs)
{
    if (!thread)
        return;
    stop();
    const bool done = thread->wait(ulong(waitMs));
    // What the writer said while this thread waited: the path, the end.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (done)
        return;
    const qint64 kept = progress->rowsKept.exchange(RecordProgress::Abandoned);
    const QString file = path.isEmpty() ? QStringLiteral("a file not yet opened") : path;
    QString line = QStringLiteral("Recording to %1 left unfinished: the disk did not respond within %2 s")
                       .arg(file)
                       .arg(waitMs / 1000.0);
    if (kept != RecordProgress::Abandoned)
        line += QStringLiteral("; %1 records kept").arg(kept);
    qWarning("%s", qPrintable(line));
    // The thread cannot be stopped while the disk holds it: it is left to
    // end on its own, or with the program.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread = nullptr;
}
