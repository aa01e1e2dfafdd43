// SPDX-License-Identifier: GPL-3.0-or-later
#include "attitudeview.h"

#include "attitudeprojection.h"
#include "recordformat.h"

#include <QLinearGradient>
#include <QPainter>
#include <QEvent>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>

using namespace AttitudeProjection;

namespace {

constexpr double Pi = 3.14159265358979323846;

// The board: half its length (X), width (Y) and thickness (Z), in the
// world's units.
constexpr double HalfLength = 1.3;
constexpr double HalfWidth = 0.8;
constexpr double HalfThickness = 0.11;
// Axis arrows from the board's centre, long enough to stand out of it.
constexpr double AxisLength[3] = {2.8, 1.7, 1.5};
// The acceleration arrow: this long for 1 g, and never longer than the
// model's reach, however large the reading; a longer one is drawn dashed.
constexpr double AccelLengthPerG = 1.8;
constexpr double AccelMaxLength = 3.0;

constexpr double CompassRadius = 2.7;
// The heading's mark stands outside the compass, its labels inside.
constexpr double CompassMarkReach = 0.45;
constexpr double CompassLabelInset = 0.5;
constexpr double GridHalfSpan = 2.0;
constexpr double HeadingScaleSpanDegrees = 120.0;
// What a redraw claims along an arrow: this many boxes, not one.
constexpr int ArrowPieces = 4;

constexpr QRgb AxisColours[3] = {0xd62728, 0x1e9e3a, 0x1f6fd1};
const QColor AccelColour(0x8e, 0x3c, 0xc8);
const QColor PanelColour(255, 255, 255, 215);
const QColor ScaleColour(0x26, 0x2b, 0x33, 225);
constexpr double PanelPaddingLines = 0.35;

struct PanelRow
{
    QString label;
    QRgb colour;
};
const PanelRow AngleRows[3] = {{"Yaw", 0x20242a}, {"Pitch", 0x20242a}, {"Roll", 0x20242a}};
const PanelRow AccelRows[3] = {{"a X", AxisColours[0]}, {"a Y", AxisColours[1]}, {"a Z", AxisColours[2]}};
const QColor TextColour(0x20, 0x24, 0x2a);

Vector3 scaled(const Vector3& v, double k)
{
    return {v.x * k, v.y * k, v.z * k};
}

Vector3 minus(const Vector3& a, const Vector3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double dot(const Vector3& a, const Vector3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vector3 ground(double north, double east)
{
    return {north, east, GroundDepth};
}

// The outline of a set of points on the screen (monotone chain).
QPolygonF convexHull(QVector<QPointF> points)
{
    std::sort(points.begin(), points.end(),
              [](const QPointF& a, const QPointF& b) { return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y()); });
    auto cross = [](const QPointF& o, const QPointF& a, const QPointF& b) {
        return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
    };
    QPolygonF hull(2 * points.size());
    int k = 0;
    for (int i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
            --k;
        hull[k++] = points[i];
    }
    for (int i = points.size() - 2, lower = k + 1; i >= 0; --i) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
            --k;
        hull[k++] = points[i];
    }
    hull.resize(qMax(0, k - 1));
    return hull;
}

QString compassLabel(int degrees)
{
    switch (degrees) {
    case 0:
        return QStringLiteral("N");
    case 90:
        return QStringLiteral("E");
    case 180:
        return QStringLiteral("S");
    case 270:
        return QStringLiteral("W");
    default:
        return QString::number(degrees);
    }
}

// Arrows of the body axes and of the acceleration, each from the centre.
struct Arrow
{
    Vector3 tip;
    QColor colour;
    QString label;
    bool dashed;
};

// What moves, in the world: the board's corners, the arrows and the
// heading's mark on the compass.
struct Pose
{
    Matrix3 rotation;
    std::array<Vector3, 8> corners;
    QVector<Arrow> arrows;
    std::array<Vector3, 3> headingMark;
};

Pose poseOf(const AttitudeValues& v, bool withAcceleration)
{
    Pose pose;
    pose.rotation = bodyToWorld(v.yaw / 100.0, v.pitch / 100.0, v.roll / 100.0);
    const Matrix3& r = pose.rotation;
    for (int i = 0; i < 8; ++i)
        pose.corners[i] = r * Vector3 {i & 1 ? HalfLength : -HalfLength, i & 2 ? HalfWidth : -HalfWidth,
                                       i & 4 ? HalfThickness : -HalfThickness};
    for (int axis = 0; axis < 3; ++axis) {
        Vector3 unit;
        (axis == 0 ? unit.x : axis == 1 ? unit.y : unit.z) = AxisLength[axis];
        pose.arrows.append({r * unit, QColor(AxisColours[axis]), QString(QChar('X' + axis)), false});
    }
    if (withAcceleration) {
        const Vector3 force = r * Vector3 {v.x / 1000.0, v.y / 1000.0, v.z / 1000.0};
        const double length = std::sqrt(dot(force, force)) * AccelLengthPerG;
        const double k = length > AccelMaxLength ? AccelMaxLength / length : 1.0;
        pose.arrows.append({scaled(force, AccelLengthPerG * k), AccelColour, QStringLiteral("a"), k < 1.0});
    }
    const double yaw = v.yaw / 100.0 * Pi / 180;
    const Vector3 along {std::cos(yaw), std::sin(yaw), 0};
    const Vector3 across {-along.y, along.x, 0};
    auto onRing = [&](double radial, double side) {
        return ground(radial * along.x + side * across.x, radial * along.y + side * across.y);
    };
    pose.headingMark = {onRing(CompassRadius + 0.03, 0), onRing(CompassRadius + CompassMarkReach, -0.22),
                        onRing(CompassRadius + CompassMarkReach, 0.22)};
    return pose;
}

// The part of the world the picture frames, in the projection's units: the
// sky a little above the horizon down to the near edge of the compass.
const QRectF& sceneBounds()
{
    static const QRectF bounds = [] {
        double left = 0, right = 0, bottom = 0;
        for (int d = 0; d < 360; d += 5) {
            const double reach = CompassRadius + CompassMarkReach;
            const ScreenPoint p = project(ground(reach * std::cos(d * Pi / 180), reach * std::sin(d * Pi / 180)));
            left = qMin(left, p.x);
            right = qMax(right, p.x);
            bottom = qMax(bottom, p.y);
        }
        const double top = horizonY() - 0.35;
        return QRectF(left - 0.1, top, right - left + 0.2, bottom - top + 0.1);
    }();
    return bounds;
}

} // namespace

