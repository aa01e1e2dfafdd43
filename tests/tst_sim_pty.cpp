// SPDX-License-Identifier: GPL-3.0-or-later
// imu-sim on its pseudo-terminal, seen from the host's end: the reset
// command, other input, a host that closes and reopens the port, the pulled
// cable and the stop signals; and imu-sim on a serial device it is given.

#include "hostinput.h"
#include "pseudoterminal.h"
#include "recordcsv.h"
#include "tst_sim_support.h"

#include <QtTest>

#include <csignal>

using namespace SimSupport;

namespace {
// A running simulator and the path it printed.
struct LiveSim
{
    QProcess process;
    QByteArray path;

    bool start(const QStringList& arguments)
    {
        process.start(QStringLiteral(IMU_SIM_PATH), arguments);
        if (!process.waitForStarted(10000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && clock.elapsed() < 10000)
            process.waitForReadyRead(100);
        path = process.readLine().trimmed();
        return path.startsWith("/dev/");
    }
    QByteArray finish()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(10000);
        }
        return process.readAllStandardError();
    }
    ~LiveSim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

QList<quint8> indices(const Decoded& d)
{
    QList<quint8> out;
    for (const UART_RCV& r : d.records)
        out.append(r.index);
    return out;
}

QList<quint8> run(int from, int count)
{
    QList<quint8> out;
    for (int i = from; i < from + count; ++i)
        out.append(quint8(i));
    return out;
}
} // namespace

class TestSimPty : public QObject
{
    Q_OBJECT

private slots:
    void resetRestartsIndexAndMotion();
    void otherInputIsReportedAndIgnored();
    void hostMayCloseAndReopen();
    void disconnectAfterClosesAndEnds();
    void portDeviceStreamsResetsAndEndsOnHangUp();
    void portThatCannotBeOpenedIsStatus1_data();
    void portThatCannotBeOpenedIsStatus1();
    void stopSignalsEndCleanly_data();
    void stopSignalsEndCleanly();
    void replayEndsWithThePortOpenAndRestartsOnReset();
    void replayLoops();

private:
    QTemporaryDir dir;
    // 40 rows without host_time, indices 100 to 139.
    QString recording();
};

QString TestSimPty::recording()
{
    QByteArray csv = RecordCsv::Header;
    for (int i = 0; i < 40; ++i)
        RecordCsv::appendRow(csv, {}, {quint8(100 + i), qint16(i), 0, 0, 0, 0, -1000});
    QFile file(dir.filePath("forty.csv"));
    return file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() ? file.fileName() : QString();
}


void TestSimPty::resetRestartsIndexAndMotion()
{
    LiveSim sim;
    QVERIFY(sim.start({"--rate", "200"}));
    HostPort port(sim.path);
    QVERIFY(port.isOpen());
    // Past the first second of rest, so the board is moving.
    const Decoded before = decode(port.read(1700));
    QVERIFY(before.records.size() > 100);
    QCOMPARE(before.checksumMisses, 0u);
    QCOMPARE(before.indexMisses, 0u);
    const UART_RCV moving = before.records.last();
    QVERIFY(moving.angle1 != 0 || moving.angle2 != 0 || moving.angle3 != 0);

    // The command split across two writes, as a serial line may deliver it.
    QVERIFY(port.write("$MIB,RE"));
    QTest::qWait(20);
    QVERIFY(port.write("SET*87"));
    const Decoded after = decode(port.read(600));
    const QList<quint8> seen = indices(after);
    const int zero = seen.indexOf(0);
    QVERIFY2(zero >= 0, "no index 0 after the reset");
    // Only the frames already on their way come before the restart (at 200
    // frames/s, 40 are 200 ms: room for a loaded machine to wake late), and
    // the index then counts up from 0 again.
    QVERIFY2(zero < 40, qPrintable(QString::number(zero)));
    QVERIFY(seen.size() > zero + 50);
    for (int i = zero; i < seen.size(); ++i)
        QCOMPARE(int(seen[i]), i - zero);
    // Motion from rest: flat and still again.
    for (int i = zero; i < seen.size(); ++i) {
        QCOMPARE(after.records[i].angle1, qint16(0));
        QCOMPARE(after.records[i].angle3, qint16(0));
        QVERIFY(qAbs(after.records[i].accel3 - 1000) <= 8);
    }
    port.close();
    const QByteArray err = sim.finish();
    QVERIFY2(err.contains("imu-sim: reset command received"), err.constData());
    QVERIFY(!err.contains("ignored"));
}

void TestSimPty::otherInputIsReportedAndIgnored()
{
    LiveSim sim;
    QVERIFY(sim.start({"--rate", "200"}));
    HostPort port(sim.path);
    QVERIFY(port.isOpen());
    QByteArray bytes = port.read(300);
    QVERIFY(port.write("hello\n"));
    bytes += port.read(300);
    const Decoded d = decode(bytes);
    QVERIFY(d.records.size() > 50);
    // The stream runs on undisturbed.
    QCOMPARE(d.indexMisses, 0u);
    QVERIFY(!indices(d).mid(1).contains(0));
    port.close();
    const QByteArray err = sim.finish();
    QVERIFY2(err.contains("imu-sim: ignored 6 bytes from the host: \"hello\\x0a\""), err.constData());
    QVERIFY(!err.contains("reset"));
}

