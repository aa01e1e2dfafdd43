// SPDX-License-Identifier: GPL-3.0-or-later
// The window on Wayland (CTest runs it on a headless Weston of its own):
// Connect on the simulated board shows records and keeps the charts redrawn.

#include "simulatedboard.h"
#include "widget.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <qcustomplot.h>

#include <cstdio>

class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void recordsShowOnWayland()
    {
        SimulatedBoard board;
        QString error;
        QVERIFY2(board.start(SimulatedBoard::locateSimulator(), {}, error), qPrintable(error));
        Widget window(nullptr, board.portSource([] { return QList<PortEntry>(); }));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int replots = 0;
        connect(window.findChild<QCustomPlot*>(), &QCustomPlot::afterReplot, [&replots] { ++replots; });
        QTest::mouseClick(window.findChild<QPushButton*>("connect_button"), Qt::LeftButton);
        // Seen by the compositor all along, the charts keep redrawing.
        auto* console = window.findChild<QPlainTextEdit*>("console");
        QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().count("Ind: ") >= 50 && replots >= 10, 10000);
    }
};

int main(int argc, char* argv[])
{
    bool plugin = false;
    for (const QString& folder : QCoreApplication::libraryPaths())
        plugin = plugin || !QDir(folder + "/platforms").entryList({"libqwayland-*"}).isEmpty();
    if (!plugin) {
        std::printf("SKIP: the toolkit's Wayland platform plugin is missing (qtwayland5 or qt6-wayland)\n");
        return 77;
    }
    QApplication app(argc, argv);
    TestWayland test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_wayland.moc"
