// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedecoder.h"

#include "decodesession.h"
#include "stopsignals.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int ChunkSize = 64 * 1024;
// Standard input may be a live stream (a pipe from a port): what has been
// decoded reaches the output within this time.
constexpr qint64 FlushIntervalMs = 1000;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

FileDecoder::~FileDecoder()
{
    if (ownsFd && fd >= 0)
        ::close(fd);
}

bool FileDecoder::open(const QString& name, QString& error)
{
    path = name;
    if (name == QLatin1String("-")) {
        fd = STDIN_FILENO;
        ownsFd = false;
    } else {
        fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = QStringLiteral("cannot read capture '%1': %2").arg(name, systemError());
            return false;
        }
        ownsFd = true;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        error = QStringLiteral("cannot read capture '%1': it is a directory").arg(name);
        return false;
    }
    return true;
}

int FileDecoder::run(DecodeSession& session, double durationSeconds, QString& error)
{
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    QElapsedTimer clock;
    clock.start();
    qint64 lastFlush = 0;
    const qint64 durationMs = durationSeconds > 0.0 ? qint64(durationSeconds * 1000.0) : -1;

    while (!StopSignals::received()) {
        const qint64 now = clock.elapsed();
        if (durationMs >= 0 && now >= durationMs)
            break;
        if (session.hasPendingOutput() && now - lastFlush >= FlushIntervalMs) {
            if (!session.flush())
                break; // reported by the caller
            lastFlush = now;
        }

        qint64 timeout = -1;
        if (durationMs >= 0)
            timeout = durationMs - now;
        if (session.hasPendingOutput()) {
            const qint64 untilFlush = qMax<qint64>(0, FlushIntervalMs - (now - lastFlush));
            timeout = timeout < 0 ? untilFlush : qMin(timeout, untilFlush);
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {StopSignals::fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, int(timeout));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            error = QStringLiteral("cannot wait for '%1': %2").arg(path, systemError());
            return 2;
        }
        if (fds[1].revents != 0)
            break;
        if (fds[0].revents == 0)
            continue;

        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            error = QStringLiteral("cannot read capture '%1': %2").arg(path, systemError());
            return 2;
        }
        session.feed(QByteArray::fromRawData(buffer.constData(), int(n)));
        // No use decoding the rest of a capture into an output that failed.
        if (session.countReached() || session.outputFailed())
            break;
    }
    return 0;
}
