// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisewindow.h"

#include "chartgroup.h"
#include "history.h"
#include "noiseplots.h"
#include "noisereport.h"
#include "noisetable.h"
#include "plotter.h"
#include "recordwriter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

constexpr int TickMs = 250;
// How long what a button did stays said under the status.
constexpr int NoticeMs = 6000;
constexpr int DefaultWidth = 1120;
constexpr int DefaultHeight = 880;
const char* const ChannelNames[Noise::Channels] = {"yaw", "pitch", "roll", "x", "y", "z"};

QString timeOfDay(qint64 msSinceEpoch, bool withMs = false)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch)
        .toString(withMs ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss"));
}

QString minutesAndSeconds(double seconds)
{
    const qint64 s = qint64(seconds);
    return s >= 3600 ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60)
                     : QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
}

// Index breaks at times in (fromMs, toMs]: a break at the first record of a
// span lies before it.
qint64 breaksWithin(const std::vector<qint64>* breaks, qint64 fromMs, qint64 toMs)
{
    if (!breaks)
        return 0;
    return std::upper_bound(breaks->begin(), breaks->end(), toMs)
        - std::upper_bound(breaks->begin(), breaks->end(), fromMs);
}

// The records [first, end) of a history as a span to analyse.
Noise::Span spanOf(const History& history, qint64 first, qint64 end, const std::vector<qint64>* breaks, bool timed)
{
    Noise::Span span;
    const qint64 n = end - first;
    for (auto& channel : span.raw)
        channel.resize(size_t(n));
    for (qint64 i = 0; i < n; ++i)
        for (int channel = 0; channel < Noise::Channels; ++channel)
            span.raw[size_t(channel)][size_t(i)] = history.rawAt(first + i, channel);
    span.lostFrames = n > 0 ? breaksWithin(breaks, history.timeAt(first), history.timeAt(end - 1)) : 0;
    if (timed && n > 0) {
        span.firstMs = history.timeAt(first);
        span.lastMs = history.timeAt(end - 1);
    }
    span.rateHz = Noise::Span::rateFrom(n, span.firstMs, span.lastMs);
    return span;
}

} // namespace

NoiseWindow::NoiseWindow(QAbstractButton* button, const Records& records, QWidget* parent)
    : QWidget(parent, Qt::Tool)
    , button(button)
    , records(records)
    , ticker(new QTimer(this))
    , thread(new QThread(this))
    , worker(new QObject)
{
    setObjectName(QStringLiteral("noise_window"));
    setWindowTitle(QStringLiteral("Noise"));
    buildLayout();
    resize(DefaultWidth, DefaultHeight);
    clock.start();

    thread->setObjectName(QStringLiteral("noise analysis"));
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    thread->start(QThread::LowPriority);

    ticker->setInterval(TickMs);
    connect(ticker, &QTimer::timeout, this, &NoiseWindow::tick);
    if (button)
        connect(button, &QAbstractButton::toggled, this, &QWidget::setVisible);
    if (records.charts)
        connect(records.charts->chart(0)->customPlot()->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged),
                this, &NoiseWindow::viewChanged);
}

NoiseWindow::~NoiseWindow()
{
    // An analysis under way is finished and its result dropped with the
    // window's posted events.
    thread->quit();
    thread->wait();
}

