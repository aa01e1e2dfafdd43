// SPDX-License-Identifier: GPL-3.0-or-later
#include "widget.h"
#include "attitudeprojection.h"
#include "attitudeview.h"
#include "chartexport.h"
#include "chartgroup.h"
#include "highdpi.h"
#include "history.h"
#include "loadedrecording.h"
#include "playback.h"
#include "playbackbar.h"
#include "marksfile.h"
#include "noisesource.h"
#include "noisewindow.h"
#include "recordcsv.h"
#include "viewerwindow.h"
#include "plotter.h"
#include "recordformat.h"
#include "reconnector.h"
#include "screenfit.h"
#include "windowexposure.h"

#include "portlink.h"
#include "pseudoterminal.h"
#include "testrecords.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QTableWidget>
#include <QSerialPortInfo>
#include <QStyleOption>
#include <QTextBlock>
#include <QtTest>
#include <qcustomplot.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

namespace {

const QString Unavailable = "Serial port becomes unavailable. Please check the connection and "
                            "try to connect again (after re-scan)";
const QByteArray ResetCommand = "$MIB,RESET*87";
const QRegularExpression LinePrefix("^\\[([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\.\\d{3}\\] ");
const int PrefixLength = 15;
const QString RecordCsvHeader = "host_time,index,yaw_deg,pitch_deg,roll_deg,x_mg,y_mg,z_mg,x_ms2,y_ms2,z_ms2";

// The window's port list comes from here: the tests decide what is listed,
// and count how often the window asked.
struct PortList
{
    QList<PortEntry> entries;
    int scans = 0;
};

template<typename T>
T* child(QWidget* window, const char* name)
{
    return window->findChild<T*>(name);
}

// The plots of a window's six charts, not those of its tool windows.
QList<QCustomPlot*> chartPlots(QWidget* window)
{
    QList<QCustomPlot*> plots;
    for (Plotter* chart : window->findChildren<Plotter*>())
        plots << chart->customPlot();
    return plots;
}

// Set by CTest's tst_window_desktop_* entries, which run this program on a
// virtual X desktop with this Xft.dpi (scripts/on-virtual-desktop.sh); 0
// otherwise.
int desktopDpi()
{
    return qEnvironmentVariableIntValue("IMU_DESKTOP_DPI");
}

// Tick labels of one axis that are drawn (inside the axis rect), as the
// spans they cover along the axis, in order.
QVector<QPair<double, double>> tickLabelSpans(QCPAxis* axis)
{
    const QFontMetricsF fm(axis->tickLabelFont());
    const bool horizontal = axis->orientation() == Qt::Horizontal;
    const QRect area = axis->axisRect()->rect();
    const QVector<double> ticks = axis->tickVector();
    const QVector<QString> labels = axis->tickVectorLabels();
    QVector<QPair<double, double>> spans;
    for (int i = 0; i < ticks.size(); ++i) {
        const double at = axis->coordToPixel(ticks.at(i));
        if (horizontal ? at < area.left() || at > area.right() : at < area.top() || at > area.bottom())
            continue;
        const double half = (horizontal ? fm.horizontalAdvance(labels.at(i)) : fm.height()) / 2;
        spans.append({at - half, at + half});
    }
    std::sort(spans.begin(), spans.end());
    return spans;
}

// The board's frames of records numbered from first, built here apart from
// the parser.
QByteArray frames(int first, int count)
{
    QByteArray bytes;
    for (int i = first; i < first + count; ++i) {
        QByteArray payload;
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out << quint8(i) << qint16(i * 37 - 9000) << qint16(-i * 11) << qint16(i % 500) << qint16(1000 - i)
            << qint16(i * 3) << qint16(-i) << quint8(0) << quint16(0);
        quint8 sum = 0;
        for (char byte : payload)
            sum += quint8(byte);
        bytes += QByteArray("\xAA\xAA", 2) + payload + char(sum);
    }
    return bytes;
}

// The host_time of the viewer's marked test recording's record i: 14:02:11.100
// local time and 10 ms apart, whatever the time zone.
QByteArray markedTime(int record)
{
    const QDateTime local(QDate(2026, 12, 8), QTime(14, 2, 11, 100 + 10 * record));
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
}

// A 16 KiB tmpfs on dir, unmounted by init(); mounting needs root.
bool mountTmpfs(const QString& dir, unsigned long flags)
{
    return QDir().mkpath(dir) && ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", flags, "size=16k") == 0;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    PortList ports;
    std::unique_ptr<Widget> window;
    // The user's home while testing: recordings go to its Documents.
    QTemporaryDir home;

    Widget* makeWindow(const QList<PortEntry>& entries = {})
    {
        ports = PortList {entries, 0};
        window = std::make_unique<Widget>(nullptr, [this] {
            ++ports.scans;
            return ports.entries;
        });
        return window.get();
    }

    QPlainTextEdit* console() { return child<QPlainTextEdit>(window.get(), "console"); }
    QPushButton* connectButton() { return child<QPushButton>(window.get(), "connect_button"); }
    QComboBox* portBox() { return child<QComboBox>(window.get(), "ports_combobox"); }
    QSerialPort* port() { return window->findChild<QSerialPort*>(); }
    QPushButton* recordButton() { return child<QPushButton>(window.get(), "record_pb"); }
    QString recordings() { return home.path() + "/Documents/Telvorin IMU"; }

    // Every console line with its time prefix; the prefix itself is checked
    // for every line in cleanup().
    QStringList lines()
    {
        const QString text = console()->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    // The messages logged since the console had `from` lines, prefix removed.
    QStringList messagesFrom(int from)
    {
        QStringList out;
        const QStringList all = lines();
        for (int i = from; i < all.size(); ++i)
            out.append(all.at(i).mid(PrefixLength));
        return out;
    }

    // The first message since line `from` that starts with `start`, waiting
    // for it; empty if none came.
    QString awaitMessage(int from, const QString& start)
    {
        for (int waited = 0; waited < 5000; waited += 10, QTest::qWait(10))
            for (const QString& message : messagesFrom(from))
                if (message.startsWith(start))
                    return message;
        return QString();
    }
    QStringList recordLines() { return lines().filter(QRegularExpression("^.{15}Ind: ")); }
    // What the console shows of each record and what a recording holds
    // after its header, both as "time of day index,yaw,...,z_ms2".
    QStringList shownRows()
    {
        static const QRegularExpression number("(?<=[ (])-?\\d+(\\.\\d+)?");
        QStringList rows;
        for (const QString& line : recordLines()) {
            QStringList n;
            for (auto it = number.globalMatch(line.mid(PrefixLength)); it.hasNext();)
                n.append(it.next().captured());
            const QStringList csvOrder {n[0], n[1], n[2], n[3], n[4], n[6], n[8], n[5], n[7], n[9]};
            rows.append(line.mid(1, 12) + ' ' + csvOrder.join(','));
        }
        return rows;
    }
    static QStringList recordedRows(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || QString::fromUtf8(file.readLine()) != RecordCsvHeader + '\n')
            return {"no recording with a header at " + path};
        const QString text = QString::fromUtf8(file.readAll());
        QStringList rows;
        // A cut-off last row loses its last character here, and so differs;
        // host_time is ISO 8601, its time of day from character 11.
        for (const QString& row : text.isEmpty() ? QStringList() : text.chopped(1).split('\n'))
            rows.append(row.mid(11, 12) + ' ' + row.section(',', 1));
        return rows;
    }

    void scan() { QVERIFY(QMetaObject::invokeMethod(window.get(), "on_scan_button_clicked")); }
    void signalError(QSerialPort::SerialPortError error)
    {
        QVERIFY(QMetaObject::invokeMethod(window.get(), "handleError",
                                          Q_ARG(QSerialPort::SerialPortError, error)));
    }
    // Everything the master receives within waitMs, with the event loop
    // running so that the port's write buffer is flushed.
    QByteArray drain(PseudoTerminal& master, int waitMs)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < waitMs) {
            QTest::qWait(10);
            got += master.read(0);
        }
        return got;
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // The form
    void windowItself();
    void widgetsAtTheirPlaces_data();
    void widgetsAtTheirPlaces();
    void widgetsCreatedInFormOrder();
    void chartsDoNotOverlap();
    void formTexts();
    void chartTitlesAndLabels();
    void readOnlyFieldsAndConsoleFont();
    void logoAndFurtherInfo();
    void resizingKeepsPlaces();

    // The port list
    void emptyPortSource();
    void missingPortSource();
    void twoPortsListed();
    void rescanReplacesList();
    void defaultSourceListsSystemPorts();

    // Errors and the console, no device needed
    void nonexistentPortLogsCauseFirst();
    void itemTextSplitAtFirstColon();
    void resourceErrorWhileClosed();
    void otherErrorsWhileClosed();
    void resetWithPortNeverOpened();
    void consolePrefixIsTimeOfDay();
    void consoleKeepsNewestLines();
    void unseenWindowDrawsNothing_data();
    void unseenWindowDrawsNothing();

    // The serial link over a pseudo-terminal
    void openAndCloseLink();
    void reopenUsesCurrentItem();
    void resetWritesCommandWhenOpen();
    void resetAfterCloseDoesNothing();
    void openingAndClosingNeverEcho();
    void lostDeviceClosesOnce_data();
    void lostDeviceClosesOnce();
    void lostDeviceThenWindowClosed();
    void scanWhileOpenKeepsPortOpen();
    void errorsWhileOpen();

    // Recording
    void recordingMatchesConsoleAcrossReopen();
    void recordingCannotStart_data();
    void recordingCannotStart();
    void recordingEndsOnFullDisk();

    // Reconnecting after an unplug
    void pulledDeviceReopensWithoutClick();

    // On a virtual desktop, 100 % and 200 % (CTest's tst_window_desktop_*)
    void wholeTextsOnDesktop();

    // Looking back
    void pauseHoldsTheChartsOnly();
    void oneChartMovesAllSix_data();
    void oneChartMovesAllSix();
    // A recording opened in a viewer
    void viewerShowsARecording_data();
    void viewerShowsARecording();
    void viewerRefusesABadFile();
    void viewerReadsPastPiecesAndACutOffRow();
    // Watched again
    void playHeadKeepsToTheClock_data();
    void playHeadKeepsToTheClock();
    void playHeadMovesByRecordAndTime_data();
    void playHeadMovesByRecordAndTime();
    void recordLineIsTheConsoleLine_data();
    void recordLineIsTheConsoleLine();
    void playingNeverWritesTheRecording();
    void marksLiveAndRecorded();
    void viewerShowsMarks_data();
    void viewerShowsMarks();
    void marksMoveThePlayHead_data();
    void marksMoveThePlayHead();
    void marksOutlastAPulledCable_data();
    void marksOutlastAPulledCable();

    // Charts as pictures, and a window that fits a small screen
    void chartPictures_data();
    void chartPictures();
    void chartMenuOffersPictures();
    void fittedWindowIsTheForm();
    void fitsTheScreen();
    // The attitude window
    void attitudeAxes_data();
    void attitudeAxes();
    void attitudeCamera();
    void attitudeWindowFollowsButton();
    void attitudeDrawsOnlyChanges_data();
    void attitudeDrawsOnlyChanges();
    void attitudeRedrawLeavesNoTrace_data();
    void attitudeRedrawLeavesNoTrace();

    // The Noise window
    void noiseWindowFollowsButton();
    void noiseLiveGrows_data();
    void noiseLiveGrows();
    void noiseLiveAgreesWithTheRecording_data();
    void noiseLiveAgreesWithTheRecording();
    void noiseStopsAtTheHour();
    void noiseOverTheChartsSpan();
    void noiseFiguresLeave();
    void noiseInTheViewer();

private:
    // A recording of these rows (host_time as ISO text, displayed values)
    // in the home folder.
    QString writeRecording(const QList<QByteArray>& times, const QList<UART_RCV>& rows, const QString& name = "watched.csv")
    {
        QByteArray csv = RecordCsv::Header;
        for (int i = 0; i < rows.size(); ++i)
            RecordCsv::appendRow(csv, times.at(i), rows.at(i));
        QFile file(home.path() + "/" + name);
        return file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() ? file.fileName() : QString();
    }
    // It opened in a viewer on a clock the test moves.
    std::unique_ptr<ViewerWindow> viewerOn(const QString& path, double* wallMs)
    {
        QString error;
        auto loaded = LoadedRecording::load(path, error);
        if (!loaded)
            return nullptr;
        auto viewer = std::make_unique<ViewerWindow>(std::move(loaded));
        viewer->playback()->head()->setClock([wallMs] { return *wallMs; });
        viewer->show();
        return viewer;
    }

    // Record i of a still board: white noise about a bias on every channel
    // and a slow yaw drift, or nothing but the bias (constant).
    static UART_RCV stillRecord(int i, quint8 index, bool constant)
    {
        // A counter hashed (splitmix64), so every record's noise is its own.
        quint64 state = quint64(i) * 6;
        auto noise = [&state](int sd) { // a sum of four uniforms: near enough normal
            int sum = 0;
            for (int k = 0; k < 4; ++k) {
                quint64 z = (state += 0x9E3779B97F4A7C15ull);
                z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
                z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
                sum += int((z ^ (z >> 31)) % quint64(2 * sd + 1)) - sd;
            }
            return qint16(sum / 2);
        };
        if (constant)
            return makeRecord(index, 4500, -120, 30, 5, -7, 1000);
        return makeRecord(index, qint16(4500 + i / 2000 + noise(2)), qint16(-120 + noise(2)), qint16(30 + noise(2)),
                          qint16(5 + noise(3)), qint16(-7 + noise(3)), qint16(1000 + noise(4)));
    }
    // Records [first, first + count) of a still board, fed at the link's
    // full rate on a clock of their own from startMs, a frame lost before
    // each record in skips.
    static qint64 feedStill(Widget* w, int count, bool constant, qint64 startMs, const QVector<int>& skips = {},
                            int first = 0)
    {
        double ms = double(startMs);
        Plotter::setClockSource([&ms] { return qint64(ms); });
        quint8 index = quint8(first);
        for (int i = first; i < first + count; ++i, ms += 1000.0 / Noise::FullRateHz) {
            index += skips.contains(i) ? 2 : 1;
            UART_RCV r = stillRecord(i, index, constant);
            QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, r));
        }
        Plotter::setClockSource({});
        return qint64(ms);
    }
    static QString tableText(QTableWidget* table)
    {
        QStringList cells;
        for (int row = 0; row < table->rowCount(); ++row)
            for (int column = 0; column < table->columnCount(); ++column)
                cells << (table->item(row, column) ? table->item(row, column)->text() : QString());
        return cells.join('|');
    }
    // Saves a picture of a window when IMU_SCREENSHOT_DIR names a folder.
    static void keepPicture(QWidget* window, const QString& name)
    {
        const QString dir = qEnvironmentVariable("IMU_SCREENSHOT_DIR");
        QTest::qWait(200); // the layout after the last result
        if (!dir.isEmpty())
            window->grab().save(QStringLiteral("%1/%2-%3.png").arg(dir, name).arg(96 * window->devicePixelRatioF()));
    }

    // Clicks Open… and picks path in the file dialog, which must start in
    // the recordings' folder; what the window then shows modally (a message
    // box's text) is read and closed.
    void openThroughDialog(const QString& path, QString& modalText)
    {
        QTimer answer;
        QString startedIn;
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                startedIn = dialog->directory().absolutePath();
                // Typed, as selectFile() waits for the folder's listing.
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
                QMetaObject::invokeMethod(dialog, "accept");
            } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                modalText = box->text();
                box->close();
            }
        });
        answer.start(20);
        child<QPushButton>(window.get(), "open_pb")->click();
        QTRY_VERIFY(!modalText.isEmpty() || window->findChild<ViewerWindow*>());
        QCOMPARE(startedIn, recordings());
    }
};

