// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor on real USB serial drivers, inside the guest that run-vm.sh
// boots: an FTDI adapter (ftdi_sio, ttyUSB0) whose board is imu-sim on the
// host, and a CDC-ACM device (cdc_acm, ttyACM0) made of the guest's own USB
// gadget, whose board is imu-sim on the gadget's end (ttyGS0). The window is
// driven through its form, with the system's own port list; the boards'
// record logs say what the console must show, and what they heard from the
// host says what the monitor sent.

#include "recordformat.h"
#include "tst_sim_support.h"
#include "widget.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

const QString ResetCommand = QStringLiteral("$MIB,RESET*87");
const QString UnavailableLine = QStringLiteral(
    "Serial port becomes unavailable. Please check the connection and try to connect again (after re-scan)");
constexpr int UnplugCycles = 4;
constexpr int QuietMs = 2000;
constexpr int ReconnectBoundMs = 5000;
// A device that was just plugged in starts with its driver's cooked, echoing
// settings, and the driver reads from the moment it is opened: what the
// board sends before the window has made the port raw is echoed back by the
// kernel, and nothing can come before the open. Measured under TCG with the
// board already streaming: 0 to 50 bytes (control bytes echo as two, "^C").
// Later opens find the raw settings the last close left and must echo
// nothing.
constexpr int FirstOpenEchoBoundBytes = 256;

QString runPath(const QString& name)
{
    return qEnvironmentVariable("IMU_RUN") + QLatin1Char('/') + name;
}

// One run of a board, from its record log and its standard error.
struct BoardRun
{
    QStringList sentLines; // the console line of every frame sent whole, in order
    int corrupted = 0;
    int indexGaps = 0;      // places where frames that did not arrive break the sequence
    int resetRow = -1;      // in sentLines: the first record after a reset
    int resets = 0;
    int strayBytes = 0;     // anything else the board received
    QStringList report;     // the board's own lines, for the log
};

BoardRun readRun(const QString& name)
{
    BoardRun run;
    bool missing = false;
    int previousIndex = -1;
    for (const SimSupport::CsvRecord& row : SimSupport::readRecords(runPath(name + ".csv"))) {
        UART_RCV r = row.record;
        const int index = r.index;
        if (index == 0 && previousIndex >= 0 && previousIndex != 255 && run.resetRow < 0)
            run.resetRow = run.sentLines.size();
        previousIndex = index;
        if (row.fate != "sent") {
            run.corrupted += row.fate == "corrupt";
            missing = true;
            continue;
        }
        if (missing && !run.sentLines.isEmpty())
            ++run.indexGaps;
        missing = false;
        RecordFormat::remap(r);
        run.sentLines << RecordFormat::consoleLine(r);
    }
    QFile err(runPath(name + ".err"));
    if (err.open(QIODevice::ReadOnly)) {
        static const QRegularExpression ignored(QStringLiteral("ignored (\\d+) bytes from the host"));
        for (const QString& line : QString::fromUtf8(err.readAll()).split('\n', Qt::SkipEmptyParts)) {
            run.report << line;
            run.resets += line.contains(QLatin1String("reset command received"));
            const QRegularExpressionMatch m = ignored.match(line);
            if (m.hasMatch())
                run.strayBytes += m.captured(1).toInt();
        }
    }
    return run;
}

// The far end of one USB serial device: the board on it, and its plug.
class Board
{
public:
    virtual ~Board() = default;
    virtual QString portName() const = 0;
    virtual QString description() const = 0;
    virtual bool isPlugged() const = 0;
    virtual bool plug() = 0;
    virtual bool unplug() = 0;
    // imu-sim on the board's end with these options; records to NAME.csv,
    // standard error to NAME.err.
    virtual bool start(const QString& name, const QStringList& options) = 0;
    // Its exit status once it has ended: by itself, or stopped.
    virtual int wait() = 0;
    virtual int stop() = 0;
};

