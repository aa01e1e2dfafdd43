// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's simulated board in the monitor's window: listed first at start
// and after every Scan, and Connect shows its records.

#include "recordcsv.h"
#include "simulatedboard.h"
#include "widget.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <csignal>

namespace {
QList<PortEntry> fakeSystemPorts()
{
    return {{"ttyFAKE0", "USB serial"}, {"ttyFAKE1", ""}};
}

QStringList items(QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out.append(box->itemText(i));
    return out;
}

bool alive(qint64 pid)
{
    // A zombie has ended; only its parent has not collected it yet.
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
}
} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

private slots:
    void simulatedPortIsListedFirst();
    void connectShowsTheBoardAndResetRestartsIt();
    void failedStartLeavesTheRealPorts();
    void stopEndsTheSimulator();
    void simulatorEndsWithTheDemo();
    void helpNeedsNoDisplay();
    void replayIsListedFirstOrRefused();
    void stillBoardIsListedAsSuch();
    void windowRecordingReplaysAsShown();
    void killedRecordingReplays();
};

void TestDemo::simulatedPortIsListedFirst()
{
    SimulatedBoard board;
    QString error;
    QVERIFY2(board.start(SimulatedBoard::locateSimulator(), {}, error), qPrintable(error));
    QVERIFY(board.portPath().startsWith("/dev/"));

    Widget window(nullptr, board.portSource(fakeSystemPorts));
    auto* ports = window.findChild<QComboBox*>("ports_combobox");
    auto* connectButton = window.findChild<QPushButton*>("connect_button");
    const QStringList expected {board.portPath() + ": Simulated IMU board", "ttyFAKE0: USB serial",
                                "ttyFAKE1: "};
    QCOMPARE(items(ports), expected);
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(connectButton->isEnabled());

    for (int scan = 0; scan < 2; ++scan) {
        ports->setCurrentIndex(2);
        window.findChild<QPushButton*>("scan_button")->click();
        QCOMPARE(items(ports), expected);
        QCOMPARE(ports->currentIndex(), 0);
    }
}

void TestDemo::connectShowsTheBoardAndResetRestartsIt()
{
    SimulatedBoard board;
    QString error;
    QVERIFY2(board.start(SimulatedBoard::locateSimulator(), {}, error), qPrintable(error));
    Widget window(nullptr, board.portSource(fakeSystemPorts));
    auto* console = window.findChild<QPlainTextEdit*>("console");
    auto* connectButton = window.findChild<QPushButton*>("connect_button");

    // The user changes nothing and clicks Connect.
    connectButton->click();
    QCOMPARE(connectButton->text(), QString("Close"));
    QVERIFY(console->toPlainText().contains(board.portPath() + " is open"));
    QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().count("Ind: ") >= 50, 10000);
    QCOMPARE(window.findChild<QLineEdit*>("csum_miss_le")->text(), QString("0"));
    QCOMPARE(window.findChild<QLineEdit*>("index_miss_le")->text(), QString("0"));
    // Lying flat at first: the monitor shows the table's push as -1000 mg on Z.
    QVERIFY(console->toPlainText().contains(QRegularExpression("Zacc:  -(99\\d|100\\d) mg")));

    window.findChild<QPushButton*>("reset_imu_pb")->click();
    const QString tx = "SerialPort TX: $MIB,RESET*87";
    QVERIFY(console->toPlainText().contains(tx));
    // The board restarts at index 0, at rest.
    const QRegularExpression restart("Ind:   0; Yaw:    0.00; Pitch:    0.00; Roll:    0.00;");
    QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().mid(console->toPlainText().indexOf(tx)).contains(restart),
                             5000);

    connectButton->click();
    QCOMPARE(connectButton->text(), QString("Open"));
    QVERIFY(board.isRunning());
}

void TestDemo::failedStartLeavesTheRealPorts()
{
    SimulatedBoard board;
    QString error;
    QVERIFY(!board.start("/nonexistent/imu-sim", {}, error));
    QVERIFY2(error.contains("/nonexistent/imu-sim"), qPrintable(error));
    QVERIFY(!error.contains('\n'));
    QVERIFY(!board.isRunning());

    // A program that ends without naming a pseudo-terminal.
    QVERIFY(!board.start("/bin/true", {}, error));
    QVERIFY2(error.contains("ended"), qPrintable(error));
    QVERIFY(!board.start({}, {}, error));
    QVERIFY2(error.contains("imu-sim"), qPrintable(error));

    Widget window(nullptr, board.portSource(fakeSystemPorts));
    auto* ports = window.findChild<QComboBox*>("ports_combobox");
    QCOMPARE(items(ports), QStringList({"ttyFAKE0: USB serial", "ttyFAKE1: "}));
}

