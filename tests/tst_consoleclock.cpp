// SPDX-License-Identifier: GPL-3.0-or-later
// The console's time of day and the recordings' host time against the
// toolkit's own conversion to local time, in a zone with summer time, across
// both of its changes.
#include "consoleclock.h"
#include "hostclock.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QtTest>

#include <ctime>

class TestConsoleClock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesLocalTime_data();
    void matchesLocalTime();
    void randomInstantsMatchLocalTime();
    void nowIsTheCurrentTime();

private:
    static QString expected(qint64 ms)
    {
        return QDateTime::fromMSecsSinceEpoch(ms).time().toString("hh:mm:ss.zzz");
    }
    static QByteArray expectedHostTime(qint64 ms)
    {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
        return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
    }
};

void TestConsoleClock::initTestCase()
{
    // Central European time as a rule, so no zone files are needed: UTC+1,
    // UTC+2 from the last Sunday of March 02:00 to the last of October 03:00.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    QCOMPARE(QDateTime::fromSecsSinceEpoch(0).offsetFromUtc(), 3600);
}

void TestConsoleClock::matchesLocalTime_data()
{
    QTest::addColumn<qint64>("fromMs");
    QTest::addColumn<qint64>("toMs");
    QTest::addColumn<qint64>("stepMs");
    QTest::addColumn<int>("offsetChangeSeconds");
    const qint64 springForward = QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 fallBack = QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 midnight = QDateTime(QDate(2026, 12, 31), QTime(23, 0), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("clocks go forward") << springForward - 3000 << springForward + 3000 << qint64(7) << 3600;
    QTest::newRow("clocks go back") << fallBack - 3000 << fallBack + 3000 << qint64(7) << -3600;
    QTest::newRow("local midnight, new year") << midnight - 3000 << midnight + 3000 << qint64(7) << 0;
    QTest::newRow("before 1970") << qint64(-90061001) << qint64(-90055000) << qint64(13) << 0;
}

void TestConsoleClock::matchesLocalTime()
{
    QFETCH(qint64, fromMs);
    QFETCH(qint64, toMs);
    QFETCH(qint64, stepMs);
    QFETCH(int, offsetChangeSeconds);
    QCOMPARE(QDateTime::fromMSecsSinceEpoch(toMs).offsetFromUtc()
                 - QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc(),
             offsetChangeSeconds);
    ConsoleClock clock;
    HostClock hostClock;
    for (qint64 ms = fromMs; ms <= toMs; ms += stepMs) {
        QCOMPARE(clock.at(ms), expected(ms));
        QCOMPARE(hostClock.at(ms), expectedHostTime(ms));
    }
}

void TestConsoleClock::randomInstantsMatchLocalTime()
{
    // Jumping back and forth, as the wall clock can when it is set.
    ConsoleClock clock;
    QRandomGenerator random(20261208);
    const qint64 from = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 span = 10LL * 365 * 24 * 3600 * 1000;
    for (int i = 0; i < 20000; ++i) {
        const qint64 ms = from + qint64(random.bounded(double(span)));
        QCOMPARE(clock.at(ms), expected(ms));
        QCOMPARE(clock.at(ms + 1), expected(ms + 1));
    }
}

void TestConsoleClock::nowIsTheCurrentTime()
{
    // Compared on a reading that did not straddle a millisecond.
    ConsoleClock clock;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QString now = clock.now();
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        if (before == after) {
            QCOMPARE(now, expected(before));
            return;
        }
    }
    QFAIL("no reading within one millisecond");
}

QTEST_GUILESS_MAIN(TestConsoleClock)
#include "tst_consoleclock.moc"
