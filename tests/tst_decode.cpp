// SPDX-License-Identifier: GPL-3.0-or-later
// imu-decode on captures: the rows, the console lines, the counts, the
// stopping rules and the command line; and the window's recordings in the
// same format.

#include "pseudoterminal.h"
#include "tst_decode_support.h"
#include "widget.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace DecodeTest;

class TestDecode : public QObject
{
    Q_OBJECT

private slots:
    void csvRowsMatchEncodedRecords();
    void csvExtremeValues_data();
    void csvExtremeValues();
    void consoleFormatReproducesMonitorLines();
    void faultCountsFollowTheParser();
    void unfinishedFrameAtTheEndIsReported();
    void standardInputStreamsALargeCapture();
    void countStopsRightAfterTheLastRecord();
    void outputFileOption();
    void failedOutputIsNotSuccess();
    void emptyCaptureGivesHeaderOnly();
    void stopSignalEndsAnOpenStandardInput();
    void badArguments_data();
    void badArguments();
    void helpDescribesEveryOption();
    void windowRecordsTheSameFormat();

private:
    QString writeCapture(const QByteArray& bytes, const QString& name = QStringLiteral("capture.bin"));
    QTemporaryDir dir;
};

QString TestDecode::writeCapture(const QByteArray& bytes, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestDecode::csvRowsMatchEncodedRecords()
{
    QRandomGenerator random(20261208);
    QVector<UART_RCV> records;
    QByteArray bytes;
    for (int i = 0; i < 3000; ++i) {
        auto value = [&] { return int(random.bounded(65536u)) - 32768; };
        const UART_RCV r = record(i, value(), value(), value(), value(), value(), value());
        records.append(r);
        // The undecoded tail bytes must not show anywhere.
        const FrameEncoder::Tail tail {quint8(random.bounded(256u)), 0xAA, quint8(i)};
        bytes.append(FrameEncoder::frame(r, tail));
    }
    const QString path = writeCapture(bytes);
    QVERIFY(!path.isEmpty());

    const Result result = runDecoder({path});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    const QStringList rows = result.outLines();
    QCOMPARE(rows.size(), records.size() + 1);
    QCOMPARE(rows.first(), QString::fromLatin1(csvHeader()));
    for (int i = 0; i < records.size(); ++i) {
        const auto [time, rest] = splitHostTime(rows.at(i + 1));
        QVERIFY2(time.isEmpty(), qPrintable(rows.at(i + 1)));
        QCOMPARE(rest, expectedRow(records.at(i)));
    }
    const Summary summary = parseSummary(result.errLines());
    QVERIFY2(summary.valid, result.err.constData());
    QCOMPARE(summary.records, quint64(records.size()));
    QCOMPARE(summary.checksumMisses, 0ull);
    QCOMPARE(summary.indexMisses, 0ull);
    QCOMPARE(summary.dropped, 0ull);
    QCOMPARE(summary.framesPerSecond, -1.0); // only for a port
}

void TestDecode::csvExtremeValues_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QVector<int>>("values");
    QTest::addColumn<QString>("row");
    QTest::newRow("first example frame") << 1 << QVector<int>{100, -200, 0, 0, 0, 0}
                                         << ",1,-1.00,0.00,-2.00,0,0,0,0.000,0.000,0.000";
    QTest::newRow("second example record") << 200 << QVector<int>{-1234, 4500, -9000, 1000, -15, 980}
                                           << ",200,12.34,-90.00,45.00,1000,-15,-980,9.807,-0.147,-9.611";
    QTest::newRow("negating -32768 keeps it") << 255 << QVector<int>{-32768, 32767, -32768, -32768, 32767, -32768}
                                              << ",255,-327.68,-327.68,327.67,-32768,32767,-32768,"
                                                 "-321.344,321.335,-321.344";
    QTest::newRow("multiply before dividing") << 0 << QVector<int>{1, -1, 5, 10000, -10000, -1}
                                              << ",0,-0.01,0.05,-0.01,10000,-10000,1,98.067,-98.067,0.010";
}

