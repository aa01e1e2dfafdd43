// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts the square emblem out of the wide logo and writes it as the desktop
// icon in the sizes given, so the icon never drifts from the logo in the window.
//   imu-make-icon <logo.png> <output folder> <size>...
// writes <output folder>/<size>x<size>/telvorin-imu.png for each size.
//
// The emblem is the logo's leftmost mark: the run of columns with any visible
// pixel, up to the first fully transparent column (the gap before the name).
// QImage needs no platform plugin, so this runs on build machines without a
// display.

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <cstdio>

namespace {

bool columnHasInk(const QImage& image, int x)
{
    for (int y = 0; y < image.height(); ++y) {
        if (qAlpha(image.pixel(x, y)) != 0)
            return true;
    }
    return false;
}

bool rowHasInk(const QImage& image, int y, int left, int right)
{
    for (int x = left; x <= right; ++x) {
        if (qAlpha(image.pixel(x, y)) != 0)
            return true;
    }
    return false;
}

// An empty rectangle when the logo has no mark at all.
QRect emblemBounds(const QImage& image)
{
    int left = 0;
    while (left < image.width() && !columnHasInk(image, left))
        ++left;
    if (left == image.width())
        return {};
    int right = left;
    while (right + 1 < image.width() && columnHasInk(image, right + 1))
        ++right;

    int top = 0;
    while (!rowHasInk(image, top, left, right))
        ++top;
    int bottom = image.height() - 1;
    while (!rowHasInk(image, bottom, left, right))
        --bottom;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

int fail(const QString& message)
{
    std::fprintf(stderr, "imu-make-icon: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4)
        return fail(QStringLiteral("usage: imu-make-icon <logo.png> <output folder> <size>..."));

    const QString logoPath = QString::fromLocal8Bit(argv[1]);
    QImage logo;
    if (!logo.load(logoPath))
        return fail(QStringLiteral("cannot read the image %1").arg(logoPath));
    logo = logo.convertToFormat(QImage::Format_ARGB32);

    const QRect emblem = emblemBounds(logo);
    if (emblem.isEmpty())
        return fail(QStringLiteral("%1 is fully transparent: no emblem to cut out").arg(logoPath));
    // A far-from-square mark means the logo's layout changed (say, the name
    // touches the emblem); a squashed icon would be worse than a failed build.
    if (emblem.width() > 2 * emblem.height() || emblem.height() > 2 * emblem.width()) {
        return fail(QStringLiteral("the leftmost mark of %1 is %2x%3 pixels, not a square emblem")
                        .arg(logoPath).arg(emblem.width()).arg(emblem.height()));
    }

    // Centre the emblem on a transparent square with a small margin, the
    // way icon themes leave room around a tile.
    const int side = qMax(emblem.width(), emblem.height());
    const int margin = qMax(1, side / 32);
    QImage square(side + 2 * margin, side + 2 * margin, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    {
        QPainter painter(&square);
        painter.drawImage(QPoint(margin + (side - emblem.width()) / 2,
                                 margin + (side - emblem.height()) / 2),
                          logo, emblem);
    }

    const QDir outputDir(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 16 || size > 1024)
            return fail(QStringLiteral("bad icon size '%1' (16 to 1024)").arg(QString::fromLocal8Bit(argv[i])));

        const QString sizeDir = QStringLiteral("%1x%1").arg(size);
        if (!outputDir.mkpath(sizeDir))
            return fail(QStringLiteral("cannot create %1").arg(outputDir.filePath(sizeDir)));
        const QString path = outputDir.filePath(sizeDir + QStringLiteral("/telvorin-imu.png"));
        const QImage icon = square.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_ARGB32);
        if (!icon.save(path, "PNG"))
            return fail(QStringLiteral("cannot write %1").arg(path));
    }
    return 0;
}
