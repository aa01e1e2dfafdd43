// SPDX-License-Identifier: GPL-3.0-or-later
// The measurement path of the window, record by record: what a frame arriving
// on the port puts into the console, the two counter fields and the charts.
#include "frameencoder.h"
#include "linkwatch.h"
#include "tst_measurement_support.h"

#include <QLabel>
#include <QScrollBar>
#include <QTextBlock>

#include <clocale>

using namespace MeasurementTest;

class TestMeasurement : public QObject
{
    Q_OBJECT
private slots:
    // The console line
    void exampleLines_data();
    void exampleLines();
    void extremesOverflowTheirFields();
    void localeChangesNothing();

    // The counter fields
    void fieldsEmptyUntilFirstRefresh();
    void indexMissShowsOneRecordLate();
    void checksumMissesCounted();

    // Reads
    void burstInOneReadComesBeforeTheRefresh();
    void readsAndPortMessagesKeepTheirOrder();
    void consoleKeepsNewestLinesAtItsCap();

    // The link's health
    void linkProblemsSaidOnce_data();
    void linkProblemsSaidOnce();
    void linkLabelAndSilenceOnThePort();
};

void TestMeasurement::exampleLines_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("angle1");
    QTest::addColumn<int>("angle2");
    QTest::addColumn<int>("angle3");
    QTest::addColumn<int>("accel1");
    QTest::addColumn<int>("accel2");
    QTest::addColumn<int>("accel3");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QVector<double>>("points");

    QTest::newRow("example frame") << 1 << 100 << -200 << 0 << 0 << 0 << 0
                                   << spaced("Ind:___1;_Yaw:___-1.00;_Pitch:____0.00;_Roll:___-2.00;"
                                             "_Xacc:______0_mg_(__0.000_m/s2);_Yacc:______0_mg_(__0.000_m/s2);"
                                             "_Zacc:______0_mg_(__0.000_m/s2)")
                                   << QVector<double> {-1.0, 0.0, -2.0, 0, 0, 0};
    QTest::newRow("index above 127") << 200 << -1234 << 4500 << -9000 << 1000 << -15 << 980
                                     << spaced("Ind:_200;_Yaw:___12.34;_Pitch:__-90.00;_Roll:___45.00;"
                                               "_Xacc:___1000_mg_(__9.807_m/s2);_Yacc:____-15_mg_(_-0.147_m/s2);"
                                               "_Zacc:___-980_mg_(_-9.611_m/s2)")
                                     << QVector<double> {12.34, -90.0, 45.0, 1000, -15, -980};
    QTest::newRow("index 255, 10000 mg") << 255 << 1 << -1 << 5 << 10000 << -10000 << -10000
                                         << spaced("Ind:_255;_Yaw:___-0.01;_Pitch:____0.05;_Roll:___-0.01;"
                                                   "_Xacc:__10000_mg_(_98.067_m/s2);_Yacc:_-10000_mg_(-98.067_m/s2);"
                                                   "_Zacc:__10000_mg_(_98.067_m/s2)")
                                         << QVector<double> {-0.01, 0.05, -0.01, 10000, -10000, 10000};
}

void TestMeasurement::exampleLines()
{
    QFETCH(int, index);
    QFETCH(int, angle1);
    QFETCH(int, angle2);
    QFETCH(int, angle3);
    QFETCH(int, accel1);
    QFETCH(int, accel2);
    QFETCH(int, accel3);
    QFETCH(QString, line);
    QFETCH(QVector<double>, points);

    Monitor monitor;
    QVERIFY(monitor.isReady());
    const UART_RCV sent = makeRecord(quint8(index), qint16(angle1), qint16(angle2), qint16(angle3),
                                     qint16(accel1), qint16(accel2), qint16(accel3));
    QVERIFY(monitor.send(FrameEncoder::frame(sent)));

    QCOMPARE(monitor.recordLines(), QStringList {line});
    // The line has the 15-character time prefix: "[hh:mm:ss.zzz] ".
    QCOMPARE(monitor.lines().last().size(), 15 + line.size());
    for (int chart = 0; chart < 6; ++chart) {
        QCOMPARE(monitor.values(chart), QVector<double> {points[chart]});
    }
}

