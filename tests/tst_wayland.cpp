// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a Wayland client, run by CTest on a private headless Weston
// (scripts/on-wayland-desktop.sh): Connect on the simulated board, records
// in the console, charts redrawn, and not a warning from the platform plugin.
// Exits 77 (skipped) without the toolkit's Wayland plugin.

#include "simulatedboard.h"
#include "widget.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <qcustomplot.h>

#include <cstdio>

namespace {

QStringList& platformWarnings()
{
    static QStringList warnings;
    return warnings;
}

QtMessageHandler& passedOn()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

void noteWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && QByteArray(context.category).startsWith("qt.qpa"))
        platformWarnings().append(QString("%1: %2").arg(context.category, message));
    if (passedOn())
        passedOn()(type, context, message);
}

} // namespace

class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void recordsShowOnWayland();
};

void TestWayland::recordsShowOnWayland()
{
    // The test library has a message handler of its own by now.
    passedOn() = qInstallMessageHandler(noteWarning);
    QCOMPARE(QGuiApplication::platformName(), QString("wayland"));
    SimulatedBoard board;
    QString error;
    QVERIFY2(board.start(SimulatedBoard::locateSimulator(), {}, error), qPrintable(error));
    Widget window(nullptr, board.portSource([] { return QList<PortEntry>(); }));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int replots = 0;
    connect(window.findChild<QCustomPlot*>(), &QCustomPlot::afterReplot, [&replots] { ++replots; });

    QTest::mouseClick(window.findChild<QPushButton*>("connect_button"), Qt::LeftButton);
    auto* console = window.findChild<QPlainTextEdit*>("console");
    // Seen by the compositor all along, the charts keep redrawing.
    QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().count("Ind: ") >= 50 && replots >= 10, 10000);
    QVERIFY2(platformWarnings().isEmpty(), qPrintable(platformWarnings().join('\n')));
}

int main(int argc, char* argv[])
{
    bool plugin = false;
    for (const QString& folder : QCoreApplication::libraryPaths())
        plugin = plugin || !QDir(folder + "/platforms").entryList({"libqwayland-*"}).isEmpty();
    if (!plugin) {
        std::printf("SKIP: the toolkit's Wayland platform plugin is missing (qtwayland5 or qt6-wayland)\n");
        return 77;
    }
    passedOn() = qInstallMessageHandler(noteWarning);
    QApplication app(argc, argv);
    TestWayland test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_wayland.moc"
