// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef IMU_DECODE_PORTRECORDER_H
#define IMU_DECODE_PORTRECORDER_H

#include "hostclock.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

class DecodeSession;

// Records from a serial port with the monitor's link settings until the
// count, the duration, a stop signal or the loss of the device.
class PortRecorder : public QObject
{
    Q_OBJECT

public:
    PortRecorder() = default;

    bool open(const QString& name, QString& error);

    // Runs the event loop. Returns the exit status: 0 stopped as asked, 1 the
    // output could not be written, 3 the port was lost.
    int run(DecodeSession& output, double durationSeconds);

    // Records per second over the recording.
    double framesPerSecond() const;

private:
    void readPort();
    void onError(QSerialPort::SerialPortError error);
    void flushOutput();
    void finish(int status);

    DecodeSession* session = nullptr;
    QSerialPort port;
    QString portName; // as given, for messages
    QTimer flushTimer;
    QTimer durationTimer;
    QSocketNotifier* stopNotifier = nullptr;
    QElapsedTimer clock;
    HostClock hostClock;
    qint64 elapsedAtEnd = -1;
    QString lastErrorReported;
    bool finished = false;
};

#endif // IMU_DECODE_PORTRECORDER_H
