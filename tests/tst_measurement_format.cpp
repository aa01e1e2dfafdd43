// SPDX-License-Identifier: GPL-3.0-or-later
// The record's display conventions on their own: the remapping and the text
// of one record, as the window and the recorder share them.
#include "recordformat.h"
#include "testrecords.h"

#include <QRandomGenerator>
#include <QtTest>

#include <clocale>

class TestRecordFormat : public QObject
{
    Q_OBJECT
private slots:
    void remapNegatesSwapsAndKeepsIndex();
    void remapNegationWrapsIn16Bits();
    void metresPerSecondSquared_data();
    void metresPerSecondSquared();
    void degrees_data();
    void degrees();
    void everyValueAsTheToolkitWritesIt();
    void lineAsArgumentsWouldFillIt();
    void placeholderTenIsItsOwn();
    void localeIndependent();
};

void TestRecordFormat::remapNegatesSwapsAndKeepsIndex()
{
    UART_RCV r = makeRecord(200, 100, -200, 300, 1000, -15, 980);
    RecordFormat::remap(r);
    QCOMPARE(int(r.index), 200);
    QCOMPARE(int(r.angle1), -100);
    QCOMPARE(int(r.angle2), 300);
    QCOMPARE(int(r.angle3), -200);
    QCOMPARE(int(r.accel1), 1000);
    QCOMPARE(int(r.accel2), -15);
    QCOMPARE(int(r.accel3), -980);
}

void TestRecordFormat::remapNegationWrapsIn16Bits()
{
    UART_RCV r = makeRecord(0, -32768, 0, 0, 0, 0, -32768);
    RecordFormat::remap(r);
    QCOMPARE(int(r.angle1), -32768);
    QCOMPARE(int(r.accel3), -32768);
    UART_RCV s = makeRecord(0, 32767, 0, 0, 0, 0, 32767);
    RecordFormat::remap(s);
    QCOMPARE(int(s.angle1), -32767);
    QCOMPARE(int(s.accel3), -32767);
}

void TestRecordFormat::metresPerSecondSquared_data()
{
    QTest::addColumn<int>("mg");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "0.000";
    QTest::newRow("1 g") << 1000 << "9.807";
    QTest::newRow("-15 mg") << -15 << "-0.147";
    // Multiplying first: 10000 / 1000 * 9.80665 would give 98.066.
    QTest::newRow("10000 mg") << 10000 << "98.067";
    QTest::newRow("-10000 mg") << -10000 << "-98.067";
    QTest::newRow("most negative") << -32768 << "-321.344";
    QTest::newRow("most positive") << 32767 << "321.335";
}

void TestRecordFormat::metresPerSecondSquared()
{
    QFETCH(int, mg);
    QFETCH(QString, text);
    QCOMPARE(RecordFormat::metresPerSecondSquared(qint16(mg)), text);
    QCOMPARE(RecordFormat::convertToMsSquared(short(mg)), (mg * 9.80665) / 1000);
}

void TestRecordFormat::degrees_data()
{
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "0.00";
    QTest::newRow("-1") << -1 << "-0.01";
    QTest::newRow("12.34") << 1234 << "12.34";
    QTest::newRow("most negative") << -32768 << "-327.68";
    QTest::newRow("most positive") << 32767 << "327.67";
}

void TestRecordFormat::degrees()
{
    QFETCH(int, hundredths);
    QFETCH(QString, text);
    QCOMPARE(RecordFormat::degrees(qint16(hundredths)), text);
}

void TestRecordFormat::everyValueAsTheToolkitWritesIt()
{
    // All 65536 values of both kinds, against the toolkit's own conversion
    // of the same double, including the few lying exactly half way.
    int halfWay = 0;
    for (int v = -32768; v <= 32767; ++v) {
        const qint16 value = qint16(v);
        QCOMPARE(RecordFormat::degrees(value), QString::number(v / 100.0, 'f', 2));
        QCOMPARE(RecordFormat::metresPerSecondSquared(value),
                 QString::number(RecordFormat::convertToMsSquared(value), 'f', 3));
        halfWay += qAbs(v) * 980665LL % 100000 == 50000;
    }
    QVERIFY(halfWay > 0);
}

