// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HIGHDPI_H
#define HIGHDPI_H

#include <QGuiApplication>

// The form places its widgets at fixed pixel positions. On a desktop scaled
// above 100 % (Xft.dpi 120, 144 or 192 for 125, 150 or 200 %) the fonts grow
// with the desktop's DPI but those pixels would not, and texts get cut. With
// the toolkit's high-DPI scaling the whole window is scaled instead, by the
// desktop's own factor: Qt 6 always does so; Qt 5 must be asked, and would
// otherwise round 1.25 down to 1 (a record line then wraps in the console)
// and 1.5 up to 2. Call before the application object exists.
inline void enableHighDpiScaling()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}

#endif // HIGHDPI_H
