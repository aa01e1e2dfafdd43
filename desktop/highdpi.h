// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HIGHDPI_H
#define HIGHDPI_H

// The form places its widgets at fixed pixel positions. On a desktop scaled
// above 100 % (Xft.dpi 120, 144 or 192 for 125, 150 or 200 %) the fonts grow
// with the desktop's DPI but those pixels would not, and texts get cut. With
// the toolkit's high-DPI scaling the whole window is scaled instead, by the
// desktop's own factor, 1.25 and 1.5 included. Call before the application
// object exists.
void enableHighDpiScaling();

#endif // HIGHDPI_H
