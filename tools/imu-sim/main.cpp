// SPDX-License-Identifier: GPL-3.0-or-later
// imu-sim: a simulated IMU board on a pseudo-terminal, on a serial device or
// into a file.

#include "frameencoder.h"
#include "framesource.h"
#include "hostinput.h"
#include "options.h"
#include "pseudoterminal.h"
#include "replayfile.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal)
{
    stopSignal = signal;
}

double monotonicSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

QByteArray systemError()
{
    return QByteArray(std::strerror(errno));
}

void logLine(const QByteArray& line)
{
    std::fprintf(stderr, "imu-sim: %s\n", line.constData());
    std::fflush(stderr);
}

struct Counts
{
    quint64 sent = 0;
    quint64 corrupted = 0;
    quint64 dropped = 0;
    quint64 garbage = 0;
    quint64 lost = 0; // sent while nobody read the pseudo-terminal
};

// Where the frames go. A file or pipe takes every byte; a pseudo-terminal
// behaves like a serial line that nobody may be listening to.
class Sink
{
public:
    virtual ~Sink() = default;
    // Returns false when the bytes did not reach a listener (they are lost,
    // as on a line with nobody at the far end).
    virtual bool send(const QByteArray& bytes) = 0;
    // Reads what the host sent, without waiting.
    virtual QList<HostInput::Event> service(HostInput&) { return {}; }
    // The descriptor to wait on for host input, or -1.
    virtual int inputFd() const { return -1; }
    virtual void finish() {}
    bool failed = false;  // the output failed; message already logged
    bool ended = false;   // the reader went away (a closed pipe)
};

class FileSink : public Sink
{
public:
    FileSink(int fd, bool unpaced) : fd(fd), unpaced(unpaced) {}
    ~FileSink() override
    {
        if (fd > STDERR_FILENO)
            ::close(fd);
    }

    bool send(const QByteArray& bytes) override
    {
        buffer.append(bytes);
        // Unpaced captures are written in large blocks; paced streams frame by
        // frame, so a reader sees each frame when it is due.
        if (!unpaced || buffer.size() >= 1 << 16)
            flush();
        return !failed && !ended;
    }

    void finish() override { flush(); }

private:
    void flush()
    {
        qint64 done = 0;
        while (done < buffer.size() && !failed && !ended) {
            const ssize_t n = ::write(fd, buffer.constData() + done, size_t(buffer.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EPIPE) {
                ended = true;
            } else {
                logLine(QByteArray("writing the output failed: ") + systemError());
                failed = true;
            }
        }
        buffer.clear();
    }

    int fd;
    bool unpaced;
    QByteArray buffer;
};

// A tty written without blocking, like a serial line: a frame the queue has
// no room for is lost whole, and the rest of one it took in part goes first,
// so the host never sees a frame with a hole in it.
class TtySink : public Sink
{
public:
    bool send(const QByteArray& bytes) override
    {
        if (!canSend())
            return false;
        if (!pending.isEmpty() && !writeSome(pending))
            return false;
        if (!pending.isEmpty())
            return false;
        pending = bytes;
        writeSome(pending);
        return true;
    }

protected:
    virtual int outputFd() const = 0;
    virtual bool canSend() const = 0;
    // A write failed with this errno; the line went away or the run fails.
    virtual void writeFailed(int error) = 0;

