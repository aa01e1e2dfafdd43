// SPDX-License-Identifier: GPL-3.0-or-later
#include "recorder.h"

#include <QIconEngine>
#include <QPainter>
#include <QPushButton>

namespace {

// The red dot of a recording in progress, drawn for whatever size and pixel
// density it is asked for, so it is sharp at any desktop scale.
class RecordDotEngine : public QIconEngine
{
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        const QColor red(220, 30, 30);
        const qreal diameter = qMin(rect.width(), rect.height()) * 0.75;
        QRectF dot(0, 0, diameter, diameter);
        dot.moveCenter(QRectF(rect).center());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(red);
        painter->drawEllipse(dot);
        painter->restore();
    }

    // The toolkit's own pixmap() leaves the pixels around the dot as they
    // happen to be; here they are transparent.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap image(size);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, image.rect(), mode, state);
        }
        return image;
    }

    QIconEngine* clone() const override { return new RecordDotEngine; }
};

} // namespace

Recorder::Recorder(QPushButton* button, QObject* parent)
    : QObject(parent)
    , button(button)
{
    connect(button, &QPushButton::clicked, this, &Recorder::onClicked);
    connect(button, &QPushButton::toggled, this, &Recorder::showRecording);
}

void Recorder::onClicked(bool checked)
{
    if (!checked) {
        if (current)
            current->stop();
        current = nullptr;
        return;
    }
    auto* recording = new Recording(this);
    connect(recording, &Recording::logged, this, &Recorder::logged);
    connect(recording, &Recording::failed, this, [this, recording] {
        if (current != recording)
            return;
        current = nullptr;
        button->setChecked(false);
    });
    current = recording;
}

void Recorder::showRecording(bool recording)
{
    // "Recording" would not fit the button at every desktop scale; the dot
    // says it, and the text says what a click does.
    button->setText(recording ? QStringLiteral("Stop") : QStringLiteral("Record"));
    button->setIcon(recording ? QIcon(new RecordDotEngine) : QIcon());
}

void Recorder::finishAll()
{
    const auto recordings = findChildren<Recording*>(QString(), Qt::FindDirectChildrenOnly);
    for (Recording* recording : recordings) {
        recording->finishNow(ClosingWaitMs);
        delete recording;
    }
    current = nullptr;
}
