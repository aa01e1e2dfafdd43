// SPDX-License-Identifier: GPL-3.0-or-later
// 200 times: open, stream good frames mixed with garbage, corrupted and
// dropped frames, pull the cable (sometimes in the middle of a frame), and
// reconnect on a new pseudo-terminal. The parser is never reset, so a frame
// cut by a pull is completed by the first bytes of the next port; what that
// makes of the stream is worked out by Reliability::StreamModel from all the
// bytes the window received, and every console line is checked against it.

#include "devicematch.h"
#include "tst_reliability_support.h"

#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using namespace Reliability;

Q_DECLARE_METATYPE(PortEntry)
Q_DECLARE_METATYPE(DeviceMatch::Verdict)

namespace {

enum class Kind { Good, Corrupt, Cut };

struct SentFrame
{
    qint64 offset;
    Kind kind;
    UART_RCV record;
};

struct Cycle
{
    QString openLine;
    QString closedLine;
    qint64 begin = 0; // offset of the cycle's first byte in the whole stream
    qint64 end = 0;
    bool cut = false;
};

class Board
{
public:
    explicit Board(quint32 seed)
        : random(seed)
    {
    }

    UART_RCV nextRecord()
    {
        auto value = [this] { return qint16(random.bounded(-32768, 32768)); };
        return {index++, value(), value(), value(), value(), value(), value()};
    }

    FrameEncoder::Tail tail()
    {
        return {quint8(random.bounded(256)), quint8(random.bounded(256)),
                quint8(random.bounded(256))};
    }

    // Noise between frames that never holds two sync bytes in a row.
    QByteArray garbage()
    {
        QByteArray out;
        const int length = random.bounded(1, 25);
        for (int i = 0; i < length; ++i) {
            if (random.bounded(8) == 0 && i + 1 < length) {
                out.append(char(0xAA));
                out.append(char(random.bounded(0xAA)));
                ++i;
            } else {
                quint8 b = quint8(random.bounded(255));
                out.append(char(b >= 0xAA ? b + 1 : b));
            }
        }
        return out;
    }

    quint8 index = 0;
    QRandomGenerator random;
};

} // namespace

class TestReliabilityUnplug : public QObject
{
    Q_OBJECT
private slots:
    void unplugCyclesLoseNothing();
    void deviceKnownAgain_data();
    void deviceKnownAgain();
};