    QByteArray pending;

private:
    // Writes as much of bytes as the queue takes and removes it from bytes.
    // False when the write failed outright.
    bool writeSome(QByteArray& bytes)
    {
        while (!bytes.isEmpty()) {
            const ssize_t n = ::write(outputFd(), bytes.constData(), size_t(bytes.size()));
            if (n > 0) {
                bytes.remove(0, int(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return true; // the host is not reading: the rest waits
            writeFailed(errno);
            bytes.clear();
            return false;
        }
        return true;
    }
};

class PtySink : public TtySink
{
public:
    explicit PtySink(PseudoTerminal& pty) : pty(pty) {}

    QList<HostInput::Event> service(HostInput& input) override
    {
        QList<HostInput::Event> events;
        char chunk[256];
        while (pty.isOpen()) {
            const ssize_t n = ::read(pty.masterFd(), chunk, sizeof chunk);
            if (n > 0) {
                hungUp = false;
                events.append(input.feed(QByteArray(chunk, int(n))));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EIO) {
                // Nobody holds the slave open: the host closed the port. Not an
                // error: the board keeps sending into the void until the host
                // opens it again, and a half-sent frame is gone with the line.
                if (!hungUp)
                    events.append(input.flush());
                hungUp = true;
                pending.clear();
            } else {
                hungUp = false; // EAGAIN: someone is there, nothing to read
            }
            break;
        }
        return events;
    }

    int inputFd() const override { return hungUp ? -1 : pty.masterFd(); }

protected:
    int outputFd() const override { return pty.masterFd(); }
    bool canSend() const override { return !hungUp && pty.isOpen(); }
    void writeFailed(int error) override
    {
        if (error == EIO) {
            hungUp = true;
            return;
        }
        logLine(QByteArray("writing to the pseudo-terminal failed: ") + QByteArray(std::strerror(error)));
        failed = true;
    }

private:
    PseudoTerminal& pty;
    bool hungUp = false;
};

// An existing serial device: the board's end of a USB gadget, or a real
// adapter on a null-modem cable to the host's. Unlike the simulator's own
// pseudo-terminal, the far end's going away (a hang-up) ends the run: the
// device is gone or no longer leads anywhere.
class PortSink : public TtySink
{
public:
    explicit PortSink(const QString& path) : path(QFile::encodeName(path)) {}
    ~PortSink() override
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Opens the device and sets the board's link: raw bytes at 115200 8-N-1,
    // no flow control, nothing echoed or translated. False with a message.
    bool open(QByteArray& error)
    {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot open " + path + ": " + systemError();
            return false;
        }
        termios link {};
        if (::tcgetattr(fd, &link) != 0) {
            error = path + " is not a serial device: " + systemError();
            return false;
        }
        ::cfmakeraw(&link);
        link.c_iflag &= ~tcflag_t(IXOFF | IXANY);
        link.c_cflag &= ~tcflag_t(CSTOPB | CRTSCTS);
        link.c_cflag |= CLOCAL | CREAD;
        link.c_cc[VMIN] = 1;
        link.c_cc[VTIME] = 0;
        ::cfsetispeed(&link, B115200);
        ::cfsetospeed(&link, B115200);
        if (::tcsetattr(fd, TCSANOW, &link) != 0) {
            error = "cannot set the link of " + path + ": " + systemError();
            return false;
        }
        // Whatever the line held from before is not the host's input to us.
        ::tcflush(fd, TCIOFLUSH);
        return true;
    }

    QList<HostInput::Event> service(HostInput& input) override
    {
        QList<HostInput::Event> events;
        char chunk[256];
        while (!ended && !failed) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                events.append(input.feed(QByteArray(chunk, int(n))));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                break;
            // A hung-up tty reads as end of file.
            checkFailure(n == 0 ? EIO : errno, "reading");
        }
        if (ended || failed)
            events.append(input.flush());
        return events;
    }

    int inputFd() const override { return ended || failed ? -1 : fd; }
    bool isHungUp() const { return hungUp; }

protected:
    int outputFd() const override { return fd; }
    bool canSend() const override { return !ended && !failed; }
    void writeFailed(int error) override { checkFailure(error, "writing to"); }

private:
    // Sorts a failed read or write into the device's going away, which ends
    // the run as a lost port, and any other failure.
    void checkFailure(int error, const char* what)
    {
        if (error == EIO || error == ENODEV || error == ENXIO) {
            logLine(path + " hung up");
            hungUp = true;
            ended = true;
        } else {
            logLine(QByteArray(what) + " " + path + " failed: " + QByteArray(std::strerror(error)));
            failed = true;
        }
    }

    QByteArray path;
    int fd = -1;
    bool hungUp = false;
};

QByteArray garbageBytes(SeededRandom& random)
{
    const int length = 1 + int(random.next() % 8);
    QByteArray bytes;
    for (int i = 0; i < length; ++i) {
        // 255 values, none of them the sync byte: garbage can never start a
        // frame, so it never hides an accidental valid one.
        quint8 byte = quint8(random.next() % 255);
        if (byte >= 0xAA)
            ++byte;
        bytes.append(char(byte));
    }
    return bytes;
}

// The faults the options ask for, drawn for each frame from their own
// seeded streams, so that the same seed gives the same faults.
class Faults
{
public:
    explicit Faults(const SimOptions& options)
        : options(options), chances(options.seed ^ 0x6661756C74730000ull),
          garbage(options.seed ^ 0x6761726261676500ull)
    {
    }