void TestDecode::csvExtremeValues()
{
    QFETCH(int, index);
    QFETCH(QVector<int>, values);
    QFETCH(QString, row);
    const UART_RCV r = record(index, values[0], values[1], values[2], values[3], values[4], values[5]);
    const Result result = runDecoder({QStringLiteral("-")}, FrameEncoder::frame(r));
    QCOMPARE(result.exitCode, 0);
    const QStringList rows = result.outLines();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(1), row);
    QCOMPARE(rows.at(1).mid(1), expectedRow(r));
}

void TestDecode::consoleFormatReproducesMonitorLines()
{
    const QByteArray bytes = FrameEncoder::frame(record(1, 100, -200, 0, 0, 0, 0))
                             + FrameEncoder::frame(record(200, -1234, 4500, -9000, 1000, -15, 980));
    const Result result = runDecoder({QStringLiteral("--format"), QStringLiteral("console"), writeCapture(bytes)});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out,
             QByteArray("Ind:   1; Yaw:   -1.00; Pitch:    0.00; Roll:   -2.00; "
                        "Xacc:      0 mg (  0.000 m/s2); Yacc:      0 mg (  0.000 m/s2); "
                        "Zacc:      0 mg (  0.000 m/s2)\n"
                        "Ind: 200; Yaw:   12.34; Pitch:  -90.00; Roll:   45.00; "
                        "Xacc:   1000 mg (  9.807 m/s2); Yacc:    -15 mg ( -0.147 m/s2); "
                        "Zacc:   -980 mg ( -9.611 m/s2)\n"));
}

void TestDecode::faultCountsFollowTheParser()
{
    // Garbage without sync bytes, a stray sync byte, corrupt frames and
    // frames left out, in known numbers.
    QByteArray bytes;
    QVector<UART_RCV> delivered;
    quint64 garbage = 0, corrupt = 0;
    QRandomGenerator random(7);
    int index = 0;
    for (int i = 0; i < 1000; ++i, ++index) {
        const UART_RCV r = record(index, i, -i, 2 * i, 1000, -i, 3);
        const quint32 dice = random.bounded(100u);
        if (dice < 5) {
            bytes.append(FrameEncoder::corruptFrame(r));
            ++corrupt;
        } else if (dice < 10) {
            continue; // dropped: never sent
        } else {
            bytes.append(FrameEncoder::frame(r));
            delivered.append(r);
        }
        if (dice % 7 == 0) {
            const int n = 1 + int(random.bounded(40u));
            for (int k = 0; k < n; ++k)
                bytes.append(char(random.bounded(0xAAu))); // never 0xAA
            garbage += quint64(n);
        }
        if (i == 500) {
            bytes.append("\xAA\x01", 2); // a stray sync byte and the byte after it
            garbage += 2;
        }
    }
    quint64 expectedIndexMisses = 0;
    for (int i = 1; i < delivered.size(); ++i) {
        const quint8 step = quint8(delivered[i].index - delivered[i - 1].index);
        expectedIndexMisses += (step != 1 && step != 255) ? 1 : 0;
    }
    QVERIFY(expectedIndexMisses > 10);
    QVERIFY(corrupt > 10);

    const Result result = runDecoder({writeCapture(bytes)});
    QCOMPARE(result.exitCode, 0);
    const Summary summary = parseSummary(result.errLines());
    QVERIFY2(summary.valid, result.err.constData());
    QCOMPARE(summary.records, quint64(delivered.size()));
    QCOMPARE(summary.checksumMisses, corrupt);
    QCOMPARE(summary.indexMisses, expectedIndexMisses);
    QCOMPARE(summary.dropped, garbage);
    const QStringList rows = result.outLines();
    QCOMPARE(rows.size(), delivered.size() + 1);
    for (int i = 0; i < delivered.size(); ++i)
        QCOMPARE(splitHostTime(rows.at(i + 1)).second, expectedRow(delivered.at(i)));
}

