// SPDX-License-Identifier: GPL-3.0-or-later
// End to end through a real serial device: the board's stream, cut into
// writes at awkward offsets, with corrupted and dropped frames and stray
// bytes among the good ones, written to a pseudo-terminal that the window has
// open as its port. What the window shows must be exactly what was sent.
#include "frameencoder.h"
#include "tst_measurement_support.h"

#include <QRandomGenerator>

using namespace MeasurementTest;

class TestMeasurementPty : public QObject
{
    Q_OBJECT
private slots:
    void streamShowsExactlyWhatWasSent_data();
    void streamShowsExactlyWhatWasSent();
};

void TestMeasurementPty::streamShowsExactlyWhatWasSent_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QVector<int>>("cuts");
    // Write sizes, cycled: single bytes, a frame less or more one, cuts
    // right after the sync bytes and right before the checksum.
    QTest::newRow("small pieces") << 1u << QVector<int> {1, 2, 7, 18, 1, 19, 20, 3, 37, 5};
    QTest::newRow("frame-ish pieces") << 2u << QVector<int> {17, 21, 19, 2, 38, 18};
    QTest::newRow("large pieces") << 3u << QVector<int> {1000, 333, 4096, 1};
}

void TestMeasurementPty::streamShowsExactlyWhatWasSent()
{
    QFETCH(quint32, seed);
    QFETCH(QVector<int>, cuts);
    QRandomGenerator random(seed);
    auto value = [&random](int lo, int hi) { return qint16(random.bounded(lo, hi + 1)); };
    auto accel = [&](int lo, int hi) {
        // The decimal ties at +-10000 and +-30000 mg have their own tests.
        qint16 v;
        do
            v = value(lo, hi);
        while (v % 10000 == 0 && v != 0);
        return v;
    };

    QByteArray stream;
    QList<UART_RCV> shown;
    int corrupted = 0;
    int lastMissesBefore = 0; // index misses as they stand before the last good record
    int misses = 0;
    bool first = true;
    quint8 lastIndex = 0;
    quint8 index = quint8(random.bounded(256));
    for (int i = 0; i < 600; ++i, ++index) {
        const UART_RCV r = makeRecord(index, value(-32768, 32767), value(-18000, 18000), value(-9000, 9000),
                                      accel(-32768, 32767), accel(-2000, 2000), accel(-1200, -800));
        const FrameEncoder::Tail tail {quint8(random.bounded(256)), 0xAA, quint8(i)};
        const int fate = random.bounded(100);
        if (fate < 5) {
            continue; // lost on the line: its index never arrives
        } else if (fate < 10) {
            stream += FrameEncoder::corruptFrame(r, tail);
            ++corrupted;
            continue;
        } else if (fate < 13) {
            stream += QByteArray(random.bounded(1, 6), char(0x55)); // noise outside frames
        }
        stream += FrameEncoder::frame(r, tail);
        shown << r;
        lastMissesBefore = misses;
        if (!first) {
            const int d = (int(r.index) - int(lastIndex) + 256) % 256;
            if (d != 1 && d != 255)
                ++misses;
        }
        first = false;
        lastIndex = r.index;
    }
    // The stream ends on a good frame, and at least one of each fault happened.
    QVERIFY(corrupted > 0 && misses > 0);

    Monitor monitor;
    QVERIFY(monitor.isReady());
    int written = 0;
    for (int piece = 0; written < stream.size(); ++piece) {
        const int size = qMin(cuts[piece % cuts.size()], stream.size() - written);
        QVERIFY(monitor.send(stream.mid(written, size)));
        written += size;
    }
    QTRY_COMPARE(monitor.points(0), shown.size());

    QStringList expected;
    for (const UART_RCV& r : shown)
        expected << expectedLine(r);
    const QStringList lines = monitor.recordLines();
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines[i], expected[i]);

    QCOMPARE(monitor.csum->text(), QString::number(corrupted));
    QCOMPARE(monitor.indexMiss->text(), QString::number(lastMissesBefore));

    for (int chart = 0; chart < 6; ++chart) {
        const QVector<double> values = monitor.values(chart);
        QCOMPARE(values.size(), shown.size());
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(values[i], expectedPoints(shown[i])[chart]);
        QCOMPARE(values.last(), expectedPoints(shown.last())[chart]);
    }
}

QTEST_MAIN(TestMeasurementPty)
#include "tst_measurement_pty.moc"
