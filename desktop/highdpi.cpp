// SPDX-License-Identifier: GPL-3.0-or-later
#include "highdpi.h"

#include <QGuiApplication>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QByteArray>

#include <cstdlib>
#include <xcb/xcb.h>

namespace {

// Whether the X desktop the program will show on sets its scale, as the
// resource Xft.dpi (GNOME, KDE and others do).
bool x11DesktopSetsDpi()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    bool set = false;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        // The resources are one text property of the root window, a few kB.
        constexpr uint32_t MaxResourceWords = 1 << 16;
        const xcb_get_property_cookie_t cookie = xcb_get_property(
            connection, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, MaxResourceWords);
        if (xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr)) {
            const QByteArray resources(static_cast<const char*>(xcb_get_property_value(reply)),
                                       xcb_get_property_value_length(reply));
            for (const QByteArray& line : resources.split('\n')) {
                if (line.startsWith("Xft.dpi:"))
                    set = line.mid(8).trimmed().toDouble() > 0;
            }
            std::free(reply);
        }
    }
    xcb_disconnect(connection);
    return set;
}

} // namespace
#endif

void enableHighDpiScaling()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always scales, by the desktop's factor as it is. Qt 5 must be
    // asked, and would round 1.25 down to 1 (a record line then no longer
    // fits the console) and 1.5 up to 2: the factor passes through instead.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    // Where the desktop chose no DPI, Qt 5 takes the screen's physical DPI, a
    // measurement rather than a choice: a 110-DPI screen would be scaled by
    // 1.14 (the offscreen platform's made-up screen by 1.04). Qt 6 takes 96
    // then, and so does Qt 5 when told so; a DPI the user set stays.
    if (qEnvironmentVariableIsEmpty("QT_FONT_DPI") && !x11DesktopSetsDpi())
        qputenv("QT_FONT_DPI", "96");
#endif
}