void TestDecode::unfinishedFrameAtTheEndIsReported()
{
    const QByteArray whole = FrameEncoder::frame(record(1, 0, 0, 0, 0, 0, 1000));
    const Result cut = runDecoder({QStringLiteral("-")}, whole + whole.left(7));
    QCOMPARE(cut.exitCode, 0);
    QCOMPARE(cut.outLines().size(), 2);
    QVERIFY2(cut.errLines().constLast().endsWith(QStringLiteral(
                 "records decoded: 1, checksum misses: 0, index misses: 0, bytes dropped: 0, "
                 "unfinished frame at the end: 7 bytes")),
             cut.err.constData());

    const Result clean = runDecoder({QStringLiteral("-")}, whole);
    QVERIFY(!clean.err.contains("unfinished"));
}

void TestDecode::standardInputStreamsALargeCapture()
{
    // Far more than one read's worth, in frames that straddle every chunk
    // boundary (19 divides no power of two).
    QVector<UART_RCV> records;
    for (int i = 0; i < 120000; ++i)
        records.append(record(i, i % 36000 - 18000, i % 12000 - 6000, -(i % 12000), i % 2000 - 1000, 7, 1000));
    const QByteArray bytes = capture(records);
    const Result result = runDecoder({QStringLiteral("-")}, bytes);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    const QStringList rows = result.outLines();
    QCOMPARE(rows.size(), records.size() + 1);
    for (int i = 0; i < records.size(); i += 997)
        QCOMPARE(splitHostTime(rows.at(i + 1)).second, expectedRow(records.at(i)));
    QCOMPARE(splitHostTime(rows.constLast()).second, expectedRow(records.constLast()));
    QCOMPARE(parseSummary(result.errLines()).records, quint64(records.size()));
}

void TestDecode::countStopsRightAfterTheLastRecord()
{
    // Faults after the third good record must not be counted.
    QByteArray bytes = FrameEncoder::frame(record(1, 0, 0, 0, 0, 0, 0));
    bytes.append("\x01\x02", 2);
    bytes.append(FrameEncoder::corruptFrame(record(2, 0, 0, 0, 0, 0, 0)));
    bytes.append(FrameEncoder::frame(record(3, 0, 0, 0, 0, 0, 0)));
    bytes.append(FrameEncoder::frame(record(9, 0, 0, 0, 0, 0, 0)));
    bytes.append("\x05\x06\x07", 3);
    bytes.append(FrameEncoder::corruptFrame(record(10, 0, 0, 0, 0, 0, 0)));
    bytes.append(FrameEncoder::frame(record(11, 0, 0, 0, 0, 0, 0)));
    const QString path = writeCapture(bytes);

    const Result three = runDecoder({QStringLiteral("--count"), QStringLiteral("3"), path});
    QCOMPARE(three.exitCode, 0);
    QCOMPARE(three.outLines().size(), 4);
    QCOMPARE(splitHostTime(three.outLines().constLast()).second.section(QLatin1Char(','), 0, 0),
             QStringLiteral("9"));
    QCOMPARE(three.errLines().constLast(), QStringLiteral("imu-decode: records decoded: 3, checksum misses: 1, "
                                                          "index misses: 2, bytes dropped: 2"));

    const Result all = runDecoder({QStringLiteral("--count"), QStringLiteral("100"), path});
    QCOMPARE(all.outLines().size(), 5);
    QCOMPARE(all.errLines().constLast(), QStringLiteral("imu-decode: records decoded: 4, checksum misses: 2, "
                                                        "index misses: 3, bytes dropped: 5"));
}