void TestDemo::stopEndsTheSimulator()
{
    qint64 pid = 0;
    {
        SimulatedBoard board;
        QString error;
        QVERIFY2(board.start(SimulatedBoard::locateSimulator(), {}, error), qPrintable(error));
        Widget window(nullptr, board.portSource(fakeSystemPorts));
        auto* ports = window.findChild<QComboBox*>("ports_combobox");
        QCOMPARE(ports->count(), 3);
        // Found by its pseudo-terminal: this test's only child is the board.
        const QStringList children = QString::fromLatin1([] {
            QFile f(QString("/proc/%1/task/%1/children").arg(QCoreApplication::applicationPid()));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }()).split(' ', Qt::SkipEmptyParts);
        QCOMPARE(children.size(), 1);
        pid = children.first().toLongLong();
        QVERIFY(alive(pid));

        board.stop();
        QVERIFY(!alive(pid));
        QVERIFY(!board.isRunning());
        // Gone from the list at the next Scan, leaving the real ports.
        window.findChild<QPushButton*>("scan_button")->click();
        QCOMPARE(items(ports), QStringList({"ttyFAKE0: USB serial", "ttyFAKE1: "}));
    }
}

void TestDemo::simulatorEndsWithTheDemo()
{
    // The demo killed outright, without closing its window, still takes its
    // board with it.
    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    demo.setProcessEnvironment(env);
    demo.start(QStringLiteral(IMU_DEMO_PATH), {"--connect"});
    QVERIFY(demo.waitForStarted(10000));
    const QString childrenPath = QString("/proc/%1/task/%1/children").arg(demo.processId());
    qint64 pid = 0;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 QFile f(childrenPath);
                                 const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : "";
                                 pid = text.split(' ').first().toLongLong();
                                 return pid > 0;
                             }()),
                             10000);
    QTest::qWait(500);
    QVERIFY(alive(pid));
    ::kill(pid_t(demo.processId()), SIGKILL);
    QVERIFY(demo.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!alive(pid), 5000);
}

void TestDemo::helpNeedsNoDisplay()
{
    // As over ssh without X forwarding: no display of any kind, and the
    // toolkit left to pick its window system, which then has none to open.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    QProcess demo;
    demo.setProcessEnvironment(env);
    demo.start(QStringLiteral(IMU_DEMO_PATH), {"--help"});
    QVERIFY(demo.waitForFinished(10000));
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QVERIFY2(demo.exitCode() == 0, demo.readAllStandardError().constData());
    const QString help = demo.readAllStandardOutput();
    QVERIFY2(help.contains("--connect") && help.contains("Starts imu-sim"), qPrintable(help));
}

void TestDemo::replayIsListedFirstOrRefused()
{
    QTemporaryDir dir;
    QFile good(dir.filePath("board.csv")), bad(dir.filePath("bad.csv"));
    QByteArray csv = RecordCsv::Header;
    RecordCsv::appendRow(csv, {}, {1, 100, -200, 0, 0, 0, 0});
    QVERIFY(good.open(QIODevice::WriteOnly) && good.write(csv) == csv.size());
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(csv + "2,x\n") > 0);
    good.close();
    bad.close();

    SimulatedBoard board;
    QString error;
    QVERIFY2(board.startReplay(SimulatedBoard::locateSimulator(), good.fileName(), error), qPrintable(error));
    Widget window(nullptr, board.portSource(fakeSystemPorts));
    QCOMPARE(items(window.findChild<QComboBox*>("ports_combobox")).value(0),
             board.portPath() + ": Replay of board.csv");

    // A file imu-sim refuses: its line, status 2, and no window.
    QProcess demo;
    demo.start(QStringLiteral(IMU_DEMO_PATH), {"--replay", bad.fileName()});
    QVERIFY(demo.waitForFinished(10000));
    QCOMPARE(demo.exitCode(), 2);
    const QString err = demo.readAllStandardError();
    QVERIFY2(err.contains("imu-sim: " + bad.fileName() + ":3: the row has 2 fields"), qPrintable(err));
}

void TestDemo::stillBoardIsListedAsSuch()
{
    SimulatedBoard board;
    QString error;
    QVERIFY2(board.startStill(SimulatedBoard::locateSimulator(), {"--seed", "3"}, error), qPrintable(error));
    Widget window(nullptr, board.portSource(fakeSystemPorts));
    QCOMPARE(items(window.findChild<QComboBox*>("ports_combobox")).value(0),
             board.portPath() + ": Simulated still IMU board");
}