void TestMeasurement::extremesOverflowTheirFields()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    // accel1 -32768 gives the eight characters "-321.344" in a field of
    // seven; angle1 and accel3 of -32768 stay -32768 when negated.
    QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(128, -32768, 32767, -32768, -32768, 32767, -32768)))
            && monitor.send(FrameEncoder::frame(makeRecord(129, 32767, 0, 0, 0, 0, 32767))));

    QCOMPARE(monitor.recordLines(),
             (QStringList {spaced("Ind:_128;_Yaw:_-327.68;_Pitch:_-327.68;_Roll:__327.67;"
                                  "_Xacc:_-32768_mg_(-321.344_m/s2);_Yacc:__32767_mg_(321.335_m/s2);"
                                  "_Zacc:_-32768_mg_(-321.344_m/s2)"),
                           spaced("Ind:_129;_Yaw:_-327.67;_Pitch:____0.00;_Roll:____0.00;"
                                  "_Xacc:______0_mg_(__0.000_m/s2);_Yacc:______0_mg_(__0.000_m/s2);"
                                  "_Zacc:_-32767_mg_(-321.335_m/s2)")}));
    QCOMPARE(monitor.values(0), (QVector<double> {-327.68, -327.67}));
    QCOMPARE(monitor.values(3), (QVector<double> {-32768, 0}));
    QCOMPARE(monitor.values(5), (QVector<double> {-32768, -32767}));
}

void TestMeasurement::localeChangesNothing()
{
    // A locale with "," as decimal point and "." for grouping, both for the
    // toolkit's default locale and the C library's.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QByteArray cPrevious = std::setlocale(LC_ALL, nullptr);
    const bool haveCLocale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;

    QStringList lines;
    {
        Monitor monitor;
        QVERIFY(monitor.isReady());
        QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(200, -1234, 4500, -9000, 1000, -15, 980))));
        QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(201, -32768, 0, 0, -32768, 12345, 0))));
        lines = monitor.recordLines();
    }
    QLocale::setDefault(previous);
    std::setlocale(LC_ALL, cPrevious.constData());
    if (!haveCLocale)
        qInfo("de_DE.UTF-8 is not installed: only the toolkit's default locale was German");

    QCOMPARE(lines,
             (QStringList {spaced("Ind:_200;_Yaw:___12.34;_Pitch:__-90.00;_Roll:___45.00;"
                                  "_Xacc:___1000_mg_(__9.807_m/s2);_Yacc:____-15_mg_(_-0.147_m/s2);"
                                  "_Zacc:___-980_mg_(_-9.611_m/s2)"),
                           spaced("Ind:_201;_Yaw:_-327.68;_Pitch:____0.00;_Roll:____0.00;"
                                  "_Xacc:_-32768_mg_(-321.344_m/s2);_Yacc:__12345_mg_(121.063_m/s2);"
                                  "_Zacc:______0_mg_(__0.000_m/s2)")}));
}

void TestMeasurement::fieldsEmptyUntilFirstRefresh()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    QCOMPARE(monitor.csum->text(), QString());
    QCOMPARE(monitor.indexMiss->text(), QString());

    // Part of a frame: no record, but the read refreshes the checksum field.
    const QByteArray frame = FrameEncoder::frame(makeRecord(7, 1, 2, 3, 4, 5, 6));
    const int linesBefore = monitor.lines().size();
    QVERIFY(monitor.send(frame.left(11)));
    QCOMPARE(monitor.csum->text(), QString("0"));
    QCOMPARE(monitor.indexMiss->text(), QString());
    QCOMPARE(monitor.lines().size(), linesBefore);
    QCOMPARE(monitor.points(0), 0);

    // The rest completes it: one record, and now the index field shows too.
    QVERIFY(monitor.send(frame.mid(11)));
    QCOMPARE(monitor.recordLines().size(), 1);
    QCOMPARE(monitor.indexMiss->text(), QString("0"));
    for (int chart = 0; chart < 6; ++chart)
        QCOMPARE(monitor.points(chart), 1);
}