void NoiseWindow::buildLayout()
{
    auto* layout = new QVBoxLayout(this);

    auto* controls = new QHBoxLayout;
    layout->addLayout(controls);
    controls->addWidget(new QLabel(QStringLiteral("Analyse:"), this));
    subjectBox = new QComboBox(this);
    subjectBox->setObjectName(QStringLiteral("subject_cb"));
    if (records.live)
        subjectBox->addItem(QStringLiteral("Since opened"), int(Subject::SinceOpened));
    subjectBox->addItem(QStringLiteral("Span the charts show"), int(Subject::ChartSpan));
    subjectBox->setEnabled(subjectBox->count() > 1);
    controls->addWidget(subjectBox);
    startAgainButton = new QPushButton(QStringLiteral("Start again"), this);
    startAgainButton->setObjectName(QStringLiteral("start_again_pb"));
    startAgainButton->setVisible(records.live);
    controls->addWidget(startAgainButton);
    controls->addStretch(1);
    auto addButton = [this, controls](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        controls->addWidget(b);
        return b;
    };
    QPushButton* copy = addButton("copy_figures_pb", QStringLiteral("Copy figures"));
    QPushButton* savePlotsButton = addButton("save_plots_pb", QStringLiteral("Save plots…"));
    QPushButton* saveResultButton = addButton("save_result_pb", QStringLiteral("Save result…"));

    auto* channels = new QHBoxLayout;
    layout->addLayout(channels);
    channels->addWidget(new QLabel(QStringLiteral("Plot:"), this));
    for (int channel = 0; channel < Noise::Channels; ++channel) {
        auto* box = new QCheckBox(NoisePlots::channelTitle(channel), this);
        box->setObjectName(QStringLiteral("channel_%1_cb").arg(QLatin1String(ChannelNames[channel])));
        // Accelerations by default: the coefficients are theirs.
        box->setChecked(channel >= 3);
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, NoisePlots::channelColour(channel).darker(115));
        box->setPalette(palette);
        connect(box, &QCheckBox::toggled, this, &NoiseWindow::redrawPlots);
        channels->addWidget(box);
        channelBoxes[channel] = box;
    }
    channels->addStretch(1);

    status = new QLabel(this);
    status->setObjectName(QStringLiteral("status_l"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status);

    auto* plots = new QSplitter(Qt::Horizontal, this);
    allanPlot = new AllanPlot(plots);
    allanPlot->setObjectName(QStringLiteral("allan_plot"));
    spectrumPlot = new SpectrumPlot(plots);
    spectrumPlot->setObjectName(QStringLiteral("spectrum_plot"));
    layout->addWidget(plots, 1);
    // The whole table if there is room, the plots the rest.
    table = new NoiseTable(this);
    table->setObjectName(QStringLiteral("figures_tw"));
    table->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    layout->addWidget(table);
    allanPlot->clearResult();
    spectrumPlot->clearResult();

    connect(subjectBox, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { newState(); });
    connect(startAgainButton, &QPushButton::clicked, this, &NoiseWindow::startAgain);
    connect(copy, &QPushButton::clicked, this, &NoiseWindow::copyFigures);
    connect(savePlotsButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save plots"),
                                                          defaultFolder() + QStringLiteral("/noise-allan.png"),
                                                          QStringLiteral("PNG image (*.png);;PDF document (*.pdf)"));
        if (!path.isEmpty())
            savePlots(path);
    });
    connect(saveResultButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save result"),
                                                          defaultFolder() + QStringLiteral("/noise.json"),
                                                          QStringLiteral("JSON document (*.json);;All files (*)"));
        if (!path.isEmpty())
            saveResult(path);
    });
}

NoiseWindow::Subject NoiseWindow::subject() const
{
    return Subject(subjectBox->currentData().toInt());
}

void NoiseWindow::setSubject(Subject subject)
{
    const int index = subjectBox->findData(int(subject));
    if (index >= 0)
        subjectBox->setCurrentIndex(index);
}

QVector<int> NoiseWindow::chosenChannels() const
{
    QVector<int> chosen;
    for (int channel = 0; channel < Noise::Channels; ++channel)
        if (channelBoxes[channel]->isChecked())
            chosen << channel;
    return chosen;
}

QString NoiseWindow::defaultFolder() const
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QLatin1Char('/') + QLatin1String(RecordWriter::FolderName);
    return QDir(folder).exists() ? folder : documents;
}

void NoiseWindow::addRecord(const std::array<qint16, Noise::Channels>& raw, qint64 msSinceEpoch, bool indexBroken)
{
    if (!collecting || full)
        return;
    if (live.size() == 0)
        startMs = msSinceEpoch;
    if (msSinceEpoch - startMs >= LongestLiveMs) {
        full = true;
        dirty = true;
        return;
    }
    live.append(raw, msSinceEpoch, indexBroken && live.size() > 0);
    lastMs = msSinceEpoch;
    dirty = true;
}

void NoiseWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);

    if (!collecting && records.live)
        startAgain();
    else
        newState();
    ticker->start();
}

void NoiseWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (button)
        button->setChecked(false);
}

void NoiseWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Minimized is still open; closed keeps nothing.
    if (isMinimized())
        return;
    ticker->stop();
    collecting = false;
    live.clear();
    ++generation;
}

void NoiseWindow::startAgain()
{
    live.clear();
    collecting = records.live;
    full = false;
    startMs = lastMs = 0;
    newState();
}

void NoiseWindow::newState()
{
    ++generation;
    dirty = true;
    // The first result of a new state is not held back by the cost of the
    // last one, which may have been of many more records.
    lastCostMs = 0;
    launchedAtMs = -ShortestPeriodMs;
    // What was shown belongs to the old state.
    resultShown = false;
    table->clearResult();
    allanPlot->clearResult();
    spectrumPlot->clearResult();
    updateStatus();
}

