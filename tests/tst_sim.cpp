// SPDX-License-Identifier: GPL-3.0-or-later
// imu-sim as a program: its captures decode with the monitor's parser to
// exactly what it says it sent, its faults match its counts, and its command
// line is strict.

#include "frameencoder.h"
#include "hostinput.h"
#include "motion.h"
#include "options.h"
#include "recordcsv.h"
#include "recordformat.h"
#include "tst_sim_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <cmath>

using namespace SimSupport;

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void helpDescribesEveryOption();
    void badArgumentIsOneLineAndStatus2_data();
    void badArgumentIsOneLineAndStatus2();
    void captureDecodesToTheRecordsSent();
    void motionStaysInItsRanges();
    void sameSeedSameStream();
    void faultsMatchTheirCounts();
    void garbageNeverLooksLikeAFrame();
    void standardOutputCarriesTheStream();
    void givenRateIsPaced();
    void replayRefusesWhatIsNoRecording_data();
    void replayRefusesWhatIsNoRecording();
    void replayUsesTheRowsAboveACutOffRow_data();
    void replayUsesTheRowsAboveACutOffRow();
    void replayedRecordingDecodesToTheSameRows_data();
    void replayedRecordingDecodesToTheSameRows();
    void captureReplaysByteForByte();
    void stillBoardHasItsFigures_data();
    void stillBoardHasItsFigures();
    void imuNoiseReadsTheStillBoardsFigures();
    void hostInputFindsSplitResetCommand();
    void hostInputReportsOtherBytes();

private:
    QTemporaryDir dir;
    QString file(const QString& name) const { return dir.filePath(name); }
    QByteArray contents(const QString& name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

void TestSim::helpDescribesEveryOption()
{
    const Run run = runSim({"--help"});
    QCOMPARE(run.exitCode, 0);
    for (const char* option : {"--rate", "max", "--seed", "--corrupt", "--drop", "--garbage",
                               "--disconnect-after", "--out", "--port", "--count", "--records", "--replay",
                               "--speed", "--loop", "--still", "--noise-density", "--random-walk", "--bias",
                               "--yaw-drift", "--angle-noise", "N * sqrt(fs)", "host_time", "FILE:LINE",
                               "$MIB,RESET*87", "-1000 mg", "index,angle1,angle2,angle3,accel1,accel2,accel3,fate"})
        QVERIFY2(run.out.contains(option), option);
    QVERIFY(run.err.isEmpty());
}

void TestSim::badArgumentIsOneLineAndStatus2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("rate not a number") << QStringList{"--rate", "fast"} << "fast";
    QTest::newRow("rate zero") << QStringList{"--rate", "0"} << "--rate";
    QTest::newRow("rate negative") << QStringList{"--rate=-5"} << "--rate";
    QTest::newRow("rate missing") << QStringList{"--rate"} << "--rate";
    QTest::newRow("probability above 1") << QStringList{"--corrupt", "1.5"} << "--corrupt";
    QTest::newRow("probability negative") << QStringList{"--drop", "-0.1"} << "--drop";
    QTest::newRow("probability text") << QStringList{"--garbage", "often"} << "--garbage";
    QTest::newRow("seed negative") << QStringList{"--seed", "-1"} << "--seed";
    QTest::newRow("count negative") << QStringList{"--count", "-3"} << "--count";
    QTest::newRow("count fraction") << QStringList{"--count", "2.5"} << "--count";
    QTest::newRow("disconnect text") << QStringList{"--disconnect-after", "soon"} << "--disconnect-after";
    QTest::newRow("positional") << QStringList{"extra"} << "extra";
    QTest::newRow("empty out") << QStringList{"--out", ""} << "--out";
    QTest::newRow("port and out") << QStringList{"--port", "/dev/null", "--out", "-"} << "--port";
    QTest::newRow("port and disconnect")
        << QStringList{"--port", "/dev/null", "--disconnect-after", "1"} << "--disconnect-after";
    QTest::newRow("speed without replay") << QStringList{"--speed", "2"} << "--speed";
    QTest::newRow("loop without replay") << QStringList{"--loop"} << "--loop";
    QTest::newRow("density negative") << QStringList{"--still", "--noise-density", "1,-1,1"} << "--noise-density";
    QTest::newRow("two axes") << QStringList{"--still", "--random-walk", "100,200"} << "--random-walk";
    QTest::newRow("drift text") << QStringList{"--still", "--yaw-drift", "slow"} << "--yaw-drift";
    QTest::newRow("noise without still") << QStringList{"--random-walk", "5"} << "needs --still";
    QTest::newRow("still replay") << QStringList{"--still", "--replay", "x.csv"} << "--replay";
    QTest::newRow("speed zero") << QStringList{"--replay", "x.csv", "--speed", "0"} << "--speed";
}

