// SPDX-License-Identifier: GPL-3.0-or-later
// The window's whole life, from construction to close, with a board on a
// pseudo-terminal, a pulled cable and a reconnect. In the sanitizer build
// LeakSanitizer checks at exit that nothing of it was leaked.

#include "tst_reliability_support.h"

#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using namespace Reliability;

class TestReliabilityLife : public QObject
{
    Q_OBJECT
private slots:
    void fullLifeWithPullAndReconnect();
};

void TestReliabilityLife::fullLifeWithPullAndReconnect()
{
    constexpr int Frames = 10000;
    auto first = std::make_unique<PseudoTerminal>();
    QVERIFY2(first->isOpen(), qPrintable(first->errorString()));
    QList<PortEntry> list {{first->slavePath(), "board"}};

    auto window = std::make_unique<Widget>(nullptr, [&list] { return list; });
    window->show();
    WindowHandles ui(*window);
    QVERIFY(ui.complete());

    QTest::mouseClick(ui.connectButton, Qt::LeftButton);
    QVERIFY2(ui.port->isOpen(), qPrintable(ui.messages().join('\n')));

    QRandomGenerator random(20240501);
    QByteArray stream;
    QVector<UART_RCV> sent;
    for (int i = 0; i < Frames; ++i) {
        UART_RCV r {quint8(i), qint16(random.bounded(-18000, 18000)),
                    qint16(random.bounded(-9000, 9000)), qint16(random.bounded(-9000, 9000)),
                    qint16(random.bounded(-2000, 2000)), qint16(random.bounded(-2000, 2000)),
                    qint16(random.bounded(-2000, 2000))};
        sent << r;
        stream += FrameEncoder::frame(r);
    }
    QVERIFY(feed(*first, stream));
    // The open line, then one line per record, all still in the console.
    QVERIFY(waitUntil([&] { return ui.lineCount() == Frames + 1
                                   && lineMismatch(ui.messages(ui.lineCount() - 1).value(0), sent.last()).isEmpty(); }));
    const QStringList lines = ui.messages();
    QCOMPARE(lines.size(), Frames + 1);
    QCOMPARE(lines.first(), first->slavePath() + " is open");
    for (int k : {0, 1, Frames / 2, Frames - 1})
        QCOMPARE(lineMismatch(lines.at(k + 1), sent.at(k)), QString());
    QCOMPARE(ui.csumMisses->text(), QString("0"));
    QCOMPARE(ui.indexMisses->text(), QString("0"));

    // Cable pulled; the board comes back on another pseudo-terminal.
    auto second = std::make_unique<PseudoTerminal>();
    QVERIFY(second->isOpen());
    list = {{second->slavePath(), "board"}};
    first->close();
    QVERIFY(waitUntil([&] { return !ui.port->isOpen(); }));
    QVERIFY(waitUntil([&] { return ui.messages(ui.lineCount() - 1).value(0).startsWith("Port "); }));
    QCOMPARE(ui.ports->currentText(), second->slavePath() + ": board");

    QTest::mouseClick(ui.connectButton, Qt::LeftButton);
    QVERIFY2(ui.port->isOpen(), qPrintable(ui.messages().join('\n')));
    QCOMPARE(ui.messages(ui.lineCount() - 1).value(0), second->slavePath() + " is open");
    const UART_RCV after {0, 1, 2, 3, 4, 5, 6};
    QVERIFY(feed(*second, FrameEncoder::frame(after)));
    QVERIFY(waitUntil([&] { return ui.messages(ui.lineCount() - 1).value(0).startsWith("Ind:   0;"); }));
    QCOMPARE(lineMismatch(ui.messages(ui.lineCount() - 1).value(0), after), QString());

    window->close();
    window.reset();
    second.reset();
    first.reset();
}

QTEST_MAIN(TestReliabilityLife)
#include "tst_reliability_life.moc"