void TestReliabilityUnplug::unplugCyclesLoseNothing()
{
    constexpr int Cycles = 200;
    constexpr qint64 CutReach = 3 * Parser::FrameSize;

    auto pty = std::make_unique<PseudoTerminal>();
    QVERIFY(pty->isOpen());
    QList<PortEntry> list {{pty->slavePath(), "board"}};
    Widget window(nullptr, [&list] { return list; });
    WindowHandles ui(window);
    QVERIFY(ui.complete());

    Board board(777);
    QByteArray received; // every byte the window has read, across all ports
    QVector<SentFrame> frames;
    QVector<Cycle> cycles;
    StreamModel model;
    int corruptSent = 0, droppedSent = 0, garbageBytes = 0, cuts = 0;
    qint64 rssAtHalf = 0;

    for (int c = 0; c < Cycles; ++c) {
        if (c == Cycles / 2)
            rssAtHalf = residentKiB();
        QCOMPARE(ui.ports->currentText(), pty->slavePath() + ": board");
        QTest::mouseClick(ui.connectButton, Qt::LeftButton);
        QVERIFY2(ui.port->isOpen(), qPrintable(QString("cycle %1").arg(c)));
        Cycle cycle;
        cycle.openLine = pty->slavePath() + " is open";
        cycle.closedLine = QString("Port %1 closed").arg(ui.port->portName());
        cycle.begin = received.size();

        QByteArray bytes;
        const int count = board.random.bounded(15, 31);
        for (int i = 0; i < count; ++i) {
            const int roll = board.random.bounded(10);
            if (roll == 0) {
                ++droppedSent;
                board.nextRecord(); // the board skipped a frame
                continue;
            }
            if (roll == 1) {
                const QByteArray noise = board.garbage();
                garbageBytes += noise.size();
                bytes += noise;
            }
            const UART_RCV r = board.nextRecord();
            const bool corrupt = roll == 2;
            corruptSent += corrupt;
            frames.append({cycle.begin + bytes.size(), corrupt ? Kind::Corrupt : Kind::Good, r});
            bytes += corrupt ? FrameEncoder::corruptFrame(r, board.tail())
                             : FrameEncoder::frame(r, board.tail());
        }
        if (board.random.bounded(3) == 0) {
            // The cable comes out after k bytes of a frame.
            const UART_RCV r = board.nextRecord();
            const int k = board.random.bounded(1, Parser::FrameSize);
            frames.append({cycle.begin + bytes.size(), Kind::Cut, r});
            bytes += FrameEncoder::frame(r, board.tail()).left(k);
            cycle.cut = true;
            ++cuts;
        }

        QVERIFY(feed(*pty, bytes));
        received += bytes;
        cycle.end = received.size();
        model.decode(received);
        const int controlLines = 4 * c + 1;
        QVERIFY2(waitUntil([&] { return ui.lineCount() == controlLines + model.records; }),
                 qPrintable(QString("cycle %1: %2 lines, expected %3")
                                .arg(c).arg(ui.lineCount()).arg(controlLines + model.records)));
        QVERIFY(drain(ui.port));

        auto next = std::make_unique<PseudoTerminal>();
        QVERIFY(next->isOpen());
        list = {{next->slavePath(), "board"}};
        pty->close();
        QVERIFY2(waitUntil([&] { return ui.lineCount() == controlLines + model.records + 3; }),
                 qPrintable(QString("cycle %1: no closing lines").arg(c)));
        QVERIFY(!ui.port->isOpen());
        QCOMPARE(ui.connectButton->text(), QString("Open"));
        cycles.append(cycle);
        pty = std::move(next);
    }
    const qint64 rssAtEnd = residentKiB();
    qInfo("RSS over the last %d cycles: %lld KiB -> %lld KiB (%+lld KiB)", Cycles / 2, rssAtHalf,
          rssAtEnd, rssAtEnd - rssAtHalf);
    qInfo("sent %d frames (%d corrupted, %d cut by a pull), %d dropped, %d garbage bytes",
          int(frames.size()), corruptSent, cuts, droppedSent, garbageBytes);

    // Nothing arrives late: a few more turns of the event loop add no line.
    QTest::qWait(50);

    // The whole console, line by line: each cycle's open line, the records
    // completed by its bytes, then exactly the three lines of a lost device.
    const QStringList console = ui.messages();
    QVERIFY(console.size() < Widget::ConsoleMaxLines);
    int line = 0, event = 0;
    for (int c = 0; c < cycles.size(); ++c) {
        const Cycle& cycle = cycles.at(c);
        QCOMPARE(console.value(line++), cycle.openLine);
        for (; event < model.events.size()
               && model.events.at(event).offset + Parser::FrameSize <= cycle.end;
             ++event) {
            const StreamModel::Event& e = model.events.at(event);
            if (!e.valid)
                continue;
            const QString mismatch = lineMismatch(console.value(line++), e.record);
            QVERIFY2(mismatch.isEmpty(), qPrintable(QString("cycle %1: %2").arg(c).arg(mismatch)));
        }
        QVERIFY2(console.value(line++).startsWith("Serial port error: "),
                 qPrintable(console.value(line - 1)));
        QCOMPARE(console.value(line++), UnavailableLine);
        QCOMPARE(console.value(line++), cycle.closedLine);
    }
    QCOMPARE(line, console.size());

    // Every good frame became a record and every corrupted one a checksum
    // miss, except next to a pull in the middle of a frame: the cut frame
    // takes the next port's first bytes, which may spoil a frame or two.
    auto nearCut = [&](qint64 offset) {
        for (const Cycle& cycle : cycles) {
            if (cycle.cut && offset >= cycle.end - Parser::FrameSize
                && offset < cycle.end + CutReach)
                return true;
        }
        return false;
    };
    QHash<qint64, const StreamModel::Event*> byOffset;
    for (const StreamModel::Event& e : model.events)
        byOffset.insert(e.offset, &e);
    int spoiled = 0;
    for (const SentFrame& f : frames) {
        const StreamModel::Event* e = byOffset.value(f.offset);
        if (f.kind == Kind::Good && e && e->valid
            && e->record.index == f.record.index && e->record.accel3 == f.record.accel3)
            continue;
        if (f.kind == Kind::Corrupt && e && !e->valid)
            continue;
        if (f.kind == Kind::Cut)
            continue;
        QVERIFY2(nearCut(f.offset),
                 qPrintable(QString("frame at %1 (index %2) lost away from any pull")
                                .arg(f.offset).arg(f.record.index)));
        ++spoiled;
    }
    QSet<qint64> sentOffsets;
    for (const SentFrame& f : frames)
        sentOffsets.insert(f.offset);
    for (const StreamModel::Event& e : model.events)
        QVERIFY2(sentOffsets.contains(e.offset) || nearCut(e.offset),
                 qPrintable(QString("frame found at %1 away from any pull").arg(e.offset)));
    qInfo("%d frames spoiled by the %d frames cut by a pull", spoiled, cuts);
    QVERIFY(spoiled <= 2 * cuts);

    // The counters: what was injected, as the framing counts it.
    QCOMPARE(ui.csumMisses->text(), QString::number(model.checksumMisses));
    QCOMPARE(ui.indexMisses->text(), QString::number(model.indexMissesShown));
    QVERIFY(model.checksumMisses >= quint32(corruptSent) - quint32(spoiled));
    QVERIFY(model.checksumMisses <= quint32(corruptSent + cuts + spoiled));
}