void TestDecode::outputFileOption()
{
    const QString input = writeCapture(capture({record(5, 1, 2, 3, 4, 5, 6), record(6, 1, 2, 3, 4, 5, 6)}));
    const QString output = dir.filePath(QStringLiteral("out.csv"));
    {
        QFile old(output);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older and longer contents that must go away entirely\n");
    }
    const Result result = runDecoder({input, QStringLiteral("-o"), output});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.isEmpty());
    const QStringList lines = readLines(output);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(2), QStringLiteral(",6,-0.01,0.03,0.02,4,5,-6,0.039,0.049,-0.059"));
    QCOMPARE(parseSummary(result.errLines()).records, 2ull);

    const Result dash = runDecoder({input, QStringLiteral("--output"), QStringLiteral("-")});
    QCOMPARE(dash.outLines(), lines);
}

void TestDecode::failedOutputIsNotSuccess()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    QVector<UART_RCV> records;
    for (int i = 0; i < 20000; ++i)
        records.append(record(i, i, i, i, i, i, i));
    const Result result = runDecoder({writeCapture(capture(records), QStringLiteral("big.bin")),
                                      QStringLiteral("-o"), QStringLiteral("/dev/full")});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    const QStringList err = result.errLines();
    QCOMPARE(err.size(), 2);
    QVERIFY2(err.first().contains(QStringLiteral("cannot write '/dev/full'")), qPrintable(err.first()));
    // It stopped at the first failed write instead of decoding everything.
    const Summary summary = parseSummary(err);
    QVERIFY(summary.valid);
    QVERIFY(summary.records < quint64(records.size()));
}

void TestDecode::emptyCaptureGivesHeaderOnly()
{
    const Result result = runDecoder({writeCapture(QByteArray(), QStringLiteral("empty.bin"))});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray(csvHeader()) + '\n');
    QCOMPARE(result.errLines(), QStringList{QStringLiteral("imu-decode: records decoded: 0, checksum misses: 0, "
                                                           "index misses: 0, bytes dropped: 0")});

    const Result console = runDecoder({QStringLiteral("--format=console"), QStringLiteral("-")});
    QCOMPARE(console.exitCode, 0);
    QVERIFY(console.out.isEmpty());
}

void TestDecode::stopSignalEndsAnOpenStandardInput()
{
    // Standard input may be a live stream that never ends: SIGINT stops it
    // with everything decoded written and the summary.
    QProcess process;
    process.start(decoderPath(), {QStringLiteral("-")});
    QVERIFY(process.waitForStarted());
    process.write(capture({record(1, 0, 0, 0, 0, 0, 0), record(2, 0, 0, 0, 0, 0, 0)}));
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(process.peek(1 << 20)).count(QLatin1Char('\n')) == 3, 10000);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(parseSummary(err).records, 2ull);
}

void TestDecode::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");
    const QString missing = dir.filePath(QStringLiteral("no-such-capture.bin"));
    const QString real = writeCapture(FrameEncoder::frame(record(1, 0, 0, 0, 0, 0, 0)), QStringLiteral("one.bin"));
    QTest::newRow("no input") << QStringList{} << "no input";
    QTest::newRow("unknown option") << QStringList{"--speed", real} << "speed";
    QTest::newRow("missing file") << QStringList{missing} << "no-such-capture.bin";
    QTest::newRow("directory") << QStringList{dir.path()} << "directory";
    QTest::newRow("two files") << QStringList{real, real} << "more than one";
    QTest::newRow("file and port") << QStringList{real, "--port", "/dev/null"} << "not both";
    QTest::newRow("format") << QStringList{"--format", "xml", real} << "xml";
    QTest::newRow("count zero") << QStringList{"--count", "0", real} << "--count";
    QTest::newRow("count negative") << QStringList{"--count", "-3", real} << "--count";
    QTest::newRow("count text") << QStringList{"--count", "ten", real} << "ten";
    QTest::newRow("count missing value") << QStringList{real, "--count"} << "count";
    QTest::newRow("duration zero") << QStringList{"--duration", "0", real} << "--duration";
    QTest::newRow("duration nan") << QStringList{"--duration", "nan", real} << "--duration";
    QTest::newRow("repeated option") << QStringList{"--count", "1", "--count", "2", real} << "more than once";
    QTest::newRow("raw without port") << QStringList{"--raw", "raw.bin", real} << "--raw needs --port";
    QTest::newRow("raw is the output") << QStringList{"--port", "/dev/null", "--raw", "a.csv", "-o", "./a.csv"}
                                       << "same file";
    QTest::newRow("port missing") << QStringList{"--port", "/dev/no-such-serial-port"} << "no-such-serial-port";
    QTest::newRow("port is not a tty") << QStringList{"--port", real} << "cannot open port";
    QTest::newRow("output folder missing") << QStringList{real, "-o", dir.filePath("none/out.csv")} << "none/out.csv";
}