    // The bytes that go out for a record, and its fate: "sent", "corrupt"
    // or "dropped".
    QByteArray apply(const UART_RCV& record, const char*& fate, Counts& counts)
    {
        const bool dropped = chances.chance(options.drop);
        const bool corrupt = chances.chance(options.corrupt);
        const bool withGarbage = chances.chance(options.garbage);
        QByteArray bytes;
        if (withGarbage) {
            bytes = garbageBytes(garbage);
            counts.garbage += quint64(bytes.size());
        }
        if (dropped) {
            fate = "dropped";
            ++counts.dropped;
        } else if (corrupt) {
            fate = "corrupt";
            ++counts.corrupted;
            bytes.append(FrameEncoder::corruptFrame(record));
        } else {
            fate = "sent";
            ++counts.sent;
            bytes.append(FrameEncoder::frame(record));
        }
        return bytes;
    }

private:
    const SimOptions& options;
    SeededRandom chances;
    SeededRandom garbage;
};

// A raw capture is played byte for byte: it has no frames of its own to
// fault or to log. Names the first option that asks for that, if any.
QString optionUnfitForCapture(const SimOptions& options)
{
    const std::pair<bool, const char*> unfit[] = {{options.corrupt > 0, "--corrupt"},
                                                  {options.drop > 0, "--drop"},
                                                  {options.garbage > 0, "--garbage"},
                                                  {!options.records.isEmpty(), "--records"}};
    for (const auto& [given, name] : unfit)
        if (given)
            return QString::fromLatin1(name);
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    SimOptions options;
    QString error;
    if (!parseOptions(arguments, options, error)) {
        std::fprintf(stderr, "imu-sim: %s (see --help)\n", qPrintable(error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    }

    // Signals are blocked except while waiting, so a stop is never missed
    // between checking the flag and going to sleep.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    // The whole recording is checked before anything is opened or sent: a
    // bad file ends the run with nothing streamed and no --out overwritten.
    ReplayFile recording;
    const bool replaying = !options.replay.isEmpty();
    if (replaying) {
        if (!recording.load(options.replay)) {
            logLine(recording.errorText().toLocal8Bit());
            return 2;
        }
        if (!recording.cutOffText().isEmpty())
            logLine(recording.cutOffText().toLocal8Bit());
        const QString unfit = optionUnfitForCapture(options);
        if (recording.kind() == ReplayFile::Kind::Capture && !unfit.isEmpty()) {
            std::fprintf(stderr,
                         "imu-sim: %s does not apply to a raw capture (%s is played byte for byte; see --help)\n",
                         qPrintable(unfit), qPrintable(options.replay));
            return 2;
        }
    }

    FILE* records = nullptr;
    if (!options.records.isEmpty()) {
        records = std::fopen(QFile::encodeName(options.records).constData(), "w");
        if (!records) {
            logLine("cannot write " + QFile::encodeName(options.records) + ": " + systemError());
            return 1;
        }
        std::fputs("index,angle1,angle2,angle3,accel1,accel2,accel3,fate\n", records);
    }

    const bool toFile = !options.out.isEmpty();
    // A replay keeps its pace into a file too: that is what it is for.
    const bool paced = !toFile || options.rateGiven || replaying;
    PseudoTerminal* pty = nullptr;
    PortSink* port = nullptr;
    Sink* sink = nullptr;
    if (!options.port.isEmpty()) {
        port = new PortSink(options.port);
        QByteArray error;
        if (!port->open(error)) {
            logLine(error);
            delete port;
            return 1;
        }
        sink = port;
    } else if (toFile) {
        int fd = STDOUT_FILENO;
        if (options.out != "-") {
            fd = ::open(QFile::encodeName(options.out).constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) {
                logLine("cannot write " + QFile::encodeName(options.out) + ": " + systemError());
                return 1;
            }
        }
        sink = new FileSink(fd, !paced);
    } else {
        pty = new PseudoTerminal;
        if (!pty->isOpen()) {
            logLine("cannot open a pseudo-terminal: " + pty->errorString().toLocal8Bit());
            return 1;
        }
        // Open and close the slave once: the master then reports a hang-up
        // until the host opens the port, and frames sent before that are lost
        // as on a real line instead of piling up for the host's first read.
        const int slave = ::open(QFile::encodeName(pty->slavePath()).constData(),
                                 O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave >= 0)
            ::close(slave);
        sink = new PtySink(*pty);
        std::printf("%s\n", qPrintable(pty->slavePath()));
        std::fflush(stdout);
    }

    // Pacing: each frame is due one interval of its source after the one
    // before (for the motion 1 / rate, for a replay its host_time gap or
    // rate, scaled by --speed); and no frame starts before the link has
    // carried the previous bytes at ten bit times per byte. Both are absolute
    // times from the start, so waking late never shifts later frames.
    const double byteSeconds = LinkBitsPerByte / LinkBaud;
    const double period = options.rateMax ? 0.0 : 1.0 / options.rate;
    // The rate the board's time and noise advance by: the frames' real rate,
    // which the link caps.
    const double motionRate = generatedFramesPerSecond(options);
    const double start = monotonicSeconds();
    const double disconnectAt = options.disconnectAfter >= 0 ? options.disconnectAfter : -1;
    constexpr double Never = std::numeric_limits<double>::infinity();
    double nextSlot = 0;
    double linkFree = 0;

    std::unique_ptr<FrameSource> source;
    if (replaying) {
        const bool byHostTime = !options.rateGiven;
        const double steady = options.rateGiven && !options.rateMax ? period : 1.0 / LinkFramesPerSecond;
        auto replay = std::make_unique<ReplaySource>(recording, options.loop, steady, byHostTime);
        QByteArray pace = " at " + QByteArray::number(qMin(options.speed / steady, LinkFramesPerSecond), 'f', 1)
                          + " frames/s";
        if (byHostTime && recording.isTimed())
            pace = ", paced by host_time"
                   + (options.speed != 1 ? " at speed " + QByteArray::number(options.speed) : QByteArray());
        logLine("replaying " + QFile::encodeName(options.replay) + ": " + QByteArray::number(replay->frameCount())
                + (recording.kind() == ReplayFile::Kind::Csv ? " rows" : " frames' worth of captured bytes") + pace);
        source = std::move(replay);
    } else if (options.still) {
        source = std::make_unique<StillSource>(options.stillNoise, options.seed, motionRate, period);
    } else {
        source = std::make_unique<MotionSource>(options.seed, motionRate, period);
    }

    Faults faults(options);
    HostInput input;
    Counts counts;
    qint64 generated = 0;
    bool disconnected = false;
    bool atEnd = false; // a replay played out: only a reset brings more

    auto serveHost = [&] {
        for (const HostInput::Event& event : sink->service(input)) {
            if (event.kind == HostInput::Event::Reset) {
                source->restart();
                atEnd = false;
                logLine("reset command received: " + source->restartText());
            } else {
                logLine("ignored " + QByteArray::number(event.bytes.size())
                        + " bytes from the host: " + HostInput::describe(event.bytes));
            }
        }
    };

    while (!stopSignal && !sink->failed && !sink->ended) {
        if (options.count >= 0 && generated >= options.count)
            break;
        const bool idle = atEnd;
        double due = idle ? Never : qMax(nextSlot, linkFree);
        if (paced) {
            // Wait for the frame's time (or, idle, for a reset), serving the
            // host meanwhile.
            for (;;) {
                const double now = monotonicSeconds() - start;
                if (disconnectAt >= 0 && now >= disconnectAt) {
                    disconnected = true;
                    break;
                }
                if (idle && !atEnd)
                    break;
                if (now >= due) {
                    // Far behind (the process was stopped or starved): start
                    // afresh instead of sending the backlog in one burst.
                    if (now - due > 0.5) {
                        nextSlot = linkFree = due = now;
                    }
                    break;
                }
                double wake = due;
                if (disconnectAt >= 0 && disconnectAt < wake)
                    wake = disconnectAt;
                const int fd = sink->inputFd();
                // With nobody on the port there is nothing to wait on; look
                // again soon so that a host that opens it is heard promptly.
                if (pty && fd < 0 && wake - now > 0.05)
                    wake = now + 0.05;
                const double left = qMin(qMax(0.0, wake - now), 3600.0);
                timespec timeout {};
                timeout.tv_sec = time_t(left);
                timeout.tv_nsec = long((left - double(timeout.tv_sec)) * 1e9);
                pollfd p {fd, POLLIN, 0};
                ::ppoll(&p, fd >= 0 ? 1 : 0, &timeout, &waitMask);
                if (stopSignal)
                    break;
                serveHost();
                if (sink->ended || sink->failed)
                    break;
            }
            if (disconnected || stopSignal || sink->ended || sink->failed)
                break;
            if (idle) {
                // Reset: the replay's first frame is due now, and the rest
                // follow at its pace, not in a rush to catch up.
                nextSlot = qMax(nextSlot, monotonicSeconds() - start);
                continue;
            }
        } else if (disconnectAt >= 0 && monotonicSeconds() - start >= disconnectAt) {
            disconnected = true;
            break;
        }
        serveHost();
        if (sink->ended || sink->failed)
            break;

        FrameSource::Frame frame;
        if (!source->next(frame)) {
            if (toFile)
                break;
            atEnd = true;
            logLine("end of " + QFile::encodeName(options.replay)
                    + "; the port stays open, and the reset command plays it again");
            continue;
        }
        QByteArray bytes = frame.bytes;
        const char* fate = "sent";
        if (bytes.isEmpty()) {
            const UART_RCV& record = frame.record;
            bytes = faults.apply(record, fate, counts);
            if (records)
                std::fprintf(records, "%u,%d,%d,%d,%d,%d,%d,%s\n", unsigned(record.index), record.angle1,
                             record.angle2, record.angle3, record.accel1, record.accel2, record.accel3, fate);
        } else {
            ++counts.sent;
        }
        const bool dropped = std::strcmp(fate, "dropped") == 0;
        if (!bytes.isEmpty() && !sink->send(bytes) && !dropped)
            ++counts.lost;

        ++generated;
        nextSlot += frame.interval / options.speed;
        linkFree = due + double(bytes.size()) * byteSeconds;
    }

    sink->finish();
    if (pty)
        pty->close();
    if (records && std::fclose(records) != 0)
        logLine("writing the records failed");
    if ((pty || port) && counts.lost > 0)
        logLine("frames lost while nobody was reading the port: " + QByteArray::number(counts.lost));
    std::fprintf(stderr, "imu-sim: frames sent: %llu, corrupted: %llu, dropped: %llu, garbage bytes: %llu\n",
                 static_cast<unsigned long long>(counts.sent),
                 static_cast<unsigned long long>(counts.corrupted),
                 static_cast<unsigned long long>(counts.dropped),
                 static_cast<unsigned long long>(counts.garbage));
    const bool failed = sink->failed;
    const bool portLost = port && port->isHungUp();
    delete sink;
    delete pty;
    return failed ? 1 : portLost ? 3 : 0;
}
