// SPDX-License-Identifier: GPL-3.0-or-later
#include "widget.h"
#include "ui_widget.h"

#include "chartgroup.h"
#include "history.h"
#include "attitudewindow.h"
#include "chartexport.h"
#include "noisewindow.h"
#include "consolelayout.h"
#include "linkwatch.h"
#include "marker.h"
#include "portlink.h"
#include "reconnector.h"
#include "recorder.h"
#include "recordformat.h"
#include "recordingopener.h"
#include "windowexposure.h"

#include <QApplication>
#include <QDateTime>
#include <QImageReader>
#include <QLineEdit>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QShortcut>
#include <QStringBuilder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

namespace {
const char* const ResetCommand = "$MIB,RESET*87";
const char* const MakerAddress = "https://telvorin.example";
} // namespace

Widget::Widget(QWidget* parent, PortSource portSource)
    : QWidget(parent)
    , ui(new Ui::Widget)
    , portSource(std::move(portSource))
{
    ui->setupUi(this);

    showLogo();

    ui->further_info_l->setText(QString("For more information please visit\n") + MakerAddress);

    struct ChartText
    {
        Plotter* chart;
        const char* title;
        const char* unit;
    };
    const ChartText charts[] = {
        {ui->yaw_plotter, "Yaw", "Degree"},
        {ui->pitch_plotter, "Pitch", "Degree"},
        {ui->roll_plotter, "Roll", "Degree"},
        {ui->x_acc_plotter, "X acceleration", "mg"},
        {ui->y_acc_plotter, "Y acceleration", "mg"},
        {ui->z_acc_plotter, "Z acceleration", "mg"},
    };
    for (const ChartText& c : charts) {
        c.chart->setTittle(c.title);
        c.chart->setLabels("Time", c.unit);
    }

    ui->connect_button->setEnabled(false);

    // The console only ever grows at its end; its text gets a layout made
    // for that.
    auto* consoleText = new QTextDocument(ui->console);
    consoleText->setDocumentLayout(new ConsoleLayout(consoleText));
    ui->console->setDocument(consoleText);
    ui->console->setReadOnly(true);
    QFont consoleFont = ui->console->font();
    consoleFont.setFamily("Courier New");
    // Console text is plain ASCII in a fixed-pitch font, which has no kerning
    // and needs no shaping: skipping both looks the same and more than halves
    // the cost of laying out a line, the console's main cost at the link's
    // rate.
    consoleFont.setKerning(false);
    consoleFont.setStyleStrategy(QFont::PreferNoShaping);
    ui->console->setFont(consoleFont);
    // A record is one line, whatever the font, the scale or its values: a
    // line wider than the console scrolls sideways instead of wrapping.
    ui->console->setLineWrapMode(QPlainTextEdit::NoWrap);
    followNewestLines();
    ui->console->setMaximumBlockCount(ConsoleMaxLines);
    setUpRedrawing();

    ui->csum_miss_le->setReadOnly(true);
    ui->index_miss_le->setReadOnly(true);

    serialPort = new QSerialPort(this);
    PortLink::prepare(*serialPort);
    connect(serialPort, &QSerialPort::readyRead, this, &Widget::readSerial);
    connect(serialPort, &QSerialPort::errorOccurred, this, &Widget::handleError);

    parser = new Parser(nullptr);

    setUpReconnecting();
    on_scan_button_clicked();

    connect(parser, &Parser::dataReady, this, &Widget::updateData);

    connect(ui->reset_imu_pb, &QPushButton::clicked, ui->reset_imu_pb, [this] { sendReset(); },
            Qt::DirectConnection);

    setUpRecording();
    setUpLinkWatch();
    setUpLookingBack();
    new RecordingOpener(ui->open_pb, this);
    setUpAttitude();
    setUpMarks();
    setUpNoise();
}

Widget::~Widget()
{
    // While the console is still there to say how it ended.
    recorder->finishAll();
    // Closed here rather than by the port's own destructor, so that the
    // device is left raw for whoever opens it next.
    PortLink::close(*serialPort);
    // The base class hides the window as it goes, and what is left of this
    // one must not hear of it.
    delete exposure;
    // Before the history and the charts it analyses.
    delete noise;
    // Before the history it looks at, and before the charts: the mouse
    // leaving a chart that goes would otherwise still reach it.
    delete chartGroup;
    delete ui;
    delete parser;
}