void TestDecode::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const int filesBefore = int(QDir(dir.path()).entryList(QDir::Files).size());
    const Result result = runDecoder(arguments);
    QVERIFY(result.finished);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    const QStringList err = result.errLines();
    QCOMPARE(err.size(), 1);
    QVERIFY2(err.first().startsWith(QStringLiteral("imu-decode: ")), qPrintable(err.first()));
    QVERIFY2(err.first().contains(mentions), qPrintable(err.first()));
    QCOMPARE(int(QDir(dir.path()).entryList(QDir::Files).size()), filesBefore);
}

void TestDecode::helpDescribesEveryOption()
{
    for (const QString& flag : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const Result result = runDecoder({flag});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.err.isEmpty());
        for (const char* option : {"--port", "--output", "-o", "--raw", "--format", "csv", "console", "--count",
                                   "--duration", "SIGTERM", "Exit status"})
            QVERIFY2(result.out.contains(option), option);
    }
}

void TestDecode::windowRecordsTheSameFormat()
{
    // Recordings go to the Documents of a home made for the test.
    QStandardPaths::setTestModeEnabled(true);
    qputenv("HOME", QFile::encodeName(dir.path()));
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    Widget window(nullptr, [port = pty.slavePath()] { return QList<PortEntry> {{port, QString()}}; });
    auto* console = window.findChild<QPlainTextEdit*>(QStringLiteral("console"));
    window.findChild<QPushButton*>(QStringLiteral("connect_button"))->click();
    window.findChild<QPushButton*>(QStringLiteral("record_pb"))->click();

    QRandomGenerator random(20261209);
    auto value = [&] { return int(random.bounded(65536u)) - 32768; };
    QVector<UART_RCV> records;
    for (int i = 0; i < 400; ++i)
        records.append(record(i, value(), value(), value(), value(), value(), value()));
    const QByteArray bytes = QByteArray("\x01\xAA\x02", 3) + capture(records);
    QVERIFY(pty.write(bytes));
    QTRY_COMPARE(console->toPlainText().count(QStringLiteral("] Ind: ")), records.size());
    window.findChild<QPushButton*>(QStringLiteral("record_pb"))->click();
    QTRY_VERIFY(console->toPlainText().contains(QStringLiteral("] Recording stopped: ")));

    const QDir folder(dir.filePath(QStringLiteral("Documents/Telvorin IMU")));
    const QStringList recorded = readLines(folder.entryInfoList(QDir::Files).value(0).filePath());
    const QStringList decoded = runDecoder({writeCapture(bytes)}).outLines();
    QCOMPARE(recorded.size(), records.size() + 1);
    QCOMPARE(recorded.first(), decoded.first());
    for (int i = 1; i < recorded.size(); ++i) {
        const auto [time, rest] = splitHostTime(recorded.at(i));
        QVERIFY2(hostTimePattern().match(time).hasMatch(), qPrintable(time));
        QCOMPARE(rest, splitHostTime(decoded.at(i)).second);
    }
}

QTEST_MAIN(TestDecode)
#include "tst_decode.moc"