// Where the world goes in the widget: the projection's units to pixels,
// and the room the heading scale takes at the top.
struct AttitudeView::Layout
{
    QSize size;
    qreal pixelRatio = 1;
    QRectF headingScale;
    // The numbers: the angles at the left, the accelerations at the right.
    QRectF anglePanel;
    QRectF accelPanel;
    QPointF centre;
    double pixelsPerUnit = 1;

    QPointF toPixels(const Vector3& world) const
    {
        const ScreenPoint p = project(world);
        return centre + QPointF(p.x, p.y) * pixelsPerUnit;
    }
};

AttitudeView::AttitudeView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(220, 200);
    // Numbers, compass points and axis names: short Latin text that looks the
    // same without kerning and shaping, which would otherwise cost more than
    // the rest of a frame's text.
    QFont plain = font();
    plain.setKerning(false);
    plain.setStyleStrategy(QFont::PreferNoShaping);
    setFont(plain);
}

QSize AttitudeView::sizeHint() const
{
    return {500, 460};
}

void AttitudeView::setValues(const AttitudeValues& values)
{
    if (valuesKnown && values == shown)
        return;
    shown = values;
    valuesKnown = true;
    changed = true;
}

void AttitudeView::redrawIfChanged()
{
    if (!changed || !isVisible())
        return;
    // An unexposed window (unmapped, or on a workspace the compositor does
    // not draw) paints nothing; it paints the newest values once exposed.
    const QWindow* handle = window()->windowHandle();
    if (handle && !handle->isExposed())
        return;
    if (drawnWithValues)
        update(drawnArea | changingArea(layout()));
    else
        update();
}

