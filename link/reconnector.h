// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECONNECTOR_H
#define RECONNECTOR_H

#include "portlist.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>

class QSerialPort;
class QTimer;

// Opens the window's port again, without a click, once the device it lost
// to an unplug is back, under whatever name. The system's port list has no
// change signal, so the watch polls it: often at first, when a cable pulled
// by accident goes back in, then less, as a list costs milliseconds of the
// GUI thread (every tty device of the system is looked at). A device that
// comes back is given a moment for udev to set its permissions, and then
// retried while it is busy or not yet permitted: ModemManager probes a new
// modem-like port for about ten seconds.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollMs = 250;
    static constexpr int PollQuickForMs = 10000;
    static constexpr int SlowPollMs = 1000;
    static constexpr int SettleMs = 250;
    static constexpr int RetryMs = 250;
    static constexpr int RetryForMs = 15000;

    Reconnector(QSerialPort* port, PortSource source, QObject* parent);

    // The port list for a scan. Remembered: the device of a port opened from
    // it is the one the list says.
    QList<PortEntry> scan();
    // The port was opened on the entry called name.
    void opened(const QString& name);
    // The open port's device went away: the watch begins. Called before the
    // port is closed.
    void lost();
    // The user took over: no more watching or opening.
    void stop();

signals:
    void logged(const QString& line);
    // The port is open again, on the entry called name.
    void reopened(const QString& name);

private:
    enum class State { Idle, Away, Settling, Opening };

    void step();
    void look(const QList<PortEntry>& ports);
    void tryOpen();

    QSerialPort* port;
    PortSource source;
    QList<PortEntry> listed;
    // The device of the open port, or the one watched for.
    PortEntry device;
    PortEntry comeback;
    // Whether the node that hung up has left the list. Until then, an entry
    // of the same name is that node, not the device come back.
    bool goneSeen = false;
    QSet<QString> leftAlone;
    QElapsedTimer outage;
    QElapsedTimer opening;
    QTimer* timer;
    State state = State::Idle;
};

#endif // RECONNECTOR_H
