// SPDX-License-Identifier: GPL-3.0-or-later
#include "reconnector.h"

#include "devicematch.h"
#include "portlink.h"

#include <QSerialPort>
#include <QSignalBlocker>
#include <QTimer>

#include <utility>

Reconnector::Reconnector(QSerialPort* port, PortSource source, QObject* parent)
    : QObject(parent)
    , port(port)
    , source(std::move(source))
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &Reconnector::step);
}

QList<PortEntry> Reconnector::scan()
{
    listed = source ? source() : QList<PortEntry>();
    // The scan that follows a loss is the first look: it tells whether the
    // node that hung up is already gone.
    if (state == State::Away)
        look(listed);
    return listed;
}

void Reconnector::opened(const QString& name)
{
    device = PortEntry {name};
    for (const PortEntry& entry : std::as_const(listed)) {
        if (entry.name == name)
            device = entry;
    }
}

void Reconnector::lost()
{
    if (!port->isOpen())
        return;
    outage.start();
    goneSeen = false;
    leftAlone.clear();
    state = State::Away;
    timer->start(PollMs);
}

void Reconnector::stop()
{
    state = State::Idle;
    timer->stop();
}

void Reconnector::step()
{
    switch (state) {
    case State::Idle:
        return;
    case State::Away:
        look(source ? source() : QList<PortEntry>());
        if (state == State::Away)
            timer->start(outage.elapsed() < PollQuickForMs ? PollMs : SlowPollMs);
        return;
    case State::Settling:
        opening.start();
        state = State::Opening;
        tryOpen();
        return;
    case State::Opening:
        tryOpen();
        return;
    }
}

void Reconnector::look(const QList<PortEntry>& ports)
{
    const PortEntry* back = nullptr;
    bool hungUpNodeListed = false;
    for (const PortEntry& candidate : ports) {
        switch (DeviceMatch::compare(device, candidate)) {
        case DeviceMatch::Verdict::Same:
            if (candidate.name == device.name && !goneSeen)
                hungUpNodeListed = true;
            else if (!back || DeviceMatch::closeness(device, candidate) > DeviceMatch::closeness(device, *back))
                back = &candidate;
            break;
        case DeviceMatch::Verdict::OtherBoard: {
            const QString key = candidate.name + QLatin1Char(' ') + DeviceMatch::distinction(candidate);
            if (!leftAlone.contains(key)) {
                leftAlone.insert(key);
                emit logged(QString("%1 is another board (%2), not the one that was on %3 (%4): left alone")
                                .arg(candidate.name, DeviceMatch::distinction(candidate), device.name,
                                     DeviceMatch::distinction(device)));
            }
            break;
        }
        case DeviceMatch::Verdict::Unrelated:
            break;
        }
    }
    goneSeen = goneSeen || !hungUpNodeListed;
    if (!back)
        return;
    comeback = *back;
    state = State::Settling;
    timer->start(SettleMs);
}

void Reconnector::tryOpen()
{
    if (port->isOpen()) {
        stop();
        return;
    }
    bool isOpen = false;
    {
        // An attempt that fails is no news yet: the port's own error signal
        // would put every retry on the console.
        const QSignalBlocker quiet(port);
        isOpen = PortLink::open(*port, comeback.name);
    }
    if (isOpen) {
        state = State::Idle;
        const QString after = QString::number(double(outage.elapsed()) / 1000, 'f', 1);
        emit logged(comeback.name == device.name
                        ? QString("%1 is back after %2 s").arg(device.name, after)
                        : QString("%1 is back as %2 after %3 s").arg(device.name, comeback.name, after));
        device = comeback;
        emit reopened(device.name);
        return;
    }
    const QSerialPort::SerialPortError error = port->error();
    if (error == QSerialPort::DeviceNotFoundError) {
        // Gone again before it could be opened: the watch goes on.
        goneSeen = true;
        state = State::Away;
        timer->start(PollMs);
    } else if ((error == QSerialPort::PermissionError || error == QSerialPort::ResourceError)
               && opening.elapsed() < RetryForMs) {
        timer->start(RetryMs);
    } else {
        state = State::Idle;
        emit logged(QString("Serial port error: %1").arg(port->errorString()));
        emit logged(QString("Failed to open port %1").arg(comeback.name));
    }
}
