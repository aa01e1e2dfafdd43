// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDING_H
#define RECORDING_H

#include "hostclock.h"
#include "parser.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QThread;
class QTimer;
struct RecordProgress;

// One recording, from the window's side: rows are made here, on the GUI
// thread, and handed in batches to a RecordWriter on a thread of its own, so
// a slow or stalled disk never holds up the window. What the user needs to
// know comes out as console lines.
class Recording : public QObject
{
    Q_OBJECT

public:
    // Rows waiting for the disk beyond this end the recording: about 90 s of
    // the link's full rate, far more than a disk that keeps up ever holds.
    static constexpr qint64 MaxBacklogBytes = 4 * 1024 * 1024;

    // Starts at once; the file is opened on the writer's thread, and rows
    // added meanwhile wait for it.
    explicit Recording(QObject* parent);
    ~Recording() override;

    // The row of a record as displayed, stamped with the instant shown.
    void add(const UART_RCV& remapped, qint64 msSinceEpoch);
    // The host_time and frame index of the newest row, as the file has them;
    // false while there is none, or the recording no longer takes rows.
    bool newestRow(QByteArray& hostTime, int& index) const;
    // A mark on the row of hostTime and index, written beside the recording
    // (NAME.marks.csv) on the writer's thread.
    void addMark(const QByteArray& hostTime, int index, int number, const QString& note);
    // Ends the recording; the line saying so comes once the file is closed,
    // and the object then deletes itself.
    void stop();
    // For the window's closing: stops and waits up to waitMs for the file to
    // be complete. A writer the disk still holds then is left behind, and
    // standard error says so.
    void finishNow(int waitMs);

signals:
    void logged(const QString& line);
    // It ended on its own, on a fault, rather than by stop().
    void failed();

    // To the writer's thread.
    void openRequested(const QString& baseName);
    void rowsReady(const QByteArray& rows, int count);
    void finishRequested();
    void markReady(const QByteArray& row);

private:
    void sendRows();
    void giveUp();
    void onOpened(const QString& file);
    void onEnded(qint64 rows, const QString& error);

    enum class State { Recording, Stopping, GivenUp, Over };

    State state = State::Recording;
    std::shared_ptr<RecordProgress> progress;
    QThread* thread = nullptr;
    QTimer* sendTimer = nullptr;
    HostClock hostClock;
    QByteArray pendingRows;
    int pendingCount = 0;
    QString path;
    // The newest row added: what a mark made now marks.
    QByteArray newestTime;
    int newestIndex = -1;
};

#endif // RECORDING_H