void TestMeasurement::indexMissShowsOneRecordLate()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    // The field shows the count as it stood before each record: 7 after 5 is
    // counted only once the record 7 has been shown.
    const int indices[] = {5, 7, 8, 10, 10, 11};
    const char* shown[] = {"0", "0", "1", "1", "2", "3"};
    for (int i = 0; i < 6; ++i) {
        QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(quint8(indices[i]), 0, 0, 0, 0, 0, 0))));
        QCOMPARE(monitor.indexMiss->text(), QString(shown[i]));
    }
    QCOMPARE(monitor.csum->text(), QString("0"));
}

void TestMeasurement::checksumMissesCounted()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    QVERIFY(monitor.send(FrameEncoder::corruptFrame(makeRecord(1, 0, 0, 0, 0, 0, 0))));
    QCOMPARE(monitor.csum->text(), QString("1"));
    QCOMPARE(monitor.indexMiss->text(), QString()); // no record yet
    QCOMPARE(monitor.recordLines().size(), 0);

    // Two more lost in one read between two good records: one index miss.
    QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(2, 0, 0, 0, 0, 0, 0))));
    QVERIFY(monitor.send(FrameEncoder::corruptFrame(makeRecord(3, 0, 0, 0, 0, 0, 0))
                         + FrameEncoder::corruptFrame(makeRecord(4, 0, 0, 0, 0, 0, 0))
                         + FrameEncoder::frame(makeRecord(5, 0, 0, 0, 0, 0, 0))
                         + FrameEncoder::frame(makeRecord(6, 0, 0, 0, 0, 0, 0))));
    QCOMPARE(monitor.csum->text(), QString("3"));
    QCOMPARE(monitor.indexMiss->text(), QString("1"));
    QCOMPARE(monitor.recordLines().size(), 3);
}

void TestMeasurement::burstInOneReadComesBeforeTheRefresh()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    const int n = 40;
    QByteArray burst;
    QStringList expected;
    for (int i = 0; i < n; ++i) {
        const UART_RCV r = makeRecord(quint8(250 + i), qint16(i * 101), qint16(-i * 7), qint16(i), qint16(i * 50),
                                      qint16(-i), qint16(1000 - i));
        burst += FrameEncoder::frame(r);
        expected << expectedLine(r);
    }
    // A corrupt frame first, so the checksum field changes on the refresh.
    burst.prepend(FrameEncoder::corruptFrame(makeRecord(0, 0, 0, 0, 0, 0, 0)));

    // What is there when the checksum field is refreshed (once per read).
    int refreshes = 0;
    QStringList linesAtRefresh;
    QVector<int> pointsAtRefresh;
    QString indexAtRefresh;
    connect(monitor.csum, &QLineEdit::textChanged, this, [&] {
        ++refreshes;
        linesAtRefresh = monitor.recordLines();
        pointsAtRefresh.clear();
        for (int chart = 0; chart < 6; ++chart)
            pointsAtRefresh << monitor.points(chart);
        indexAtRefresh = monitor.indexMiss->text();
    });

    QVERIFY(monitor.send(burst));
    QCOMPARE(monitor.reads, 1);
    QCOMPARE(refreshes, 1);
    QCOMPARE(monitor.csum->text(), QString("1"));
    QCOMPARE(linesAtRefresh, expected);
    QCOMPARE(pointsAtRefresh, QVector<int>(6, n));
    QCOMPARE(indexAtRefresh, QString("0")); // as it stood before the last record

    for (int chart = 0; chart < 6; ++chart) {
        const QVector<double> values = monitor.values(chart);
        QCOMPARE(values.size(), n);
        const UART_RCV last = makeRecord(quint8(250 + n - 1), qint16((n - 1) * 101), qint16(-(n - 1) * 7),
                                         qint16(n - 1), qint16((n - 1) * 50), qint16(-(n - 1)), qint16(1000 - n + 1));
        QCOMPARE(values.last(), expectedPoints(last)[chart]);
    }
}