void TestRecordFormat::lineAsArgumentsWouldFillIt()
{
    // The line's pattern filled in by the toolkit's arg(), field by field,
    // for records at the extremes and at random.
    auto byArguments = [](const UART_RCV& r) {
        auto ms2 = [](qint16 mg) { return QString::number(mg * 9.80665 / 1000, 'f', 3); };
        auto deg = [](qint16 h) { return QString::number(h / 100.0, 'f', 2); };
        return QString("Ind: %1; Yaw: %2; Pitch: %3; Roll: %4; Xacc: %5 mg (%6 m/s2); "
                       "Yacc: %7 mg (%8 m/s2); Zacc: %9 mg (%10 m/s2)")
            .arg(uint(r.index), 3).arg(deg(r.angle1), 7).arg(deg(r.angle2), 7).arg(deg(r.angle3), 7)
            .arg(int(r.accel1), 6).arg(ms2(r.accel1), 7).arg(int(r.accel2), 6).arg(ms2(r.accel2), 7)
            .arg(int(r.accel3), 6).arg(ms2(r.accel3), 7);
    };
    QVector<UART_RCV> records {makeRecord(0, 0, 0, 0, 0, 0, 0),
                               makeRecord(255, -32768, -32768, -32768, -32768, -32768, -32768),
                               makeRecord(128, 32767, 32767, 32767, 32767, 32767, 32767),
                               makeRecord(9, -1, 1, -99, -1, 1, -102)};
    QRandomGenerator random(1208);
    for (int i = 0; i < 20000; ++i) {
        auto any = [&] { return qint16(random.bounded(65536) - 32768); };
        records << makeRecord(quint8(random.bounded(256)), any(), any(), any(), any(), any(), any());
    }
    for (const UART_RCV& r : records)
        QCOMPARE(RecordFormat::consoleLine(r), byArguments(r));
}

void TestRecordFormat::placeholderTenIsItsOwn()
{
    // Z in m/s^2 (%10) must not come out as index (%1) followed by "0".
    UART_RCV r = makeRecord(7, 0, 0, 0, 0, 0, -1000);
    const QString line = RecordFormat::consoleLine(r);
    QVERIFY2(line.endsWith("Zacc:  -1000 mg ( -9.807 m/s2)"), qPrintable(line));
    QVERIFY(!line.contains("70"));
}

void TestRecordFormat::localeIndependent()
{
    // Already remapped: the slots are yaw, pitch, roll as they are shown.
    const UART_RCV r = makeRecord(201, -32768, 4500, -9000, -32768, 12345, 980);
    const QString inC = RecordFormat::consoleLine(r);
    QCOMPARE(inC,
             QString("Ind: 201; Yaw: -327.68; Pitch:   45.00; Roll:  -90.00; Xacc: -32768 mg (-321.344 m/s2); "
                     "Yacc:  12345 mg (121.063 m/s2); Zacc:    980 mg (  9.611 m/s2)"));

    const QLocale previous;
    const QByteArray cPrevious = std::setlocale(LC_ALL, nullptr);
    for (QLocale::Language language : {QLocale::German, QLocale::French, QLocale::Arabic, QLocale::Hindi}) {
        QLocale::setDefault(QLocale(language));
        std::setlocale(LC_ALL, language == QLocale::German ? "de_DE.UTF-8" : "C.UTF-8");
        QCOMPARE(RecordFormat::consoleLine(r), inC);
        QCOMPARE(RecordFormat::metresPerSecondSquared(10000), QString("98.067"));
    }
    QLocale::setDefault(previous);
    std::setlocale(LC_ALL, cPrevious.constData());
}

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_measurement_format.moc"