void TestWindow::initTestCase()
{
    // Test mode leaves the real user's folder settings unread; the documents
    // folder is then the one in HOME.
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(home.isValid());
    qputenv("HOME", QFile::encodeName(home.path()));
    QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), home.path() + "/Documents");
}

void TestWindow::init()
{
    ::umount2(QFile::encodeName(recordings()).constData(), MNT_DETACH);
    QFile::remove(recordings());
    QDir(recordings()).removeRecursively();
}

void TestWindow::cleanup()
{
    if (!window)
        return;
    const QStringList all = lines();
    for (const QString& line : all)
        QVERIFY2(LinePrefix.match(line).hasMatch(), qPrintable("bad prefix: " + line));
    window.reset();
}

// ---------------------------------------------------------------- the form

void TestWindow::windowItself()
{
    Widget* w = makeWindow();
    QCOMPARE(w->objectName(), QString("Widget"));
    QCOMPARE(w->size(), QSize(1240, 801));
    QCOMPARE(w->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w->windowTitle(), QString("Telvorin IMU"));
    QVERIFY(w->layout() == nullptr);
    // Not fixed-size: the user may resize the window.
    QVERIFY(w->minimumSize() != w->maximumSize());
}

void TestWindow::widgetsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    auto row = [](const char* name, const char* kind, const char* parent, QRect rect) {
        QTest::newRow(name) << QString(kind) << QString(parent) << rect;
    };
    row("console", "QPlainTextEdit", "Widget", {10, 130, 1221, 161});
    row("yaw_plotter", "Plotter", "Widget", {10, 380, 400, 200});
    row("pitch_plotter", "Plotter", "Widget", {420, 380, 400, 200});
    row("roll_plotter", "Plotter", "Widget", {830, 380, 400, 200});
    row("x_acc_plotter", "Plotter", "Widget", {10, 590, 400, 200});
    row("y_acc_plotter", "Plotter", "Widget", {420, 590, 400, 200});
    row("z_acc_plotter", "Plotter", "Widget", {830, 590, 400, 200});
    row("reset_imu_pb", "QPushButton", "Widget", {10, 300, 89, 25});
    // The logo label is resized to the image (266 x 66) by the window.
    row("app_logo_l", "QLabel", "Widget", {900, 10, 266, 66});
    row("groupBox", "QGroupBox", "Widget", {680, 300, 511, 71});
    row("csum_miss_le", "QLineEdit", "groupBox", {130, 30, 113, 26});
    row("label", "QLabel", "groupBox", {10, 30, 111, 21});
    row("index_miss_le", "QLineEdit", "groupBox", {390, 30, 113, 26});
    row("label_2", "QLabel", "groupBox", {260, 30, 121, 21});
    row("groupBox_2", "QGroupBox", "Widget", {10, 10, 631, 71});
    row("scan_button", "QPushButton", "groupBox_2", {10, 30, 80, 26});
    row("ports_combobox", "QComboBox", "groupBox_2", {100, 30, 401, 26});
    row("connect_button", "QPushButton", "groupBox_2", {540, 30, 80, 26});
    row("label_3", "QLabel", "Widget", {10, 110, 111, 17});
    row("further_info_l", "QLabel", "Widget", {900, 80, 271, 41});
    row("record_pb", "QPushButton", "Widget", {110, 300, 89, 25});
    row("pause_pb", "QPushButton", "Widget", {210, 300, 89, 25});
    row("open_pb", "QPushButton", "Widget", {310, 300, 89, 25});
    row("attitude_pb", "QPushButton", "Widget", {410, 300, 89, 25});
    row("noise_pb", "QPushButton", "Widget", {510, 300, 89, 25});
    row("link_l", "QLabel", "Widget", {10, 340, 660, 25});
}

void TestWindow::widgetsAtTheirPlaces()
{
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    Widget* w = makeWindow({{"/dev/nonexistent-imu-port", ""}});
    QWidget* widget = w->findChild<QWidget*>(QTest::currentDataTag());
    QVERIFY(widget);
    QCOMPARE(QString(widget->metaObject()->className()), kind);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), geometry);
    QVERIFY(widget->isEnabled());
}

void TestWindow::widgetsCreatedInFormOrder()
{
    Widget* w = makeWindow();
    QStringList order;
    // The form's widgets, not the windows of their own that the monitor owns.
    for (QObject* object : w->children())
        if (object->isWidgetType() && !static_cast<QWidget*>(object)->isWindow())
            order.append(object->objectName());
    QCOMPARE(order, QStringList({"console", "yaw_plotter", "pitch_plotter", "roll_plotter",
                                 "x_acc_plotter", "y_acc_plotter", "z_acc_plotter",
                                 "reset_imu_pb", "app_logo_l", "groupBox", "groupBox_2",
                                 "label_3", "further_info_l", "record_pb", "pause_pb", "open_pb",
                                 "attitude_pb", "noise_pb", "link_l"}));
}

void TestWindow::chartsDoNotOverlap()
{
    Widget* w = makeWindow();
    const QList<Plotter*> charts = w->findChildren<Plotter*>();
    QCOMPARE(charts.size(), 6);
    for (int i = 0; i < charts.size(); ++i) {
        QCOMPARE(charts[i]->size(), QSize(400, 200));
        QCOMPARE(charts[i]->findChild<QCustomPlot*>()->geometry(), QRect(0, 0, 400, 200));
        QVERIFY(QList<int>({10, 420, 830}).contains(charts[i]->x()));
        QVERIFY(QList<int>({380, 590}).contains(charts[i]->y()));
        for (int j = i + 1; j < charts.size(); ++j)
            QVERIFY2(!charts[i]->geometry().intersects(charts[j]->geometry()),
                     qPrintable(charts[i]->objectName() + " / " + charts[j]->objectName()));
    }
}

void TestWindow::formTexts()
{
    Widget* w = makeWindow();
    QCOMPARE(child<QPushButton>(w, "reset_imu_pb")->text(), QString("Reset IMU"));
    QCOMPARE(child<QGroupBox>(w, "groupBox")->title(), QString("Parser status:"));
    QCOMPARE(child<QGroupBox>(w, "groupBox_2")->title(), QString("Serial port"));
    QCOMPARE(child<QPushButton>(w, "scan_button")->text(), QString("Scan"));
    QCOMPARE(child<QPushButton>(w, "connect_button")->text(), QString("Connect"));
    QCOMPARE(child<QLabel>(w, "label_3")->text(), QString("Measurements:"));
    QCOMPARE(child<QPushButton>(w, "pause_pb")->text(), QString("Pause"));
    QCOMPARE(child<QPushButton>(w, "open_pb")->text(), QString("Open…"));
    QCOMPARE(child<QPushButton>(w, "attitude_pb")->text(), QString("Attitude"));
    QCOMPARE(child<QPushButton>(w, "noise_pb")->text(), QString("Noise"));
    QVERIFY(child<QPushButton>(w, "noise_pb")->isCheckable());
    QCOMPARE(child<QLabel>(w, "link_l")->text(), QString("Not connected"));
    QCOMPARE(child<QLabel>(w, "app_logo_l")->text(), QString());
    QCOMPARE(child<QLineEdit>(w, "csum_miss_le")->text(), QString());
    QCOMPARE(child<QLineEdit>(w, "index_miss_le")->text(), QString());
    QCOMPARE(console()->toPlainText(), QString());

    // The counters' captions are right-aligned against their fields.
    const struct
    {
        const char* label;
        const char* field;
        const char* text;
    } captions[] = {{"label", "csum_miss_le", "# of CS misses:"},
                    {"label_2", "index_miss_le", "# of index misses:"}};
    for (const auto& caption : captions) {
        auto* label = child<QLabel>(w, caption.label);
        auto* field = child<QLineEdit>(w, caption.field);
        QCOMPARE(label->text(), QString(caption.text));
        QCOMPARE(label->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
        QVERIFY(label->geometry().right() < field->x());
        QVERIFY(field->x() - label->geometry().right() < 15);
    }
}

void TestWindow::chartTitlesAndLabels()
{
    Widget* w = makeWindow();
    const struct
    {
        const char* name;
        const char* title;
        const char* unit;
    } charts[] = {{"yaw_plotter", "Yaw", "Degree"},
                  {"pitch_plotter", "Pitch", "Degree"},
                  {"roll_plotter", "Roll", "Degree"},
                  {"x_acc_plotter", "X acceleration", "mg"},
                  {"y_acc_plotter", "Y acceleration", "mg"},
                  {"z_acc_plotter", "Z acceleration", "mg"}};
    for (const auto& c : charts) {
        auto* plot = child<Plotter>(w, c.name)->findChild<QCustomPlot*>();
        QVERIFY(plot);
        auto* title = qobject_cast<QCPTextElement*>(plot->plotLayout()->element(0, 0));
        QVERIFY(title);
        QCOMPARE(title->text(), QString(c.title));
        QCOMPARE(plot->xAxis->label(), QString("Time"));
        QCOMPARE(plot->yAxis->label(), QString(c.unit));
        // Empty until data arrives.
        QVERIFY(plot->graph(0)->data()->isEmpty());
        QCOMPARE(plot->yAxis->range(), QCPRange(-1, 1));
    }
}

void TestWindow::readOnlyFieldsAndConsoleFont()
{
    Widget* w = makeWindow();
    QVERIFY(console()->isReadOnly());
    QCOMPARE(console()->font().family(), QString("Courier New"));
    QCOMPARE(console()->font().pointSize(), 9);
    QVERIFY(child<QLineEdit>(w, "csum_miss_le")->isReadOnly());
    QVERIFY(child<QLineEdit>(w, "index_miss_le")->isReadOnly());
    QVERIFY(Widget::ConsoleMaxLines >= 10000);
    QCOMPARE(console()->maximumBlockCount(), Widget::ConsoleMaxLines);
}

void TestWindow::logoAndFurtherInfo()
{
    Widget* w = makeWindow();
    const QImage image(":/images/logo.png");
    QCOMPARE(image.size(), QSize(266, 66));
    QVERIFY(image.hasAlphaChannel());

    auto* logo = child<QLabel>(w, "app_logo_l");
    QCOMPARE(logo->size(), image.size());
    QCOMPARE(logo->minimumSize(), image.size());
    QCOMPARE(logo->maximumSize(), image.size());
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), image.size());

    QCOMPARE(child<QLabel>(w, "further_info_l")->text(),
             QString("For more information please visit\nhttps://telvorin.example"));
}

void TestWindow::resizingKeepsPlaces()
{
    Widget* w = makeWindow();
    w->resize(1600, 1000);
    QCOMPARE(w->size(), QSize(1600, 1000));
    QCOMPARE(console()->geometry(), QRect(10, 130, 1221, 161));
}

// ----------------------------------------------------------- the port list

void TestWindow::emptyPortSource()
{
    makeWindow();
    QCOMPARE(ports.scans, 1);
    QCOMPARE(portBox()->count(), 0);
    QVERIFY(!connectButton()->isEnabled());
    QCOMPARE(lines(), QStringList());
    // A disabled button reacts to nothing.
    connectButton()->click();
    QCOMPARE(lines(), QStringList());
    QVERIFY(!port()->isOpen());
}

void TestWindow::missingPortSource()
{
    window = std::make_unique<Widget>(nullptr, PortSource());
    QCOMPARE(portBox()->count(), 0);
    QVERIFY(!connectButton()->isEnabled());
}

void TestWindow::twoPortsListed()
{
    makeWindow({{"ttyUSB0", "FT232R USB UART"}, {"ttyS9", ""}});
    QCOMPARE(ports.scans, 1);
    QCOMPARE(portBox()->count(), 2);
    QCOMPARE(portBox()->itemText(0), QString("ttyUSB0: FT232R USB UART"));
    QCOMPARE(portBox()->itemText(1), QString("ttyS9: "));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(!portBox()->itemData(i).isValid());
        QVERIFY(portBox()->itemIcon(i).isNull());
    }
    QCOMPARE(portBox()->currentIndex(), 0);
    QVERIFY(connectButton()->isEnabled());
    QCOMPARE(lines(), QStringList());
}

void TestWindow::rescanReplacesList()
{
    makeWindow({{"ttyUSB0", "one"}, {"ttyUSB1", "two"}});
    ports.entries = {{"ttyACM0", "three"}};
    child<QPushButton>(window.get(), "scan_button")->click();
    QCOMPARE(ports.scans, 2);
    QCOMPARE(portBox()->count(), 1);
    QCOMPARE(portBox()->itemText(0), QString("ttyACM0: three"));
    QVERIFY(connectButton()->isEnabled());

    ports.entries.clear();
    scan();
    QCOMPARE(portBox()->count(), 0);
    QVERIFY(!connectButton()->isEnabled());

    ports.entries = {{"ttyUSB0", "one"}};
    scan();
    QCOMPARE(portBox()->count(), 1);
    QVERIFY(connectButton()->isEnabled());
    // Scanning logs nothing.
    QCOMPARE(lines(), QStringList());
}

void TestWindow::defaultSourceListsSystemPorts()
{
    window = std::make_unique<Widget>();
    QStringList expected;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        expected.append(info.portName() + ": " + info.description());
    QStringList listed;
    for (int i = 0; i < portBox()->count(); ++i)
        listed.append(portBox()->itemText(i));
    QCOMPARE(listed, expected);
    QCOMPARE(connectButton()->isEnabled(), !expected.isEmpty());
}

// ------------------------------------------- errors and the console, no device

void TestWindow::nonexistentPortLogsCauseFirst()
{
    const QString path = "/dev/nonexistent-imu-port";
    makeWindow({{path, "gone"}});
    connectButton()->click();
    const QStringList logged = messagesFrom(0);
    QCOMPARE(logged.size(), 2);
    QCOMPARE(logged.at(0), "Serial port error: " + port()->errorString());
    QVERIFY(logged.at(0).size() > QString("Serial port error: ").size());
    QCOMPARE(logged.at(1), "Failed to open port " + path);
    QVERIFY(!port()->isOpen());
    QCOMPARE(connectButton()->text(), QString("Connect"));
    QCOMPARE(ports.scans, 1);

    // Trying again does the same, and nothing more.
    connectButton()->click();
    QCOMPARE(messagesFrom(2), logged);
}

void TestWindow::itemTextSplitAtFirstColon()
{
    // The name ends at the first colon; the description may hold more.
    makeWindow({{"/dev/nonexistent-imu-a", "USB: serial: adapter"}, {"/dev/nonexistent-imu-b", ""}});
    connectButton()->click();
    QCOMPARE(lines().last().mid(PrefixLength), QString("Failed to open port /dev/nonexistent-imu-a"));
    QCOMPARE(port()->portName(), QString("nonexistent-imu-a"));

    portBox()->setCurrentIndex(1);
    connectButton()->click();
    QCOMPARE(lines().last().mid(PrefixLength), QString("Failed to open port /dev/nonexistent-imu-b"));
}

void TestWindow::resourceErrorWhileClosed()
{
    makeWindow({{"/dev/nonexistent-imu-port", ""}});
    ports.entries = {{"ttyUSB3", "new"}};
    signalError(QSerialPort::ResourceError);
    QCOMPARE(messagesFrom(0), QStringList({Unavailable}));
    QCOMPARE(ports.scans, 2);
    QCOMPARE(portBox()->itemText(0), QString("ttyUSB3: new"));
    QVERIFY(!port()->isOpen());
    QCOMPARE(connectButton()->text(), QString("Connect"));
}