void TestReliabilityUnplug::deviceKnownAgain_data()
{
    using V = DeviceMatch::Verdict;
    QTest::addColumn<PortEntry>("lost");
    QTest::addColumn<PortEntry>("listed");
    QTest::addColumn<V>("verdict");
    const PortEntry ftdi {"ttyUSB0", "FT232R", 0x0403, 0x6001, "A50285BI", "1-1.2:1.0"};
    const PortEntry ch340 {"ttyUSB0", "CH340", 0x1a86, 0x7523, "", "1-1.2:1.0"};
    const PortEntry uart {"ttyS0", ""};
    QTest::newRow("same serial, new name and USB port")
        << ftdi << PortEntry {"ttyUSB1", "", 0x0403, 0x6001, "A50285BI", "1-1.3:1.0"} << V::Same;
    QTest::newRow("another serial, same name and USB port")
        << ftdi << PortEntry {"ttyUSB0", "", 0x0403, 0x6001, "A9K4Q2ZX", "1-1.2:1.0"} << V::OtherBoard;
    QTest::newRow("same serial, another product")
        << ftdi << PortEntry {"ttyUSB0", "", 0x0403, 0x6015, "A50285BI", "1-1.2:1.0"} << V::Unrelated;
    QTest::newRow("no serial, same USB port, new name")
        << ch340 << PortEntry {"ttyUSB1", "", 0x1a86, 0x7523, "", "1-1.2:1.0"} << V::Same;
    QTest::newRow("no serial, another USB port, same name")
        << ch340 << PortEntry {"ttyUSB0", "", 0x1a86, 0x7523, "", "1-1.3:1.0"} << V::OtherBoard;
    QTest::newRow("no USB identity, same name") << uart << PortEntry {"ttyS0", "other text"} << V::Same;
    QTest::newRow("no USB identity, another name") << uart << PortEntry {"ttyS1", ""} << V::Unrelated;
}

void TestReliabilityUnplug::deviceKnownAgain()
{
    QFETCH(PortEntry, lost);
    QFETCH(PortEntry, listed);
    QFETCH(DeviceMatch::Verdict, verdict);
    QCOMPARE(DeviceMatch::compare(lost, listed), verdict);
}

QTEST_MAIN(TestReliabilityUnplug)
#include "tst_reliability_unplug.moc"
