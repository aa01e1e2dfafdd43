// The record's display conventions on their own: the remapping and the text
// of one record, as the window and the recorder share them.
#include "recordformat.h"
#include "testrecords.h"

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
