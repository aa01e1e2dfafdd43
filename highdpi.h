// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HIGHDPI_H
#define HIGHDPI_H

#include <QCoreApplication>

// The form places its widgets at fixed pixel positions. On a desktop scaled
// above 100 % (Xft.dpi 192 for 200 %, say) the fonts grow with the desktop's
// DPI but those pixels would not, and texts get cut. With the toolkit's
// high-DPI scaling the whole window is scaled instead, and images get drawn
// from their @2x variants. Call before the application object exists.
inline void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
}

#endif // HIGHDPI_H