void NoiseWindow::viewChanged()
{
    if (!isVisible() || subject() != Subject::ChartSpan)
        return;
    // Following the newest records, the view moves on every tick: analysed
    // as the records since opening are, by the period. A view the user
    // moved is a new question.
    if (records.charts->isLive()) {
        dirty = true;
        return;
    }
    // What is shown stays until the new view's result replaces it.
    viewChangedAtMs = clock.elapsed();
    ++generation;
    dirty = true;
}

void NoiseWindow::tick()
{
    // The counts in the status move on once a second.
    if (++ticks % (1000 / TickMs) == 0)
        updateStatus();
    if (busy || !dirty)
        return;
    const qint64 now = clock.elapsed();
    const bool settledView = subject() == Subject::ChartSpan && !records.charts->isLive();
    if (settledView) {
        if (now - viewChangedAtMs < ViewSettleMs)
            return;
    } else if (now - launchedAtMs < std::max<qint64>(ShortestPeriodMs, CostFactor * lastCostMs)) {
        return;
    }
    launch();
}

void NoiseWindow::launch()
{
    const qint64 startedAtMs = clock.elapsed();
    std::function<Noise::Result(double&)> job;
    if (subject() == Subject::SinceOpened) {
        if (live.size() < Noise::MinimumRecords)
            return;
        auto span = std::make_shared<const Noise::Span>(live.span());
        auto adev = std::make_shared<std::array<QVector<Noise::AdevPoint>, Noise::Channels>>();
        for (int channel = 0; channel < Noise::Channels; ++channel)
            (*adev)[size_t(channel)] = live.adev(channel, span->rateHz);
        requestedRecords = span->size();
        job = [span, adev](double&) { return Noise::analyse(*span, adev.get()); };
    } else {
        const QCPRange view = records.charts->chart(0)->customPlot()->xAxis->range();
        const History* history = records.history;
        const qint64 first = history->lowerBound(view.lower * 1000.0);
        const qint64 end = history->upperBound(view.upper * 1000.0);
        requestedRecords = end - first;
        if (end - first < Noise::MinimumRecords) {
            dirty = false;
            updateStatus();
            return;
        }
        const std::vector<qint64>* breaks = records.indexBreaks;
        const bool timed = records.timed;
        if (records.live) {
            // The monitor's history grows on this thread: the span is taken
            // here, the analysis goes to the worker.
            QElapsedTimer reading;
            reading.start();
            auto span = std::make_shared<const Noise::Span>(spanOf(*history, first, end, breaks, timed));
            const double seconds = reading.nsecsElapsed() / 1e9;
            job = [span, seconds](double& secondsReading) {
                secondsReading = seconds;
                return Noise::analyse(*span);
            };
        } else {
            // A recording's history stays as it is: read on the worker too.
            job = [history, first, end, breaks, timed](double& secondsReading) {
                QElapsedTimer reading;
                reading.start();
                const Noise::Span span = spanOf(*history, first, end, breaks, timed);
                secondsReading = reading.nsecsElapsed() / 1e9;
                return Noise::analyse(span);
            };
        }
    }
    busy = true;
    dirty = false;
    launchedAtMs = startedAtMs;
    const quint64 asked = generation;
    // The span taken on this thread counts too.
    const qint64 copyMs = clock.elapsed() - startedAtMs;
    QMetaObject::invokeMethod(worker, [this, job, asked, copyMs] {
        QElapsedTimer working;
        working.start();
        double secondsReading = 0.0;
        const Noise::Result result = job(secondsReading);
        const qint64 workMs = copyMs + working.elapsed();
        // The window waits for this thread before it goes, and its posted
        // events go with it.
        QMetaObject::invokeMethod(
            this, [this, asked, result, secondsReading, workMs] { take(asked, result, secondsReading, workMs); },
            Qt::QueuedConnection);
    });
    updateStatus();
}

void NoiseWindow::take(quint64 asked, const Noise::Result& result, double secondsReading, qint64 workMs)
{
    busy = false;
    if (asked != generation) {
        lastCostMs = workMs;
        return;
    }
    shown = result;
    shownSecondsReading = secondsReading;
    resultShown = true;
    QElapsedTimer drawing;
    drawing.start();
    table->showResult(shown);
    // Rows of two lines make it taller.
    table->updateGeometry();
    redrawPlots();
    updateStatus();
    // The cost of a result is the worker's and this thread's together,
    // drawing included: that is what the next one waits for.
    lastCostMs = workMs + drawing.elapsed();
    emit analysed();
}

void NoiseWindow::redrawPlots()
{
    if (!resultShown)
        return;
    const QVector<int> chosen = chosenChannels();
    allanPlot->showResult(shown, chosen);
    spectrumPlot->showResult(shown, chosen);
    // Both drawn now, while the cost of the result is taken.
    allanPlot->replot();
    spectrumPlot->replot();
}