void TestSim::badArgumentIsOneLineAndStatus2()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const Run run = runSim(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(run.err.endsWith('\n'));
    QVERIFY2(run.err.startsWith("imu-sim: "), run.err.constData());
    QVERIFY2(run.err.contains(named.toUtf8()), run.err.constData());
}

void TestSim::captureDecodesToTheRecordsSent()
{
    const Run run = runSim({"--seed", "11", "--count", "700", "--out", file("plain.bin"), "--records",
                            file("plain.csv")});
    QCOMPARE(run.exitCode, 0);
    const Summary s = summary(run.err);
    QVERIFY(s.found);
    QCOMPARE(s.sent, 700ull);
    QCOMPARE(s.corrupted + s.dropped + s.garbage, 0ull);

    QByteArray header;
    const QList<CsvRecord> rows = readRecords(file("plain.csv"), &header);
    QCOMPARE(header, QByteArray("index,angle1,angle2,angle3,accel1,accel2,accel3,fate"));
    QCOMPARE(rows.size(), 700);

    QFile capture(file("plain.bin"));
    QVERIFY(capture.open(QIODevice::ReadOnly));
    const QByteArray bytes = capture.readAll();
    QCOMPARE(bytes.size(), 700 * Parser::FrameSize);
    const Decoded d = decode(bytes);
    QCOMPARE(d.records.size(), 700);
    QCOMPARE(d.checksumMisses, 0u);
    QCOMPARE(d.indexMisses, 0u);
    QCOMPARE(d.droppedBytes, 0ull);
    for (int i = 0; i < rows.size(); ++i) {
        const UART_RCV& a = d.records[i];
        const UART_RCV& b = rows[i].record;
        QCOMPARE(rows[i].fate, QByteArray("sent"));
        QCOMPARE(int(a.index), i % 256); // wraps after 255
        QCOMPARE(a.index, b.index);
        QCOMPARE(a.angle1, b.angle1);
        QCOMPARE(a.angle2, b.angle2);
        QCOMPARE(a.angle3, b.angle3);
        QCOMPARE(a.accel1, b.accel1);
        QCOMPARE(a.accel2, b.accel2);
        QCOMPARE(a.accel3, b.accel3);
    }
}