QRegion AttitudeView::changingArea(const Layout& frame) const
{
    const Pose pose = poseOf(shown, valuesKnown);
    auto around = [](const QRectF& box, double margin) {
        return QRegion(box.normalized().adjusted(-margin, -margin, margin, margin).toAlignedRect());
    };
    QPolygonF solid, shadow;
    for (const Vector3& corner : pose.corners) {
        solid << frame.toPixels(corner);
        shadow << frame.toPixels(ground(corner.x, corner.y));
    }
    QRegion area = around(solid.boundingRect(), 2) | around(shadow.boundingRect(), 2);
    // Each arrow's shaft in pieces, so that a slanting one does not claim the
    // whole box around it, and room at its tip for the head and the label.
    const double head = arrowHead(frame);
    const double labelReach = fontMetrics().height() * 1.3 + 2;
    const QPointF from = frame.toPixels({});
    for (const Arrow& arrow : pose.arrows) {
        const QPointF to = frame.toPixels(arrow.tip);
        for (int i = 0; i < ArrowPieces; ++i)
            area |= around(QRectF(from + (to - from) * i / ArrowPieces, from + (to - from) * (i + 1) / ArrowPieces), head);
        area |= around(QRectF(to, to), qMax(head, labelReach));
    }
    QPolygonF mark;
    for (const Vector3& p : pose.headingMark)
        mark << frame.toPixels(p);
    area |= around(mark.boundingRect(), 2);
    for (const QRectF& r : {frame.headingScale, frame.anglePanel, frame.accelPanel})
        area |= r.toAlignedRect();
    return area;
}

double AttitudeView::arrowHead(const Layout& frame)
{
    return qBound(6.0, frame.pixelsPerUnit * 0.14, 16.0);
}

AttitudeView::Layout AttitudeView::layout() const
{
    Layout frame;
    frame.size = size();
    frame.pixelRatio = devicePixelRatioF();
    const double scaleHeight = fontMetrics().height() * 1.9;
    frame.headingScale = QRectF(width() * 0.14, 4, width() * 0.72, scaleHeight);
    // Panels as wide as their widest possible text, so they never move.
    const QFontMetricsF metrics(font());
    const double line = metrics.height();
    const double pad = line * PanelPaddingLines;
    auto panelWidth = [&](const PanelRow (&rows)[3], const QString& widest) {
        double labels = 0;
        for (const PanelRow& row : rows)
            labels = qMax(labels, metrics.horizontalAdvance(row.label));
        return labels + line + metrics.horizontalAdvance(widest) + 2 * pad;
    };
    const double panelTop = frame.headingScale.bottom() + 6;
    const double panelHeight = 3 * line + 2 * pad;
    frame.anglePanel = QRectF(6, panelTop, panelWidth(AngleRows, "-327.68\u00b0"), panelHeight);
    const double accelWidth = panelWidth(AccelRows, "-32768 mg");
    frame.accelPanel = QRectF(width() - 6 - accelWidth, panelTop, accelWidth, panelHeight);
    const double top = frame.headingScale.bottom();
    const double room = qMax(1.0, height() - top);
    const QRectF scene = sceneBounds();
    frame.pixelsPerUnit = qMin(width() / scene.width(), room / scene.height());
    frame.centre = QPointF(width() / 2.0 - scene.center().x() * frame.pixelsPerUnit,
                           top + (room - scene.height() * frame.pixelsPerUnit) / 2 - scene.top() * frame.pixelsPerUnit);
    return frame;
}

