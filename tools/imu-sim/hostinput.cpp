// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostinput.h"

#include "recordformat.h"

const QByteArray HostInput::ResetCommand = QByteArrayLiteral("$MIB,RESET*87");

QList<HostInput::Event> HostInput::feed(const QByteArray& chunk)
{
    QList<Event> events;
    buffer.append(chunk);
    QByteArray ignored;
    while (!buffer.isEmpty()) {
        if (buffer.startsWith(ResetCommand)) {
            if (!ignored.isEmpty())
                events.append(Event{Event::Ignored, ignored});
            ignored.clear();
            events.append(Event{Event::Reset, {}});
            buffer.remove(0, ResetCommand.size());
            continue;
        }
        if (buffer.size() < ResetCommand.size() && ResetCommand.startsWith(buffer))
            break; // may still become the command
        // Not the command at this position: everything up to the next '$'
        // (which might start one) is ignored input.
        int next = buffer.indexOf('$', 1);
        if (next < 0)
            next = buffer.size();
        ignored.append(buffer.left(next));
        buffer.remove(0, next);
    }
    if (!ignored.isEmpty())
        events.append(Event{Event::Ignored, ignored});
    return events;
}

QList<HostInput::Event> HostInput::flush()
{
    QList<Event> events;
    if (!buffer.isEmpty())
        events.append(Event{Event::Ignored, buffer});
    buffer.clear();
    return events;
}

QByteArray HostInput::describe(const QByteArray& bytes, int maxBytes)
{
    return RecordFormat::quoted(bytes, maxBytes);
}
