// SPDX-License-Identifier: GPL-3.0-or-later
#include "playbackbar.h"

#include "consoleclock.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include <cmath>
#include <limits>

namespace {

constexpr double MaxSliderSteps = std::numeric_limits<int>::max() / 2;

QString speedText(double speed)
{
    return QString::number(speed, 'g', 3) + QChar(0x00D7);
}

} // namespace

const QVector<double>& PlaybackBar::speeds()
{
    static const QVector<double> list {0.1, 0.25, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 100.0};
    return list;
}

PlaybackBar::PlaybackBar(qint64 firstMs, qint64 lastMs, QWidget* parent)
    : QWidget(parent)
    , firstMs(firstMs)
    , lastMs(qMax(firstMs, lastMs))
    , play(new QPushButton(QStringLiteral("Play"), this))
    , speed(new QComboBox(this))
    , achieved(new QLabel(this))
    , slider(new QSlider(Qt::Horizontal, this))
    , positionText(new QLabel(this))
    , scrub(new QTimer(this))
{
    play->setObjectName(QStringLiteral("play_pb"));
    play->setCheckable(true);
    speed->setObjectName(QStringLiteral("speed_combobox"));
    for (double s : speeds())
        speed->addItem(speedText(s), s);
    speed->setCurrentIndex(speeds().indexOf(DefaultSpeed));
    achieved->setObjectName(QStringLiteral("achieved_l"));
    // Room for "achieved 100.0×" so the slider does not jump.
    achieved->setMinimumWidth(achieved->fontMetrics().horizontalAdvance(QStringLiteral("achieved 100.00×")));
    slider->setObjectName(QStringLiteral("position_slider"));
    const double span = double(this->lastMs - firstMs);
    msPerStep = std::max(1.0, std::ceil(span / MaxSliderSteps));
    slider->setRange(0, int(std::llround(span / msPerStep)));
    slider->setPageStep(int(std::max(1.0, 1000.0 / msPerStep)));
    positionText->setObjectName(QStringLiteral("position_l"));
    positionText->setMinimumWidth(
        positionText->fontMetrics().horizontalAdvance(QStringLiteral("0:00:00.000 / ") + ConsoleClock::duration(this->lastMs - firstMs)));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(play);
    layout->addWidget(new QLabel(QStringLiteral("Speed:"), this));
    layout->addWidget(speed);
    layout->addWidget(achieved);
    layout->addWidget(slider, 1);
    layout->addWidget(positionText);

    connect(play, &QPushButton::toggled, this, [this](bool checked) {
        play->setText(checked ? QStringLiteral("Pause") : QStringLiteral("Play"));
        emit playRequested(checked);
    });
    connect(speed, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int item) { emit speedChosen(speed->itemData(item).toDouble()); });
    // A drag over an hour moves the slider hundreds of times a second: the
    // head follows at most every ScrubIntervalMs, and exactly where the drag
    // ends.
    scrub->setSingleShot(true);
    scrub->setInterval(ScrubIntervalMs);
    connect(scrub, &QTimer::timeout, this, &PlaybackBar::flushScrub);
    connect(slider, &QSlider::valueChanged, this, &PlaybackBar::scrubbed);
    connect(slider, &QSlider::sliderReleased, this, &PlaybackBar::flushScrub);
    setPosition(firstMs);
    setAchievedSpeed(0.0);
}

double PlaybackBar::msAt(int step) const
{
    return qMin(double(lastMs), firstMs + step * msPerStep);
}

void PlaybackBar::scrubbed(int step)
{
    pendingStep = step;
    if (!slider->isSliderDown()) {
        flushScrub();
        return;
    }
    if (!scrub->isActive())
        scrub->start();
}

void PlaybackBar::flushScrub()
{
    scrub->stop();
    if (pendingStep < 0)
        return;
    const int step = pendingStep;
    pendingStep = -1;
    emit seekRequested(msAt(step));
}

void PlaybackBar::setPlaying(bool playing)
{
    // toggled() sets the text; a head that stopped by itself unchecks too.
    QSignalBlocker quiet(play);
    play->setChecked(playing);
    play->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void PlaybackBar::setPosition(double msSinceEpoch)
{
    const qint64 into = qint64(std::floor(msSinceEpoch)) - firstMs;
    positionText->setText(ConsoleClock::duration(into) + QStringLiteral(" / ") + ConsoleClock::duration(lastMs - firstMs));
    // The user's hand wins over the head while dragging.
    if (slider->isSliderDown())
        return;
    QSignalBlocker quiet(slider);
    slider->setValue(int(std::llround((msSinceEpoch - firstMs) / msPerStep)));
}

void PlaybackBar::setAchievedSpeed(double speed)
{
    if (speed <= 0.0) {
        achieved->setText(QString());
        return;
    }
    // Three significant digits, decided on the rounded value: 9.999 reads
    // "10.0", not "10.00" one moment and "10.0" the next.
    const int decimals = speed >= 99.95 ? 0 : speed >= 9.995 ? 1 : 2;
    achieved->setText(QStringLiteral("achieved %1×").arg(speed, 0, 'f', decimals));
}