// The FTDI adapter: QEMU's, served by run-vm.sh on the host through the
// guest's second serial port, one request and one answer per line.
class FtdiBoard : public Board
{
public:
    FtdiBoard()
    {
        control.setPortName(QStringLiteral("ttyS1"));
        control.setBaudRate(QSerialPort::Baud115200);
        control.open(QIODevice::ReadWrite);
    }
    bool isConnected() const { return control.isOpen(); }
    QString portName() const override { return QStringLiteral("ttyUSB0"); }
    QString description() const override { return QStringLiteral("QEMU USB SERIAL"); }
    bool isPlugged() const override { return plugged; }
    bool plug() override { return plugged = request("plug") == "ok"; }
    bool unplug() override
    {
        plugged = false;
        return request("unplug") == "ok";
    }
    bool start(const QString& name, const QStringList& options) override
    {
        return request("start " + name + ' ' + options.join(' ')) == "ok";
    }
    int wait() override { return status(request("wait")); }
    int stop() override { return status(request("stop")); }

private:
    // The window keeps running meanwhile: the board must not wait for it.
    QString request(const QString& line)
    {
        control.write((line + '\n').toUtf8());
        if (!QTest::qWaitFor([this] { return control.canReadLine(); }, 60000))
            return QString();
        const QString answer = QString::fromUtf8(control.readLine()).trimmed();
        if (answer.startsWith("error"))
            qWarning("host: %s", qPrintable(answer));
        return answer;
    }
    static int status(const QString& answer)
    {
        return answer.startsWith("exit ") ? answer.mid(5).toInt() : -1;
    }

    QSerialPort control;
    bool plugged = false;
};

// The guest's own USB gadget on its dummy controller, looped back into the
// guest's USB host side: cdc_acm sees a board with native USB.
class GadgetBoard : public Board
{
public:
    QString portName() const override { return QStringLiteral("ttyACM0"); }
    QString description() const override { return QStringLiteral("Gadget Serial v2.4"); }
    bool isPlugged() const override { return plugged; }
    bool plug() override { return plugged = controller("bind"); }
    bool unplug() override
    {
        plugged = false;
        return controller("unbind");
    }
    bool start(const QString& name, const QStringList& options) override
    {
        sim.reset(new QProcess);
        sim->setStandardErrorFile(runPath(name + ".err"));
        sim->start(QStringLiteral(IMU_SIM_PATH),
                   QStringList {"--port", "/dev/ttyGS0", "--records", runPath(name + ".csv")} + options);
        return sim->waitForStarted(10000);
    }
    int wait() override
    {
        if (!sim || !QTest::qWaitFor([this] { return sim->state() == QProcess::NotRunning; }, 60000))
            return -1;
        return sim->exitStatus() == QProcess::NormalExit ? sim->exitCode() : -1;
    }
    int stop() override
    {
        if (sim && sim->state() != QProcess::NotRunning)
            sim->terminate();
        return wait();
    }

private:
    static bool controller(const char* action)
    {
        QFile file(QStringLiteral("/sys/bus/platform/drivers/dummy_udc/") + action);
        return file.open(QIODevice::WriteOnly) && file.write("dummy_udc.0") > 0 && file.flush();
    }

    std::unique_ptr<QProcess> sim;
    bool plugged = true; // the gadget is bound when the guest starts
};

// The monitor window, driven through its form.
class Window
{
public:
    Window()
    {
        widget.show();
        ports = widget.findChild<QComboBox*>("ports_combobox");
        scan = widget.findChild<QPushButton*>("scan_button");
        connect = widget.findChild<QPushButton*>("connect_button");
        reset = widget.findChild<QPushButton*>("reset_imu_pb");
        console = widget.findChild<QPlainTextEdit*>("console");
        csum = widget.findChild<QLineEdit*>("csum_miss_le");
        indexMiss = widget.findChild<QLineEdit*>("index_miss_le");
    }
    bool isReady() const { return ports && scan && connect && reset && console && csum && indexMiss; }