void TestSim::motionStaysInItsRanges()
{
    // 25 s of motion at the nominal 100 frames/s of an unpaced capture: long
    // enough for a whole turn of yaw.
    const Run run = runSim({"--seed", "5", "--count", "2500", "--out", file("motion.bin")});
    QCOMPARE(run.exitCode, 0);
    QFile capture(file("motion.bin"));
    QVERIFY(capture.open(QIODevice::ReadOnly));
    const Decoded d = decode(capture.readAll());
    QCOMPARE(d.records.size(), 2500);

    double minYaw = 1e9, maxYaw = -1e9, maxPitch = 0, maxRoll = 0;
    double previousYaw = 0, previousPitch = 0, previousRoll = 0;
    for (int i = 0; i < d.records.size(); ++i) {
        UART_RCV shown = d.records[i];
        RecordFormat::remap(shown);
        const double yaw = shown.angle1 / 100.0, pitch = shown.angle2 / 100.0, roll = shown.angle3 / 100.0;
        const double x = shown.accel1, y = shown.accel2, z = shown.accel3;
        QVERIFY2(yaw > -180.0 && yaw <= 180.0, qPrintable(QString::number(yaw)));
        QVERIFY(std::fabs(pitch) <= 60.0);
        QVERIFY(std::fabs(roll) <= 60.0);
        // Only gravity acts on a board turning about its sensor: 1 g within
        // the noise of +-8 mg on each axis.
        const double g = std::sqrt(x * x + y * y + z * z);
        QVERIFY2(std::fabs(g - 1000.0) <= 15.0, qPrintable(QString::number(g)));
        // The board's own axes: nose up reads +X, right side down reads -Y.
        QVERIFY(std::fabs(x - 1000.0 * std::sin(pitch * M_PI / 180)) <= 9.0);
        QVERIFY(std::fabs(y + 1000.0 * std::sin(roll * M_PI / 180) * std::cos(pitch * M_PI / 180)) <= 9.0);

        if (i < 100) {
            // At rest for the first second: flat and still, Z showing the
            // table's push of -1000 mg (the board sends +1000).
            QCOMPARE(shown.angle1, qint16(0));
            QCOMPARE(shown.angle2, qint16(0));
            QCOMPARE(shown.angle3, qint16(0));
            QVERIFY(std::fabs(x) <= 8 && std::fabs(y) <= 8);
            QVERIFY(std::fabs(z + 1000) <= 8);
            QVERIFY(std::fabs(d.records[i].accel3 - 1000) <= 8);
        }
        if (i > 0) {
            // Smooth: small steps, yaw's wrap from 180 to -180 included.
            const double yawStep = std::fabs(std::remainder(yaw - previousYaw, 360.0));
            QVERIFY2(yawStep < 1.0, qPrintable(QString::number(yawStep)));
            QVERIFY(std::fabs(pitch - previousPitch) < 1.5);
            QVERIFY(std::fabs(roll - previousRoll) < 1.5);
        }
        previousYaw = yaw;
        previousPitch = pitch;
        previousRoll = roll;
        minYaw = qMin(minYaw, yaw);
        maxYaw = qMax(maxYaw, yaw);
        maxPitch = qMax(maxPitch, std::fabs(pitch));
        maxRoll = qMax(maxRoll, std::fabs(roll));
    }
    // The whole circle and most of the angle ranges are visited.
    QVERIFY(minYaw < -170 && maxYaw > 170);
    QVERIFY(maxPitch > 40 && maxRoll > 45);
}

void TestSim::sameSeedSameStream()
{
    const QStringList common {"--count", "300", "--corrupt", "0.1", "--garbage", "0.3", "--drop", "0.1"};
    QCOMPARE(runSim(QStringList{"--seed", "42", "--out", file("a.bin")} + common).exitCode, 0);
    QCOMPARE(runSim(QStringList{"--seed", "42", "--out", file("b.bin")} + common).exitCode, 0);
    QCOMPARE(runSim(QStringList{"--seed", "43", "--out", file("c.bin")} + common).exitCode, 0);
    auto contents = [this](const char* name) {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QVERIFY(!contents("a.bin").isEmpty());
    QCOMPARE(contents("a.bin"), contents("b.bin"));
    QVERIFY(contents("a.bin") != contents("c.bin"));
}

void TestSim::faultsMatchTheirCounts()
{
    const int count = 4000;
    const Run run = runSim({"--seed", "7", "--count", QString::number(count), "--corrupt", "0.1", "--drop",
                            "0.05", "--garbage", "0.2", "--out", file("faults.bin"), "--records",
                            file("faults.csv")});
    QCOMPARE(run.exitCode, 0);
    const Summary s = summary(run.err);
    QVERIFY(s.found);
    QCOMPARE(s.sent + s.corrupted + s.dropped, quint64(count));
    // The options take effect at about their probability.
    QVERIFY(s.corrupted > 250 && s.corrupted < 550);
    QVERIFY(s.dropped > 100 && s.dropped < 300);
    QVERIFY(s.garbage > 0);

    const QList<CsvRecord> rows = readRecords(file("faults.csv"));
    QCOMPARE(rows.size(), count);
    QList<UART_RCV> sent;
    quint64 corrupt = 0, dropped = 0;
    uint expectedIndexMisses = 0;
    bool gap = false, anySent = false;
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(int(rows[i].record.index), i % 256); // lost frames use up their index
        if (rows[i].fate == "sent") {
            // A run of lost frames between two good ones breaks the sequence once.
            if (anySent && gap)
                ++expectedIndexMisses;
            anySent = true;
            gap = false;
            sent.append(rows[i].record);
        } else {
            gap = true;
            if (rows[i].fate == "corrupt")
                ++corrupt;
            else if (rows[i].fate == "dropped")
                ++dropped;
            else
                QFAIL(rows[i].fate.constData());
        }
    }
    QCOMPARE(quint64(sent.size()), s.sent);
    QCOMPARE(corrupt, s.corrupted);
    QCOMPARE(dropped, s.dropped);

    QFile capture(file("faults.bin"));
    QVERIFY(capture.open(QIODevice::ReadOnly));
    const QByteArray bytes = capture.readAll();
    QCOMPARE(quint64(bytes.size()), (s.sent + s.corrupted) * Parser::FrameSize + s.garbage);
    const Decoded d = decode(bytes);
    QCOMPARE(quint64(d.records.size()), s.sent);
    QCOMPARE(quint64(d.checksumMisses), s.corrupted);
    QCOMPARE(d.indexMisses, expectedIndexMisses);
    QCOMPARE(d.droppedBytes, s.garbage);
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(d.records[i].index, sent[i].index);
        QCOMPARE(d.records[i].accel3, sent[i].accel3);
        QCOMPARE(d.records[i].angle1, sent[i].angle1);
    }
}

