// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PORTLINK_H
#define PORTLINK_H

#include <QSerialPort>
#include <QString>

// What every program that opens the board's port does the same way: keep the
// open from talking back to the board, and say in plain words why a link
// ended.
namespace PortLink {

// Before the first open. A tty starts out echoing what it receives, and the
// serial port puts those settings back when it closes; left in place, they
// make the next open echo the board's own frames back to it.
void prepare(QSerialPort& port);

// Closes the port and leaves its tty raw, as it was while open, whichever
// toolkit version does the closing: the next open then finds nothing that
// echoes. Safe on a port that is not open.
void close(QSerialPort& port);

// Opens the port called name for reading and writing with the board's link
// settings (115200 baud, 8 data bits, no parity, no flow control, one stop
// bit), settled. False when it cannot be opened; the port's error says why.
bool open(QSerialPort& port, const QString& name);

// Right after a successful open. Bytes that arrived before the link was raw
// were echoed and edited by the terminal's line handling: the echo still
// queued for the board and the mangled input are both dropped.
void settle(QSerialPort& port);

// Whether the open port's tty has hung up: its device was unplugged or the
// far end of a pseudo-terminal closed. Nothing more will come from it.
bool hungUp(const QSerialPort& port);

// The text for an error the port reported. A read error on a tty that hung
// up (a device unplugged, the far end of a pseudo-terminal closed) comes with
// a leftover system error from some unrelated call; it is described as what
// it is. Any other error keeps the serial port's own text.
QString errorText(const QSerialPort& port, QSerialPort::SerialPortError error);

// The text used for a hung-up device.
extern const char* const HungUpText;

} // namespace PortLink

#endif // PORTLINK_H