void Widget::showLogo()
{
    // The label keeps the logo's size in device-independent pixels. On a
    // scaled desktop the picture is made from logo@2x.png at the screen's own
    // factor, 1.25 or 1.5 included, so it stays sharp: a toolkit icon would
    // pick the 1x image there and stretch it.
    const QString logoFile(":/images/logo.png");
    const QSize logoSize = QImageReader(logoFile).size();
    const qreal ratio = ui->app_logo_l->devicePixelRatioF();
    const QImage image(ratio > 1.0 ? QString(":/images/logo@2x.png") : logoFile);
    QPixmap logo = QPixmap::fromImage(
        image.scaled(logoSize * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    logo.setDevicePixelRatio(ratio);
    ui->app_logo_l->setFixedSize(logoSize);
    ui->app_logo_l->setPixmap(logo);
}

void Widget::on_scan_button_clicked()
{
    ui->ports_combobox->clear();
    const QList<PortEntry> ports = portSource ? portSource() : QList<PortEntry>();
    for (const PortEntry& port : ports)
        ui->ports_combobox->addItem(port.name + ": " + port.description);
    ui->connect_button->setEnabled(ui->ports_combobox->count() > 0);
}

void Widget::on_connect_button_clicked()
{
    reconnector->stop();
    if (serialPort->isOpen()) {
        closePort();
        return;
    }

    const QString portName = ui->ports_combobox->currentText().split(":").first();
    if (PortLink::open(*serialPort, portName)) {
        reconnector->opened(portName);
        printToConsole(portName + " is open");
        linkWatch->portOpened(serialPort->portName(), serialPort->baudRate());
        ui->connect_button->setText("Close");
    } else {
        printToConsole("Failed to open port " + portName);
    }
}

void Widget::closePort()
{
    PortLink::close(*serialPort);
    ui->connect_button->setText("Open");
    printToConsole(QString("Port %1 closed").arg(serialPort->portName()));
    linkWatch->portClosed();
}

void Widget::readSerial()
{
    // Exactly what is buffered, in one piece: readAll() reads through a
    // scratch buffer of the port's full read size, allocated and copied for
    // every read, which for a frame or two costs more than parsing them.
    const QByteArray bytes = serialPort->read(serialPort->bytesAvailable());
    if (bytes.isEmpty())
        return;
    linkWatch->bytesRead(bytes.size());
    holdingLines = true;
    parser->parse(bytes);
    holdingLines = false;
    flushConsole();
    linkWatch->checksumMisses(parser->getCSumMisses());
    showCount(ui->csum_miss_le, parser->getCSumMisses());
}

void Widget::handleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
        return;
    case QSerialPort::ReadError:
        // A device that went away (the far end of a pseudo-terminal, some USB
        // serial drivers) reports read errors instead of a resource error, and
        // keeps reporting them for as long as the port stays open. Log it once
        // and treat it as the loss of the device.
        printToConsole(QString("Serial port error: %1").arg(PortLink::errorText(*serialPort, error)));
        if (!serialPort->isOpen())
            return;
        break;
    case QSerialPort::ResourceError:
        // Qt 6 now and then reports a hung-up tty this way instead of as a
        // read error; the console then says the same as for the read error.
        if (PortLink::hungUp(*serialPort))
            printToConsole(QString("Serial port error: %1").arg(PortLink::HungUpText));
        break;
    case QSerialPort::WriteError:
        // The serial port retries a failed write on every turn of the event
        // loop and reports each retry, which would flood the console and keep
        // the GUI thread busy for as long as the port stays open. Log it once
        // and drop the unsent bytes; the link stays open for reading.
        printToConsole(QString("Serial port error: %1").arg(serialPort->errorString()));
        // Clearing a closed port would report "not open" as a second error.
        if (serialPort->isOpen())
            serialPort->clear(QSerialPort::Output);
        return;
    default:
        printToConsole(QString("Serial port error: %1").arg(serialPort->errorString()));
        return;
    }

    printToConsole("Serial port becomes unavailable. Please check the connection and try to "
                   "connect again (after re-scan)");
    reconnector->lost();
    if (serialPort->isOpen())
        closePort();
    on_scan_button_clicked();
}

void Widget::updateData(UART_RCV& data)
{
    RecordFormat::remap(data);
    // The console line, the recording's row and the charts' point name the
    // same instant.
    const qint64 shownAt = Plotter::now();
    printToConsole(RecordFormat::consoleLine(data), shownAt);
    recorder->add(data, shownAt);
    linkWatch->frameDecoded();
    showCount(ui->index_miss_le, parser->getIndexMisses());

    // Paused or not, every record goes into the history. Its time is the
    // one shown, unless the clock was set back (see History).
    history->append(shownAt, data);
    const qint64 at = history->lastTime();
    ui->yaw_plotter->addPoint(data.angle1 / 100.0, at);
    ui->pitch_plotter->addPoint(data.angle2 / 100.0, at);
    ui->roll_plotter->addPoint(data.angle3 / 100.0, at);
    ui->x_acc_plotter->addPoint(data.accel1, at);
    ui->y_acc_plotter->addPoint(data.accel2, at);
    ui->z_acc_plotter->addPoint(data.accel3, at);
    attitude->showRecord(data);

    // The parser's own rule, so the Noise window's lost frames are the
    // index misses the form counts.
    const bool broken = indexShown && Parser::breaksSequence(lastShownIndex, data.index);
    lastShownIndex = data.index;
    indexShown = true;
    if (broken) {
        // Breaks older than the history have nothing left to count in.
        const auto kept = std::lower_bound(indexBreakTimes.begin(), indexBreakTimes.end(), history->firstTime());
        indexBreakTimes.erase(indexBreakTimes.begin(), kept);
        indexBreakTimes.push_back(at);
    }
    noise->addRecord({data.angle1, data.angle2, data.angle3, data.accel1, data.accel2, data.accel3}, at, broken);
}