void TestSim::garbageNeverLooksLikeAFrame()
{
    const Run run = runSim({"--seed", "3", "--count", "3000", "--garbage", "1", "--corrupt", "0.2",
                            "--out", file("garbage.bin")});
    QCOMPARE(run.exitCode, 0);
    const Summary s = summary(run.err);
    QVERIFY(s.garbage >= 3000 && s.garbage <= 3000 * 8);
    QFile capture(file("garbage.bin"));
    QVERIFY(capture.open(QIODevice::ReadOnly));
    const QByteArray bytes = capture.readAll();
    // Walk the stream: every 0xAA must begin a whole frame of two sync
    // bytes; everything else between frames is garbage.
    quint64 frames = 0, garbage = 0;
    int pos = 0;
    while (pos < bytes.size()) {
        if (quint8(bytes[pos]) != 0xAA) {
            ++garbage;
            ++pos;
            continue;
        }
        QVERIFY2(pos + Parser::FrameSize <= bytes.size(), "frame cut short");
        QCOMPARE(quint8(bytes[pos + 1]), quint8(0xAA));
        ++frames;
        pos += Parser::FrameSize;
    }
    QCOMPARE(frames, s.sent + s.corrupted);
    QCOMPARE(garbage, s.garbage);
    QCOMPARE(quint64(decode(bytes).records.size()), s.sent);
}

void TestSim::standardOutputCarriesTheStream()
{
    const Run run = runSim({"--out", "-", "--count", "10"});
    QCOMPARE(run.exitCode, 0);
    // No pseudo-terminal, so no path line: the bytes are the frames alone.
    QCOMPARE(run.out.size(), 10 * Parser::FrameSize);
    QCOMPARE(decode(run.out).records.size(), 10);
    QCOMPARE(summary(run.err).sent, 10ull);
}