const QPixmap& AttitudeView::background(const Layout& frame)
{
    if (backgroundCache.size() == frame.size * frame.pixelRatio
        && backgroundCache.devicePixelRatio() == frame.pixelRatio)
        return backgroundCache;

    backgroundCache = QPixmap(frame.size * frame.pixelRatio);
    backgroundCache.setDevicePixelRatio(frame.pixelRatio);
    QPainter p(&backgroundCache);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = frame.size.width(), h = frame.size.height();

    const double horizon = frame.centre.y() + horizonY() * frame.pixelsPerUnit;
    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, QColor(0x6f, 0xa8, 0xdc));
    sky.setColorAt(1, QColor(0xd6, 0xe8, 0xf5));
    p.fillRect(QRectF(0, 0, w, horizon), sky);
    QLinearGradient earth(0, horizon, 0, h);
    earth.setColorAt(0, QColor(0xc9, 0xc2, 0xa8));
    earth.setColorAt(1, QColor(0x8c, 0x7e, 0x5e));
    p.fillRect(QRectF(0, horizon, w, h - horizon), earth);
    p.setPen(QPen(QColor(0x5a, 0x50, 0x3c), 1.2));
    p.drawLine(QPointF(0, horizon), QPointF(w, horizon));

    // The grid: one unit is the board's half-length.
    p.setPen(QPen(QColor(255, 255, 255, 120), 1.0));
    for (double at = -GridHalfSpan; at <= GridHalfSpan; at += 1.0) {
        p.drawLine(frame.toPixels(ground(at, -GridHalfSpan)), frame.toPixels(ground(at, GridHalfSpan)));
        p.drawLine(frame.toPixels(ground(-GridHalfSpan, at)), frame.toPixels(ground(GridHalfSpan, at)));
    }

    // The compass on the ground: north is straight ahead of a board at
    // yaw 0, east to its right.
    QPolygonF ring;
    for (int d = 0; d <= 360; d += 5)
        ring << frame.toPixels(ground(CompassRadius * std::cos(d * Pi / 180), CompassRadius * std::sin(d * Pi / 180)));
    p.setPen(QPen(QColor(0x3a, 0x34, 0x28), 1.4));
    p.drawPolyline(ring);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    const QFontMetricsF metrics(bold);
    for (int d = 0; d < 360; d += 10) {
        const double c = std::cos(d * Pi / 180), s = std::sin(d * Pi / 180);
        const double inner = CompassRadius - (d % 30 == 0 ? 0.25 : 0.12);
        p.drawLine(frame.toPixels(ground(CompassRadius * c, CompassRadius * s)),
                   frame.toPixels(ground(inner * c, inner * s)));
        if (d % 30 != 0)
            continue;
        const QString label = compassLabel(d);
        const double radius = CompassRadius - CompassLabelInset;
        const QPointF at = frame.toPixels(ground(radius * c, radius * s));
        const double tw = metrics.horizontalAdvance(label);
        p.setPen(d % 90 == 0 ? QColor(0x20, 0x1c, 0x14) : QColor(0x4a, 0x42, 0x32));
        p.drawText(QPointF(at.x() - tw / 2, at.y() + metrics.ascent() / 2 - 1), label);
        p.setPen(QPen(QColor(0x3a, 0x34, 0x28), 1.4));
    }

    // The boxes of the heading scale and of the numbers, with the names.
    p.setPen(Qt::NoPen);
    p.setBrush(ScaleColour);
    p.drawRoundedRect(frame.headingScale, 4, 4);
    p.setFont(font());
    const QFontMetricsF plain(font());
    const double pad = plain.height() * PanelPaddingLines;
    for (const auto& panel : {std::make_pair(frame.anglePanel, AngleRows), {frame.accelPanel, AccelRows}}) {
        p.setPen(Qt::NoPen);
        p.setBrush(PanelColour);
        p.drawRoundedRect(panel.first, 4, 4);
        for (int i = 0; i < 3; ++i) {
            p.setPen(QColor(panel.second[i].colour));
            p.drawText(QPointF(panel.first.left() + pad, panel.first.top() + pad + i * plain.height() + plain.ascent()),
                       panel.second[i].label);
        }
    }

    // Straight up from the board's centre: at rest the acceleration arrow
    // lies on this line whatever the attitude.
    p.setPen(QPen(QColor(0x40, 0x40, 0x40, 150), 1.2, Qt::DashLine));
    p.drawLine(frame.toPixels({0, 0, GroundDepth}), frame.toPixels({0, 0, -AccelLengthPerG}));
    return backgroundCache;
}

void AttitudeView::changeEvent(QEvent* event)
{
    // The names in the background and the panels' widths follow the font.
    if (event->type() == QEvent::FontChange)
        backgroundCache = QPixmap();
    QWidget::changeEvent(event);
}

void AttitudeView::paintEvent(QPaintEvent*)
{
    changed = false;
    const Layout frame = layout();
    drawnArea = changingArea(frame);
    drawnWithValues = valuesKnown;
    QPainter painter(this);
    painter.drawPixmap(0, 0, background(frame));
    painter.setRenderHint(QPainter::Antialiasing);
    paintBoard(painter, frame);
    paintHeadingScale(painter, frame);
    paintNumbers(painter, frame);
}

