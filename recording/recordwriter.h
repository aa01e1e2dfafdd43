// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDWRITER_H
#define RECORDWRITER_H

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QTimer;

// What the window and the writer's thread both know of one recording.
struct RecordProgress
{
    // rowsKept once the window has given up on the recording.
    static constexpr qint64 Abandoned = -1;

    // Bytes handed to the writer and not written yet.
    std::atomic<qint64> backlog {0};
    // Records whose rows are whole in the file. The window swaps in
    // Abandoned when it gives up; the file is then cut back to the rows
    // counted at that moment, so the number it reported stays true.
    std::atomic<qint64> rowsKept {0};
};

// Writes one recording's file on a thread of its own: creating a folder,
// opening a file and writing to it may block for as long as the disk likes
// (a stalled USB stick, a network folder). The file holds only whole rows:
// a write that fails part-way is cut back to the last whole row. What was
// written reaches the disk within SyncPeriodMs, so a power cut loses at most
// about a second of rows, not the half-minute the kernel may hold back.
class RecordWriter : public QObject
{
    Q_OBJECT

public:
    explicit RecordWriter(std::shared_ptr<RecordProgress> progress);
    ~RecordWriter() override;

    // The recordings' folder inside the user's documents.
    static constexpr const char* FolderName = "Telvorin IMU";
    static constexpr int SyncPeriodMs = 1000;

public slots:
    // Creates the folder if missing and a new file in it named baseName
    // (-2, -3, ... appended when taken: nothing is ever overwritten), and
    // writes the CSV header.
    void open(const QString& baseName);
    void write(const QByteArray& rows, int count);
    // Closes the file and ends the thread.
    void finish();

signals:
    void opened(const QString& path);
    // The recording is over: stopped with error empty, or failed. Emitted
    // once, last.
    void ended(qint64 rows, const QString& error);

private:
    bool createFile(const QString& folder, const QString& baseName, QString& error);
    // Appends text made of count rows (0 for the header). When that fails
    // or the window has given up, the recording ends.
    void append(const QByteArray& text, int count);
    // Back to the whole rows counted.
    void cutBack();
    // Puts what was written on the disk; false, with error set, when the
    // disk refuses it.
    bool sync(QString& error);
    void syncNow();
    void end(const QString& error);

    std::shared_ptr<RecordProgress> progress;
    QString path;
    int fd = -1;
    qint64 rows = 0;
    qint64 bytes = 0;
    bool over = false;
    bool unsynced = false;
    QTimer* syncTimer = nullptr;
};

#endif // RECORDWRITER_H