void TestWindow::otherErrorsWhileClosed()
{
    makeWindow({{"ttyUSB0", ""}});
    signalError(QSerialPort::NoError);
    QCOMPARE(lines(), QStringList());

    // A read error on a closed port is only logged: there is no device to lose.
    const QList<QSerialPort::SerialPortError> errors = {
        QSerialPort::ReadError, QSerialPort::WriteError, QSerialPort::PermissionError,
        QSerialPort::TimeoutError, QSerialPort::UnknownError};
    for (QSerialPort::SerialPortError error : errors) {
        const int before = lines().size();
        signalError(error);
        QCOMPARE(messagesFrom(before), QStringList({"Serial port error: " + port()->errorString()}));
    }
    QCOMPARE(ports.scans, 1);
    QVERIFY(!port()->isOpen());
}

void TestWindow::resetWithPortNeverOpened()
{
    PseudoTerminal master;
    QVERIFY2(master.isOpen(), qPrintable(master.errorString()));
    makeWindow({{master.slavePath(), "pseudo-terminal"}});
    child<QPushButton>(window.get(), "reset_imu_pb")->click();
    QCOMPARE(lines(), QStringList());
    QCOMPARE(port()->bytesToWrite(), 0);
    QVERIFY(!port()->isOpen());
}

void TestWindow::consolePrefixIsTimeOfDay()
{
    makeWindow({{"/dev/nonexistent-imu-port", ""}});
    const QTime before = QTime::currentTime();
    connectButton()->click();
    const QTime after = QTime::currentTime();
    const QStringList all = lines();
    QCOMPARE(all.size(), 2);
    for (const QString& line : all) {
        QCOMPARE(line.at(0), QChar('['));
        QCOMPARE(line.mid(13, 2), QString("] "));
        const QTime stamp = QTime::fromString(line.mid(1, 12), "hh:mm:ss.zzz");
        QVERIFY2(stamp.isValid(), qPrintable(line));
        // Taken between the two readings, unless midnight passed in between.
        if (before <= after)
            QVERIFY2(before.addMSecs(-1) <= stamp && stamp <= after.addMSecs(1), qPrintable(line));
    }
}

void TestWindow::consoleKeepsNewestLines()
{
    const QString path = "/dev/nonexistent-imu-port";
    makeWindow({{path, ""}});
    // Past the cap the console drops back to the kept count in one go, and
    // never holds more than the cap.
    for (int i = 0; i < Widget::ConsoleMaxLines + 20; ++i) {
        signalError(QSerialPort::UnknownError);
        QVERIFY(console()->blockCount() <= Widget::ConsoleMaxLines);
    }
    QCOMPARE(console()->blockCount(), Widget::ConsoleKeptLines + 19);
    connectButton()->click();
    const QStringList all = lines();
    QVERIFY(all.size() >= Widget::ConsoleKeptLines);
    QVERIFY(all.size() <= Widget::ConsoleMaxLines);
    QCOMPARE(all.last().mid(PrefixLength), "Failed to open port " + path);
    QVERIFY(all.first().mid(PrefixLength).startsWith("Serial port error: "));
}

void TestWindow::unseenWindowDrawsNothing_data()
{
    QTest::addColumn<bool>("minimize");
    QTest::addColumn<int>("records");
    QTest::newRow("hidden") << false << 300;
    QTest::newRow("minimized") << true << 300;
    QTest::newRow("hidden past the console's cap") << false << Widget::ConsoleMaxLines + 500;
}

void TestWindow::unseenWindowDrawsNothing()
{
    QFETCH(bool, minimize);
    QFETCH(int, records);
    Widget* w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto* yaw = child<Plotter>(w, "yaw_plotter")->findChild<QCustomPlot*>();
    int replots = 0;
    for (QCustomPlot* plot : w->findChildren<QCustomPlot*>())
        connect(plot, &QCustomPlot::afterReplot, [&replots] { ++replots; });
    // Points at a time the charts did not show before.
    Plotter::setClockSource([] { return qint64(60000); });

    minimize ? w->showMinimized() : w->hide();
    QStringList expected;
    for (int i = 0; i < records; ++i) {
        UART_RCV record = makeRecord(quint8(i), qint16(i), 0, 0, 0, 0, 0);
        QVERIFY(QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, record)));
        expected.append(RecordFormat::consoleLine(record)); // remapped in place
    }
    QTest::qWait(3 * Plotter::RedrawPeriodMs);
    Plotter::setClockSource({});
    QCOMPARE(replots, 0);
    QVERIFY(console()->document()->isEmpty()); // nothing laid out either

    // Shown again, the current picture at once, not a tick later.
    minimize ? w->showNormal() : w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(yaw->xAxis->range().upper, 60.0);
    QCOMPARE(lines().value(lines().size() - 1).mid(PrefixLength), expected.last());

    // Every record kept, in order; past the cap the newest, no fewer than
    // the console keeps.
    const QStringList shown = messagesFrom(0);
    QVERIFY(shown.size() >= qMin(records, Widget::ConsoleKeptLines) && shown.size() <= Widget::ConsoleMaxLines);
    QCOMPARE(shown, expected.mid(records - shown.size()));
    QCOMPARE(yaw->graph(0)->dataCount(), records);
}

// ---------------------------------------- the serial link over a pseudo-terminal

void TestWindow::openAndCloseLink()
{
    PseudoTerminal master;
    QVERIFY2(master.isOpen(), qPrintable(master.errorString()));
    const QString path = master.slavePath();
    QVERIFY(path.startsWith("/dev/pts/"));
    makeWindow({{path, "pseudo-terminal"}});
    QCOMPARE(portBox()->itemText(0), path + ": pseudo-terminal");

    connectButton()->click();
    QCOMPARE(messagesFrom(0), QStringList({path + " is open"}));
    QCOMPARE(connectButton()->text(), QString("Close"));
    QVERIFY(port()->isOpen());
    QCOMPARE(port()->openMode(), QIODevice::ReadWrite);
    QCOMPARE(port()->baudRate(QSerialPort::Input), 115200);
    QCOMPARE(port()->baudRate(QSerialPort::Output), 115200);
    QCOMPARE(port()->dataBits(), QSerialPort::Data8);
    QCOMPARE(port()->parity(), QSerialPort::NoParity);
    QCOMPARE(port()->flowControl(), QSerialPort::NoFlowControl);
    QCOMPARE(port()->stopBits(), QSerialPort::OneStop);

    // What the device really got: the master reads the slave's settings.
    termios settings {};
    QCOMPARE(::tcgetattr(master.masterFd(), &settings), 0);
    QCOMPARE(cfgetispeed(&settings), speed_t(B115200));
    QCOMPARE(cfgetospeed(&settings), speed_t(B115200));
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));

    // The serial port object holds the name without "/dev/", and the closing
    // line says what it holds.
    QCOMPARE(port()->portName(), path.mid(5));
    connectButton()->click();
    QCOMPARE(messagesFrom(1), QStringList({"Port " + path.mid(5) + " closed"}));
    QCOMPARE(connectButton()->text(), QString("Open"));
    QVERIFY(!port()->isOpen());
    QCOMPARE(ports.scans, 1);
}

void TestWindow::reopenUsesCurrentItem()
{
    PseudoTerminal first;
    PseudoTerminal second;
    QVERIFY(first.isOpen() && second.isOpen());
    makeWindow({{first.slavePath(), "one"}, {second.slavePath(), "two"}});

    connectButton()->click();
    connectButton()->click();
    QCOMPARE(connectButton()->text(), QString("Open"));

    connectButton()->click();
    QCOMPARE(lines().last().mid(PrefixLength), first.slavePath() + " is open");
    connectButton()->click();

    portBox()->setCurrentIndex(1);
    connectButton()->click();
    QCOMPARE(lines().last().mid(PrefixLength), second.slavePath() + " is open");
    QCOMPARE(connectButton()->text(), QString("Close"));
    // The device answers: bytes written by the master arrive on this port.
    QVERIFY(second.write("ping"));
    QTRY_VERIFY(port()->bytesAvailable() > 0 || port()->isOpen());
    connectButton()->click();
    QCOMPARE(lines().last().mid(PrefixLength), "Port " + second.slavePath().mid(5) + " closed");
    QCOMPARE(lines().size(), 6);
}

void TestWindow::resetWritesCommandWhenOpen()
{
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    makeWindow({{master.slavePath(), ""}});
    connectButton()->click();
    QVERIFY(port()->isOpen());
    drain(master, 50);

    auto* reset = child<QPushButton>(window.get(), "reset_imu_pb");
    reset->click();
    QCOMPARE(messagesFrom(1), QStringList({"SerialPort TX: $MIB,RESET*87"}));
    QByteArray got = drain(master, 300);
    QCOMPARE(got, ResetCommand);
    QCOMPARE(got.size(), 13);

    // Each click one command, no terminator, nothing in between.
    reset->click();
    reset->click();
    got = drain(master, 300);
    QCOMPARE(got, ResetCommand + ResetCommand);
    QCOMPARE(lines().size(), 4);
}

void TestWindow::resetAfterCloseDoesNothing()
{
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    makeWindow({{master.slavePath(), ""}});
    connectButton()->click();
    connectButton()->click();
    QVERIFY(!port()->isOpen());
    const int before = lines().size();

    child<QPushButton>(window.get(), "reset_imu_pb")->click();
    QCOMPARE(lines().size(), before);
    QCOMPARE(port()->bytesToWrite(), 0);
    // Open the slave ourselves: had anything been written, it would be here.
    QSerialPort reader(master.slavePath());
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(drain(master, 200), QByteArray());
    QCOMPARE(lines().size(), before);
}

