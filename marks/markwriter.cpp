// SPDX-License-Identifier: GPL-3.0-or-later
#include "markwriter.h"

#include "marksfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

MarkWriter::~MarkWriter()
{
    finish();
}

void MarkWriter::setRecordingPath(const QString& recordingPath)
{
    path = MarksFile::pathFor(recordingPath);
}

void MarkWriter::write(const QByteArray& row)
{
    if (broken || path.isEmpty())
        return;
    QString error;
    if ((fd >= 0 || create(error)) && append(row, error))
        return;
    broken = true;
    finish();
    emit failed(error);
}

bool MarkWriter::create(QString& error)
{
    // O_EXCL: whatever is there under that name, a file of marks kept from
    // before or someone else's, is never opened, let alone truncated.
    fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = QStringLiteral("cannot create %1: %2").arg(path, qt_error_string(errno));
        return false;
    }
    if (!append(MarksFile::Header, error))
        return false;
    emit created(path);
    return true;
}

bool MarkWriter::append(const QByteArray& text, QString& error)
{
    qint64 written = 0;
    int failure = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + written, size_t(text.size() - written));
        if (n > 0) {
            written += n;
        } else if (n == 0 || errno != EINTR) {
            failure = n == 0 ? EIO : errno;
            break;
        }
    }
    if (failure == 0 && ::fdatasync(fd) != 0)
        failure = errno;
    if (failure == 0) {
        bytes += written;
        return true;
    }
    // Whole rows only: a reader never finds half a mark. Making a file
    // shorter needs no room; should it fail all the same, nothing is left
    // to try.
    [[maybe_unused]] const int cut = ::ftruncate(fd, bytes);
    error = QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(failure));
    return false;
}

void MarkWriter::finish()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
