// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TST_RELIABILITY_SUPPORT_H
#define TST_RELIABILITY_SUPPORT_H

// Shared by the reliability tests: handles on the window's widgets, a way to
// push bytes through a pseudo-terminal while the window keeps running, a
// reference model of the frame stream written independently of Parser, and
// a check of console lines against records.

#include "frameencoder.h"
#include "pseudoterminal.h"
#include "widget.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTextBlock>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <functional>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Reliability {

const QString UnavailableLine = QStringLiteral(
    "Serial port becomes unavailable. Please check the connection and try to connect again "
    "(after re-scan)");

// Length of "[hh:mm:ss.zzz] ".
constexpr int TimePrefixLength = 15;

struct WindowHandles
{
    explicit WindowHandles(Widget& w)
        : window(&w)
        , connectButton(w.findChild<QPushButton*>("connect_button"))
        , scanButton(w.findChild<QPushButton*>("scan_button"))
        , resetButton(w.findChild<QPushButton*>("reset_imu_pb"))
        , ports(w.findChild<QComboBox*>("ports_combobox"))
        , console(w.findChild<QPlainTextEdit*>("console"))
        , csumMisses(w.findChild<QLineEdit*>("csum_miss_le"))
        , indexMisses(w.findChild<QLineEdit*>("index_miss_le"))
        , port(w.findChild<QSerialPort*>())
    {
    }

    bool complete() const
    {
        return connectButton && scanButton && resetButton && ports && console && csumMisses
            && indexMisses && port;
    }

    int lineCount() const
    {
        // An empty console still holds one empty block.
        const QTextDocument* doc = console->document();
        if (doc->blockCount() == 1 && doc->firstBlock().text().isEmpty())
            return 0;
        return doc->blockCount();
    }

    // Console lines from 'first' on, without their time prefix.
    QStringList messages(int first = 0) const
    {
        QStringList out;
        const QTextDocument* doc = console->document();
        const int count = lineCount();
        for (QTextBlock b = doc->findBlockByNumber(first); b.isValid() && b.blockNumber() < count;
             b = b.next())
            out << b.text().mid(TimePrefixLength);
        return out;
    }

    Widget* window;
    QPushButton* connectButton;
    QPushButton* scanButton;
    QPushButton* resetButton;
    QComboBox* ports;
    QPlainTextEdit* console;
    QLineEdit* csumMisses;
    QLineEdit* indexMisses;
    QSerialPort* port;
};

// Runs the event loop until done() holds or timeoutMs pass.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

// Writes all of bytes to the master while the window keeps reading the slave
// on this same thread: when the pseudo-terminal is full, events are processed
// until there is room again.
inline bool feed(PseudoTerminal& pty, const QByteArray& bytes, int timeoutMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(pty.masterFd(), bytes.constData() + done,
                                  size_t(qMin<qint64>(4096, bytes.size() - done)));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p {pty.masterFd(), POLLOUT, 0};
        ::poll(&p, 1, 1);
    }
    return true;
}

// Bytes the kernel holds for the slave that the window has not read yet.
inline int unreadBytes(QSerialPort* port)
{
    int queued = 0;
    if (port->handle() < 0 || ::ioctl(port->handle(), FIONREAD, &queued) != 0)
        return 0;
    return queued + int(port->bytesAvailable());
}

// Waits until everything written to the master has been read by the window:
// nothing queued for the slave, several times in a row (the kernel hands
// written bytes to the slave's queue asynchronously).
inline bool drain(QSerialPort* port, int timeoutMs = 10000)
{
    int quietChecks = 0;
    return waitUntil(
        [&] {
            quietChecks = unreadBytes(port) == 0 ? quietChecks + 1 : 0;
            return quietChecks >= 5;
        },
        timeoutMs);
}

inline qint64 residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

inline bool underAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

// What the board's documented framing makes of a byte stream, decoded from
// the whole stream at once by scanning. Kept apart from Parser (a state
// machine fed in chunks) so that the two can be compared.
struct StreamModel
{
    struct Event
    {
        qint64 offset;   // of the first sync byte
        bool valid;      // false: checksum miss
        UART_RCV record; // when valid
    };