void TestWindow::openingAndClosingNeverEcho()
{
    // A tty starts out cooked: it echoes what it receives and edits it as a
    // line (carriage return read as newline). The master is given those
    // settings, and another program holds the slave meanwhile, as a device
    // node that nobody set raw would be.
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    termios cooked {};
    QCOMPARE(::tcgetattr(master.masterFd(), &cooked), 0);
    cooked.c_iflag |= ICRNL;
    cooked.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    QCOMPARE(::tcsetattr(master.masterFd(), TCSANOW, &cooked), 0);
    const int holder = ::open(qPrintable(master.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(holder >= 0);

    // A frame arrives before the port opens; its payload holds a carriage
    // return, which the cooked line turns into a newline.
    QByteArray frame("\xAA\xAA\x01\x0D", 4);
    frame.append(14, '\0');
    frame.append(char(0x0E));
    QVERIFY(master.write(frame));
    drain(master, 100); // the cooked line's own echo, before the monitor came

    makeWindow({{master.slavePath(), ""}});
    connectButton()->click();
    QVERIFY(port()->isOpen());
    QTest::qWait(200);
    // The mangled frame is dropped with the open, not counted as a link
    // fault nor shown as a record.
    const QString misses = child<QLineEdit>(window.get(), "csum_miss_le")->text();
    QVERIFY2(misses.isEmpty() || misses == "0", qPrintable(misses));
    QCOMPARE(lines().size(), 1);

    // Closed again, the line stays raw: the board's bytes are not echoed
    // back to it while the holder (or the next open) has the device.
    connectButton()->click();
    QVERIFY(!port()->isOpen());
    QVERIFY(master.write("frames\r"));
    QCOMPARE(drain(master, 200), QByteArray());
    ::close(holder);
}

void TestWindow::lostDeviceClosesOnce_data()
{
    // How the port reports the hang-up: Qt 5 as a read error, Qt 6 now and
    // then as a resource error. The console says the same either way.
    QTest::addColumn<bool>("asResourceError");
    QTest::newRow("read error") << false;
    QTest::newRow("resource error") << true;
}

void TestWindow::lostDeviceClosesOnce()
{
    QFETCH(bool, asResourceError);
    auto master = std::make_unique<PseudoTerminal>();
    QVERIFY(master->isOpen());
    const QString path = master->slavePath();
    makeWindow({{path, "pseudo-terminal"}});
    connectButton()->click();
    QVERIFY(port()->isOpen());

    // The device vanishes from the system's list along with the cable.
    ports.entries.clear();
    master.reset();
    if (asResourceError)
        signalError(QSerialPort::ResourceError);
    QTRY_VERIFY_WITH_TIMEOUT(!port()->isOpen(), 5000);
    QTest::qWait(300);

    const QStringList logged = messagesFrom(1);
    QCOMPARE(logged.size(), 3);
    // The cause in words, not the leftover system error the port reports.
    QCOMPARE(logged.at(0), QString("Serial port error: ") + PortLink::HungUpText);
    QCOMPARE(logged.at(1), Unavailable);
    QCOMPARE(logged.at(2), "Port " + path.mid(5) + " closed");
    QCOMPARE(connectButton()->text(), QString("Open"));
    QCOMPARE(portBox()->count(), 0);
    QVERIFY(!connectButton()->isEnabled());

    // No flood afterwards: the console stays put while the window watches
    // the list for the device.
    const int settled = lines().size();
    const int scans = ports.scans;
    QTest::qWait(700);
    QCOMPARE(lines().size(), settled);
    QVERIFY(ports.scans > scans);
}

void TestWindow::lostDeviceThenWindowClosed()
{
    // The cable goes while the port is open and the window closes before the
    // port has noticed: tearing down must not reach the destroyed window.
    auto master = std::make_unique<PseudoTerminal>();
    QVERIFY(master->isOpen());
    makeWindow({{master->slavePath(), ""}});
    connectButton()->click();
    QVERIFY(port()->isOpen());
    master.reset();
    cleanup();
    QVERIFY(!window);
}

void TestWindow::scanWhileOpenKeepsPortOpen()
{
    PseudoTerminal master;
    PseudoTerminal other;
    QVERIFY(master.isOpen() && other.isOpen());
    makeWindow({{master.slavePath(), ""}});
    connectButton()->click();
    QVERIFY(port()->isOpen());

    ports.entries = {{other.slavePath(), "other"}, {"ttyUSB0", "usb"}};
    scan();
    QCOMPARE(portBox()->count(), 2);
    QCOMPARE(portBox()->itemText(0), other.slavePath() + ": other");
    QVERIFY(port()->isOpen());
    QCOMPARE(connectButton()->text(), QString("Close"));

    ports.entries.clear();
    scan();
    QCOMPARE(portBox()->count(), 0);
    QVERIFY(!connectButton()->isEnabled());
    QVERIFY(port()->isOpen());
    QCOMPARE(lines().size(), 1);

    // Once listed again, the button closes the port that is open, not the
    // one now selected.
    ports.entries = {{other.slavePath(), "other"}};
    scan();
    connectButton()->click();
    QCOMPARE(lines().last().mid(PrefixLength), "Port " + master.slavePath().mid(5) + " closed");
    QVERIFY(!port()->isOpen());
}

void TestWindow::errorsWhileOpen()
{
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    const QString path = master.slavePath();
    makeWindow({{path, ""}});
    connectButton()->click();
    QVERIFY(port()->isOpen());

    // An error other than a lost device is logged and the link stays.
    signalError(QSerialPort::WriteError);
    QCOMPARE(messagesFrom(1), QStringList({"Serial port error: " + port()->errorString()}));
    QVERIFY(port()->isOpen());
    QCOMPARE(ports.scans, 1);

    // A resource error closes the port and rescans.
    signalError(QSerialPort::ResourceError);
    QCOMPARE(messagesFrom(2), QStringList({Unavailable, "Port " + path.mid(5) + " closed"}));
    QVERIFY(!port()->isOpen());
    QCOMPARE(connectButton()->text(), QString("Open"));
    QCOMPARE(ports.scans, 2);

    // A read error on an open port is a lost device too: logged once, then
    // the same as a resource error.
    connectButton()->click();
    QVERIFY(port()->isOpen());
    const int before = lines().size();
    signalError(QSerialPort::ReadError);
    const QStringList logged = messagesFrom(before);
    QCOMPARE(logged.size(), 3);
    QVERIFY(logged.at(0).startsWith("Serial port error: "));
    QCOMPARE(logged.at(1), Unavailable);
    QCOMPARE(logged.at(2), "Port " + path.mid(5) + " closed");
    QCOMPARE(ports.scans, 3);
}

// ------------------------------------------------------------- recording

void TestWindow::recordingMatchesConsoleAcrossReopen()
{
    // Files named for this second and the next are taken: they must stay.
    QVERIFY(QDir().mkpath(recordings()));
    QStringList taken;
    for (int s = 0; s < 2; ++s) {
        QFile file(recordings() + QDateTime::currentDateTime().addSecs(s).toString("'/imu-'yyyy-MM-dd_HH-mm-ss'.csv'"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
        taken.append(file.fileName());
    }
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    makeWindow({{master.slavePath(), ""}});
    recordButton()->click(); // no port open: recording does not need one
    QVERIFY(recordButton()->isChecked());
    QCOMPARE(recordButton()->text(), QString("Stop"));
    QVERIFY(!recordButton()->icon().isNull());
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    const QRegularExpression name("^" + QRegularExpression::escape(recordings())
                                  + "/imu-\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(-\\d+)?\\.csv$");
    QVERIFY2(name.match(path).hasMatch() && !taken.contains(path), qPrintable(path));

    connectButton()->click();
    QVERIFY(master.write(frames(0, 300)));
    QTRY_COMPARE(recordLines().size(), 300);
    connectButton()->click();
    connectButton()->click();
    QVERIFY(master.write(frames(300, 200)));
    QTRY_COMPARE(recordLines().size(), 500);
    recordButton()->click();
    QCOMPARE(recordButton()->text(), QString("Record"));
    QVERIFY(recordButton()->icon().isNull());
    QCOMPARE(awaitMessage(0, "Recording stopped"), "Recording stopped: 500 records in " + path);

    QCOMPARE(recordedRows(path), shownRows());
    for (const QString& name : taken) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "keep");
    }
}

void TestWindow::recordingCannotStart_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("folder is a file") << false;
    QTest::newRow("read-only folder") << true;
}

void TestWindow::recordingCannotStart()
{
    QFETCH(bool, readOnly);
    QVERIFY(QDir().mkpath(home.path() + "/Documents"));
    QString expected = "Recording failed: cannot create the folder " + recordings() + ": " + qt_error_string(ENOTDIR);
    if (readOnly) {
        if (!mountTmpfs(recordings(), MS_RDONLY))
            QSKIP(qPrintable("cannot mount a read-only tmpfs (needs root): " + qt_error_string(errno)));
        expected = "Recording failed: cannot create " + recordings() + "/imu-.*\\.csv: " + qt_error_string(EROFS);
    } else {
        QVERIFY(QFile(recordings()).open(QIODevice::WriteOnly));
    }
    makeWindow();
    recordButton()->click();
    QTRY_VERIFY(!recordButton()->isChecked());
    QCOMPARE(recordButton()->text(), QString("Record"));
    const QStringList logged = messagesFrom(0);
    QCOMPARE(logged.size(), 1);
    QVERIFY2(QRegularExpression("^" + expected + "$").match(logged.first()).hasMatch(), qPrintable(logged.first()));
}

void TestWindow::recordingEndsOnFullDisk()
{
    if (!mountTmpfs(recordings(), 0))
        QSKIP(qPrintable("cannot mount a 16 KiB tmpfs (needs root): " + qt_error_string(errno)));
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    makeWindow({{master.slavePath(), ""}});
    connectButton()->click();
    recordButton()->click();
    const QString path = awaitMessage(1, "Recording to ").mid(13);
    QVERIFY(master.write(frames(0, 600)));
    const QString end = awaitMessage(1, "Recording ended: ");
    QTRY_VERIFY(!recordButton()->isChecked());

    // Whole rows only, as many as the line says, each the record shown.
    const QStringList rows = recordedRows(path);
    QVERIFY(rows.size() > 100);
    QCOMPARE(end, QString("Recording ended: cannot write %1: %2; %3 records kept")
                      .arg(path, qt_error_string(ENOSPC)).arg(rows.size()));
    QCOMPARE(rows, shownRows().mid(0, rows.size()));
    // The display goes on.
    QVERIFY(master.write(frames(600, 5)));
    QTRY_COMPARE(recordLines().size(), 605);
}

// ------------------------------------------- reconnecting after an unplug

void TestWindow::pulledDeviceReopensWithoutClick()
{
    auto master = std::make_unique<PseudoTerminal>();
    PseudoTerminal next, otherBoard;
    QVERIFY(master->isOpen() && next.isOpen() && otherBoard.isOpen());
    const PortEntry board {master->slavePath(), "board", 0x0403, 0x6001, "A1", "1-1:1.0"};
    makeWindow({board});
    connectButton()->click();
    recordButton()->click();
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    QVERIFY(master->write(frames(0, 50)));
    QTRY_COMPARE(recordLines().size(), 50);

    // Pulled; another board of the kind is plugged in meanwhile, then the
    // board comes back in another USB port under another name.
    ports.entries = {{otherBoard.slavePath(), "", 0x0403, 0x6001, "B2", "1-1:1.0"}};
    master.reset();
    QTest::qWait(4 * Reconnector::PollMs);
    QVERIFY(!port()->isOpen());
    // Back, but busy a while (as while ModemManager probes it): the window
    // keeps trying, quietly.
    QSerialPort prober(next.slavePath());
    QVERIFY(prober.open(QIODevice::ReadOnly));
    ports.entries.append({next.slavePath(), "", 0x0403, 0x6001, "A1", "1-2:1.0"});
    QTest::qWait(Reconnector::SettleMs + 4 * Reconnector::RetryMs);
    QVERIFY(!port()->isOpen());
    prober.close();
    const QString back = awaitMessage(0, board.name + " is back");
    QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(board.name + " is back as " + next.slavePath())
                                + " after \\d+\\.\\d s$").match(back).hasMatch(), qPrintable(back));
    QCOMPARE(messagesFrom(0).filter(QRegularExpression("^" + otherBoard.slavePath() + " .* left alone$")).size(), 1);
    QCOMPARE(messagesFrom(0).filter("Serial port error: ").size(), 1); // the pull's
    QCOMPARE(port()->portName(), next.slavePath().mid(5));
    QCOMPARE(connectButton()->text(), QString("Close"));
    QCOMPARE(portBox()->currentText(), next.slavePath() + ": ");
    QVERIFY(next.write(frames(50, 50)));
    QTRY_COMPARE(recordLines().size(), 100);

    // A manual Close starts no watch: the board listed under a new name
    // stays closed.
    connectButton()->click();
    ports.entries = {{otherBoard.slavePath(), "", 0x0403, 0x6001, "A1", "1-2:1.0"}};
    QTest::qWait(3 * Reconnector::PollMs);
    QVERIFY(!port()->isOpen());
    recordButton()->click();
    QCOMPARE(awaitMessage(0, "Recording stopped"), "Recording stopped: 100 records in " + path);
    QCOMPARE(recordedRows(path), shownRows());
}

// ------------------------------------- on a virtual desktop, run by CTest

void TestWindow::wholeTextsOnDesktop()
{
    const int dpi = desktopDpi();
    if (dpi == 0)
        QSKIP("needs a virtual desktop: run by CTest as tst_window_desktop_<dpi>");
    // The desktop's DPI took effect: as the fonts' DPI, or as the screen's
    // scaling once the toolkit scales.
    const QScreen* screen = QGuiApplication::primaryScreen();
    QCOMPARE(qRound(screen->logicalDotsPerInch() * screen->devicePixelRatio()), dpi);

    Widget* w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));

    // A record line of the full width its fields are laid out for: angles of
    // -327.68 degrees, accelerations of -10197 mg (-99.998 m/s2; Z is negated
    // by the remapping). Beyond 10197 mg either way the m/s2 text outgrows
    // its field by a character.
    UART_RCV longest = makeRecord(255, -32768, -32768, -32768, -10197, -10197, 10197);
    UART_RCV shown = longest;
    RecordFormat::remap(shown);
    QCOMPARE(PrefixLength + RecordFormat::consoleLine(shown).size(), 164);
    // More lines than the console shows, so that its scroll bar takes its
    // room as it does in use.
    for (int i = 0; i < 20; ++i) {
        UART_RCV record = longest;
        QVERIFY(QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, record)));
    }
    QTest::qWait(3 * Plotter::RedrawPeriodMs); // the charts redraw with the points
    QVERIFY(console()->verticalScrollBar()->maximum() > 0);

    // In the console's "Courier New" (Liberation Mono, from
    // fonts-liberation2, on Debian) the line fits the console's width.
    const QTextBlock line = console()->document()->lastBlock();
    QCOMPARE(line.text().size(), 164);
    QVERIFY2(console()->horizontalScrollBar()->maximum() == 0,
             qPrintable(QString("a record line is wider than the console: font %1, %2 px wide in %3 px")
                            .arg(QFontInfo(console()->font()).family())
                            .arg(console()->fontMetrics().horizontalAdvance(line.text()))
                            .arg(console()->viewport()->width())));
    // Beyond those values a record outgrows the console; it stays one line,
    // and the console scrolls sideways to show the rest.
    UART_RCV wider = makeRecord(255, -32768, -32768, -32768, -32768, -32768, 32767);
    QVERIFY(QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, wider)));
    QTest::qWait(3 * Plotter::RedrawPeriodMs);
    const QTextBlock widest = console()->document()->lastBlock();
    QCOMPARE(widest.text().size(), 167);
    QCOMPARE(widest.layout()->lineCount(), 1);
    QVERIFY(console()->horizontalScrollBar()->maximum() > 0);

    // Every text of the form whole within its widget, in the widget's font.
    for (const QLabel* label : w->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const QSize needed = label->fontMetrics().size(0, label->text());
        const QSize room = label->contentsRect().size();
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
                 qPrintable(QString("label %1: text %2x%3 in %4x%5").arg(label->objectName())
                                .arg(needed.width()).arg(needed.height()).arg(room.width()).arg(room.height())));
    }
    // The buttons as they are while recording, the Record button then at
    // its widest, with its icon drawn for the screen's density.
    recordButton()->click();
    const QSize iconSize = recordButton()->iconSize();
    const QPixmap icon = recordButton()->icon().pixmap(iconSize);
    QCOMPARE(icon.devicePixelRatio(), screen->devicePixelRatio());
    QCOMPARE(icon.size(), iconSize * screen->devicePixelRatio());
    QCOMPARE(icon.toImage().pixelColor(0, 0).alpha(), 0);
    for (const QPushButton* button : w->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int needed = button->fontMetrics().horizontalAdvance(button->text())
            + (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
        QVERIFY2(needed <= room.width(), qPrintable(QString("button %1: text %2 px wide in %3 px")
                                                        .arg(button->objectName()).arg(needed).arg(room.width())));
    }
    for (const QGroupBox* box : w->findChildren<QGroupBox*>()) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.textAlignment = box->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        QVERIFY2(box->rect().contains(title)
                     && title.width() >= box->fontMetrics().horizontalAdvance(box->title()),
                 qPrintable("group box " + box->objectName()));
    }

    // The logo drawn at the screen's own density (1.25 and 1.5 included),
    // at the same size on the desktop.
    const QPixmap logo = child<QLabel>(w, "app_logo_l")->pixmap(Qt::ReturnByValue);
    QCOMPARE(logo.devicePixelRatio(), screen->devicePixelRatio());
    QCOMPARE(logo.size(), QSize(266, 66) * screen->devicePixelRatio());

    // The charts' tick labels apart from one another, on both axes.
    for (Plotter* chart : w->findChildren<Plotter*>()) {
        auto* plot = chart->findChild<QCustomPlot*>();
        for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
            const auto spans = tickLabelSpans(axis);
            QVERIFY(spans.size() >= 2);
            for (int i = 1; i < spans.size(); ++i)
                QVERIFY2(spans.at(i - 1).second <= spans.at(i).first,
                         qPrintable(QString("%1: tick labels overlap on the %2 axis")
                                        .arg(chart->objectName(), axis == plot->xAxis ? "time" : "value")));
        }
    }
}

// ---------------------------------------------------------- looking back

void TestWindow::pauseHoldsTheChartsOnly()
{
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    Widget* w = makeWindow({{master.slavePath(), ""}});
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto* pause = child<QPushButton>(w, "pause_pb");
    const QList<QCustomPlot*> plots = chartPlots(w);
    QCOMPARE(plots.size(), 6);
    connectButton()->click();
    recordButton()->click();
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    QVERIFY(master.write(frames(0, 100)));
    QTRY_COMPARE(recordLines().size(), 100);
    QTest::qWait(3 * Plotter::RedrawPeriodMs);

    pause->click();
    QCOMPARE(pause->text(), QString("Live"));
    QVector<QCPRange> held;
    for (QCustomPlot* plot : plots)
        held.append(plot->xAxis->range());
    // A skipped index and a bad checksum: both counters must still move.
    QByteArray more = frames(101, 300);
    more[more.size() - 1] = char(more.at(more.size() - 1) + 1);
    QTest::qWait(200);
    QVERIFY(master.write(more));
    QTRY_COMPARE(recordLines().size(), 399);
    QTRY_COMPARE(child<QLineEdit>(w, "csum_miss_le")->text(), QString("1"));
    QCOMPARE(child<QLineEdit>(w, "index_miss_le")->text(), QString("1"));
    QTest::qWait(3 * Plotter::RedrawPeriodMs);
    for (int i = 0; i < plots.size(); ++i)
        QCOMPARE(plots.at(i)->xAxis->range(), held.at(i));

    // Every record reached the history: the whole of it spans them all.
    QCPGraph* live = plots.first()->graph(0);
    QTest::mouseDClick(plots.first(), Qt::LeftButton, Qt::NoModifier, plots.first()->axisRect()->center());
    QTest::qWait(2 * Plotter::RedrawPeriodMs);
    QCOMPARE(plots.first()->xAxis->range().upper, (live->data()->constEnd() - 1)->key);
    QCOMPARE(plots.first()->xAxis->range().lower, live->data()->constBegin()->key);

    // End returns to the newest 8 seconds, as unchecking the button does.
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_End);
    QCOMPARE(pause->text(), QString("Pause"));
    QTest::qWait(2 * Plotter::RedrawPeriodMs);
    for (QCustomPlot* plot : plots) {
        QCOMPARE(plot->xAxis->range().upper, (live->data()->constEnd() - 1)->key);
        QCOMPARE(plot->xAxis->range().size(), Plotter::WindowSeconds);
    }
    recordButton()->click();
    QCOMPARE(awaitMessage(0, "Recording stopped"), "Recording stopped: 399 records in " + path);
}

void TestWindow::oneChartMovesAllSix_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::newRow("wheel") << "wheel";
    QTest::newRow("drag") << "drag";
    QTest::newRow("Space, then wheel") << "space";
}