    // The console's lines without their time, from line FROM on. The runs
    // here stay below the console's cap, so no line scrolls out.
    QStringList lines(int from = 0) const
    {
        static const QRegularExpression time(QStringLiteral("^\\[[^\\]]*\\] "));
        QStringList out;
        const QStringList all = console->toPlainText().split('\n', Qt::SkipEmptyParts);
        for (int i = from; i < all.size(); ++i)
            out << QString(all[i]).remove(time);
        return out;
    }
    int lineCount() const { return console->toPlainText().split('\n', Qt::SkipEmptyParts).size(); }
    static bool isRecord(const QString& line) { return line.startsWith(QLatin1String("Ind:")); }
    QStringList records(int from = 0) const
    {
        QStringList out;
        for (const QString& line : lines(from))
            if (isRecord(line))
                out << line;
        return out;
    }

    QStringList scanned()
    {
        scan->click();
        QStringList items;
        for (int i = 0; i < ports->count(); ++i)
            items << ports->itemText(i);
        return items;
    }
    bool lists(const QString& portName)
    {
        for (const QString& item : scanned())
            if (item.startsWith(portName + ':'))
                return true;
        return false;
    }
    bool select(const QString& entry)
    {
        const int i = ports->findText(entry);
        ports->setCurrentIndex(i);
        return i >= 0;
    }

    Widget widget;
    QComboBox* ports = nullptr;
    QPushButton* scan = nullptr;
    QPushButton* connect = nullptr;
    QPushButton* reset = nullptr;
    QPlainTextEdit* console = nullptr;
    QLineEdit* csum = nullptr;
    QLineEdit* indexMiss = nullptr;
};

// True when LINES are SENT[k], SENT[k+1], ... for some k (k = 0 if FROMSTART).
bool isRunOf(const QStringList& lines, const QStringList& sent, bool fromStart, QString* why)
{
    const int k = lines.isEmpty() ? 0 : sent.indexOf(lines.first());
    if (k < 0 || (fromStart && k != 0)) {
        *why = "first line is not " + QString(fromStart ? "the first record sent" : "a record sent")
            + ": " + (lines.isEmpty() ? QString() : lines.first());
        return false;
    }
    for (int i = 0; i < lines.size(); ++i) {
        if (k + i >= sent.size() || lines[i] != sent[k + i]) {
            *why = QString("line %1 of %2 is\n  %3\nbut the board sent\n  %4")
                       .arg(i)
                       .arg(lines.size())
                       .arg(lines[i], k + i < sent.size() ? sent[k + i] : "nothing more");
            return false;
        }
    }
    return true;
}

bool isErrnoText(const QString& text)
{
    for (int e = 0; e <= 133; ++e)
        if (text == QString::fromLocal8Bit(std::strerror(e)))
            return true;
    return false;
}

} // namespace

class TestUsbVm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void monitorOnRealDriver_data();
    void monitorOnRealDriver();

private:
    bool openPort(Window& window, Board& board);
    void unplugWhileOpen(Window& window, Board& board, int cycle);
    void decoderOnRealDriver(Board& board);

    std::unique_ptr<FtdiBoard> ftdi;
    GadgetBoard gadget;
    QStringList errnoCauses; // error lines whose cause is a leftover errno text
};

void TestUsbVm::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("IMU_RUN"))
        QSKIP("runs inside the guest that tests/usb-vm/run-vm.sh boots");
    ftdi.reset(new FtdiBoard);
    QVERIFY2(ftdi->isConnected(), "no line to the host on ttyS1");
}

void TestUsbVm::monitorOnRealDriver_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("FTDI adapter") << "ftdi";
    QTest::newRow("CDC-ACM gadget") << "acm";
}

