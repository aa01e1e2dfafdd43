// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISEWINDOW_H
#define NOISEWINDOW_H

#include "noiseanalysis.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <vector>

class AllanPlot;
class ChartGroup;
class History;
class NoiseTable;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QThread;
class QTimer;
class SpectrumPlot;

// A still test judged in a tool window: the Allan deviation, the spectrum
// and the noise figures of the records since it opened (in the monitor,
// growing live up to the hour the monitor keeps) or of the span the six
// charts show (zoom or pan to a still stretch; a viewer has only this).
//
// The Allan sums of the records since opening are kept up as each record
// arrives (LiveAllan: one term per octave); the spectrum and the fits run
// on a worker thread, at most about once a second and less often as the
// span grows, so that the window's share of the processor stays small. A
// result that comes back for an older state than the one now asked for
// (Start again, the other choice, another view) is dropped. Closed, the
// window keeps nothing and costs nothing.
//
// Paired with a checkable button, as the monitor's other tool windows are:
// checking it shows the window, closing the window unchecks it.
class NoiseWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Subject { SinceOpened, ChartSpan };

    // What the window looks at. The history, the charts and the breaks
    // outlive the window.
    struct Records
    {
        const History* history = nullptr;
        ChartGroup* charts = nullptr;
        // Times of the records whose frame index broke from the one before,
        // in the history's clock, sorted.
        const std::vector<qint64>* indexBreaks = nullptr;
        // The history grows (the monitor) or is whole (a recording).
        bool live = true;
        // The records' times are the host's (false: a decoded capture,
        // placed one frame period apart).
        bool timed = true;
        // The recording's file, empty live.
        QString file;
    };

    // Records since opening, and again after Start again, stop growing
    // after an hour: the monitor keeps no more to compare with.
    static constexpr qint64 LongestLiveMs = 3600 * 1000;
    // The worker starts at most once a period, and waits at least this many
    // times as long as its last analysis took, which bounds its share of
    // one core to 1 / CostFactor.
    static constexpr int ShortestPeriodMs = 1000;
    static constexpr int CostFactor = 100;
    // A view that has stopped moving this long is analysed.
    static constexpr int ViewSettleMs = 250;

    NoiseWindow(QAbstractButton* button, const Records& records, QWidget* parent);
    ~NoiseWindow() override;

    // A displayed record of the monitor, at its history's time. Nothing is
    // done while the window is closed; open, the records since opening are
    // kept up whichever the window shows, so switching back loses nothing.
    void addRecord(const std::array<qint16, Noise::Channels>& raw, qint64 msSinceEpoch, bool indexBroken);

    Subject subject() const;
    void setSubject(Subject subject);
    // The result shown, and whether there is one.
    bool hasResult() const { return resultShown; }
    const Noise::Result& result() const { return shown; }

public slots:
    void startAgain();
    void copyFigures();
    // PNG at the screen's pixel ratio or PDF (by the name's suffix): the
    // Allan plot to path, the spectrum beside it ("-spectrum" added).
    bool savePlots(const QString& path);
    bool saveResult(const QString& path);

signals:
    // A result was shown (for whoever waits on it).
    void analysed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildLayout();
    void tick();
    void launch();
    void take(quint64 generation, const Noise::Result& result, double secondsReading, qint64 workMs);
    void redrawPlots();
    void viewChanged();
    void newState();
    void updateStatus();
    void say(const QString& text);
    QVector<int> chosenChannels() const;
    QString defaultFolder() const;
    QString spanText() const;

    QPointer<QAbstractButton> button;
    Records records;
    QComboBox* subjectBox = nullptr;
    QPushButton* startAgainButton = nullptr;
    QLabel* status = nullptr;
    QCheckBox* channelBoxes[Noise::Channels] = {};
    AllanPlot* allanPlot = nullptr;
    SpectrumPlot* spectrumPlot = nullptr;
    NoiseTable* table = nullptr;
    QTimer* ticker = nullptr;
    int ticks = 0;

    // Since opening.
    Noise::LiveAllan live;
    bool collecting = false;
    bool full = false;
    qint64 startMs = 0;
    qint64 lastMs = 0;

    // The worker, and what it was last asked.
    QThread* thread = nullptr;
    QObject* worker = nullptr;
    quint64 generation = 0;
    bool busy = false;
    bool dirty = false;
    QElapsedTimer clock;
    qint64 launchedAtMs = -1000000;
    qint64 lastCostMs = 0;
    qint64 viewChangedAtMs = 0;
    qint64 requestedRecords = 0;

    Noise::Result shown;
    bool resultShown = false;
    double shownSecondsReading = 0.0;
    // What a button did, said for a while under the status.
    QString notice;
    qint64 noticeAtMs = -1000000;
};

#endif // NOISEWINDOW_H