void TestWindow::oneChartMovesAllSix()
{
    QFETCH(QString, gesture);
    Widget* w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // 60 s of records, one every 10 ms, from a clock of its own.
    qint64 now = 1765000000000;
    Plotter::setClockSource([&now] { return now; });
    for (int i = 0; i < 6000; ++i, now += 10) {
        UART_RCV record = makeRecord(quint8(i), qint16(i), 0, 0, qint16(i % 100), 0, 0);
        QVERIFY(QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, record)));
    }
    Plotter::setClockSource({});
    QTest::qWait(2 * Plotter::RedrawPeriodMs);
    auto* pitch = child<Plotter>(w, "pitch_plotter")->findChild<QCustomPlot*>();
    const QCPRange before = pitch->xAxis->range();
    const QPoint at = pitch->axisRect()->center();

    if (gesture == "space") {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_Space);
        QVERIFY(child<QPushButton>(w, "pause_pb")->isChecked());
    }
    if (gesture == "drag") {
        QTest::mousePress(pitch, Qt::LeftButton, Qt::NoModifier, at);
        QMouseEvent move(QEvent::MouseMove, at + QPoint(50, 0), pitch->mapToGlobal(at + QPoint(50, 0)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(pitch, &move);
        QTest::mouseRelease(pitch, Qt::LeftButton, Qt::NoModifier, at + QPoint(50, 0));
    } else {
        QWheelEvent wheel(at, pitch->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(pitch, &wheel);
    }
    QVERIFY(child<QPushButton>(w, "pause_pb")->isChecked());
    const QCPRange after = pitch->xAxis->range();
    if (gesture == "drag") {
        QCOMPARE(after.size(), before.size());
        QVERIFY(after.upper < before.upper);
    } else {
        QVERIFY(qAbs(after.size() - before.size() * ChartGroup::ZoomPerWheelStep) < 1e-6);
        const double about = pitch->xAxis->pixelToCoord(at.x());
        QVERIFY(after.lower < about && about < after.upper);
    }
    for (QCustomPlot* plot : chartPlots(w))
        QCOMPARE(plot->xAxis->range(), after);

    // Hovering reads the nearest record out on all six, at one instant.
    QMouseEvent hover(QEvent::MouseMove, at, pitch->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pitch, &hover);
    QTest::qWait(2 * Plotter::RedrawPeriodMs);
    for (QCustomPlot* plot : chartPlots(w)) {
        auto* line = qobject_cast<QCPItemLine*>(plot->item(0));
        QVERIFY(line && line->visible());
        QVERIFY(qAbs(line->start->coords().x() - pitch->xAxis->pixelToCoord(at.x())) <= 0.005);
    }
}

// ------------------------------------------------------------- the viewer

void TestWindow::viewerShowsARecording_data()
{
    QTest::addColumn<bool>("timed");
    QTest::newRow("with host_time") << true;
    QTest::newRow("decoded capture, no host_time") << false;
}

void TestWindow::viewerShowsARecording()
{
    QFETCH(bool, timed);
    // Index 3 missing; host_time across midnight, as the host read them.
    const UART_RCV shown[] = {{1, 1234, -500, 9000, 1000, -15, -980}, {2, -1, 0, 1, 2, 3, 4}, {4, 17999, -9000, -17999, -32768, 32767, 0}};
    const QByteArray times[] = {"2026-12-08T23:59:59.990+01:00", "2026-12-09T00:00:00.001+01:00", "2026-12-09T00:00:00.011+01:00"};
    QByteArray csv = RecordCsv::Header;
    for (int i = 0; i < 3; ++i)
        RecordCsv::appendRow(csv, timed ? times[i] : QByteArray(), shown[i]);
    QVERIFY(QDir().mkpath(recordings()));
    QFile file(recordings() + "/board.csv");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();

    makeWindow();
    QString refusal;
    openThroughDialog(file.fileName(), refusal);
    QCOMPARE(refusal, QString());
    auto* viewer = window->findChild<ViewerWindow*>();
    QVERIFY(viewer->isWindow() && viewer->isVisible());
    QVERIFY(viewer->windowTitle().startsWith("board.csv"));
    QCOMPARE(child<QLineEdit>(viewer, "records_le")->text(), "3");
    QCOMPARE(child<QLineEdit>(viewer, "index_miss_le")->text(), "1");
    QCOMPARE(child<QLabel>(viewer, "note_l")->isVisibleTo(viewer), !timed);
    const History& history = viewer->recording().history();
    const qint64 first = QDateTime::fromString(times[0], Qt::ISODateWithMs).toMSecsSinceEpoch();
    const qint64 apart[] = {0, timed ? 11 : 2, timed ? 21 : 3}; // one frame: 1.65 ms
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(history.timeAt(i) - history.timeAt(0), apart[i]);
        QCOMPARE(history.valueAt(i, 0), shown[i].angle1 / 100.0);
        QCOMPARE(history.valueAt(i, 5), double(shown[i].accel3));
    }
    QVERIFY(!timed || history.timeAt(0) == first);
    // The yaw chart draws the three values over the recording's span.
    QCustomPlot* plot = child<Plotter>(viewer, "yaw_plotter")->customPlot();
    QTRY_VERIFY(plot->graph(1)->dataCount() >= 3);
    bool found = false;
    const QCPRange values = plot->graph(1)->getValueRange(found);
    QVERIFY(found && values.lower == -0.01 && values.upper == 179.99);
    QVERIFY(plot->xAxis->range().contains(history.timeAt(1) / 1000.0));
}

void TestWindow::viewerRefusesABadFile()
{
    QByteArray csv = RecordCsv::Header;
    RecordCsv::appendRow(csv, {}, {1, 100, -200, 0, 0, 0, 0});
    QFile bad(home.path() + "/bad.csv");
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(csv + "2,x\n") > 0);
    bad.close();
    const QString line = bad.fileName() + ":3: the row has 2 fields, expected 11";

    makeWindow();
    QDir().mkpath(recordings());
    QString refusal;
    openThroughDialog(bad.fileName(), refusal);
    QVERIFY2(refusal.endsWith("\n" + line), qPrintable(refusal));
    QVERIFY(!window->findChild<ViewerWindow*>());
    QTRY_VERIFY(child<QPushButton>(window.get(), "open_pb")->isEnabled());

    QProcess monitor;
    monitor.start(IMU_MONITOR_PATH, {bad.fileName()});
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitCode(), 2);
    QCOMPARE(QString(monitor.readAllStandardError()), "imu-monitor: " + line + '\n');
}

// Over 4 MB: rows across the pieces the file is read in, and a last row cut
// off by a crash.
void TestWindow::viewerReadsPastPiecesAndACutOffRow()
{
    constexpr int Rows = 80000;
    const qint64 start = QDateTime::fromString("2026-12-08T12:00:00.000Z", Qt::ISODateWithMs).toMSecsSinceEpoch();
    QByteArray csv = RecordCsv::Header;
    for (int i = 0; i <= Rows; ++i) {
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(start + i * 2, Qt::UTC);
        RecordCsv::appendRow(csv, when.toString(Qt::ISODateWithMs).toLatin1(), {quint8(i), qint16(i % 30000), 0, 0, 0, 0, 0});
    }
    csv.chop(9);
    QFile file(home.path() + "/long.csv");
    QVERIFY(csv.size() > 5 << 20 && file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();
    QString error;
    const auto loaded = LoadedRecording::load(file.fileName(), error);
    QVERIFY2(loaded, qPrintable(error));
    QCOMPARE(loaded->history().size(), qint64(Rows));
    QCOMPARE(loaded->indexMisses(), 0u);
    QCOMPARE(loaded->history().timeAt(Rows - 1), start + (Rows - 1) * 2);
    QCOMPARE(loaded->history().valueAt(Rows - 1, 0), (Rows - 1) % 30000 / 100.0);
    QVERIFY2(loaded->cutOffText().startsWith(file.fileName() + ":80002: the last row is cut off"), qPrintable(loaded->cutOffText()));
}

// ---------------------------------------------------------- watched again

void TestWindow::playHeadKeepsToTheClock_data()
{
    QTest::addColumn<double>("speed");
    QTest::addColumn<double>("laterSpeed"); // chosen halfway
    QTest::addColumn<double>("tickMs");     // the redraws' period
    QTest::addColumn<double>("wallMs");
    QTest::addColumn<double>("advancedMs");
    // Ten minutes of records 10 ms apart.
    QTest::newRow("10x, redraws every 25 ms") << 10.0 << 10.0 << 25.0 << 30000.0 << 300000.0;
    QTest::newRow("10x, redraws 5 s late") << 10.0 << 10.0 << 5000.0 << 30000.0 << 300000.0;
    QTest::newRow("100x, redraws every 16 ms") << 100.0 << 100.0 << 16.0 << 3000.0 << 300000.0;
    QTest::newRow("0.1x, redraws every 40 ms") << 0.1 << 0.1 << 40.0 << 30000.0 << 3000.0;
    QTest::newRow("1x, then 10x from halfway") << 1.0 << 10.0 << 25.0 << 20000.0 << 110000.0;
    QTest::newRow("ten minutes at 10x end after a minute") << 10.0 << 10.0 << 25.0 << 60000.0 << 600000.0;
}

void TestWindow::playHeadKeepsToTheClock()
{
    QFETCH(double, speed);
    QFETCH(double, laterSpeed);
    QFETCH(double, tickMs);
    QFETCH(double, wallMs);
    QFETCH(double, advancedMs);
    constexpr qint64 Start = 1765000000000, SpanMs = 600000;
    History history(0);
    for (qint64 ms = 0; ms <= SpanMs; ms += 10)
        history.append(Start + ms, {quint8(ms / 10), 0, 0, 0, 0, 0, 0});
    double wall = 1234.5;
    PlayHead head(&history, [&wall] { return wall; });
    head.setSpeed(speed);
    head.setPlaying(true);
    for (double played = 0; played < wallMs;) {
        const double step = qMin(tickMs, wallMs - played);
        if (played < wallMs / 2 && played + step >= wallMs / 2) {
            wall += wallMs / 2 - played;
            played = wallMs / 2;
            head.setSpeed(laterSpeed);
            continue;
        }
        wall += step;
        played += step;
        head.advance();
    }
    QCOMPARE(head.position() - Start, advancedMs);
    const bool atEnd = advancedMs >= SpanMs;
    QCOMPARE(head.isPlaying(), !atEnd);
    QCOMPARE(head.record(), atEnd ? history.size() - 1 : qint64(advancedMs / 10));
    if (!atEnd)
        QCOMPARE(head.achievedSpeed(), laterSpeed);
}

void TestWindow::playHeadMovesByRecordAndTime_data()
{
    QTest::addColumn<QString>("focused");
    QTest::newRow("slider focused") << "position_slider";
    QTest::newRow("speed list focused") << "speed_combobox";
    QTest::newRow("play button focused") << "play_pb";
    QTest::newRow("a chart focused") << "yaw_plotter";
}

// Records at uneven and equal times: each step shows the next record, and
// an instant shows the last record at or before it, never the nearest.
void TestWindow::playHeadMovesByRecordAndTime()
{
    QFETCH(QString, focused);
    const int offsets[] = {0, 5, 5, 5, 7, 100, 100, 2000};
    const int last = 7;
    const qint64 start = QDateTime::fromString("2026-12-09T10:00:00.000Z", Qt::ISODateWithMs).toMSecsSinceEpoch();
    QList<QByteArray> times;
    QList<UART_RCV> rows;
    for (int i = 0; i <= last; ++i) {
        times << QDateTime::fromMSecsSinceEpoch(start + offsets[i], Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
        rows << UART_RCV {quint8(10 + i), qint16(100 * i), qint16(-7 * i), 3, qint16(i), 0, 1000};
    }
    double wall = 0;
    auto viewer = viewerOn(writeRecording(times, rows), &wall);
    QVERIFY(viewer);
    QStringList speeds;
    auto* speedBox = child<QComboBox>(viewer.get(), "speed_combobox");
    for (int i = 0; i < speedBox->count(); ++i)
        speeds << speedBox->itemText(i);
    QCOMPARE(speeds, QStringList({"0.1×", "0.25×", "0.5×", "1×", "2×", "5×", "10×", "30×", "100×"}));
    QCOMPARE(speedBox->currentText(), "1×");
    child<QPushButton>(viewer.get(), "attitude_pb")->click();
    auto* attitude = viewer->findChild<QWidget*>("attitude_window");
    QVERIFY(attitude && attitude->isVisible() && attitude->parentWidget() == viewer.get());
    auto* head = viewer->playback()->head();
    auto* charts = viewer->findChild<ChartGroup*>();
    auto* target = child<QWidget>(viewer.get(), qPrintable(focused));
    target->setFocus();
    auto shows = [&](int record) {
        viewer->playback()->redraw();
        const QString line = child<QLabel>(viewer.get(), "record_l")->text();
        const AttitudeValues values = attitude->findChild<AttitudeView*>()->values();
        return head->record() == record && charts->readoutRecord() == record
            && line.mid(PrefixLength).startsWith(QString("Ind: %1;").arg(10 + record, 3))
            && values.yaw == rows[record].angle1 && values.pitch == rows[record].angle2;
    };
    auto press = [&](Qt::Key key, int record) {
        QTest::keyClick(target, key);
        return shows(record);
    };
    QVERIFY(shows(0));
    for (int i = 1; i <= last; ++i)
        QVERIFY2(press(Qt::Key_Right, i), qPrintable(QString("Right to %1").arg(i)));
    QVERIFY(press(Qt::Key_Right, last));
    for (int i = last - 1; i >= 0; --i)
        QVERIFY2(press(Qt::Key_Left, i), qPrintable(QString("Left to %1").arg(i)));
    QVERIFY(press(Qt::Key_Left, 0));
    QVERIFY(press(Qt::Key_End, last));
    QVERIFY(press(Qt::Key_PageUp, 6)); // +1000 ms: the second of the two at +100
    QVERIFY(press(Qt::Key_PageUp, 0));
    QVERIFY(press(Qt::Key_PageDown, 6));
    QVERIFY(press(Qt::Key_PageDown, last));
    QVERIFY(press(Qt::Key_Home, 0));
    // The slider's steps are milliseconds: +4 is nearer +5 but shows +0;
    // +99 shows +7.
    auto* slider = child<QSlider>(viewer.get(), "position_slider");
    const std::pair<int, int> slid[] = {{4, 0}, {6, 3}, {99, 4}, {100, 6}, {1999, 6}, {2000, last}};
    for (const auto& [ms, record] : slid) {
        slider->setValue(ms);
        QVERIFY2(shows(record), qPrintable(QString("slider at +%1").arg(ms)));
    }
    // Space plays, on the clock, and the end unchecks Play.
    QVERIFY(press(Qt::Key_Home, 0));
    QTest::keyClick(target, Qt::Key_Space);
    auto* play = child<QPushButton>(viewer.get(), "play_pb");
    QVERIFY(head->isPlaying() && play->isChecked() && play->text() == "Pause");
    wall += 1999.0;
    QVERIFY(shows(6) && head->isPlaying());
    wall += 1.0;
    QVERIFY(shows(last) && !head->isPlaying() && !play->isChecked() && play->text() == "Play");
}

void TestWindow::recordLineIsTheConsoleLine_data()
{
    QTest::addColumn<QList<QByteArray>>("times");
    QTest::addColumn<int>("record");
    QTest::newRow("across midnight") << QList<QByteArray> {"2026-12-08T23:59:59.990+01:00", "2026-12-09T00:00:00.001+01:00"} << 1;
    // The history moves it after the one before; the line keeps host_time.
    QTest::newRow("after the host's clock was set back")
        << QList<QByteArray> {"2026-12-09T10:00:00.000Z", "2026-12-09T10:00:00.010Z", "2026-12-09T09:59:59.004Z"} << 2;
}

void TestWindow::recordLineIsTheConsoleLine()
{
    QFETCH(QList<QByteArray>, times);
    QFETCH(int, record);
    QList<UART_RCV> rows;
    for (int i = 0; i < times.size(); ++i)
        rows << UART_RCV {quint8(i), 0, 0, 0, 0, 0, 0};
    rows[record] = {2, -1, 0, 1, 2, 3, -4};
    double wall = 0;
    auto viewer = viewerOn(writeRecording(times, rows), &wall);
    QVERIFY(viewer);
    viewer->seekToRecord(record);
    viewer->playback()->redraw();
    const QString time = QDateTime::fromString(times[record], Qt::ISODateWithMs).toLocalTime().toString("hh:mm:ss.zzz");
    QCOMPARE(child<QLabel>(viewer.get(), "record_l")->text(),
             "[" + time + "] Ind:   2; Yaw:   -0.01; Pitch:    0.00; Roll:    0.01; Xacc:      2 mg (  0.020 m/s2); "
                          "Yacc:      3 mg (  0.029 m/s2); Zacc:     -4 mg ( -0.039 m/s2)");
}

void TestWindow::playingNeverWritesTheRecording()
{
    QList<QByteArray> times;
    QList<UART_RCV> rows;
    for (int i = 0; i < 500; ++i) {
        times << QDateTime::fromMSecsSinceEpoch(1765000000000 + 2 * i, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
        rows << UART_RCV {quint8(i), qint16(i), 0, 0, 0, 0, 0};
    }
    QVERIFY(QDir(home.path()).mkpath("kept"));
    QFile file(writeRecording(times, rows, "kept/kept.csv"));
    const QDateTime longAgo = QDateTime::currentDateTimeUtc().addDays(-3).addMSecs(-123);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Append) && file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    double wall = 0;
    auto viewer = viewerOn(file.fileName(), &wall);
    QVERIFY(viewer);
    child<QPushButton>(viewer.get(), "attitude_pb")->click();
    child<QComboBox>(viewer.get(), "speed_combobox")->setCurrentText("100×");
    child<QPushButton>(viewer.get(), "play_pb")->click();
    for (int i = 0; i < 20; ++i) {
        wall += 25;
        viewer->playback()->redraw();
    }
    QVERIFY(!viewer->playback()->head()->isPlaying());
    QTest::keyClick(viewer.get(), Qt::Key_Home);
    QTest::keyClick(viewer.get(), Qt::Key_Right);
    viewer.reset();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes);
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), longAgo);
    QCOMPARE(QDir(home.path() + "/kept").entryList(QDir::Files), QStringList {"kept.csv"});
}