void Widget::showCount(QLineEdit* field, uint count)
{
    // Setting the same text again would still repaint the field and clear a
    // selection the user made in it, once per record.
    const QString text = QString::number(count);
    if (field->text() != text)
        field->setText(text);
}

double Widget::convertToMsSquared(short mg)
{
    return RecordFormat::convertToMsSquared(mg);
}

void Widget::sendReset()
{
    if (!serialPort->isOpen())
        return;
    serialPort->write(QString(ResetCommand).toLocal8Bit());
    printToConsole(QString("SerialPort TX: ") + ResetCommand);
}

void Widget::followNewestLines()
{
    // The view stays on the newest line while it is at the end, and stays
    // where it is once the user scrolls up. The console's own following
    // looks only at the moment of an append; without wrapping, its height
    // in lines is known only later, and it would stop following.
    QScrollBar* scroll = ui->console->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this,
            [this, scroll](int value) { followingNewest = value == scroll->maximum(); });
    connect(scroll, &QScrollBar::rangeChanged, this, [this, scroll](int, int maximum) {
        if (followingNewest)
            scroll->setValue(maximum);
    });
}

void Widget::setUpRecording()
{
    recorder = new Recorder(ui->record_pb, this);
    connect(recorder, &Recorder::logged, this, [this](const QString& line) { printToConsole(line); });
}

void Widget::setUpLinkWatch()
{
    linkWatch = new LinkWatch(this);
    connect(linkWatch, &LinkWatch::statusChanged, ui->link_l, &QLabel::setText);
    connect(linkWatch, &LinkWatch::said, this, [this](const QString& line) { printToConsole(line); });
}

void Widget::setUpReconnecting()
{
    // Every scan's list goes by the watch: it learns from it who the device
    // is that gets opened, and knows it again after an unplug.
    reconnector = new Reconnector(serialPort, std::move(portSource), this);
    portSource = [this] { return reconnector->scan(); };
    connect(reconnector, &Reconnector::logged, this, [this](const QString& line) { printToConsole(line); });
    connect(reconnector, &Reconnector::reopened, this, [this](const QString& name) {
        on_scan_button_clicked();
        const int item = ui->ports_combobox->findText(name + ": ", Qt::MatchStartsWith);
        if (item >= 0)
            ui->ports_combobox->setCurrentIndex(item);
        ui->connect_button->setText("Close");
        linkWatch->portOpened(serialPort->portName(), serialPort->baudRate());
    });
}

void Widget::setUpLookingBack()
{
    history = std::make_unique<History>();
    chartGroup = new ChartGroup({ui->yaw_plotter, ui->pitch_plotter, ui->roll_plotter, ui->x_acc_plotter,
                                 ui->y_acc_plotter, ui->z_acc_plotter},
                                history.get(), this);
    chartGroup->setLive(true);
    // Checked, the button offers the way back.
    connect(ui->pause_pb, &QPushButton::toggled, this, [this](bool paused) {
        ui->pause_pb->setText(paused ? "Live" : "Pause");
        chartGroup->setLive(!paused);
    });
    connect(chartGroup, &ChartGroup::liveChanged, ui->pause_pb, [this](bool live) { ui->pause_pb->setChecked(!live); });
    // Keys a text field takes for itself stay with it; the read-only
    // console and counters take none.
    auto textFieldHasFocus = [] {
        QWidget* focus = QApplication::focusWidget();
        const auto* line = qobject_cast<QLineEdit*>(focus);
        const auto* text = qobject_cast<QPlainTextEdit*>(focus);
        return (line && !line->isReadOnly()) || (text && !text->isReadOnly());
    };
    connect(new QShortcut(Qt::Key_Space, this), &QShortcut::activated, this, [this, textFieldHasFocus] {
        if (!textFieldHasFocus())
            ui->pause_pb->toggle();
    });
    connect(new QShortcut(Qt::Key_End, this), &QShortcut::activated, this, [this, textFieldHasFocus] {
        if (!textFieldHasFocus())
            ui->pause_pb->setChecked(false);
    });
}

void Widget::setUpAttitude()
{
    // Its own window, drawn on this window's tick.
    attitude = new AttitudeWindow(ui->attitude_pb, redrawTick, this);
}