void TestMeasurement::readsAndPortMessagesKeepTheirOrder()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(1, 0, 0, 0, 0, 0, 0))
                         + FrameEncoder::frame(makeRecord(2, 0, 0, 0, 0, 0, 0))));
    monitor.window->findChild<QPushButton*>("connect_button")->click(); // closes
    monitor.window->findChild<QPushButton*>("connect_button")->click(); // opens again
    QVERIFY(monitor.send(FrameEncoder::frame(makeRecord(3, 0, 0, 0, 0, 0, 0))));

    QStringList shape;
    for (const QString& line : monitor.lines()) {
        const QString text = line.mid(15);
        shape << (text.startsWith("Ind:")       ? text.left(8)
                      : text.endsWith(" is open") ? QString("is open")
                      : text.endsWith(" closed")  ? QString("closed")
                                                  : text);
    }
    QCOMPARE(shape, (QStringList {"is open", "Ind:   1", "Ind:   2", "closed", "is open", "Ind:   3"}));
}

void TestMeasurement::consoleKeepsNewestLinesAtItsCap()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    const int cap = Widget::ConsoleMaxLines;
    const int total = cap + 1500;
    QByteArray stream;
    for (int i = 0; i < total; ++i)
        stream += FrameEncoder::frame(makeRecord(quint8(i), qint16(i % 30000), 0, 0, 0, 0, 0));
    // In pieces of over a hundred frames (what the terminal holds while
    // this thread writes), so reads of many lines cross the cap.
    const int piece = 19 * 150 + 5;
    for (int from = 0; from < stream.size(); from += piece)
        QVERIFY(monitor.send(stream.mid(from, piece)));
    QTRY_COMPARE(monitor.points(0), total);

    // At least the kept count of newest lines, never more than the cap.
    const QStringList lines = monitor.recordLines();
    const int shown = lines.size();
    QVERIFY2(shown >= Widget::ConsoleKeptLines && shown <= cap, qPrintable(QString::number(shown)));
    QCOMPARE(monitor.console->blockCount(), shown);
    // Still following the newest line at the bottom of the view.
    QTRY_VERIFY(monitor.console->viewport()->updatesEnabled());
    QCOMPARE(monitor.console->verticalScrollBar()->value(), monitor.console->verticalScrollBar()->maximum());
    const QPoint bottomLeft(2, monitor.console->viewport()->height() - 2);
    QCOMPARE(monitor.console->cursorForPosition(bottomLeft).block().blockNumber(), shown - 1);
    QCOMPARE(lines.first(), expectedLine(makeRecord(quint8(total - shown), qint16((total - shown) % 30000), 0, 0, 0, 0, 0)));
    QCOMPARE(lines.last(), expectedLine(makeRecord(quint8(total - 1), qint16((total - 1) % 30000), 0, 0, 0, 0, 0)));
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY2(lines[i].left(8) == expectedLine(makeRecord(quint8(total - shown + i), 0, 0, 0, 0, 0, 0)).left(8),
                 qPrintable(lines[i]));
}

void TestMeasurement::linkProblemsSaidOnce_data()
{
    // One character a second: g a good board, h one at half the rate, . nothing, b bytes of another
    // baud rate (a chance sync pair failing now and then), n 5.9 % and m 4.95 % checksum misses,
    // r the port closed and opened again.
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<QString>("label");
    const QString good = "606 frames/s · 11.5 kB/s · 100 % of 115200 baud";
    const QString noData = "No data from ttyUSB0 for 2 s: is the board powered and sending?";
    const QString noFrame = "Bytes from ttyUSB0 for 2 s but no valid frame: is the board sending at 115200 baud?";
    QTest::newRow("silence") << "ggg....gg" << QStringList {noData, "Data from ttyUSB0 again after 5.0 s"} << good;
    QTest::newRow("board off") << "...g" << QStringList {noData, "First data from ttyUSB0 after 3.5 s"} << good;
    QTest::newRow("a quiet second") << "gg.gg" << QStringList {} << good;
    QTest::newRow("another baud rate") << "bbbbg" << QStringList {noFrame, "First valid frame from ttyUSB0 after 4.5 s"}
                                       << good;
    QTest::newRow("frames stop") << "ggbbbg" << QStringList {noFrame, "Valid frames from ttyUSB0 again after 4.0 s"}
                                 << good;
    QTest::newRow("noisy line") << "nnnnnggg"
                                << QStringList {"5.9 % of the frames from ttyUSB0 failed their checksum in the last "
                                                "10 s: a loose or long cable or a noisy line is the likely cause",
                                                "Checksum failures from ttyUSB0 down to 3.7 % in the last 10 s"}
                                << good;
    QTest::newRow("4.95 %") << "mmmmmmmmmmmm" << QStringList {} << "576 frames/s · 11.5 kB/s · 100 % of 115200 baud";
    QTest::newRow("half rate") << "hh" << QStringList {} << "303 frames/s · 5.8 kB/s · 50 % of 115200 baud";
    QTest::newRow("new port, new start") << "g...r..." << QStringList {noData, noData}
                                         << "0 frames/s · 0.0 kB/s · 0 % of 115200 baud";
}