// ------------------------------------------------------------------ marks

void TestWindow::marksLiveAndRecorded()
{
    PseudoTerminal master;
    QVERIFY(master.isOpen());
    Widget* w = makeWindow({{master.slavePath(), ""}});
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    auto press = [&](QWidget* to) { QTest::keyClick(to, Qt::Key_M); };
    auto* charts = w->findChild<ChartGroup*>();
    // The chart's menu, its note typed (or the dialog cancelled).
    auto markWithNote = [&](const QString& note, bool accept) {
        QMenu menu;
        emit charts->contextMenuRequested(&menu, 1, 0.0);
        QAction* action = menu.actions().value(0);
        QVERIFY(action && action->text() == QString("Mark with a note…"));
        QTimer::singleShot(50, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setTextValue(note);
            accept ? dialog->accept() : dialog->reject();
        });
        action->trigger();
    };

    press(w); // nothing shown yet: no mark, and no number taken
    connectButton()->click();
    recordButton()->click();
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    QVERIFY(master.write(frames(0, 100)));
    QTRY_COMPARE(recordLines().size(), 100);
    press(w);
    QVERIFY(master.write(frames(100, 50)));
    QTRY_COMPARE(recordLines().size(), 150);
    markWithNote("nose, \"up\"", true);
    markWithNote("never", false);
    w->activateWindow(); // back from the note's dialog
    QVERIFY(QTest::qWaitForWindowActive(w));
    auto* field = new QLineEdit(w); // a text field takes its M
    field->show();
    field->setFocus();
    press(field);
    QCOMPARE(field->text(), QString("m"));
    delete field;
    recordButton()->click();
    awaitMessage(0, "Recording stopped");

    const QStringList said = messagesFrom(0).filter(QRegularExpression("^(Mark \\d|Nothing)"));
    QCOMPARE(said.join('|'), QStringList({"Nothing to mark: no record has come yet", "Mark 1", "Mark 2: nose, \"up\""}).join('|'));
    QCOMPARE(charts->markCount(), 2);
    QVERIFY(messagesFrom(0).contains("Marks to " + MarksFile::pathFor(path)));
    // Each mark names the newest row written then, as the recording has it.
    QFile recording(path), marks(MarksFile::pathFor(path));
    QVERIFY(recording.open(QIODevice::ReadOnly) && marks.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = recording.readAll().split('\n');
    QCOMPARE(rows.size(), 152);
    auto marked = [&](int row) { return rows.at(row).split(',').mid(0, 2).join(','); };
    const QByteArray expected = QByteArray(MarksFile::Header) + marked(100) + ",1,\n" + marked(150)
        + ",2,\"nose, \"\"up\"\"\"\n";
    QCOMPARE(marks.readAll(), expected);
    QVERIFY(rows.at(150).split(',').at(1) == "149");

    // A marks file already there is kept, and the console says so.
    recordButton()->click();
    const int from = lines().size();
    const QString next = MarksFile::pathFor(awaitMessage(from, "Recording to ").mid(13));
    QFile taken(next);
    QVERIFY(taken.open(QIODevice::WriteOnly) && taken.write("keep") == 4);
    taken.close();
    QVERIFY(master.write(frames(150, 5)));
    QTRY_COMPARE(recordLines().size(), 155);
    press(w);
    QCOMPARE(awaitMessage(from, "Marks "), "Marks no longer written: cannot create " + next + ": " + qt_error_string(EEXIST));
    QVERIFY(taken.open(QIODevice::ReadOnly) && taken.readAll() == "keep");
}

void TestWindow::marksOutlastAPulledCable_data()
{
    QTest::addColumn<bool>("pluggedBack");
    QTest::newRow("plugged back") << true;
    QTest::newRow("left out") << false;
}

// The cable pulled while recording: the marks made before and after it
// stay in the marks file, each naming a row of the recording.
void TestWindow::marksOutlastAPulledCable()
{
    QFETCH(bool, pluggedBack);
    auto master = std::make_unique<PseudoTerminal>();
    PseudoTerminal next;
    QVERIFY(master->isOpen() && next.isOpen());
    const QString pulled = master->slavePath();
    Widget* w = makeWindow({{pulled, "board", 0x0403, 0x6001, "A1", "1-1:1.0"}});
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    connectButton()->click();
    recordButton()->click();
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    QVERIFY(master->write(frames(0, 50)));
    QTRY_COMPARE(recordLines().size(), 50);
    QTest::keyClick(w, Qt::Key_M);

    ports.entries.clear();
    master.reset();
    QTRY_VERIFY(!port()->isOpen());
    if (pluggedBack) {
        ports.entries = {{next.slavePath(), "", 0x0403, 0x6001, "A1", "1-2:1.0"}};
        QVERIFY(!awaitMessage(0, pulled + " is back").isEmpty());
        QVERIFY(next.write(frames(50, 30)));
        QTRY_COMPARE(recordLines().size(), 80);
    }
    QTest::keyClick(w, Qt::Key_M);
    recordButton()->click();
    const int records = pluggedBack ? 80 : 50;
    QCOMPARE(awaitMessage(0, "Recording stopped"), QString("Recording stopped: %1 records in %2").arg(records).arg(path));

    QFile recording(path), marks(MarksFile::pathFor(path));
    QVERIFY(recording.open(QIODevice::ReadOnly) && marks.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = recording.readAll().split('\n');
    QCOMPARE(rows.size(), records + 2); // the header, and nothing after the last newline
    auto marked = [&](int row) { return rows.at(row).split(',').mid(0, 2).join(','); };
    QCOMPARE(marks.readAll(), QByteArray(MarksFile::Header) + marked(50) + ",1,\n" + marked(records) + ",2,\n");
}

void TestWindow::viewerShowsMarks_data()
{
    QTest::addColumn<QByteArray>("marks"); // "-": no marks file
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("note"); // FILE stands for the marks file
    const QByteArray header = MarksFile::Header;
    auto row = [](int record, int index, int number, const QString& note) {
        QByteArray out;
        MarksFile::appendRow(out, markedTime(record), index, number, note);
        return out;
    };
    QTest::newRow("notes with comma, quote, line break")
        << header + row(3, 4, 1, "") + row(1, 2, 2, "a, \"b\"") + row(1, 2, 3, "two\nlines")
        << QStringList {"2  14:02:11.110  a, \"b\"", "3  14:02:11.110  two lines", "1  14:02:11.130"} << QString();
    QTest::newRow("index matches no row")
        << header + row(0, 1, 1, "") + row(2, 9, 2, "x") << QStringList {"1  14:02:11.100", "2  14:02:11.120  x"}
        << "FILE:3: mark 2 matches no row of the recording (host_time " + QString(markedTime(2))
            + ", index 9); placed by its time";
    QByteArray between = row(2, 3, 1, "");
    between.replace("11.120", "11.125");
    QTest::newRow("time matches no row") << header + between << QStringList {"1  14:02:11.125"}
                                         << "FILE:2: mark 1 matches no row of the recording (host_time "
                                                + QString(markedTime(2).replace("11.120", "11.125"))
                                                + ", index 3); placed by its time";
    QTest::newRow("no marks file") << QByteArray("-") << QStringList() << QString();
    const QString without = "; the recording is shown without marks";
    QTest::newRow("bad header") << "host_time,index,mark\n" + row(0, 1, 1, "") << QStringList()
                                << "FILE:1: the header is not host_time,index,mark,note" + without;
    QTest::newRow("short row") << header + row(0, 1, 1, "") + "2026-12-08T14:02:11.100+01:00,1,2\n" << QStringList()
                               << "FILE:3: the row has 3 fields, expected 4" + without;
    QTest::newRow("bad time") << header + "2026-12-08 14:02:11.100,1,1,\n" << QStringList()
                              << "FILE:2: host_time 2026-12-08 14:02:11.100 is not a local time with milliseconds "
                                 "and UTC offset, such as 2026-12-08T14:02:11.377+01:00" + without;
}

void TestWindow::viewerShowsMarks()
{
    QFETCH(QByteArray, marks);
    QFETCH(QStringList, items);
    QFETCH(QString, note);
    // Five records 10 ms apart, indexes 1 to 5.
    QByteArray csv = RecordCsv::Header;
    for (int i = 0; i < 5; ++i)
        RecordCsv::appendRow(csv, markedTime(i), {quint8(i + 1), 0, 0, 0, 0, 0, 0});
    const QString path = home.path() + "/marked.csv";
    QFile file(path), marksFile(MarksFile::pathFor(path));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();
    marksFile.remove();
    QVERIFY(marks == "-" || (marksFile.open(QIODevice::WriteOnly) && marksFile.write(marks) == marks.size()));
    marksFile.close();

    QString error;
    ViewerWindow viewer(LoadedRecording::load(path, error));
    auto* box = child<QComboBox>(&viewer, "marks_combobox");
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown.append(box->itemText(i));
    QCOMPARE(shown, items);
    QCOMPARE(box->isEnabled(), !items.isEmpty());
    QCOMPARE(viewer.findChild<ChartGroup*>()->markCount(), items.size());
    auto* noteLine = child<QLabel>(&viewer, "note_l");
    QCOMPARE(noteLine->isVisibleTo(&viewer) ? noteLine->text() : QString(),
             QString(note).replace("FILE", marksFile.fileName()));
    if (!QTest::currentDataTag() || QByteArray(QTest::currentDataTag()) != "notes with comma, quote, line break")
        return;

    // ] and [ go by the records' order, marks on one record one by one.
    viewer.show();
    viewer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    const QList<QPair<Qt::Key, int>> steps {{Qt::Key_BracketRight, 0}, {Qt::Key_BracketRight, 1},
                                            {Qt::Key_BracketRight, 2}, {Qt::Key_BracketRight, 2},
                                            {Qt::Key_BracketLeft, 1},  {Qt::Key_BracketLeft, 0}};
    const qint64 records[] = {1, 1, 3};
    for (const auto& [key, item] : steps) {
        QTest::keyClick(&viewer, key);
        QCOMPARE(box->currentIndex(), item);
        QCOMPARE(viewer.currentRecord(), records[item]);
    }
    viewer.seekToRecord(4);
    QTest::keyClick(&viewer, Qt::Key_BracketLeft);
    QCOMPARE(box->currentIndex(), 2);
}

void TestWindow::marksMoveThePlayHead_data()
{
    QTest::addColumn<int>("chosen"); // marks_combobox's item; then one record on or back,
    QTest::addColumn<int>("key");    // and the items ] and [ go to from there
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");
    // Marks on records 2, 5, 5 and 7 of records at +0, 5, 5, 5, 7, 100,
    // 100, 2000 ms: their instants alone name none of them.
    QTest::newRow("a record sharing its millisecond") << 0 << int(Qt::Key_Right) << 1 << 0;
    QTest::newRow("two marks on one record") << 1 << int(Qt::Key_Right) << 3 << 2;
    QTest::newRow("back from the second of two") << 2 << int(Qt::Key_Left) << 1 << 0;
}

// Choosing a mark puts the play head on the marked record itself, and [ and
// ] count from the play head, wherever it moved since the choice.
void TestWindow::marksMoveThePlayHead()
{
    QFETCH(int, chosen);
    QFETCH(int, key);
    QFETCH(int, next);
    QFETCH(int, previous);
    const int offsets[] = {0, 5, 5, 5, 7, 100, 100, 2000};
    const int marked[] = {2, 5, 5, 7};
    const qint64 start = QDateTime::fromString("2026-12-09T10:00:00.000Z", Qt::ISODateWithMs).toMSecsSinceEpoch();
    QList<QByteArray> times;
    QList<UART_RCV> rows;
    for (int i = 0; i < 8; ++i) {
        times << QDateTime::fromMSecsSinceEpoch(start + offsets[i], Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
        rows << UART_RCV {quint8(10 + i), qint16(100 * i), 0, 0, qint16(i), 0, 1000};
    }
    const QString path = writeRecording(times, rows, "marked-watch.csv");
    QByteArray marks = MarksFile::Header;
    for (int m = 0; m < 4; ++m)
        MarksFile::appendRow(marks, times[marked[m]], 10 + marked[m], m + 1, QString());
    QFile marksFile(MarksFile::pathFor(path));
    QVERIFY(marksFile.open(QIODevice::WriteOnly) && marksFile.write(marks) == marks.size());
    marksFile.close();
    double wall = 0;
    auto viewer = viewerOn(path, &wall);
    QVERIFY(viewer);
    viewer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(viewer.get()));
    auto* box = child<QComboBox>(viewer.get(), "marks_combobox");
    auto* charts = viewer->findChild<ChartGroup*>();
    auto shows = [&](int record) {
        viewer->playback()->redraw();
        const QString line = child<QLabel>(viewer.get(), "record_l")->text();
        return viewer->playback()->head()->record() == record && viewer->currentRecord() == record
            && charts->readoutRecord() == record
            && line.mid(PrefixLength).startsWith(QString("Ind: %1;").arg(10 + record, 3));
    };
    for (const int jump : {int(Qt::Key_BracketRight), int(Qt::Key_BracketLeft)}) {
        emit box->activated(chosen);
        QVERIFY2(shows(marked[chosen]), "the chosen mark's record");
        QTest::keyClick(viewer.get(), Qt::Key(key));
        QVERIFY2(shows(marked[chosen] + (key == Qt::Key_Right ? 1 : -1)), "one record on or back");
        QTest::keyClick(viewer.get(), Qt::Key(jump));
        const int item = jump == Qt::Key_BracketRight ? next : previous;
        QCOMPARE(box->currentIndex(), item);
        QVERIFY2(shows(marked[item]), jump == Qt::Key_BracketRight ? "after ]" : "after [");
    }
}

// ---------------------------------------------------------- the attitude window

using AttitudeProjection::Vector3;
Q_DECLARE_METATYPE(Vector3)

// ------------------------------ charts as pictures, and a small screen

namespace {

double scaleFactor() { return qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble(); }

// Without the read-out's red, and drawn out to the right and lower edges.
bool drawnWhole(const QImage& image)
{
    int red = 0, right = 0, lower = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 150 && c.green() < 90 && c.blue() < 90;
            right += c.lightness() < 128 && x > image.width() * 11 / 20;
            lower += c.lightness() < 128 && y > image.height() * 11 / 20;
        }
    return red == 0 && right > 0 && lower > 0;
}

} // namespace