QString NoiseWindow::spanText() const
{
    const History* history = records.history;
    const QCPRange view = records.charts->chart(0)->customPlot()->xAxis->range();
    const qint64 first = history->lowerBound(view.lower * 1000.0);
    const qint64 end = history->upperBound(view.upper * 1000.0);
    if (end <= first)
        return QStringLiteral("The charts show no records.");
    const qint64 fromMs = history->timeAt(first);
    const qint64 toMs = history->timeAt(end - 1);
    QString text = records.timed ? QStringLiteral("The charts' span %1 – %2 (%3): %4 records")
                                       .arg(timeOfDay(fromMs, true), timeOfDay(toMs, true),
                                            minutesAndSeconds((toMs - fromMs) / 1000.0))
                                       .arg(end - first)
                                 : QStringLiteral("The charts' span: %1 records").arg(end - first);
    const qint64 lost = breaksWithin(records.indexBreaks, fromMs, toMs);
    if (lost > 0)
        text += lost == 1 ? QStringLiteral(", 1 index break (a lost frame)")
                          : QStringLiteral(", %1 index breaks (lost frames)").arg(lost);
    if (end - first < Noise::MinimumRecords)
        text += QStringLiteral(": at least %1 are needed; zoom out").arg(Noise::MinimumRecords);
    return text;
}

void NoiseWindow::updateStatus()
{
    QString text;
    if (subject() == Subject::SinceOpened) {
        const qint64 n = live.size();
        if (n == 0) {
            text = QStringLiteral("Waiting for records: the analysis starts at %1.").arg(Noise::MinimumRecords);
        } else {
            text = QStringLiteral("Since %1: %2 records (%3)")
                       .arg(timeOfDay(startMs))
                       .arg(n)
                       .arg(minutesAndSeconds((lastMs - startMs) / 1000.0));
            if (n < Noise::MinimumRecords)
                text += QStringLiteral("; the analysis starts at %1").arg(Noise::MinimumRecords);
        }
        if (full)
            text += QStringLiteral(". The hour is full: the analysis stops growing here (for a longer test, record "
                                   "it and open the recording in the viewer)");
    } else {
        text = spanText();
    }
    if (resultShown && !busy)
        text += QStringLiteral(" · analysed %1 records in %2 ms").arg(shown.records).arg(shown.secondsAnalysing * 1e3, 0, 'f', 0);
    if (busy)
        text += QStringLiteral(" · analysing %1 records…").arg(requestedRecords);
    if (clock.elapsed() - noticeAtMs < NoticeMs)
        text += QLatin1Char('\n') + notice;
    if (status->text() != text)
        status->setText(text);
}

void NoiseWindow::copyFigures()
{
    if (!resultShown) {
        say(QStringLiteral("No figures to copy yet"));
        return;
    }
    QApplication::clipboard()->setText(Noise::tabSeparated(shown));
    say(QStringLiteral("Figures copied, tab-separated: paste them into a spreadsheet"));
}

void NoiseWindow::say(const QString& text)
{
    notice = text;
    noticeAtMs = clock.elapsed();
    updateStatus();
}

bool NoiseWindow::savePlots(const QString& path)
{
    const QFileInfo file(path);
    const QString suffix = file.suffix().toLower();
    const bool pdf = suffix == QLatin1String("pdf");
    const QString ending = QLatin1Char('.') + (pdf ? QStringLiteral("pdf") : QStringLiteral("png"));
    const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
    const QString allanPath = base + ending;
    const QString spectrumPath = base + QStringLiteral("-spectrum") + ending;
    auto save = [this, pdf](QCustomPlot* plot, const QString& to) {
        // PDF pens are not cosmetic, so a vector editor keeps them visible
        // at any zoom; PNG has the screen's pixels.
        return pdf ? plot->savePdf(to, 0, 0, QCP::epNoCosmetic) : plot->savePng(to, 0, 0, devicePixelRatioF());
    };
    const bool ok = save(allanPlot, allanPath) && save(spectrumPlot, spectrumPath);
    say(ok ? QStringLiteral("Saved %1 and %2").arg(QDir::toNativeSeparators(allanPath),
                                                              QDir::toNativeSeparators(spectrumPath))
           : QStringLiteral("Cannot save the plots to %1").arg(QDir::toNativeSeparators(allanPath)));
    return ok;
}

bool NoiseWindow::saveResult(const QString& path)
{
    if (!resultShown) {
        say(QStringLiteral("No result to save yet"));
        return false;
    }
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly)
        && file.write(Noise::toJson(shown, records.file, shownSecondsReading).toJson()) >= 0 && file.commit();
    say(ok ? QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path))
           : QStringLiteral("Cannot save %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return ok;
}
