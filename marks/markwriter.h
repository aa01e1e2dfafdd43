// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MARKWRITER_H
#define MARKWRITER_H

#include <QObject>
#include <QString>

// Writes a recording's marks beside it, on the recording's writer thread: a
// mark is rare, and each one is on the disk (written and synced) before the
// next is taken, so a crash or a pulled power cord keeps every mark the
// console has said was made. The file is made with the first mark and never
// replaces one that is there.
class MarkWriter : public QObject
{
    Q_OBJECT

public:
    MarkWriter() = default;
    ~MarkWriter() override;

public slots:
    // The recording's file, once it is open: the marks go beside it.
    void setRecordingPath(const QString& recordingPath);
    // One row of the marks file (MarksFile::appendRow).
    void write(const QByteArray& row);
    // The recording is over: the file is closed.
    void finish();

signals:
    // The marks file was made, at path.
    void created(const QString& path);
    // Marks can no longer be written; error says why, in one line. Emitted
    // once: the marks that follow are dropped.
    void failed(const QString& error);

private:
    bool create(QString& error);
    bool append(const QByteArray& text, QString& error);

    QString path;
    int fd = -1;
    qint64 bytes = 0;
    bool broken = false;
};

#endif // MARKWRITER_H