void TestWindow::chartPictures_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QSize>("logical");
    QTest::newRow("this chart") << 1 << QSize(400, 200);
    QTest::newRow("all six charts") << int(ChartExport::AllCharts) << QSize(1220, 410);
}

void TestWindow::chartPictures()
{
    QFETCH(int, channel);
    QFETCH(QSize, logical);
    PseudoTerminal master;
    Widget* w = makeWindow({{master.slavePath(), ""}});
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    connectButton()->click();
    QVERIFY(master.write(frames(0, 200)));
    QTRY_COMPARE(recordLines().size(), 200);
    auto* pictures = w->findChild<ChartExport*>();
    w->findChild<ChartGroup*>()->showReadout(child<Plotter>(w, "pitch_plotter")->customPlot()->xAxis->range().center());
    pictures->copy(channel);
    QCOMPARE(QGuiApplication::clipboard()->image().size(), logical * scaleFactor());
    QVERIFY(drawnWhole(QGuiApplication::clipboard()->image()));
    const QString png = home.path() + "/chart.png", pdf = home.path() + "/chart.pdf";
    pictures->save(channel, png, ChartExport::Format::Png), pictures->save(channel, pdf, ChartExport::Format::Pdf);
    QTRY_COMPARE(messagesFrom(0).filter("Image saved to ").size(), 2);
    const QImage file(png);
    QCOMPARE(file.size(), logical * scaleFactor());
    QVERIFY(drawnWhole(file));
    QCOMPARE(qRound(file.dotsPerMeterX() * 0.0254), qRound(96 * scaleFactor())); // shown at the chart's size
    // One page of 1 pt per pixel, whose pens all have a width.
    QFile document(pdf);
    const QByteArray bytes = document.open(QIODevice::ReadOnly) ? document.readAll() : QByteArray();
    QVERIFY(bytes.startsWith("%PDF-1.") && bytes.trimmed().endsWith("%%EOF") && bytes.count("/Type /Page\n") == 1);
    QVERIFY(bytes.contains(QString("/MediaBox [0 0 %1.000000 %2.000000]").arg(logical.width()).arg(logical.height()).toLatin1()));
    const QRegularExpression stream("/Filter /FlateDecode\\s*>>\\s*stream\\r?\\n"), width("(?:^|\\s)([\\d.]+) w\\s");
    int strokes = 0;
    for (auto it = stream.globalMatch(QString::fromLatin1(bytes.constData(), bytes.size())); it.hasNext();) {
        const int from = it.next().capturedEnd();
        const QByteArray content = qUncompress(QByteArray(4, '\0') + bytes.mid(from, bytes.indexOf("endstream", from) - from));
        for (auto w = width.globalMatch(QString::fromLatin1(content.constData(), content.size())); w.hasNext(); ++strokes)
            QVERIFY2(w.next().captured(1).toDouble() > 0, "a hairline pen, 0 wide in a vector editor");
    }
    QVERIFY(strokes > 0);
}

void TestWindow::chartMenuOffersPictures()
{
    // Live and in a viewer, each chart's menu copies it or all six; saving.
    makeWindow();
    QByteArray csv = RecordCsv::Header;
    RecordCsv::appendRow(csv, "2026-12-09T10:00:00.000+01:00", {1, 100, 200, 300, 1, 2, 3});
    QVERIFY(QDir().mkpath(recordings()));
    QFile file(recordings() + "/short.csv");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.flush());
    QString error;
    ViewerWindow viewer(LoadedRecording::load(file.fileName(), error));
    for (QWidget* w : {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(&viewer)}) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QMenu menu;
        emit w->findChild<ChartGroup*>()->contextMenuRequested(&menu, 2, 0.0);
        QStringList entries;
        for (QAction* entry : menu.actions())
            for (QAction* action : entry->menu() ? entry->menu()->actions() : QList<QAction*>())
                entries << entry->text() + " > " + action->text();
        QCOMPARE(entries, QStringList({"Copy image > This chart", "Copy image > All six charts",
                                       "Save image… > This chart…", "Save image… > All six charts…"}));
        // Below the live window's mark, the pictures' entries.
        const auto copyImage = std::find_if(menu.actions().cbegin(), menu.actions().cend(),
                                            [](QAction* entry) { return entry->text() == "Copy image"; });
        QVERIFY(copyImage != menu.actions().cend());
        (*copyImage)->menu()->actions().first()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->image().size(), child<Plotter>(w, "roll_plotter")->customPlot()->size() * scaleFactor());
    }
    // Asked in the recordings' folder; a name without suffix takes the filter's.
    QString startedIn;
    QTimer::singleShot(200, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            startedIn = dialog->directory().absolutePath();
            dialog->selectNameFilter("PDF document (*.pdf)");
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(recordings() + "/all");
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    QMenu menu;
    emit window->findChild<ChartGroup*>()->contextMenuRequested(&menu, 0, 0.0);
    menu.actions().last()->menu()->actions().last()->trigger();
    QCOMPARE(startedIn, recordings());
    QTRY_COMPARE(messagesFrom(0), QStringList("Image saved to " + recordings() + "/all.pdf"));
    QFile pdf(recordings() + "/all.pdf");
    QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-");
    // In a folder that cannot be: one line in a box, nothing said saved.
    auto* pictures = window->findChild<ChartExport*>();
    for (ChartExport::Format format : {ChartExport::Format::Png, ChartExport::Format::Pdf})
        pictures->save(ChartExport::AllCharts, file.fileName() + "/charts.png", format);
    QTRY_COMPARE(window->findChildren<QMessageBox*>().size(), 2);
    const QString line = window->findChildren<QMessageBox*>().first()->text();
    QVERIFY2(line.startsWith("Cannot save " + file.fileName() + "/charts.png: ") && !line.contains('\n'), qPrintable(line));
    QCOMPARE(messagesFrom(0).size(), 1);
}

void TestWindow::fittedWindowIsTheForm()
{
    // Wrapped whatever the screen: the form inside, its title and close outside.
    PseudoTerminal master;
    Widget* w = makeWindow({{master.slavePath(), ""}});
    auto fitted = std::make_unique<FittedWindow>(w);
    fitted->show();
    QVERIFY(QTest::qWaitForWindowExposed(fitted.get()) && w->parentWidget() == fitted->viewport());
    w->setWindowTitle("Telvorin IMU (test)");
    QCOMPARE(fitted->windowTitle(), QString("Telvorin IMU (test)"));
    connectButton()->click();
    recordButton()->click();
    QVERIFY(master.write(frames(0, 50)));
    QTRY_COMPARE(recordLines().size(), 50);
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    const QStringList shown = shownRows();
    // The form hears the close and may refuse it.
    struct CloseWatch : QObject {
        bool refuse = true;
        int closes = 0;
        bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::Close && (e->setAccepted(!refuse), ++closes); }
    } watch;
    w->installEventFilter(&watch);
    QVERIFY(!fitted->close() && fitted->isVisible());
    watch.refuse = false;
    QVERIFY(fitted->close() && !fitted->isVisible());
    QCOMPARE(watch.closes, 2);
    // As the program ends: the window gives the form back, the form ends the recording.
    fitted.reset();
    QCOMPARE(w->parentWidget(), nullptr);
    window.reset();
    QCOMPARE(recordedRows(path), shown);
}

void TestWindow::fitsTheScreen()
{
    // On a real (virtual) desktop: a laptop's screen wraps, a large one not.
    if (desktopDpi() == 0)
        QSKIP("needs a virtual desktop: run by CTest as tst_window_desktop_<dpi> and tst_window_small_screen_<dpi>");
    const bool small = qEnvironmentVariableIsSet("IMU_DESKTOP_SCREEN");
    Widget* w = makeWindow();
    const auto fitted = showFitted(w);
    QCOMPARE(bool(fitted) && !w->isWindow(), small);
    QWidget* shown = w->window();
    shown->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(shown));
    // No window manager here, so no frame: the whole height, scrolled.
    QTRY_COMPARE(shown->height(), small ? shown->screen()->availableGeometry().height() : 801);
    QCOMPARE(w->size(), QSize(1240, 801));
    QVERIFY(w->findChild<WindowExposure*>()->isExposed());
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : shown, Qt::Key_Space);
    QVERIFY(child<QPushButton>(w, "pause_pb")->isChecked());
}

void TestWindow::attitudeAxes_data()
{
    // Where the body's X (nose), Y (right side) and Z (down) point in the
    // world, north-east-down, after yaw, then pitch, then roll.
    QTest::addColumn<QVector<double>>("angles");
    QTest::addColumn<Vector3>("nose");
    QTest::addColumn<Vector3>("right");
    QTest::addColumn<Vector3>("down");
    const double c = std::cos(M_PI / 6), s = 0.5;
    QTest::newRow("level") << QVector<double> {0, 0, 0} << Vector3 {1, 0, 0} << Vector3 {0, 1, 0} << Vector3 {0, 0, 1};
    QTest::newRow("yaw 90: nose east") << QVector<double> {90, 0, 0} << Vector3 {0, 1, 0} << Vector3 {-1, 0, 0}
                                       << Vector3 {0, 0, 1};
    QTest::newRow("pitch 30: nose up") << QVector<double> {0, 30, 0} << Vector3 {c, 0, -s} << Vector3 {0, 1, 0}
                                       << Vector3 {s, 0, c};
    QTest::newRow("roll 30: right side down") << QVector<double> {0, 0, 30} << Vector3 {1, 0, 0} << Vector3 {0, c, s}
                                              << Vector3 {0, -s, c};
    QTest::newRow("yaw 90 then pitch 30") << QVector<double> {90, 30, 0} << Vector3 {0, c, -s} << Vector3 {-1, 0, 0}
                                          << Vector3 {0, s, c};
    QTest::newRow("yaw 180") << QVector<double> {180, 0, 0} << Vector3 {-1, 0, 0} << Vector3 {0, -1, 0}
                             << Vector3 {0, 0, 1};
    QTest::newRow("yaw -180") << QVector<double> {-180, 0, 0} << Vector3 {-1, 0, 0} << Vector3 {0, -1, 0}
                              << Vector3 {0, 0, 1};
    QTest::newRow("pitch 90") << QVector<double> {0, 90, 0} << Vector3 {0, 0, -1} << Vector3 {0, 1, 0}
                              << Vector3 {1, 0, 0};
    QTest::newRow("pitch -90") << QVector<double> {0, -90, 0} << Vector3 {0, 0, 1} << Vector3 {0, 1, 0}
                               << Vector3 {-1, 0, 0};
    // Gimbal lock: yaw and roll turn the same way, only their difference
    // shows.
    QTest::newRow("pitch 90, yaw 45, roll 30") << QVector<double> {45, 90, 30} << Vector3 {0, 0, -1}
                                               << Vector3 {-std::sin(M_PI / 12), std::cos(M_PI / 12), 0}
                                               << Vector3 {std::cos(M_PI / 12), std::sin(M_PI / 12), 0};
}

void TestWindow::attitudeAxes()
{
    QFETCH(QVector<double>, angles);
    QFETCH(Vector3, nose);
    QFETCH(Vector3, right);
    QFETCH(Vector3, down);
    const AttitudeProjection::Matrix3 r = AttitudeProjection::bodyToWorld(angles[0], angles[1], angles[2]);
    const Vector3 expected[3] = {nose, right, down};
    for (int axis = 0; axis < 3; ++axis) {
        const Vector3 got = r * Vector3 {double(axis == 0), double(axis == 1), double(axis == 2)};
        QVERIFY2(std::abs(got.x - expected[axis].x) < 1e-9 && std::abs(got.y - expected[axis].y) < 1e-9
                     && std::abs(got.z - expected[axis].z) < 1e-9,
                 qPrintable(QString("axis %1: %2 %3 %4").arg(axis).arg(got.x).arg(got.y).arg(got.z)));
        // Its tip on the screen: finite, in front of the camera.
        const AttitudeProjection::ScreenPoint p = AttitudeProjection::project(got);
        QVERIFY(std::isfinite(p.x) && std::isfinite(p.y) && p.depth > 1);
    }
}

void TestWindow::attitudeCamera()
{
    // Seen from behind and above: up is up, north (ahead at yaw 0) is away
    // and so higher, east is to the right, and vertical lines stay upright.
    using AttitudeProjection::project;
    const auto centre = project({});
    QVERIFY(project({0, 0, -1}).y < centre.y);
    QCOMPARE(project({0, 0, -1}).x + 1.0, centre.x + 1.0);
    QVERIFY(project({0, 0, 1}).y > centre.y);
    QVERIFY(project({1, 0, 0}).y < centre.y);
    QVERIFY(project({1, 0, 0}).depth > centre.depth);
    QVERIFY(project({0, 1, 0}).x > centre.x + 0.5);
    QVERIFY(project({0, -1, 0}).x < centre.x - 0.5);
    // Nose up and right side down move the tips the way they look.
    const Vector3 unitX {1, 0, 0}, unitY {0, 1, 0};
    QVERIFY(project(AttitudeProjection::bodyToWorld(0, 30, 0) * unitX).y < project(unitX).y);
    QVERIFY(project(AttitudeProjection::bodyToWorld(0, 0, 30) * unitY).y > project(unitY).y);
}

void TestWindow::attitudeWindowFollowsButton()
{
    Widget* w = makeWindow();
    w->show();
    auto* button = child<QPushButton>(w, "attitude_pb");
    QVERIFY(button->isCheckable() && !button->isChecked());
    auto* attitude = child<QWidget>(w, "attitude_window");
    QVERIFY(attitude && !attitude->isVisible());
    QVERIFY(attitude->isWindow() && attitude->parentWidget() == w);
    QCOMPARE(attitude->windowType(), Qt::Tool);

    for (int round = 0; round < 2; ++round) {
        button->click();
        QVERIFY(attitude->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(attitude));
        QVERIFY(attitude->close());
        QVERIFY(!attitude->isVisible());
        QVERIFY(!button->isChecked());
    }
    button->click();
    QVERIFY(attitude->isVisible());
    button->click();
    QVERIFY(!attitude->isVisible());
}