void AttitudeView::paintBoard(QPainter& painter, const Layout& frame) const
{
    const Pose pose = poseOf(shown, valuesKnown);
    const Matrix3& r = pose.rotation;
    const Vector3 camera = cameraPosition();
    const double centreDepth = project({}).depth;

    // The shadow straight below, so height and tilt read against the grid.
    QVector<QPointF> footprint;
    for (const Vector3& corner : pose.corners)
        footprint.append(frame.toPixels(ground(corner.x, corner.y)));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 55));
    // A soft shade needs no smooth edge, and it is the largest area drawn.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawPolygon(convexHull(footprint));
    painter.setRenderHint(QPainter::Antialiasing);

    // The heading on the compass: where the nose points.
    QPolygonF mark;
    for (const Vector3& p : pose.headingMark)
        mark << frame.toPixels(p);
    painter.setBrush(QColor(AxisColours[0]));
    painter.drawPolygon(mark);

    const QVector<Arrow>& arrows = pose.arrows;
    const double head = arrowHead(frame);
    auto drawArrow = [&](const Arrow& a) {
        const QPointF from = frame.toPixels({});
        const QPointF to = frame.toPixels(a.tip);
        painter.setPen(QPen(a.colour, qMax(2.0, frame.pixelsPerUnit * 0.035), a.dashed ? Qt::DashLine : Qt::SolidLine,
                            Qt::FlatCap));
        painter.drawLine(from, to);
        const QPointF d = to - from;
        const double length = std::hypot(d.x(), d.y());
        painter.setPen(Qt::NoPen);
        painter.setBrush(a.colour);
        if (length < head) {
            // Seen end on: a dot where it points.
            painter.drawEllipse(to, head / 2, head / 2);
            return;
        }
        const QPointF u = d / length, n(-u.y(), u.x());
        painter.drawPolygon(QPolygonF({to + u * (head * 0.3), to - u * head + n * (head * 0.45),
                                       to - u * head - n * (head * 0.45)}));
    };
    // Arrows going away from the camera first, then the board over them,
    // then the arrows coming towards it.
    for (const Arrow& a : arrows)
        if (project(a.tip).depth >= centreDepth)
            drawArrow(a);

    struct Face
    {
        Vector3 normal;
        double halfExtent;
        QColor colour;
    };
    const Face faces[] = {
        {{0, 0, -1}, HalfThickness, QColor(0xef, 0xe6, 0xcf)}, // top
        {{0, 0, 1}, HalfThickness, QColor(0x3d, 0x44, 0x50)},  // bottom
        {{1, 0, 0}, HalfLength, QColor(0xe0, 0x52, 0x2f)},     // nose
        {{-1, 0, 0}, HalfLength, QColor(0x7d, 0x83, 0x8a)},    // tail
        {{0, 1, 0}, HalfWidth, QColor(0x9a, 0xa0, 0xa6)},      // right
        {{0, -1, 0}, HalfWidth, QColor(0x9a, 0xa0, 0xa6)},     // left
    };
    const Vector3 light {-0.35, -0.3, -0.89}; // from above, behind the camera
    const double half[3] = {HalfLength, HalfWidth, HalfThickness};
    for (const Face& f : faces) {
        const Vector3 normal = r * f.normal;
        const Vector3 centre = r * scaled(f.normal, f.halfExtent);
        if (dot(normal, minus(camera, centre)) <= 0)
            continue;
        // The face's corners: its centre plus and minus the two other axes.
        const int a = f.normal.x != 0.0 ? 1 : 0;
        const int b = f.normal.z != 0.0 ? 1 : 2;
        QPolygonF outline;
        for (const auto& sign : {std::array<int, 2> {1, 1}, {1, -1}, {-1, -1}, {-1, 1}}) {
            Vector3 corner = scaled(f.normal, f.halfExtent);
            double* c[3] = {&corner.x, &corner.y, &corner.z};
            *c[a] += sign[0] * half[a];
            *c[b] += sign[1] * half[b];
            outline << frame.toPixels(r * corner);
        }
        const double lit = 0.62 + 0.38 * qMax(0.0, dot(normal, light));
        // Filled without smoothing, then edged with a smooth hairline that
        // covers the steps: a third of the cost of a smooth fill.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(f.colour.redF() * lit, f.colour.greenF() * lit, f.colour.blueF() * lit));
        painter.drawPolygon(outline);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen edge(QColor(0x30, 0x30, 0x30), 1.0);
        edge.setCosmetic(true);
        painter.setPen(edge);
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(outline);
        if (f.normal.z < 0) {
            // An arrow printed on the top side, pointing to the nose.
            const double z = -HalfThickness;
            QPolygonF mark;
            for (const auto& p : {std::array<double, 2> {0.78, 0}, {0.2, 0.4}, {0.2, 0.16}, {-0.7, 0.16},
                                  {-0.7, -0.16}, {0.2, -0.16}, {0.2, -0.4}})
                mark << frame.toPixels(r * Vector3 {p[0], p[1], z});
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0xe0, 0x52, 0x2f));
            painter.drawPolygon(mark);
        }
    }

    for (const Arrow& a : arrows)
        if (project(a.tip).depth < centreDepth)
            drawArrow(a);

    // The labels last, so none is ever hidden.
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    const QFontMetricsF metrics(bold);
    const QPointF from = frame.toPixels({});
    for (const Arrow& a : arrows) {
        const QPointF to = frame.toPixels(a.tip);
        const QPointF d = to - from;
        const double length = std::hypot(d.x(), d.y());
        const QPointF away = length > 1e-6 ? d / length : QPointF(0.7, -0.7);
        const QPointF at = to + away * (metrics.height() * 0.75);
        const double tw = metrics.horizontalAdvance(a.label);
        painter.setPen(a.colour);
        painter.drawText(QPointF(at.x() - tw / 2, at.y() + metrics.ascent() / 2 - 1), a.label);
    }
}