void TestSim::givenRateIsPaced()
{
    // 40 frames at 200 frames/s cannot be written in much less than 0.2 s;
    // a lower bound only, which a slow machine cannot break.
    QElapsedTimer clock;
    clock.start();
    const Run run = runSim({"--out", file("paced.bin"), "--rate", "200", "--count", "40"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(clock.elapsed() >= 180, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(QFileInfo(file("paced.bin")).size(), qint64(40 * Parser::FrameSize));
}

void TestSim::replayRefusesWhatIsNoRecording_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line"); // 0: no file at all
    QTest::addColumn<QByteArray>("fault");
    const QByteArray h = RecordCsv::Header, row = ",1,0.00,0.00,0.00,1000,-15,-980,9.807,-0.147,-9.611\n";
    const QByteArray t = "2026-12-08T06:06:27.924+01:00";
    QTest::newRow("missing file") << QByteArray() << 0 << QByteArray("No such file");
    QTest::newRow("empty file") << QByteArray("") << 1 << QByteArray("empty");
    QTest::newRow("no header") << row << 1 << QByteArray("not the header");
    QTest::newRow("wrong header") << "time,index\n" + row << 1 << QByteArray("not the header");
    QTest::newRow("binary junk") << QByteArray("\x01\xAA\x00\xAA\xAA\xFF\x7F", 7).repeated(9) << 1
                                 << QByteArray("no valid frame");
    QTest::newRow("no rows") << h << 2 << QByteArray("no rows");
    QTest::newRow("too few fields") << h + row + ",2,0.00\n" << 3 << QByteArray("has 3 fields");
    QTest::newRow("too many fields") << h + row.trimmed() + ",0\n" << 2 << QByteArray("has 12 fields");
    QTest::newRow("empty line") << h + row + "\n" + row << 3 << QByteArray("empty line");
    QTest::newRow("not a number") << h + ",1,0.00,0.00,0.00,1e3,-15,-980,9.807,-0.147,-9.611\n" << 2
                                  << QByteArray("x_mg \"1e3\" is not a number");
    QTest::newRow("20 digits") << h + ",1,0.00,0.00,0.00,1000,-15,-980,9.807,-0.147,77777777777777777777\n" << 2
                               << QByteArray("z_ms2 \"77777777777777777777\" is not a number");
    QTest::newRow("index too big") << h + row + ",256" + row.mid(2) << 3 << QByteArray("index \"256\" is out");
    QTest::newRow("yaw out of range") << h + ",1,327.68" + row.mid(7) << 2 << QByteArray("yaw_deg \"327.68\" is out");
    QTest::newRow("3 decimals") << h + ",1,0.00,0.001" + row.mid(12) << 2 << QByteArray("pitch_deg \"0.001\"");
    QTest::newRow("m/s2 disagrees") << h + ",1,0.00,0.00,0.00,1000,-15,-980,9.806,-0.147,-9.611\n" << 2
                                    << QByteArray("x_ms2 \"9.806\" does not match x_mg 1000");
    QTest::newRow("no offset") << h + t.left(23) + row << 2 << QByteArray("host_time \"2026-12-08T06:06:27.924\"");
    QTest::newRow("no such day") << h + "2026-02-29" + t.mid(10) + row << 2 << QByteArray("host_time");
    QTest::newRow("host_time stops") << h + t + row + row << 3 << QByteArray("host_time is empty");
    QTest::newRow("short row above the last") << h + row + row.left(20) + '\n' + row << 3
                                              << QByteArray("has 6 fields");
    QTest::newRow("last row wrong, not short") << h + row + ",1,x" + row.mid(7).trimmed() << 3
                                               << QByteArray("yaw_deg \"x\"");
    QTest::newRow("the only row cut off") << h + row.left(20) << 2 << QByteArray("the only row is cut off");
}

void TestSim::replayRefusesWhatIsNoRecording()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(QByteArray, fault);
    const QString path = file("bad.csv"), out = file("bad-out.bin");
    QFile::remove(path);
    QFile::remove(out);
    QFile f(path);
    QVERIFY(line == 0 || (f.open(QIODevice::WriteOnly) && f.write(content) == content.size()));
    f.close();
    const Run run = runSim({"--replay", path, "--out", out});
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.err.count('\n'), 1);
    const QByteArray where = "imu-sim: " + path.toUtf8() + (line ? ':' + QByteArray::number(line) : "") + ": ";
    QVERIFY2(run.err.startsWith(where) && run.err.contains(fault), run.err.constData());
    // Checked before anything was opened: nothing streamed, nothing overwritten.
    QVERIFY(run.out.isEmpty());
    QVERIFY(!QFile::exists(out));
}

void TestSim::replayUsesTheRowsAboveACutOffRow_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("wholeRows");
    QTest::addColumn<QByteArray>("said"); // empty: nothing said
    const QByteArray h = RecordCsv::Header, t = "2026-12-08T06:06:27.924+01:00";
    const QByteArray row = ",1,0.00,0.00,0.00,1000,-15,-980,9.807,-0.147,-9.611\n";
    const QByteArray rows = h + row + row + row;
    QTest::newRow("cut in a field") << rows + row.left(20) << 3 << QByteArray(":5: the last row is cut off (the row has 6");
    QTest::newRow("cut in the last field") << rows + row.left(row.size() - 3) << 3 << QByteArray(":5: the last row is cut off (z_ms2");
    QTest::newRow("cut in host_time") << h + t + row + t + row + t.left(12) << 2
                                      << QByteArray(":4: the last row is cut off (the row has 1 field");
    QTest::newRow("cut before its line end: whole") << rows + row.trimmed() << 4 << QByteArray();
    QTest::newRow("CRLF, cut") << h + row.trimmed() + "\r\n" + row.left(30) << 1 << QByteArray(":3: the last row is cut off");
}