    QVector<Event> events;
    quint32 checksumMisses = 0;
    quint32 indexMisses = 0;
    // The index-miss count as the window shows it: before the newest record.
    quint32 indexMissesShown = 0;
    int records = 0;
    // Where an unfinished frame or sync pair at the end begins (or size).
    qint64 tail = 0;

    static qint16 le16(const uchar* p) { return qint16(quint16(p[0]) | quint16(p[1]) << 8); }

    void decode(const QByteArray& stream)
    {
        *this = StreamModel();
        const auto* s = reinterpret_cast<const uchar*>(stream.constData());
        const qint64 n = stream.size();
        qint64 i = 0;
        bool haveLast = false;
        quint8 last = 0;
        while (i < n) {
            if (s[i] != 0xAA) {
                ++i;
                continue;
            }
            if (i + 1 >= n)
                break;
            if (s[i + 1] != 0xAA) {
                i += 2; // a stray sync byte takes the byte after it along
                continue;
            }
            if (i + 19 > n)
                break;
            unsigned sum = 0;
            for (int k = 2; k < 18; ++k)
                sum += s[i + k];
            Event e {i, (sum & 0xFF) == s[i + 18], {}};
            if (e.valid) {
                const uchar* p = s + i + 2;
                e.record = {p[0], le16(p + 1), le16(p + 3), le16(p + 5),
                            le16(p + 7), le16(p + 9), le16(p + 11)};
                indexMissesShown = indexMisses;
                if (haveLast) {
                    const int step = (int(e.record.index) - int(last) + 256) % 256;
                    if (step != 1 && step != 255)
                        ++indexMisses;
                }
                haveLast = true;
                last = e.record.index;
                ++records;
            } else {
                ++checksumMisses;
            }
            events.append(e);
            i += 19;
        }
        tail = i;
    }
};

// Checks one console line against the record it must show, by reading the
// numbers back rather than formatting them again. Empty when they agree.
inline QString lineMismatch(const QString& line, const UART_RCV& board)
{
    static const QRegularExpression pattern(
        "^Ind: +(\\d+); Yaw: +(-?\\d+\\.\\d\\d); Pitch: +(-?\\d+\\.\\d\\d); Roll: +(-?\\d+\\.\\d\\d); "
        "Xacc: +(-?\\d+) mg \\( *(-?\\d+\\.\\d{3}) m/s2\\); Yacc: +(-?\\d+) mg \\( *(-?\\d+\\.\\d{3}) "
        "m/s2\\); Zacc: +(-?\\d+) mg \\( *(-?\\d+\\.\\d{3}) m/s2\\)$");
    const QRegularExpressionMatch m = pattern.match(line);
    if (!m.hasMatch())
        return "not a record line: " + line;
    // Displayed axes: yaw is the negated first angle, pitch and roll are the
    // third and second angles, Z is negated; negation wraps in 16 bits.
    auto neg = [](qint16 v) { return v == -32768 ? -32768 : -int(v); };
    const double degrees[3] = {neg(board.angle1) / 100.0, board.angle3 / 100.0,
                               board.angle2 / 100.0};
    const int mg[3] = {board.accel1, board.accel2, neg(board.accel3)};
    if (m.captured(1).toInt() != board.index)
        return QString("index %1, expected %2").arg(m.captured(1)).arg(board.index);
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(m.captured(2 + k).toDouble() - degrees[k]) > 0.0051)
            return QString("angle %1 is %2, expected %3").arg(k).arg(m.captured(2 + k)).arg(degrees[k]);
        if (m.captured(5 + 2 * k).toInt() != mg[k])
            return QString("accel %1 is %2 mg, expected %3").arg(k).arg(m.captured(5 + 2 * k)).arg(mg[k]);
        if (std::fabs(m.captured(6 + 2 * k).toDouble() - mg[k] * 9.80665 / 1000) > 0.00051)
            return QString("accel %1 is %2 m/s2").arg(k).arg(m.captured(6 + 2 * k));
    }
    return QString();
}

} // namespace Reliability

#endif // TST_RELIABILITY_SUPPORT_H