void TestWindow::attitudeDrawsOnlyChanges_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("changing");
    QTest::newRow("open, same values") << true << false;
    QTest::newRow("open, new values") << true << true;
    QTest::newRow("closed, new values") << false << true;
}

void TestWindow::attitudeDrawsOnlyChanges()
{
    QFETCH(bool, open);
    QFETCH(bool, changing);
    Widget* w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto* attitude = child<QWidget>(w, "attitude_window");
    auto* view = attitude->findChild<AttitudeView*>();
    child<QPushButton>(w, "attitude_pb")->click();
    QVERIFY(QTest::qWaitForWindowExposed(attitude));
    QVERIFY(!view->hasValues());
    UART_RCV first = makeRecord(0, 1000, -2000, 3000, 10, 20, 30);
    QVERIFY(QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, first)));
    QTest::qWait(3 * Plotter::RedrawPeriodMs);
    if (!open)
        attitude->close();

    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    view->installEventFilter(&counter);
    constexpr int Ticks = 8;
    for (int i = 1; i <= Ticks; ++i) {
        // Several records a tick, as at the link's rate.
        for (int k = 0; k < 3; ++k) {
            UART_RCV r = makeRecord(quint8(i), 1000, -2000, qint16(3000 + (changing ? 10 * i + k : 0)), 10, 20, 30);
            QVERIFY(QMetaObject::invokeMethod(w, "updateData", Qt::DirectConnection, Q_ARG(UART_RCV&, r)));
        }
        QTest::qWait(Plotter::RedrawPeriodMs);
    }
    QTest::qWait(2 * Plotter::RedrawPeriodMs);
    // The displayed values: yaw negated, pitch and roll exchanged, Z negated.
    const AttitudeValues shown = view->values();
    QCOMPARE(QVector<int>({shown.yaw, shown.pitch, shown.roll, shown.x, shown.y, shown.z}),
             QVector<int>({-1000, changing ? 3000 + 10 * Ticks + 2 : 3000, -2000, 10, 20, -30}));
    if (!open || !changing)
        QCOMPARE(counter.paints, 0);
    else
        QVERIFY2(counter.paints >= Ticks / 2 && counter.paints <= Ticks + 2, qPrintable(QString::number(counter.paints)));
}

void TestWindow::attitudeRedrawLeavesNoTrace_data()
{
    // From one pose to the next: yaw, pitch, roll, x, y, z each.
    QTest::addColumn<QVector<int>>("from");
    QTest::addColumn<QVector<int>>("to");
    QTest::newRow("a small step") << QVector<int> {0, 0, 0, 0, 0, -1000} << QVector<int> {25, -13, 40, 3, -5, -998};
    QTest::newRow("level to upside down") << QVector<int> {0, 0, 0, 0, 0, -1000}
                                          << QVector<int> {-17000, 1200, 17900, 200, 100, 990};
    QTest::newRow("gimbal lock to int16 extremes") << QVector<int> {9000, 9000, 0, 1000, 0, 0}
                                                   << QVector<int> {-32768, -32768, 32767, -32768, 32767, -32768};
    QTest::newRow("extremes back to level") << QVector<int> {-32768, 32767, -32768, 32767, -32768, 32767}
                                            << QVector<int> {0, 0, 0, 0, 0, -1000};
}

void TestWindow::attitudeRedrawLeavesNoTrace()
{
    // Only what changes is redrawn; what is on the screen afterwards must be
    // the picture of the new values alone, as if drawn afresh.
    QFETCH(QVector<int>, from);
    QFETCH(QVector<int>, to);
    auto values = [](const QVector<int>& v) {
        return AttitudeValues {qint16(v[0]), qint16(v[1]), qint16(v[2]), qint16(v[3]), qint16(v[4]), qint16(v[5])};
    };
    AttitudeView view;
    view.resize(view.sizeHint());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const QVector<int>& pose : {from, to}) {
        view.setValues(values(pose));
        view.redrawIfChanged();
        QTest::qWait(Plotter::RedrawPeriodMs);
    }
    const QImage onScreen = QGuiApplication::primaryScreen()->grabWindow(view.winId()).toImage();
    if (onScreen.size() != view.size())
        QSKIP("this platform does not give back a window's own pixels");
    QCOMPARE(onScreen.convertToFormat(QImage::Format_RGB32), view.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

// ---------------------------------------------------------- the Noise window

void TestWindow::noiseWindowFollowsButton()
{
    Widget* w = makeWindow();
    w->show();
    auto* button = child<QPushButton>(w, "noise_pb");
    auto* noise = child<NoiseWindow>(w, "noise_window");
    QVERIFY(noise && !noise->isVisible() && noise->isWindow() && noise->parentWidget() == w);
    QCOMPARE(noise->windowType(), Qt::Tool);
    QCOMPARE(noise->windowTitle(), QString("Noise"));
    for (int round = 0; round < 2; ++round) {
        button->click();
        QVERIFY(QTest::qWaitForWindowExposed(noise));
        QVERIFY(noise->close());
        QVERIFY(!noise->isVisible() && !button->isChecked());
    }
    // Closed, it takes no records.
    feedStill(w, 300, false, 1765000000000);
    button->click();
    QTest::qWait(2 * NoiseWindow::ShortestPeriodMs);
    QVERIFY(!noise->hasResult());
}

void TestWindow::noiseLiveGrows_data()
{
    QTest::addColumn<bool>("constant");
    QTest::newRow("still board") << false;
    QTest::newRow("constant channels") << true;
}

void TestWindow::noiseLiveGrows()
{
    QFETCH(bool, constant);
    Widget* w = makeWindow();
    w->show();
    auto* noise = child<NoiseWindow>(w, "noise_window");
    // Records before opening are not the test's.
    qint64 at = feedStill(w, 500, constant, 1765000000000);
    child<QPushButton>(w, "noise_pb")->click();
    QVERIFY(QTest::qWaitForWindowExposed(noise));
    QSignalSpy analysed(noise, &NoiseWindow::analysed);
    at = feedStill(w, 6000, constant, at, {100});
    QVERIFY(analysed.wait(20000));
    QCOMPARE(noise->result().records, 6000);
    QCOMPARE(noise->result().lostFrames, 1);
    feedStill(w, 30000, constant, at, {}, 6001); // its indexes go on from the skip
    QTRY_COMPARE_WITH_TIMEOUT(noise->result().records, 36000, 20000);
    QCOMPARE(noise->result().lostFrames, 1);
    QVERIFY(qAbs(noise->result().rateHz - Noise::FullRateHz) < 1.0);
    const QString table = tableText(child<QTableWidget>(noise, "figures_tw"));
    QVERIFY2(!table.contains("nan", Qt::CaseInsensitive) && !table.contains("inf", Qt::CaseInsensitive), qPrintable(table));
    QVERIFY(!child<QLabel>(noise, "status_l")->text().contains("nan"));
    keepPicture(noise, constant ? "noise-constant" : "noise-live");

    // Start again: only what follows counts.
    child<QPushButton>(noise, "start_again_pb")->click();
    QVERIFY(!noise->hasResult());
    feedStill(w, 200, constant, at + 60000);
    QTRY_COMPARE_WITH_TIMEOUT(noise->result().records, 200, 20000);
}

void TestWindow::noiseLiveAgreesWithTheRecording_data()
{
    QTest::addColumn<bool>("constant");
    QTest::addColumn<QVector<int>>("skips");
    QTest::newRow("still board, two lost frames") << false << QVector<int> {700, 3000};
    QTest::newRow("constant channels") << true << QVector<int>();
}

// The Noise window's records since it opened and the recording made of
// them meanwhile are one still test: read back from the file they give the
// same figures, channel by channel.
void TestWindow::noiseLiveAgreesWithTheRecording()
{
    QFETCH(bool, constant);
    QFETCH(QVector<int>, skips);
    Widget* w = makeWindow();
    w->show();
    recordButton()->click();
    const QString path = awaitMessage(0, "Recording to ").mid(13);
    auto* noise = child<NoiseWindow>(w, "noise_window");
    child<QPushButton>(w, "noise_pb")->click();
    QVERIFY(QTest::qWaitForWindowExposed(noise));
    const qint64 count = 5000;
    feedStill(w, int(count), constant, 1765000000000, skips);
    QTRY_COMPARE_WITH_TIMEOUT(noise->result().records, count, 20000);
    recordButton()->click();
    QVERIFY(awaitMessage(0, "Recording stopped").startsWith(QString("Recording stopped: %1 records").arg(count)));

    const Noise::Result live = noise->result();
    Noise::Span span;
    QString error;
    QVERIFY2(Noise::SpanReader().read(path, span, error), qPrintable(error));
    const Noise::Result file = Noise::analyse(span);
    QCOMPARE(file.records, count);
    QVERIFY(live.lostFrames == skips.size() && file.lostFrames == live.lostFrames);
    auto same = [](double a, double b) { return qAbs(a - b) <= 1e-9 * std::max({qAbs(a), qAbs(b), 1e-12}); };
    QVERIFY(same(live.rateHz, file.rateHz));
    for (int c = 0; c < Noise::Channels; ++c) {
        const Noise::ChannelResult &l = live.channels[c], &f = file.channels[c];
        const QString at = Noise::channelName(c);
        QVERIFY(l.name == at && f.name == at && l.unit == f.unit);
        QVERIFY2(same(l.mean, f.mean) && same(l.sd, f.sd), qPrintable(at));
        QCOMPARE(l.adev.size(), f.adev.size());
        QVERIFY(l.adev.size() >= 8);
        for (int i = 0; i < l.adev.size(); ++i) {
            QVERIFY(l.adev[i].m == f.adev[i].m && l.adev[i].n == f.adev[i].n);
            QVERIFY2(same(l.adev[i].dev, f.adev[i].dev), qPrintable(QString("%1 at m = %2: %3 live, %4 from the file")
                                                                   .arg(at).arg(l.adev[i].m).arg(l.adev[i].dev).arg(f.adev[i].dev)));
        }
    }
}

void TestWindow::noiseStopsAtTheHour()
{
    Widget* w = makeWindow();
    w->show();
    auto* noise = child<NoiseWindow>(w, "noise_window");
    child<QPushButton>(w, "noise_pb")->click();
    const qint64 start = 1765000000000;
    feedStill(w, 300, false, start);
    // The clock runs on past the hour the monitor keeps.
    feedStill(w, 300, false, start + NoiseWindow::LongestLiveMs, {}, 300);
    QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(noise, "status_l")->text().contains("The hour is full"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(noise->result().records, 300, 20000);
}

void TestWindow::noiseOverTheChartsSpan()
{
    Widget* w = makeWindow();
    w->show();
    auto* noise = child<NoiseWindow>(w, "noise_window");
    child<QPushButton>(w, "noise_pb")->click();
    const qint64 start = 1765000000000;
    // Frames lost at records 1000 (out of view) and 5000 and 7000 (in it).
    feedStill(w, 12000, false, start, {1000, 5000, 7000});
    noise->setSubject(NoiseWindow::Subject::ChartSpan);
    auto* history = w->findChild<ChartGroup*>();
    const double from = (start + 4000) / 1000.0, to = (start + 16000) / 1000.0;
    history->setView(from, to);
    QSignalSpy analysed(noise, &NoiseWindow::analysed);
    QVERIFY(analysed.wait(20000));
    QCustomPlot* yaw = child<Plotter>(w, "yaw_plotter")->customPlot();
    QCOMPARE(yaw->xAxis->range().lower, from);
    // Records i at start + i * 1.65 ms: those within [from, to].
    const qint64 first = qint64(std::ceil(4000 / (1000.0 / Noise::FullRateHz)));
    const qint64 last = qint64(std::floor(16000 / (1000.0 / Noise::FullRateHz)));
    QVERIFY(qAbs(noise->result().records - (last - first + 1)) <= 1);
    QCOMPARE(noise->result().lostFrames, 2);
}

void TestWindow::noiseFiguresLeave()
{
    Widget* w = makeWindow();
    w->show();
    auto* noise = child<NoiseWindow>(w, "noise_window");
    child<QPushButton>(w, "noise_pb")->click();
    QVERIFY(QTest::qWaitForWindowExposed(noise));
    QSignalSpy analysed(noise, &NoiseWindow::analysed);
    feedStill(w, 3000, false, 1765000000000);
    QVERIFY(analysed.wait(20000));

    QApplication::clipboard()->clear();
    child<QPushButton>(noise, "copy_figures_pb")->click();
    const QStringList rows = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    if (rows.isEmpty())
        QSKIP("this platform has no clipboard");
    QCOMPARE(rows.size(), 1 + Noise::Channels);
    QVERIFY(rows.first().count('\t') >= 5);
    QVERIFY(rows.at(4).startsWith("x_mg\t"));

    QTemporaryDir dir;
    QVERIFY(noise->savePlots(dir.path() + "/still.png"));
    auto* allan = child<QCustomPlot>(noise, "allan_plot");
    const QImage png(dir.path() + "/still.png");
    QCOMPARE(png.size(), allan->size() * noise->devicePixelRatioF());
    QVERIFY(QFile::exists(dir.path() + "/still-spectrum.png"));
    QVERIFY(noise->savePlots(dir.path() + "/still.pdf"));
    QFile pdf(dir.path() + "/still.pdf");
    QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-");
    QVERIFY(noise->saveResult(dir.path() + "/still.json"));
    QFile json(dir.path() + "/still.json");
    QVERIFY(json.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(json.readAll()).object().value("records").toInt(), 3000);
}

void TestWindow::noiseInTheViewer()
{
    QByteArray csv = RecordCsv::Header;
    const qint64 start = 1765000000000;
    constexpr int Rows = 20000;
    for (int i = 0; i < Rows; ++i) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(start + qint64(i * 1000.0 / Noise::FullRateHz));
        UART_RCV shown = stillRecord(i, quint8(i + (i >= 2000)), false);
        RecordFormat::remap(shown);
        RecordCsv::appendRow(csv, t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8(), shown);
    }
    QTemporaryDir dir;
    QFile file(dir.path() + "/still.csv");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();
    QString error;
    std::unique_ptr<LoadedRecording> recording = LoadedRecording::load(file.fileName(), error);
    QVERIFY2(recording, qPrintable(error));
    ViewerWindow viewer(std::move(recording));
    viewer.show();
    auto* noise = child<NoiseWindow>(&viewer, "noise_window");
    QSignalSpy analysed(noise, &NoiseWindow::analysed);
    child<QPushButton>(&viewer, "noise_pb")->click();
    QVERIFY(QTest::qWaitForWindowExposed(noise));
    QCOMPARE(noise->subject(), NoiseWindow::Subject::ChartSpan);
    QVERIFY(!child<QComboBox>(noise, "subject_cb")->isEnabled());
    QVERIFY(analysed.wait(20000));
    QCOMPARE(noise->result().records, Rows);
    QCOMPARE(noise->result().lostFrames, 1);
    keepPicture(noise, "noise-viewer");
    noise->close();
    QVERIFY(!child<QPushButton>(&viewer, "noise_pb")->isChecked());
}

// QTEST_MAIN, with the monitor's high-DPI setting before the application
// object exists. On a virtual desktop the fonts keep the desktop's DPI
// instead of the 96 that QTEST_MAIN fixes: that DPI is what is tested there.
int main(int argc, char* argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    if (desktopDpi() == 0)
        app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_window.moc"
