// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HOSTINPUT_H
#define HOSTINPUT_H

#include <QByteArray>
#include <QList>

// Picks the reset command out of what the host writes to the board. The
// serial line delivers bytes in chunks of any size, so a command may arrive
// split across reads; bytes that cannot begin or continue the command are
// handed back as ignored input.
class HostInput
{
public:
    static const QByteArray ResetCommand;

    struct Event
    {
        enum Kind { Reset, Ignored } kind;
        QByteArray bytes; // the ignored bytes; empty for Reset
    };

    // Consumes one chunk; returns what it completed, in order. A trailing
    // prefix of the command is kept until the next chunk decides it.
    QList<Event> feed(const QByteArray& chunk);

    // Hands back a kept prefix as ignored input (end of stream).
    QList<Event> flush();

    // Printable form of ignored bytes for the log, at most maxBytes of them.
    static QByteArray describe(const QByteArray& bytes, int maxBytes = 64);

private:
    QByteArray buffer;
};

#endif // HOSTINPUT_H
