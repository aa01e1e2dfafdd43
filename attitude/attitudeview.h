// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef ATTITUDEVIEW_H
#define ATTITUDEVIEW_H

#include <QPixmap>
#include <QRegion>
#include <QWidget>

// What the view shows: the displayed angles in hundredths of a degree and
// the displayed accelerations in milli-g, body axes.
struct AttitudeValues
{
    qint16 yaw = 0;
    qint16 pitch = 0;
    qint16 roll = 0;
    qint16 x = 0;
    qint16 y = 0;
    qint16 z = 0;

    bool operator==(const AttitudeValues& o) const
    {
        return yaw == o.yaw && pitch == o.pitch && roll == o.roll && x == o.x && y == o.y && z == o.z;
    }
    bool operator!=(const AttitudeValues& o) const { return !(*this == o); }
};

// The board in 3D over a ground grid with a compass, the horizon and a
// heading scale, with its axes, the measured acceleration as an arrow and
// the numbers. The picture is a function of the values and the size alone:
// no animation, no smoothing, so what it shows is what the numbers say.
class AttitudeView : public QWidget
{
    Q_OBJECT

public:
    explicit AttitudeView(QWidget* parent = nullptr);

    // Takes new values; they are drawn on the next redrawIfChanged().
    void setValues(const AttitudeValues& values);
    bool hasValues() const { return valuesKnown; }
    AttitudeValues values() const { return shown; }

    QSize sizeHint() const override;

public slots:
    // Called on the window's redraw tick: repaints once if the values
    // changed since the last paint and somebody can see the view.
    void redrawIfChanged();

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout;
    Layout layout() const;
    const QPixmap& background(const Layout& frame);
    QRegion changingArea(const Layout& frame) const;
    static double arrowHead(const Layout& frame);
    void paintBoard(QPainter& painter, const Layout& frame) const;
    void paintHeadingScale(QPainter& painter, const Layout& frame) const;
    void paintNumbers(QPainter& painter, const Layout& frame) const;

    AttitudeValues shown;
    bool valuesKnown = false;
    bool changed = false;
    // The ground, the sky and the compass, which the camera never sees move:
    // drawn once per size.
    QPixmap backgroundCache;
    // What the last paint drew over the background: a redraw repaints that
    // and what the new values draw, no more.
    QRegion drawnArea;
    bool drawnWithValues = false;
};

#endif // ATTITUDEVIEW_H
