// SPDX-License-Identifier: GPL-3.0-or-later
#include "marker.h"

#include "chartgroup.h"
#include "history.h"
#include "recorder.h"
#include "recording.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>

bool Marker::textFieldHasFocus()
{
    QWidget* focus = QApplication::focusWidget();
    const auto* line = qobject_cast<QLineEdit*>(focus);
    const auto* text = qobject_cast<QPlainTextEdit*>(focus);
    return (line && !line->isReadOnly()) || (text && !text->isReadOnly());
}

QString Marker::label(int number, const QString& note)
{
    const QString shown = oneLine(note);
    return shown.isEmpty() ? QString::number(number) : QStringLiteral("%1: %2").arg(number).arg(shown);
}

Marker::Marker(QWidget* window, ChartGroup* charts, const History* history, Recorder* recorder)
    : QObject(window)
    , window(window)
    , charts(charts)
    , history(history)
    , recorder(recorder)
{
    connect(new QShortcut(MarkKey, window), &QShortcut::activated, this, [this] {
        if (!textFieldHasFocus())
            mark();
    });
    connect(charts, &ChartGroup::contextMenuRequested, this, [this](QMenu* menu) {
        menu->addAction(QStringLiteral("Mark with a note…"), this, &Marker::markWithNote);
    });
}

QString Marker::oneLine(const QString& note)
{
    QString line = note;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return line;
}

Marker::Target Marker::newest() const
{
    Target target;
    if (history->isEmpty())
        return target;
    target.valid = true;
    // The history's time, which is the charts' (see History on a clock set
    // back).
    target.seconds = history->lastTime() / 1000.0;
    if (Recording* recording = recorder->recording()) {
        target.recording = recording;
        if (!recording->newestRow(target.hostTime, target.index))
            target.index = -1;
    }
    return target;
}

bool Marker::mark(const QString& note)
{
    const Target target = newest();
    markAt(target, note);
    return target.valid;
}

void Marker::markWithNote()
{
    const Target target = newest();
    if (!target.valid) {
        markAt(target, QString());
        return;
    }
    bool ok = false;
    const QString note = QInputDialog::getText(window, QStringLiteral("Mark with a note"), QStringLiteral("Note:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (ok)
        markAt(target, note.trimmed());
}

void Marker::markAt(const Target& target, const QString& note)
{
    if (!target.valid) {
        emit said(QStringLiteral("Nothing to mark: no record has come yet"));
        return;
    }
    const int number = ++made;
    const QString text = label(number, note);
    emit said(QStringLiteral("Mark ") + text);
    charts->addMark(target.seconds, text);
    if (!target.recording)
        return;
    if (target.index < 0)
        emit said(QStringLiteral("Mark %1 is not in the recording: it has no record yet").arg(number));
    else
        target.recording->addMark(target.hostTime, target.index, number, note);
}
