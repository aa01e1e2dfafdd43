// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef WIDGET_H
#define WIDGET_H

#include <QList>
#include <QStringList>
#include <QSerialPort>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "consoleclock.h"
#include "parser.h"
#include "portlist.h"

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

class QLineEdit;
class QTimer;
class WindowExposure;
class Recorder;
class LinkWatch;
class Reconnector;
class ChartGroup;
class History;
class AttitudeWindow;
class Marker;
class NoiseWindow;

class Widget : public QWidget
{
    Q_OBJECT

public:
    // The console always keeps at least the newest ConsoleKeptLines lines and
    // never more than ConsoleMaxLines; older ones scroll out, so a monitor
    // left running for days does not grow without bound. Trimming back to the
    // kept count in one go, rather than a line per line appended, keeps the
    // cost of a line at the cap the same as below it.
    static constexpr int ConsoleKeptLines = 10000;
    static constexpr int ConsoleMaxLines = ConsoleKeptLines + 1000;

    explicit Widget(QWidget* parent = nullptr, PortSource portSource = systemSerialPorts);
    ~Widget() override;

private slots:
    void on_scan_button_clicked();
    void on_connect_button_clicked();
    void readSerial();
    void handleError(QSerialPort::SerialPortError error);
    void updateData(UART_RCV& data);

private:
    void showLogo();
    void followNewestLines();
    void printToConsole(const QString& message);
    void printToConsole(const QString& message, qint64 msSinceEpoch);
    void flushConsole();
    void holdConsoleRepaint(bool hold);
    void setUpRedrawing();
    void endConsoleHold();
    void setExposed(bool exposed);
    static void showCount(QLineEdit* field, uint count);
    double convertToMsSquared(short mg);
    void sendReset();
    void closePort();
    void setUpRecording();
    void setUpLinkWatch();
    void setUpReconnecting();
    void setUpLookingBack();
    void setUpAttitude();
    void setUpMarks();
    void setUpNoise();

    Ui::Widget* ui = nullptr;
    QSerialPort* serialPort = nullptr;
    Parser* parser = nullptr;
    PortSource portSource;

    // Console lines logged while one read is parsed, each already carrying
    // the time it was logged at. They go into the console in one append when
    // the read is done: appending line by line re-lays out and scrolls the
    // console once per record, which at the link's rate costs more than the
    // rest of the path together.
    QStringList pendingLines;
    bool holdingLines = false;
    // Lines logged but not appended while nobody sees the window; a window
    // not yet shown keeps its console up to date.
    QStringList unseenLines;
    bool windowSeen = true;
    ConsoleClock consoleClock;
    // The charts redraw and the console repaints at most once per tick: a
    // repaint per read would otherwise happen ~600 times a second.
    QTimer* redrawTick = nullptr;
    WindowExposure* exposure = nullptr;
    bool consoleWrittenSinceTick = false;
    bool consoleWrittenLastTick = false;
    bool followingNewest = true;
    Recorder* recorder = nullptr;
    LinkWatch* linkWatch = nullptr;
    Reconnector* reconnector = nullptr;
    // Every record shown in the last hour, for the charts to look back on.
    std::unique_ptr<History> history;
    ChartGroup* chartGroup = nullptr;
    AttitudeWindow* attitude = nullptr;
    Marker* marker = nullptr;
    // The history's times of the records whose frame index broke from the
    // one before, for the Noise window to count lost frames in a span.
    std::vector<qint64> indexBreakTimes;
    quint8 lastShownIndex = 0;
    bool indexShown = false;
    NoiseWindow* noise = nullptr;
};

#endif // WIDGET_H