void Widget::setUpMarks()
{
    marker = new Marker(this, chartGroup, history.get(), recorder);
    connect(marker, &Marker::said, this, [this](const QString& line) { printToConsole(line); });
    // The charts as pictures, offered below the mark in a chart's menu; a
    // saved one is said in the console.
    auto* pictures = new ChartExport(chartGroup, this);
    connect(pictures, &ChartExport::saved, this, [this](const QString& line) { printToConsole(line); });
}

void Widget::setUpNoise()
{
    noise = new NoiseWindow(ui->noise_pb, {history.get(), chartGroup, &indexBreakTimes, true, true, QString()}, this);
}

void Widget::printToConsole(const QString& message)
{
    printToConsole(message, QDateTime::currentMSecsSinceEpoch());
}

void Widget::printToConsole(const QString& message, qint64 msSinceEpoch)
{
    pendingLines.append(consoleClock.line(msSinceEpoch, message));
    if (!holdingLines)
        flushConsole();
}

void Widget::holdConsoleRepaint(bool hold)
{
    // Only the text and its scroll bar change; holding the whole console
    // would repaint its frame too each time the hold ends.
    ui->console->viewport()->setUpdatesEnabled(!hold);
    ui->console->verticalScrollBar()->setUpdatesEnabled(!hold);
}

void Widget::flushConsole()
{
    if (pendingLines.isEmpty() && unseenLines.isEmpty())
        return;

    // Lines beyond the cap would scroll out at once: they never show.
    if (pendingLines.size() > ConsoleKeptLines)
        pendingLines.erase(pendingLines.begin(), pendingLines.end() - ConsoleKeptLines);

    // Make room first, so the console's own cap never has to act. It removes
    // the oldest lines by stepping a cursor over them, which lays out each
    // removed line once more just to throw it away; removing the span by
    // position costs no layout. Once the cap is reached, the console goes
    // back to the kept count, so this happens once per thousand lines.
    // Lines kept back while the window is not seen count as the console's
    // newest, so it ends up holding the same lines as if seen throughout.
    QTextDocument* document = ui->console->document();
    const int shown = document->isEmpty() ? 0 : document->blockCount();
    const int lines = shown + unseenLines.size();
    if (lines + pendingLines.size() > ConsoleMaxLines) {
        const int excess = lines + pendingLines.size() - ConsoleKeptLines;
        QTextCursor oldest(document);
        oldest.beginEditBlock();
        if (excess >= shown) {
            oldest.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
            oldest.setPosition(document->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
        }
        oldest.removeSelectedText();
        oldest.endEditBlock();
        unseenLines.erase(unseenLines.begin(), unseenLines.begin() + qMax(0, excess - shown));
    }
    unseenLines += pendingLines;
    pendingLines.clear();
    // Appending lays the text out, which nobody would see.
    if (!windowSeen)
        return;

    // The first lines after a quiet tick show at once; lines that follow
    // are painted together on the next tick.
    if (consoleWrittenSinceTick || consoleWrittenLastTick)
        holdConsoleRepaint(true);
    consoleWrittenSinceTick = true;

    // Each line becomes its own paragraph, as if appended one by one.
    ui->console->appendPlainText(unseenLines.join(QLatin1Char('\n')));
    unseenLines.clear();
}

void Widget::setUpRedrawing()
{
    // Whatever the window redraws on a schedule, the charts and the console
    // held back while lines stream in, it redraws on one tick, so a tick's
    // changes reach the screen in one flush of the window. Under Wayland a
    // flush costs a copy of the whole window, whatever changed.
    redrawTick = new QTimer(this);
    for (Plotter* chart : findChildren<Plotter*>())
        chart->followTick(redrawTick);
    connect(redrawTick, &QTimer::timeout, this, &Widget::endConsoleHold);
    redrawTick->start(Plotter::RedrawPeriodMs);

    exposure = new WindowExposure(this);
    connect(exposure, &WindowExposure::exposedChanged, this, &Widget::setExposed);
}

void Widget::endConsoleHold()
{
    holdConsoleRepaint(false);
    consoleWrittenLastTick = consoleWrittenSinceTick;
    consoleWrittenSinceTick = false;
}

void Widget::setExposed(bool exposed)
{
    // Nobody sees the window: nothing is drawn or laid out, and nothing
    // waits for a tick. Seen again, everything is shown at once, before the
    // window paints.
    windowSeen = exposed;
    if (exposed) {
        holdConsoleRepaint(false);
        consoleWrittenSinceTick = consoleWrittenLastTick = false;
        flushConsole();
    } else {
        redrawTick->stop();
    }
    for (Plotter* chart : findChildren<Plotter*>())
        chart->setExposed(exposed);
    if (exposed)
        redrawTick->start();
}