// Scan lists the device with its description; Connect opens it.
bool TestUsbVm::openPort(Window& window, Board& board)
{
    const QString entry = board.portName() + ": " + board.description();
    const int mark = window.lineCount();
    if (!QTest::qWaitFor([&] { return window.scanned().contains(entry); }, 15000)) {
        qWarning("not listed: %s in %s", qPrintable(entry), qPrintable(window.scanned().join(", ")));
        return false;
    }
    if (!window.select(entry))
        return false;
    window.connect->click();
    return window.lines(mark).contains(board.portName() + " is open");
}

// Pulls the device out while the window has it open and the board streams:
// one error line that says what happened, the unavailability line, the
// close, a port list without it, and then silence while the window watches
// for it.
void TestUsbVm::unplugWhileOpen(Window& window, Board& board, int cycle)
{
    const QString port = window.widget.findChild<QSerialPort*>()->portName();
    const int mark = window.lineCount();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(board.unplug());
    const QString closed = "Port " + port + " closed";
    QVERIFY2(QTest::qWaitFor([&] { return window.lines(mark).contains(closed); }, 10000),
             qPrintable(window.lines(mark).filter(QRegularExpression("^(?!Ind:)")).join('\n')));
    const qint64 closedMs = clock.elapsed();
    QTest::qWait(QuietMs);

    QStringList after = window.lines(mark);
    while (!after.isEmpty() && Window::isRecord(after.first()))
        after.removeFirst();
    QCOMPARE(after.size(), 3);
    QVERIFY2(after[0].startsWith("Serial port error: "), qPrintable(after[0]));
    const QString cause = after[0].mid(int(std::strlen("Serial port error: ")));
    qInfo("%s unplug %d: \"%s\"", qPrintable(port), cycle, qPrintable(after[0]));
    // Checked at the end, so that one run shows every fault at once.
    if (isErrnoText(cause))
        errnoCauses << after[0];
    QCOMPARE(after[1], UnavailableLine);
    QCOMPARE(after[2], closed);
    QVERIFY(!window.lists(port));
    qInfo("%s unplug %d: closed after %lld ms", qPrintable(port), cycle, closedMs);
}