void AttitudeView::paintHeadingScale(QPainter& painter, const Layout& frame) const
{
    // A tape of the compass that turns with the yaw under a fixed pointer,
    // as on a heading indicator.
    const QRectF tape = frame.headingScale;

    const double heading = shown.yaw / 100.0;
    const double perDegree = tape.width() / HeadingScaleSpanDegrees;
    const double half = HeadingScaleSpanDegrees / 2;
    const QFontMetricsF metrics(font());
    painter.setFont(font());
    painter.save();
    painter.setClipRect(tape.adjusted(2, 0, -2, 0));
    QPen tick(Qt::white, 1.0);
    tick.setCosmetic(true);
    painter.setPen(tick);
    for (int d = int(std::floor((heading - half) / 10.0)) * 10; d <= heading + half; d += 10) {
        const double x = tape.center().x() + (d - heading) * perDegree;
        const bool major = d % 30 == 0;
        painter.drawLine(QPointF(x, tape.bottom() - (major ? 8 : 4)), QPointF(x, tape.bottom()));
        if (!major)
            continue;
        // Whole labels only: a cut one reads as another number.
        const QString label = compassLabel(((d % 360) + 360) % 360);
        const double labelWidth = metrics.horizontalAdvance(label);
        if (x - labelWidth / 2 >= tape.left() + 2 && x + labelWidth / 2 <= tape.right() - 2)
            painter.drawText(QPointF(x - labelWidth / 2, tape.top() + metrics.ascent() + 2), label);
    }
    painter.restore();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xc4, 0x30));
    const QPointF tip(tape.center().x(), tape.bottom() - 9);
    painter.drawPolygon(QPolygonF({tip, tip + QPointF(-6, 9), tip + QPointF(6, 9)}));
}

void AttitudeView::paintNumbers(QPainter& painter, const Layout& frame) const
{
    const QFontMetricsF metrics(font());
    painter.setFont(font());
    painter.setPen(TextColour);
    const double pad = metrics.height() * PanelPaddingLines;
    auto values = [&](const QRectF& panel, const QString (&texts)[3]) {
        for (int i = 0; i < 3; ++i)
            painter.drawText(QPointF(panel.right() - pad - metrics.horizontalAdvance(texts[i]),
                                     panel.top() + pad + i * metrics.height() + metrics.ascent()),
                             texts[i]);
    };

    if (valuesKnown) {
        const QString degree = QStringLiteral("\u00b0");
        const QString mg = QStringLiteral(" mg");
        values(frame.anglePanel, {RecordFormat::degrees(shown.yaw) + degree, RecordFormat::degrees(shown.pitch) + degree,
                                  RecordFormat::degrees(shown.roll) + degree});
        values(frame.accelPanel, {QString::number(shown.x) + mg, QString::number(shown.y) + mg,
                                  QString::number(shown.z) + mg});
        return;
    }

    const QString dash = QStringLiteral("\u2013");
    values(frame.anglePanel, {dash, dash, dash});
    values(frame.accelPanel, {dash, dash, dash});
    const QString text = QStringLiteral("No data");
    QFont big = font();
    if (big.pointSizeF() > 0)
        big.setPointSizeF(big.pointSizeF() * 1.4);
    else
        big.setPixelSize(qRound(big.pixelSize() * 1.4));
    big.setBold(true);
    const QFontMetricsF bigMetrics(big);
    QRectF box(0, 0, bigMetrics.horizontalAdvance(text) + 4 * pad, bigMetrics.height() + 2 * pad);
    box.moveCenter(QPointF(frame.size.width() / 2.0, frame.anglePanel.bottom() + box.height()));
    painter.setPen(Qt::NoPen);
    painter.setBrush(PanelColour);
    painter.drawRoundedRect(box, 4, 4);
    painter.setFont(big);
    painter.setPen(TextColour);
    painter.drawText(box, Qt::AlignCenter, text);
}
