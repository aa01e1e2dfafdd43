// SPDX-License-Identifier: GPL-3.0-or-later
#include "portrecorder.h"

#include "decodesession.h"
#include "portlink.h"
#include "stopsignals.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {
// Comfortably inside the promise of one flush a second.
constexpr int FlushIntervalMs = 500;

void printError(const QString& line)
{
    std::fprintf(stderr, "imu-decode: %s\n", qPrintable(line));
    std::fflush(stderr);
}
} // namespace

bool PortRecorder::open(const QString& name, QString& error)
{
    portName = name;
    port.setPortName(name);
    port.setBaudRate(DecodeSession::BaudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setFlowControl(QSerialPort::NoFlowControl);
    // Read only: a recorder must never send anything to the board. Opening a
    // tty can still echo what arrives until the link is raw, hence the rest.
    PortLink::prepare(port);
    if (!port.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open port '%1': %2").arg(name, port.errorString());
        return false;
    }
    PortLink::settle(port);
    port.clearError();
    return true;
}

int PortRecorder::run(DecodeSession& output, double durationSeconds)
{
    session = &output;
    connect(&port, &QSerialPort::readyRead, this, &PortRecorder::readPort);
    connect(&port, &QSerialPort::errorOccurred, this, &PortRecorder::onError);

    flushTimer.setInterval(FlushIntervalMs);
    connect(&flushTimer, &QTimer::timeout, this, &PortRecorder::flushOutput);
    flushTimer.start();

    if (durationSeconds > 0.0) {
        durationTimer.setSingleShot(true);
        durationTimer.setTimerType(Qt::PreciseTimer);
        durationTimer.setInterval(int(durationSeconds * 1000.0));
        connect(&durationTimer, &QTimer::timeout, this, [this] { finish(0); });
        durationTimer.start();
    }

    stopNotifier = new QSocketNotifier(StopSignals::fd(), QSocketNotifier::Read, this);
    connect(stopNotifier, &QSocketNotifier::activated, this, [this] { finish(0); });

    clock.start();
    // Bytes that arrived between opening and now.
    QTimer::singleShot(0, this, &PortRecorder::readPort);
    return QCoreApplication::exec();
}

double PortRecorder::framesPerSecond() const
{
    const qint64 ms = elapsedAtEnd >= 0 ? elapsedAtEnd : clock.elapsed();
    return ms > 0 && session ? double(session->records()) * 1000.0 / double(ms) : 0.0;
}

void PortRecorder::readPort()
{
    if (finished || !port.isOpen())
        return;
    const QByteArray bytes = port.readAll();
    if (bytes.isEmpty())
        return;
    session->feed(bytes, hostClock.now());
    if (session->outputFailed())
        finish(1);
    else if (session->countReached())
        finish(0);
}

void PortRecorder::onError(QSerialPort::SerialPortError error)
{
    if (finished || error == QSerialPort::NoError)
        return;
    // A device unplugged shows as a resource error; a pseudo-terminal whose
    // other side closed shows as read errors, one per attempt. Either way
    // nothing more will come.
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        QString reason;
        if (error == QSerialPort::ReadError && PortLink::hungUp(port)) {
            reason = QStringLiteral("device hung up: unplugged, or its other end closed");
        } else {
            reason = error == QSerialPort::ResourceError ? QStringLiteral("device gone")
                                                         : QStringLiteral("read failed");
            const QString detail = port.errorString();
            if (!detail.isEmpty() && detail != QLatin1String("Unknown error"))
                reason += QStringLiteral(": ") + detail;
        }
        readPort(); // what the port had buffered before it went
        if (finished)
            return;
        printError(QStringLiteral("port '%1' lost (%2); recording ended, everything received is written")
                       .arg(portName, reason));
        finish(3);
        return;
    }
    const QString text = port.errorString();
    if (text != lastErrorReported) {
        printError(QStringLiteral("port '%1' error: %2").arg(portName, text));
        lastErrorReported = text;
    }
    port.clearError();
}

void PortRecorder::flushOutput()
{
    if (!session->flush())
        finish(1);
}

void PortRecorder::finish(int status)
{
    if (finished)
        return;
    finished = true;
    elapsedAtEnd = clock.elapsed();
    flushTimer.stop();
    durationTimer.stop();
    if (stopNotifier)
        stopNotifier->setEnabled(false);
    port.disconnect(this);
    PortLink::close(port);
    if (!session->flush())
        status = 1;
    QCoreApplication::exit(status);
}