void TestUsbVm::monitorOnRealDriver()
{
    QFETCH(QString, device);
    Board& board = device == "ftdi" ? static_cast<Board&>(*ftdi) : gadget;
    errnoCauses.clear();
    const QString port = board.portName();
    // Before the window, which would take the board back at each plug.
    decoderOnRealDriver(board);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(board.plug());
    Window window;
    QVERIFY(window.isReady());
    QStringList strayFaults;
    int resetsClicked = 0;
    int resetsHeard = 0;
    QStringList boardReports;
    // allowedStray: what the kernel may echo in the run's first open.
    auto finishRun = [&](const QString& name, int allowedStray) {
        const BoardRun run = readRun(name);
        if (run.strayBytes > allowedStray)
            strayFaults << QString("%1: %2 stray bytes, at most %3 allowed")
                               .arg(name)
                               .arg(run.strayBytes)
                               .arg(allowedStray);
        resetsHeard += run.resets;
        if (run.strayBytes > 0) {
            const QStringList ignored = run.report.filter("ignored");
            boardReports << QString("%1: %2 stray bytes in %3 pieces, the first: %4")
                                .arg(name)
                                .arg(run.strayBytes)
                                .arg(ignored.size())
                                .arg(ignored.first());
        }
        return run;
    };

    // A counted stream with faults, started once the port is open: every
    // record shows, in order, and the counters match the faults.
    QVERIFY(openPort(window, board));
    const QString counted = device + "-counted";
    int mark = window.lineCount();
    QVERIFY(board.start(counted, {"--rate", "300", "--count", "1200", "--corrupt", "0.02", "--drop",
                                  "0.02", "--seed", "11"}));
    QCOMPARE(board.wait(), 0);
    BoardRun run = finishRun(counted, 0);
    QVERIFY(run.sentLines.size() >= 1000);
    QVERIFY(run.corrupted > 0 && run.indexGaps > 0);
    QVERIFY(QTest::qWaitFor([&] { return window.records(mark).size() >= run.sentLines.size(); }, 30000));
    QString why;
    QVERIFY2(isRunOf(window.records(mark), run.sentLines, true, &why), qPrintable(why));
    QCOMPARE(window.records(mark).size(), run.sentLines.size());
    QCOMPARE(window.csum->text(), QString::number(run.corrupted));
    QCOMPARE(window.indexMiss->text(), QString::number(run.indexGaps));
    qInfo("%s: %d records, %d corrupted, %d index gaps", qPrintable(port), int(run.sentLines.size()),
          run.corrupted, run.indexGaps);

    // Reset IMU: the board hears the command and starts again at index 0.
    // Then Close and Connect while the board streams, and unplug.
    const QString resetRun = device + "-reset";
    mark = window.lineCount();
    QVERIFY(board.start(resetRun, {"--rate", "200", "--seed", "12"}));
    QVERIFY(QTest::qWaitFor([&] { return window.records(mark).size() >= 300; }, 20000));
    window.reset->click();
    ++resetsClicked;
    QVERIFY(window.lines(mark).contains("SerialPort TX: " + ResetCommand));
    QVERIFY(QTest::qWaitFor([&] {
        const QStringList lines = window.lines(mark);
        const int sent = lines.indexOf("SerialPort TX: " + ResetCommand);
        return lines.mid(sent).filter(QRegularExpression("^Ind:   0;")).size() > 0;
    }, 10000));
    QTest::qWait(500);
    const int firstOpenEnd = window.lineCount();
    window.connect->click();
    QVERIFY(window.lines(firstOpenEnd).contains("Port " + port + " closed"));
    QTest::qWait(300);
    const int reopened = window.lineCount();
    window.connect->click();
    QVERIFY(window.lines(reopened).contains(port + " is open"));
    QVERIFY(QTest::qWaitFor([&] { return window.records(reopened).size() >= 100; }, 20000));
    // Held open across the pull, the node keeps its number: the board comes
    // back under the next name.
    const int held = ::open(qPrintable("/dev/" + port), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(held >= 0);
    unplugWhileOpen(window, board, 1);
    if (QTest::currentTestFailed())
        return;
    const int resetStatus = board.stop();
    run = finishRun(resetRun, 0);
    qInfo("%s: board ended with status %d", qPrintable(port), resetStatus);
    const QStringList firstOpen = window.records(mark).mid(0, window.records(mark).size()
                                                                 - window.records(firstOpenEnd).size());
    QVERIFY2(isRunOf(firstOpen, run.sentLines, true, &why), qPrintable(why));
    QVERIFY(run.resetRow > 0);
    QVERIFY(firstOpen.size() > run.resetRow);
    QVERIFY2(isRunOf(window.records(reopened), run.sentLines, false, &why), qPrintable(why));

    // Plugged back in while the board streams, and nobody clicks: the window
    // opens it again, first under the next name (the old one is held), then
    // under its own.
    for (int cycle = 2; cycle <= UnplugCycles; ++cycle) {
        const QString lostPort = window.widget.findChild<QSerialPort*>()->portName();
        const QString name = QString("%1-cycle%2").arg(device).arg(cycle);
        mark = window.lineCount();
        QVERIFY(board.plug());
        QVERIFY(board.start(name, {"--rate", "200", "--seed", QString::number(20 + cycle)}));
        const QStringList nodes {port.chopped(1) + '*'};
        QVERIFY(QTest::qWaitFor([&] { return !QDir("/dev").entryList(nodes, QDir::System).isEmpty(); }, 15000));
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(QTest::qWaitFor([&] { return !window.records(mark).isEmpty(); }, 3 * ReconnectBoundMs),
                 qPrintable(window.lines(mark).join('\n')));
        const qint64 firstRecordMs = clock.elapsed();
        const QString now = window.widget.findChild<QSerialPort*>()->portName();
        const QString back = window.lines(mark).filter(QRegularExpression("^" + lostPort + " is back")).value(0);
        qInfo("%s cycle %d, nobody clicking: \"%s\"; node back to first record %lld ms", qPrintable(port), cycle,
              qPrintable(back), firstRecordMs);
        QVERIFY2(firstRecordMs <= ReconnectBoundMs, qPrintable(back));
        QVERIFY2(QRegularExpression("^" + lostPort + " is back " + (now == lostPort ? "" : "as " + now + " ")
                                    + "after \\d+\\.\\d s$").match(back).hasMatch(), qPrintable(back));
        if (cycle == 2) {
            QVERIFY(now != lostPort);
            ::close(held);
        }
        QVERIFY(QTest::qWaitFor([&] { return window.records(mark).size() >= 100; }, 20000));
        unplugWhileOpen(window, board, cycle);
        if (QTest::currentTestFailed())
            return;
        board.stop();
        run = finishRun(name, FirstOpenEchoBoundBytes);
        QVERIFY2(isRunOf(window.records(mark), run.sentLines, false, &why), qPrintable(why));
    }

    qInfo("%s: the board heard %d of %d reset commands; stray bytes:%s", qPrintable(port), resetsHeard,
          resetsClicked, boardReports.isEmpty() ? " none" : "");
    for (const QString& line : boardReports)
        qInfo("  %s", qPrintable(line));
    QCOMPARE(resetsHeard, resetsClicked);
    QVERIFY2(strayFaults.isEmpty(), qPrintable(strayFaults.join('\n')));
    QVERIFY2(errnoCauses.isEmpty(), qPrintable("leftover errno texts as the cause:\n" + errnoCauses.join('\n')));
}

// imu-decode on the same device: when it is pulled out, the recorder ends
// with status 3 and has written every record it received.
void TestUsbVm::decoderOnRealDriver(Board& board)
{
    if (!board.isPlugged())
        QVERIFY(board.plug());
    const QString device = "/dev/" + board.portName();
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(device); }, 15000));
    // udev sets the node's group and mode after it appears.
    QTest::qWait(500);
    const QString name = board.portName() + "-decode";
    QProcess decoder;
    decoder.setStandardErrorFile(runPath(name + "-decoder.err"));
    decoder.start(QStringLiteral(IMU_DECODE_PATH),
                  {"--port", device, "--format", "console", "--output", runPath(name + "-decoder.txt")});
    QVERIFY(decoder.waitForStarted(10000));
    // The board starts once the recorder holds the port and has settled it,
    // so that the first record sent is the first recorded; loading the
    // toolkit over the guest's shared root can take seconds.
    const QString fds = QString("/proc/%1/fd").arg(decoder.processId());
    QVERIFY(QTest::qWaitFor([&] {
        const QStringList entries = QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return std::any_of(entries.begin(), entries.end(), [&](const QString& fd) {
            return QFile::symLinkTarget(fds + '/' + fd) == device;
        });
    }, 20000));
    QTest::qWait(1000);
    QVERIFY(board.start(name, {"--rate", "200", "--seed", "31"}));
    QTest::qWait(2000);
    QVERIFY(board.unplug());
    QVERIFY(QTest::qWaitFor([&] { return decoder.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(decoder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(decoder.exitCode(), 3);
    board.stop();
    const BoardRun run = readRun(name);
    QFile output(runPath(name + "-decoder.txt"));
    QVERIFY(output.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(output.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 100);
    QString why;
    QVERIFY2(isRunOf(lines, run.sentLines, true, &why), qPrintable(why));
    QCOMPARE(run.strayBytes, 0);
    qInfo("imu-decode on %s: %d records, then status 3", qPrintable(device), int(lines.size()));
}

QTEST_MAIN(TestUsbVm)
#include "tst_usb_vm.moc"
