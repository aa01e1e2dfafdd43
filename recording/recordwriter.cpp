// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordwriter.h"

#include "recordcsv.h"

#include <QFile>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {
// Recordings started within one second take the next free suffix; far more
// than anyone clicks in a second, few enough to give up on a broken folder.
constexpr int MaxNamesTried = 1000;
} // namespace

RecordWriter::RecordWriter(std::shared_ptr<RecordProgress> progress)
    : progress(std::move(progress))
{
}

RecordWriter::~RecordWriter()
{
    if (fd >= 0)
        ::close(fd);
}

void RecordWriter::open(const QString& baseName)
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) {
        end(QStringLiteral("the documents folder is unknown"));
        return;
    }
    const QString folder = documents + QLatin1Char('/') + QLatin1String(FolderName);
    std::error_code failure;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), failure);
    if (failure) {
        end(QStringLiteral("cannot create the folder %1: %2")
                .arg(folder, QString::fromLocal8Bit(failure.message().c_str())));
        return;
    }
    QString error;
    if (!createFile(folder, baseName, error)) {
        end(error);
        return;
    }
    emit opened(path);
    // Made here, on the writer's thread, where it must fire.
    syncTimer = new QTimer(this);
    syncTimer->setInterval(SyncPeriodMs);
    connect(syncTimer, &QTimer::timeout, this, &RecordWriter::syncNow);
    syncTimer->start();
    append(RecordCsv::Header, 0);
}

bool RecordWriter::createFile(const QString& folder, const QString& baseName, QString& error)
{
    for (int n = 1; n <= MaxNamesTried; ++n) {
        const QString name = n == 1 ? baseName : QStringLiteral("%1-%2").arg(baseName).arg(n);
        const QString candidate = folder + QLatin1Char('/') + name + QLatin1String(".csv");
        // O_EXCL: a file of that name, even one made a moment ago by someone
        // else, is never opened, let alone truncated.
        fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            path = candidate;
            return true;
        }
        if (errno != EEXIST) {
            error = QStringLiteral("cannot create %1: %2").arg(candidate, qt_error_string(errno));
            return false;
        }
    }
    error = QStringLiteral("cannot create a new file in %1: every name for this second is taken").arg(folder);
    return false;
}

void RecordWriter::write(const QByteArray& text, int count)
{
    if (!over)
        append(text, count);
    progress->backlog -= text.size();
}

void RecordWriter::append(const QByteArray& text, int count)
{
    qint64 written = 0;
    int error = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + written, size_t(text.size() - written));
        if (n > 0) {
            written += n;
        } else if (n == 0 || errno != EINTR) {
            error = n == 0 ? EIO : errno;
            break;
        }
    }
    qint64 whole = written;
    qint64 wholeRows = count;
    if (error != 0) {
        whole = written == 0 ? 0 : text.lastIndexOf('\n', int(written - 1)) + 1;
        wholeRows = count == 0 ? 0 : text.left(int(whole)).count('\n');
    }

    qint64 expected = rows;
    if (!progress->rowsKept.compare_exchange_strong(expected, rows + wholeRows)) {
        // The window gave up on the recording and reported the rows counted
        // then: the file is cut back to them.
        cutBack();
        end(QString());
        return;
    }
    rows += wholeRows;
    bytes += whole;
    unsynced = unsynced || whole > 0;
    if (error != 0) {
        cutBack();
        end(QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(error)));
    }
}

void RecordWriter::cutBack()
{
    // Making a file shorter needs no room on the disk; should it fail all the
    // same, there is nothing left to try.
    [[maybe_unused]] const int failed = ::ftruncate(fd, bytes);
}

bool RecordWriter::sync(QString& error)
{
    if (!unsynced)
        return true;
    unsynced = false;
    // Only the data and the size: the file's times need not be on the disk
    // for its rows to be read back.
    if (::fdatasync(fd) == 0)
        return true;
    error = QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(errno));
    return false;
}

void RecordWriter::syncNow()
{
    QString error;
    if (!over && !sync(error))
        end(error);
}

void RecordWriter::finish()
{
    if (!over)
        end(QString());
}

void RecordWriter::end(const QString& error)
{
    over = true;
    if (syncTimer)
        syncTimer->stop();
    QString reason = error;
    if (fd >= 0) {
        // A recording just stopped is on the disk too, should the power fail
        // soon after.
        QString syncError;
        if (!sync(syncError) && reason.isEmpty())
            reason = syncError;
        // A network folder may report a failed write only on close.
        if (::close(fd) != 0 && reason.isEmpty())
            reason = QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(errno));
        fd = -1;
    }
    emit ended(rows, reason);
}