void TestSim::replayUsesTheRowsAboveACutOffRow()
{
    QFETCH(QByteArray, content);
    QFETCH(int, wholeRows);
    QFETCH(QByteArray, said);
    QFile f(file("cut.csv"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    f.close();
    const Run run = runSim({"--replay", file("cut.csv"), "--out", file("cut.bin")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QFileInfo(file("cut.bin")).size(), qint64(wholeRows * Parser::FrameSize));
    const QByteArray line = "imu-sim: " + file("cut.csv").toUtf8() + said;
    QCOMPARE(run.err.count(line), said.isEmpty() ? 0 : 1);
    if (!said.isEmpty())
        QVERIFY2(run.err.contains("; " + QByteArray::number(wholeRows) + " whole rows used\n"), run.err.constData());
    QVERIFY(!run.err.contains("cut off") || !said.isEmpty());
}

void TestSim::replayedRecordingDecodesToTheSameRows_data()
{
    QTest::addColumn<bool>("timed");
    QTest::newRow("without host_time") << false;
    QTest::newRow("with host_time") << true;
}

void TestSim::replayedRecordingDecodesToTheSameRows()
{
    QFETCH(bool, timed);
    // imu-decode's CSV of a capture, and the index misses it counted.
    auto decodeWithTool = [this](const QString& capture, QByteArray& indexMisses) {
        QProcess decoder;
        decoder.start(QStringLiteral(IMU_DECODE_PATH), {file(capture)});
        decoder.waitForFinished(60000);
        const QByteArray err = decoder.readAllStandardError();
        indexMisses = QRegularExpression("index misses: \\d+").match(QString(err)).captured().toUtf8();
        return decoder.readAllStandardOutput();
    };
    // Frames lost on the way, so the recording has index misses to keep.
    QCOMPARE(runSim({"--seed", "9", "--count", "900", "--drop", "0.05", "--out", file("lossy.bin")}).exitCode, 0);
    QByteArray misses, missesAgain;
    QByteArray recording = decodeWithTool("lossy.bin", misses);
    QVERIFY2(misses.size() > 15 && !misses.endsWith(" 0"), misses.constData());
    QByteArray replayed = recording;
    if (timed) {
        // As the host read them: 10 ms apart with a little jitter, and a
        // burst of two sharing one instant.
        QDateTime when = QDateTime::fromString("2026-12-08T23:59:59.990+01:00", Qt::ISODateWithMs);
        QList<QByteArray> rows = recording.split('\n');
        for (int i = 1; i + 1 < rows.size(); ++i, when = when.addMSecs(i % 7 ? 9 + i % 3 : 0))
            rows[i].prepend(when.toString(Qt::ISODateWithMs).toLatin1());
        replayed = rows.join('\n');
        QVERIFY(replayed.contains("2026-12-09T00:00:0"));
    }
    QFile csv(file("replayed.csv"));
    QVERIFY(csv.open(QIODevice::WriteOnly) && csv.write(replayed) == replayed.size());
    csv.close();
    const Run run = runSim({"--replay", file("replayed.csv"), "--speed", "20", "--out", file("replayed.bin")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(decodeWithTool("replayed.bin", missesAgain), recording);
    QCOMPARE(missesAgain, misses);
}

void TestSim::captureReplaysByteForByte()
{
    QCOMPARE(runSim({"--seed", "4", "--count", "500", "--corrupt", "0.05", "--garbage", "0.1", "--out",
                     file("faulty.bin")})
                 .exitCode,
             0);
    QCOMPARE(runSim({"--replay", file("faulty.bin"), "--out", file("again.bin")}).exitCode, 0);
    QVERIFY(contents("faulty.bin").size() > 500 * Parser::FrameSize);
    QCOMPARE(contents("again.bin"), contents("faulty.bin"));
    // Faults would change what the capture holds; they are refused.
    QCOMPARE(runSim({"--replay", file("faulty.bin"), "--drop", "0.1", "--out", file("never.bin")}).exitCode, 2);
}

// Fixed seeds, so nothing flakes, and five standard errors: a variance of n
// normal values errs by sqrt(2 / n) of itself. Rounding to 1 mg adds 1/12 mg^2.
void TestSim::stillBoardHasItsFigures_data()
{
    QTest::addColumn<QStringList>("board");
    QTest::addColumn<double>("fs");
    QTest::addColumn<double>("drift"); // deg/min
    QTest::addColumn<int>("span");     // 0: white noise alone; else the walk alone, over this many frames
    const QStringList white {"--noise-density", "150,200,300", "--random-walk", "0", "--count"};
    QTest::newRow("100/s") << white + QStringList{"20000", "--yaw-drift", "3000"} << 100.0 << 3000.0 << 0;
    QTest::newRow("over the link") << white + QStringList{"3000", "--rate", "1000", "--yaw-drift", "-3000"}
                                   << LinkFramesPerSecond << -3000.0 << 0;
    QTest::newRow("walk") << QStringList{"--noise-density", "0", "--random-walk", "2000,4000,8000", "--count",
                                         "1000000"} << 100.0 << 0.4 << 500;
}

void TestSim::stillBoardHasItsFigures()
{
    QFETCH(QStringList, board);
    QFETCH(double, fs);
    QFETCH(double, drift);
    QFETCH(int, span);
    const QStringList arguments {"--still", "--bias", "4,-3,2", "--angle-noise", "0", "--out", file("s.bin")};
    QCOMPARE(runSim(arguments + board).exitCode, 0);
    const QByteArray capture = contents("s.bin");
    QVERIFY2(board.contains("--rate") || (runSim(arguments + board).exitCode == 0 && contents("s.bin") == capture),
             "the same seed gave another stream");
    const QList<UART_RCV> records = decode(capture).records;
    const double n = records.size(), truth[] = {4, -3, -998};
    const QStringList figures = board[board.indexOf(span ? "--random-walk" : "--noise-density") + 1].split(',');
    double sum[3] = {}, squares[3] = {}, last[3] = {}, yaw = 0, st = 0, sy = 0, stt = 0, sty = 0;
    for (int i = 0; i < records.size(); ++i) {
        UART_RCV shown = records[i];
        RecordFormat::remap(shown);
        const double axes[] = {double(shown.accel1), double(shown.accel2), double(shown.accel3)}, t = i / fs;
        for (int a = 0; a < 3 && (!span || i % span == 0); ++a) {
            const double x = span ? axes[a] - std::exchange(last[a], axes[a]) : axes[a] - truth[a];
            sum[a] += x, squares[a] += i || !span ? x * x : 0;
        }
        QVERIFY(shown.angle1 > -18000 && shown.angle1 <= 18000);
        yaw += std::remainder(shown.angle1 / 100.0 - yaw, 360.0); // unwrapped
        st += t, sy += yaw, stt += t * t, sty += t * yaw;
    }
    for (int a = 0; a < 3; ++a) { // white: sigma^2 = N^2 fs; the walk over T: K^2 T, twice rounded
        const double k = figures[a].toDouble() / 1000, count = span ? n / span - 1 : n, mean = sum[a] / count;
        const double variance = span ? k * k * span / fs + 2.0 / 12 : k * k * fs + 1.0 / 12;
        const double measured = squares[a] / count - (span ? 0 : mean * mean);
        QVERIFY2(std::fabs(measured / variance - 1) < 5 * std::sqrt(2 / count)
                     && (span || std::fabs(mean) < 5 * std::sqrt(variance / n)),
                 qPrintable(QString("%1: mean %2, %3 of %4").arg(a).arg(mean).arg(measured).arg(variance)));
    }
    // Rounding (0.005 deg at most) tilts a line over T s by 0.015 / T deg/s at most.
    const double slope = (n * sty - st * sy) / (n * stt - st * st) * 60;
    QVERIFY2(std::fabs(slope - drift) < 0.015 * fs / n * 60, qPrintable(QString::number(slope)));
}

void TestSim::imuNoiseReadsTheStillBoardsFigures()
{
#ifndef IMU_NOISE_PATH
    QSKIP("imu-noise is not part of this build");
#else
    // 30 s at the link's rate show N and the drift, not yet the walk (past sqrt(3) N / K).
    const double n = 18190, span = n / LinkFramesPerSecond, density[] = {150, 200, 300}, drift = -0.4;
    QCOMPARE(runSim({"--still", "--noise-density", "150,200,300", "--random-walk", "5", "--yaw-drift", "-0.4",
                     "--rate", "max", "--count", "18190", "--out", file("cap.bin")})
                 .exitCode, 0);
    QProcess tool;
    tool.start(QStringLiteral(IMU_NOISE_PATH), {"--json", file("cap.bin")});
    QVERIFY(tool.waitForFinished(60000) && tool.exitCode() == 0);
    const QJsonArray channels = QJsonDocument::fromJson(tool.readAllStandardOutput())["channels"].toArray();
    for (int a = 0; a < 3; ++a) {
        // The fit weighs octaves by 1 / e^2 (their edf): it errs at most as they do, so weighted, however correlated.
        const QJsonValue c = channels[3 + a], fit = c["white_noise"];
        double sum = 0, weights = 0;
        for (const QJsonValue p : c["adev"].toArray()) {
            const double e = (p["hi"].toDouble() - p["lo"].toDouble()) / 2 / p["dev"].toDouble();
            const double tau = p["tau_s"].toDouble();
            if (tau >= fit["fit_from_tau_s"].toDouble() && tau <= fit["fit_to_tau_s"].toDouble())
                sum += 1 / e, weights += 1 / (e * e);
        }
        const double rounding = 1e3 / std::sqrt(12 * LinkFramesPerSecond), value = fit["value"].toDouble();
        const double expected = std::hypot(density[a], rounding), tolerance = 5 * sum / weights;
        QVERIFY2(tolerance < 0.2 && std::fabs(value / expected - 1) < tolerance,
                 qPrintable(QString("%1 of %2").arg(value).arg(expected)));
    }
    // The yaw's 0.01 deg of noise and its rounding over sqrt(n T^2 / 12).
    const double error = std::sqrt(1e-4 + 1e-4 / 12) * std::sqrt(12 / n) / span * 60;
    const double slope = channels[0]["drift_deg_per_min"].toDouble();
    QVERIFY2(std::fabs(slope - drift) < 5 * error, qPrintable(QString::number(slope)));
#endif
}

void TestSim::hostInputFindsSplitResetCommand()
{
    const QByteArray command = HostInput::ResetCommand;
    QCOMPARE(command.size(), 13);
    for (int cut = 0; cut <= command.size(); ++cut) {
        HostInput input;
        QList<HostInput::Event> events = input.feed(command.left(cut));
        events += input.feed(command.mid(cut));
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].kind, HostInput::Event::Reset);
    }
    // One byte at a time, twice in a row.
    HostInput input;
    int resets = 0;
    for (char c : command + command)
        for (const HostInput::Event& e : input.feed(QByteArray(1, c)))
            resets += e.kind == HostInput::Event::Reset ? 1 : 100;
    QCOMPARE(resets, 2);
    QVERIFY(input.flush().isEmpty());
}

void TestSim::hostInputReportsOtherBytes()
{
    HostInput input;
    QList<HostInput::Event> events = input.feed("hello$$MIB,RESET*87$MIB,RES");
    QCOMPARE(events.size(), 2);
    QCOMPARE(events[0].kind, HostInput::Event::Ignored);
    QCOMPARE(events[0].bytes, QByteArray("hello$"));
    QCOMPARE(events[1].kind, HostInput::Event::Reset);
    // The kept prefix turns out not to be the command.
    events = input.feed("CUE");
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].bytes, QByteArray("$MIB,RESCUE"));
    // A prefix left at the end of the stream is handed back.
    input.feed("$MIB");
    events = input.flush();
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].bytes, QByteArray("$MIB"));
    QCOMPARE(HostInput::describe(QByteArray("a\x01\"", 3)), QByteArray("\"a\\x01\\\"\""));
    QCOMPARE(HostInput::describe(QByteArray(100, 'x'), 4), QByteArray("\"xxxx\"..."));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
