// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewerwindow.h"

#include "attitudewindow.h"
#include "chartexport.h"
#include "chartgroup.h"
#include "history.h"
#include "loadedrecording.h"
#include "playback.h"
#include "playbackbar.h"
#include "playbackkeys.h"
#include "markslist.h"
#include "noisewindow.h"
#include "plotter.h"
#include "recordformat.h"
#include "screenfit.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace {

// The live window's chart size, so both look alike side by side.
constexpr int ChartWidth = 400;
constexpr int ChartHeight = 200;
constexpr int CounterWidth = 113;

QString timeOfDay(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

QLineEdit* counter(const QString& objectName, qint64 value, QWidget* parent)
{
    auto* field = new QLineEdit(QString::number(value), parent);
    field->setObjectName(objectName);
    field->setReadOnly(true);
    field->setFixedWidth(CounterWidth);
    return field;
}

} // namespace

ViewerWindow::ViewerWindow(std::unique_ptr<LoadedRecording> recording, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , loaded(std::move(recording))
{
    const History& history = loaded->history();
    const QString name = QFileInfo(loaded->path()).fileName();
    setWindowTitle(QStringLiteral("%1 – Telvorin IMU").arg(name));
    setWindowFilePath(loaded->path());

    auto* layout = new QVBoxLayout(this);
    auto* counters = new QHBoxLayout;
    layout->addLayout(counters);
    const qint64 spanMs = history.lastTime() - history.firstTime();
    auto* span = new QLabel(loaded->isTimed()
                                ? QStringLiteral("%1 to %2 (%3)")
                                      .arg(timeOfDay(history.firstTime()), timeOfDay(history.lastTime()),
                                           ConsoleClock::duration(spanMs))
                                : QStringLiteral("%1 long").arg(ConsoleClock::duration(spanMs)),
                            this);
    span->setObjectName(QStringLiteral("span_l"));
    span->setTextInteractionFlags(Qt::TextSelectableByMouse);
    counters->addWidget(span, 1);
    counters->addWidget(new QLabel(QStringLiteral("Records:"), this));
    counters->addWidget(counter(QStringLiteral("records_le"), history.size(), this));
    counters->addSpacing(12);
    counters->addWidget(new QLabel(QStringLiteral("# of index misses:"), this));
    counters->addWidget(counter(QStringLiteral("index_miss_le"), loaded->indexMisses(), this));
    counters->addSpacing(12);
    // The noise of the span the charts show: zoom to a still stretch first.
    auto* noiseButton = new QPushButton(QStringLiteral("Noise"), this);
    noiseButton->setObjectName(QStringLiteral("noise_pb"));
    noiseButton->setCheckable(true);
    counters->addWidget(noiseButton);

    // What the charts cannot show by themselves: times that are not the
    // host's, and rows left out.
    QStringList notes;
    if (!loaded->isTimed())
        notes << QStringLiteral("No host_time in this file (a decoded capture): its rows are placed one frame "
                                "period of the link's full rate (%1 ms) apart, and the clock reads the time "
                                "since the first row.")
                     .arg(LoadedRecording::FramePeriodMs, 0, 'f', 2);
    if (!loaded->cutOffText().isEmpty())
        notes << loaded->cutOffText();
    if (!loaded->marksNote().isEmpty())
        notes << loaded->marksNote();
    auto* note = new QLabel(notes.join(QLatin1Char('\n')), this);
    note->setObjectName(QStringLiteral("note_l"));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("QLabel { color: #a04000; }"));
    note->setVisible(!notes.isEmpty());
    layout->addWidget(note);

    struct ChartText
    {
        const char* objectName;
        const char* title;
        const char* unit;
    };
    // The live window's charts, in the history's channel order.
    static const ChartText texts[] = {
        {"yaw_plotter", "Yaw", "Degree"},
        {"pitch_plotter", "Pitch", "Degree"},
        {"roll_plotter", "Roll", "Degree"},
        {"x_acc_plotter", "X acceleration", "mg"},
        {"y_acc_plotter", "Y acceleration", "mg"},
        {"z_acc_plotter", "Z acceleration", "mg"},
    };
    auto* grid = new QGridLayout;
    layout->addLayout(grid, 1);
    QList<Plotter*> plotters;
    for (int channel = 0; channel < History::Channels; ++channel) {
        auto* chart = new Plotter(this);
        chart->setObjectName(QLatin1String(texts[channel].objectName));
        chart->setTittle(QLatin1String(texts[channel].title));
        chart->setLabels(QStringLiteral("Time"), QLatin1String(texts[channel].unit));
        // At least the live window's size; a larger viewer gives the charts
        // the room.
        chart->setMinimumSize(ChartWidth, ChartHeight);
        grid->addWidget(chart, channel / 3, channel % 3);
        plotters << chart;
    }
    charts = new ChartGroup(plotters, &history, this);
    new ChartExport(charts, this);

    // Watched again: the play head's bar, the record at the head as the
    // console showed it, and an attitude window of its own that follows it.
    auto* bar = new PlaybackBar(history.isEmpty() ? 0 : history.firstTime(),
                                history.isEmpty() ? 0 : history.lastTime(), this);
    layout->addWidget(bar);
    auto* recordRow = new QHBoxLayout;
    layout->addLayout(recordRow);
    recordLine = new QLabel(this);
    recordLine->setObjectName(QStringLiteral("record_l"));
    recordLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont consoleFont(QStringLiteral("Courier New"), 9);
    consoleFont.setStyleHint(QFont::TypeWriter);
    recordLine->setFont(consoleFont);
    recordRow->addWidget(recordLine, 1);
    auto* attitudeButton = new QPushButton(QStringLiteral("Attitude"), this);
    attitudeButton->setObjectName(QStringLiteral("attitude_pb"));
    attitudeButton->setCheckable(true);
    recordRow->addWidget(attitudeButton);
    auto* keysHint = new QLabel(QStringLiteral("Space: play or pause · ←/→: a record · Page Up/Down: a second · "
                                               "Home/End: the first/last record"),
                                this);
    keysHint->setEnabled(false);
    layout->addWidget(keysHint);
    player = new Playback(&history, charts, bar, this);
    // Made after the playback, so that on each tick it draws the record the
    // playback has just given it.
    attitude = new AttitudeWindow(attitudeButton, player->redrawTick(), this);
    attitude->setWindowTitle(QStringLiteral("Attitude – %1").arg(name));
    player->keys()->watch(attitude);
    connect(player, &Playback::recordShown, this, &ViewerWindow::showRecord);

    counters->addSpacing(12);
    counters->addWidget(new QLabel(QStringLiteral("Marks:"), this));
    auto* marks = new QComboBox(this);
    marks->setObjectName(QStringLiteral("marks_combobox"));
    marks->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    counters->addWidget(marks);
    new MarksList(loaded->marks(), history, charts, marks, this, [this] { return currentRecord(); },
                  [this](qint64 record) { seekToRecord(record); });
    noise = new NoiseWindow(noiseButton, {&history, charts, &loaded->indexBreakTimes(), false, loaded->isTimed(), loaded->path()},
                            this);

    auto* hint = new QLabel(QStringLiteral("Wheel: zoom · drag: pan · double-click: the whole recording"), this);
    hint->setEnabled(false);
    layout->addWidget(hint);
    // Opened on a laptop, the whole window on its screen.
    limitToScreen(this);
}

ViewerWindow::~ViewerWindow()
{
    // The group and the Noise window read the history, which goes before
    // the children would; the playback drives the group.
    delete noise;
    delete player;
    delete charts;
}

void ViewerWindow::seekToRecord(qint64 record)
{
    player->head()->seekToRecord(record);
}

qint64 ViewerWindow::currentRecord() const
{
    return loaded->history().isEmpty() ? -1 : player->head()->record();
}

void ViewerWindow::showRecord(qint64 record)
{
    const UART_RCV shown = loaded->recordAt(record);
    recordLine->setText(consoleClock.line(loaded->hostTimeAt(record), RecordFormat::consoleLine(shown)));
    attitude->showRecord(shown);
}