void TestSimPty::hostMayCloseAndReopen()
{
    LiveSim sim;
    QVERIFY(sim.start({"--rate", "200"}));
    {
        HostPort port(sim.path);
        QVERIFY(port.isOpen());
        QVERIFY(decode(port.read(300)).records.size() > 20);
    }
    // Nobody on the port for a while: the simulator carries on.
    QTest::qWait(400);
    QCOMPARE(sim.process.state(), QProcess::Running);
    HostPort port(sim.path);
    QVERIFY(port.isOpen());
    const Decoded d = decode(port.read(400));
    QVERIFY(d.records.size() > 40);
    // The frames sent while the port was closed are lost, not stored up:
    // the first ones after reopening are current and the sequence is whole.
    QCOMPARE(d.checksumMisses, 0u);
    QCOMPARE(d.indexMisses, 0u);
    QCOMPARE(d.droppedBytes, 0ull);
    QVERIFY(d.records.size() < 120);
    port.close();
    const QByteArray err = sim.finish();
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(summary(err).found);
    QVERIFY2(err.contains("frames lost while nobody was reading the port"), err.constData());
}

void TestSimPty::disconnectAfterClosesAndEnds()
{
    LiveSim sim;
    QVERIFY(sim.start({"--rate", "100", "--disconnect-after", "0.8"}));
    HostPort port(sim.path);
    QVERIFY(port.isOpen());
    bool ended = false;
    const QByteArray bytes = port.read(5000, &ended);
    // The host sees the device go away, and the simulator has ended.
    QVERIFY(ended);
    QVERIFY(decode(bytes).records.size() > 30);
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(summary(sim.process.readAllStandardError()).found);
}

void TestSimPty::portDeviceStreamsResetsAndEndsOnHangUp()
{
    // A pseudo-terminal made here stands in for the board's end of a gadget:
    // the simulator is given its slave, the test holds the master.
    PseudoTerminal line;
    QVERIFY2(line.isOpen(), qPrintable(line.errorString()));
    QProcess sim;
    sim.start(QStringLiteral(IMU_SIM_PATH), {"--port", line.slavePath(), "--rate", "200"});
    QVERIFY(sim.waitForStarted(10000));

    const Decoded before = decode(line.read(600));
    QVERIFY(before.records.size() > 50);
    QCOMPARE(before.indexMisses, 0u);
    QCOMPARE(before.droppedBytes, 0ull);

    QVERIFY(line.write("$MIB,RESET*87"));
    const Decoded after = decode(line.read(400));
    QVERIFY(indices(after).contains(0));

    // Pulling the host's end is the device hanging up: the run ends as a
    // lost port, with the summary.
    line.close();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 3);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
    const QByteArray err = sim.readAllStandardError();
    QVERIFY2(err.contains("imu-sim: reset command received"), err.constData());
    QVERIFY2(err.contains(line.slavePath().toUtf8() + " hung up"), err.constData());
    QVERIFY2(!err.contains("ignored"), err.constData());
    QVERIFY(summary(err).found);
}

void TestSimPty::portThatCannotBeOpenedIsStatus1_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("says");
    QTest::newRow("missing") << "/dev/ttyNoSuchDevice" << QByteArray("cannot open");
    QTest::newRow("not a tty") << "/dev/null" << QByteArray("is not a serial device");
}

void TestSimPty::portThatCannotBeOpenedIsStatus1()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, says);
    const Run run = runSim({"--port", device});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY2(run.err.startsWith("imu-sim: ") && run.err.contains(says), run.err.constData());
}

void TestSimPty::stopSignalsEndCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimPty::stopSignalsEndCleanly()
{
    QFETCH(int, signal);
    LiveSim sim;
    QVERIFY(sim.start({"--rate", "max"}));
    HostPort port(sim.path);
    port.read(200);
    ::kill(pid_t(sim.process.processId()), signal);
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    const Summary s = summary(sim.process.readAllStandardError());
    QVERIFY(s.found);
    QVERIFY(s.sent > 0);
}

void TestSimPty::replayEndsWithThePortOpenAndRestartsOnReset()
{
    LiveSim sim;
    // 100 rows a second: 0.4 s a pass.
    QVERIFY(sim.start({"--replay", recording(), "--rate", "100"}));
    HostPort port(sim.path);
    QVERIFY(port.isOpen());
    port.read(800); // the first pass, gone before the port was open or read here
    QVERIFY(port.write(HostInput::ResetCommand));
    QByteArray bytes = port.read(150);
    // A reset in the middle starts again from the first row.
    QVERIFY(port.write(HostInput::ResetCommand));
    bool ended = false;
    bytes += port.read(900, &ended);
    const QList<quint8> seen = indices(decode(bytes));
    const int restart = seen.indexOf(100, 1);
    QVERIFY2(restart >= 3 && restart < 40, qPrintable(QString::number(restart)));
    QCOMPARE(seen.mid(0, restart), run(100, restart));
    QCOMPARE(seen.mid(restart), run(100, 40));
    // At the end: silence, but no hang-up, and the simulator keeps serving.
    QVERIFY(port.read(300, &ended).isEmpty());
    QVERIFY(!ended);
    QCOMPARE(sim.process.state(), QProcess::Running);
    port.close();
    const QByteArray err = sim.finish();
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY2(err.contains("end of ") && err.count("reset command received") == 2, err.constData());
}

void TestSimPty::replayLoops()
{
    LiveSim sim;
    QVERIFY(sim.start({"--replay", recording(), "--loop"}));
    HostPort port(sim.path);
    QVERIFY(port.isOpen());
    // At the link's full rate a pass takes 66 ms: several passes in a row.
    const QList<quint8> seen = indices(decode(port.read(400)));
    QVERIFY2(seen.size() > 80, qPrintable(QString::number(seen.size())));
    for (int i = 1; i < seen.size(); ++i)
        QCOMPARE(int(seen[i]), seen[i - 1] == 139 ? 100 : seen[i - 1] + 1);
}

QTEST_GUILESS_MAIN(TestSimPty)
#include "tst_sim_pty.moc"