void TestMeasurement::linkProblemsSaidOnce()
{
    QFETCH(QString, seconds);
    QFETCH(QStringList, said);
    QFETCH(QString, label);
    qint64 now = 0;
    LinkWatch watch(nullptr, [&now] { return now; });
    QStringList lines;
    QString shown;
    connect(&watch, &LinkWatch::said, this, [&](const QString& line) { lines << line; });
    connect(&watch, &LinkWatch::statusChanged, this, [&](const QString& text) { shown = text; });
    const QString kinds = "ghbnm";
    const int perSecond[][3] = {{11514, 606, 0}, {5757, 303, 0}, {11520, 0, 3}, {11514, 570, 36}, {11514, 576, 30}};
    uint misses = 0;
    watch.portOpened("ttyUSB0", 115200);
    for (const QChar c : seconds) {
        if (c == 'r')
            watch.portOpened("ttyUSB0", 115200);
        now += 500;
        if (const int k = kinds.indexOf(c); k >= 0) {
            watch.bytesRead(perSecond[k][0]);
            for (int f = 0; f < perSecond[k][1]; ++f)
                watch.frameDecoded();
            watch.checksumMisses(misses += perSecond[k][2]);
        }
        now += 500;
        watch.tick();
    }
    QCOMPARE(shown, label);
    watch.portClosed();
    now += 5000;
    watch.tick();
    QCOMPARE(lines, said);
    QCOMPARE(shown, QString("Not connected"));
}

void TestMeasurement::linkLabelAndSilenceOnThePort()
{
    Monitor monitor;
    QVERIFY(monitor.isReady());
    auto* link = monitor.window->findChild<QLabel*>("link_l");
    QVERIFY(link->text().endsWith(" counting the first second"));
    // 1.5 s at about the link's rate, one frame in ten failing its checksum, then nothing.
    QByteArray frames;
    for (int i = 0; i < 60; ++i) {
        const UART_RCV r = makeRecord(quint8(i), 0, 0, 0, 0, 0, 0);
        frames += i % 10 ? FrameEncoder::frame(r) : FrameEncoder::corruptFrame(r);
    }
    QElapsedTimer sending;
    sending.start();
    while (sending.elapsed() < 1500) {
        QVERIFY(monitor.send(frames));
        QTest::qWait(100);
    }
    QVERIFY2(QRegularExpression("^[1-9]\\d* frames/s · [1-9][0-9.]* kB/s · [1-9]\\d* % of 115200 baud$")
                 .match(link->text()).hasMatch(),
             qPrintable(link->text()));
    auto silences = [&] { return monitor.lines().filter(" No data from ").size(); };
    QTRY_COMPARE_WITH_TIMEOUT(silences(), 1, 5000);
    QTest::qWait(2100);
    QCOMPARE(silences(), 1);
    const QRegularExpression checksumLine("\\] [0-9.]+ % of the frames .* failed their checksum");
    QCOMPARE(monitor.lines().filter(checksumLine).size(), 1);
    QVERIFY(link->text().startsWith("0 frames/s · "));
    monitor.window->findChild<QPushButton*>("connect_button")->click();
    QCOMPARE(link->text(), QString("Not connected"));
}

QTEST_MAIN(TestMeasurement)
#include "tst_measurement.moc"