// What a window showed, recorded, plays back through the monitor as the same
// record lines and the same index-miss count.
void TestDemo::windowRecordingReplaysAsShown()
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QStandardPaths::setTestModeEnabled(true);
    auto recordLines = [](Widget& window) {
        QStringList out;
        for (const QString& line : window.findChild<QPlainTextEdit*>("console")->toPlainText().split('\n'))
            if (line.mid(15).startsWith("Ind:"))
                out.append(line.mid(15));
        return out;
    };
    auto indexMisses = [](Widget& window) { return window.findChild<QLineEdit*>("index_miss_le")->text(); };

    // Recorded from before the port opens until after it closes: every
    // record shown is in the file. Dropped frames make index misses.
    SimulatedBoard board;
    QString error;
    QVERIFY2(board.start(SimulatedBoard::locateSimulator(), {"--seed", "9", "--drop", "0.05", "--rate", "300"}, error),
             qPrintable(error));
    QStringList shown;
    QString misses, path;
    {
        Widget window(nullptr, board.portSource({}));
        window.findChild<QPushButton*>("record_pb")->click();
        window.findChild<QPushButton*>("connect_button")->click();
        QTRY_VERIFY_WITH_TIMEOUT(recordLines(window).size() >= 400, 10000);
        window.findChild<QPushButton*>("connect_button")->click();
        window.findChild<QPushButton*>("record_pb")->click();
        shown = recordLines(window);
        misses = indexMisses(window);
        const QRegularExpression stoppedLine("Recording stopped: (\\d+) records in (.*)$");
        QRegularExpressionMatch stopped;
        QTRY_VERIFY((stopped = stoppedLine.match(window.findChild<QPlainTextEdit*>("console")->toPlainText())).hasMatch());
        QCOMPARE(stopped.captured(1).toInt(), shown.size());
        path = stopped.captured(2);
    }
    board.stop();
    QVERIFY(misses.toInt() > 0);

    // Replayed: once the replay has ended, with the port kept open, Reset
    // IMU plays it again from its first row, into a window of its own.
    QVERIFY2(board.startReplay(SimulatedBoard::locateSimulator(), path, error), qPrintable(error));
    {
        Widget firstPass(nullptr, board.portSource({}));
        firstPass.findChild<QPushButton*>("connect_button")->click();
        for (int before = -1; before != recordLines(firstPass).size(); QTest::qWait(500))
            before = recordLines(firstPass).size();
    }
    Widget window(nullptr, board.portSource({}));
    window.findChild<QPushButton*>("connect_button")->click();
    window.findChild<QPushButton*>("reset_imu_pb")->click();
    QTRY_VERIFY_WITH_TIMEOUT(recordLines(window).size() >= shown.size(), 10000);
    QTest::qWait(200);
    QCOMPARE(recordLines(window), shown);
    QCOMPARE(indexMisses(window), misses);
}

// A monitor killed while it records leaves whole rows, which replay.
void TestDemo::killedRecordingReplays()
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.remove("XDG_DOCUMENTS_DIR");
    env.remove("XDG_CONFIG_HOME");
    QProcess demo;
    demo.setProcessEnvironment(env);
    demo.start(QStringLiteral(IMU_DEMO_PATH), {"--connect", "--record"});
    QVERIFY(demo.waitForStarted(10000));
    const QDir folder(home.filePath("Documents/Telvorin IMU"));
    auto recorded = [&] {
        const QStringList files = folder.entryList({"*.csv"}, QDir::Files);
        return files.isEmpty() ? QString() : folder.filePath(files.first());
    };
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(recorded()).size() > 20000, 15000);
    ::kill(pid_t(demo.processId()), SIGKILL);
    QVERIFY(demo.waitForFinished(5000));

    QFile file(recorded());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray rows = file.readAll();
    QVERIFY(rows.endsWith('\n'));
    QProcess sim;
    sim.start(SimulatedBoard::locateSimulator(), {"--replay", recorded(), "--speed", "1000", "--out", home.filePath("replayed.bin")});
    QVERIFY(sim.waitForFinished(30000));
    const QByteArray err = sim.readAllStandardError();
    QVERIFY2(sim.exitCode() == 0 && err.contains(" rows, paced by host_time"), err.constData());
    QCOMPARE(QFileInfo(home.filePath("replayed.bin")).size(), (rows.count('\n') - 1) * Parser::FrameSize);
}

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"
