// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TST_MEASUREMENT_SUPPORT_H
#define TST_MEASUREMENT_SUPPORT_H

// The monitor window open on a pseudo-terminal, as the measurement tests
// drive it: bytes written to the master arrive on the window's serial port
// like bytes from the board. Also a reference for the console line and the
// charts' values, written independently of the window's own formatting.

#include "plotter.h"
#include "pseudoterminal.h"
#include "testrecords.h"
#include "widget.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>
#include <qcustomplot.h>

#include <array>
#include <memory>

namespace MeasurementTest {

inline const char* const ChartNames[6] = {"yaw_plotter",   "pitch_plotter", "roll_plotter",
                                          "x_acc_plotter", "y_acc_plotter", "z_acc_plotter"};

// A line as shown in the tests: underscores stand for spaces, so the field
// widths can be counted.
inline QString spaced(const char* text)
{
    return QString(text).replace('_', ' ');
}

// Reference formatting in integers: hundredths as d.dd, and milli-g to m/s^2
// as mg * 980665 / 10^8 rounded to thousandths. Not valid for the ties at
// +-10000 and +-30000 mg, which the tests check by their literal text.
inline qint16 negated(qint16 v)
{
    return v == -32768 ? qint16(-32768) : qint16(-v);
}

inline QString fixed(qint64 units, int decimals)
{
    const bool negative = units < 0;
    const qint64 magnitude = negative ? -units : units;
    qint64 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    return QString("%1%2.%3")
        .arg(negative ? "-" : "")
        .arg(magnitude / scale)
        .arg(magnitude % scale, decimals, 10, QChar('0'));
}

inline QString msSquared(qint16 mg)
{
    const qint64 n = qint64(mg) * 980665; // m/s^2 times 10^8
    const qint64 magnitude = n < 0 ? -n : n;
    const qint64 thousandths = (magnitude + 50000) / 100000;
    return fixed(n < 0 ? -thousandths : thousandths, 3);
}

inline QString pad(const QString& text, int width)
{
    return text.size() >= width ? text : QString(width - text.size(), ' ') + text;
}

// The line a record sent by the board must produce, after the time prefix.
inline QString expectedLine(const UART_RCV& sent)
{
    const qint16 yaw = negated(sent.angle1), pitch = sent.angle3, roll = sent.angle2;
    const qint16 z = negated(sent.accel3);
    return "Ind: " + pad(QString::number(sent.index), 3) + "; Yaw: " + pad(fixed(yaw, 2), 7)
        + "; Pitch: " + pad(fixed(pitch, 2), 7) + "; Roll: " + pad(fixed(roll, 2), 7)
        + "; Xacc: " + pad(QString::number(sent.accel1), 6) + " mg (" + pad(msSquared(sent.accel1), 7)
        + " m/s2); Yacc: " + pad(QString::number(sent.accel2), 6) + " mg (" + pad(msSquared(sent.accel2), 7)
        + " m/s2); Zacc: " + pad(QString::number(z), 6) + " mg (" + pad(msSquared(z), 7) + " m/s2)";
}

// The six values a record sent by the board must put on the charts, in the
// order of ChartNames.
inline std::array<double, 6> expectedPoints(const UART_RCV& sent)
{
    return {negated(sent.angle1) / 100.0, sent.angle3 / 100.0, sent.angle2 / 100.0,
            double(sent.accel1),          double(sent.accel2), double(negated(sent.accel3))};
}

class Monitor
{
public:
    Monitor()
    {
        if (!pty.isOpen())
            return;
        const QString path = pty.slavePath();
        window.reset(new Widget(nullptr, [path] { return QList<PortEntry> {{path, "test"}}; }));
        window->show();
        console = window->findChild<QPlainTextEdit*>("console");
        csum = window->findChild<QLineEdit*>("csum_miss_le");
        indexMiss = window->findChild<QLineEdit*>("index_miss_le");
        for (int i = 0; i < 6; ++i) {
            auto* chart = window->findChild<Plotter*>(ChartNames[i]);
            auto* plot = chart ? chart->findChild<QCustomPlot*>() : nullptr;
            graphs[i] = plot ? plot->graph(0) : nullptr;
        }
        port = window->findChild<QSerialPort*>();
        if (port) {
            // After the window's own slot: counts reads that have gone through.
            QObject::connect(port, &QSerialPort::readyRead, [this] { ++reads; });
            window->findChild<QPushButton*>("connect_button")->click();
        }
    }

    bool isReady() const
    {
        if (!window || !console || !csum || !indexMiss || !port || !port->isOpen())
            return false;
        for (QCPGraph* g : graphs)
            if (!g)
                return false;
        return true;
    }

    // Writes the bytes and waits until the window has read something.
    bool send(const QByteArray& bytes)
    {
        const int before = reads;
        if (!pty.write(bytes))
            return false;
        QElapsedTimer t;
        t.start();
        while (reads == before && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return reads > before;
    }

    QStringList lines() const { return console->toPlainText().split('\n', Qt::SkipEmptyParts); }

    // The record lines, without their time prefix; the prefix is checked.
    QStringList recordLines() const
    {
        static const QRegularExpression prefix("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] $");
        QStringList out;
        for (const QString& line : lines()) {
            if (!line.mid(15).startsWith("Ind:"))
                continue;
            if (!prefix.match(line.left(15)).hasMatch())
                out << "BAD PREFIX: " + line;
            else
                out << line.mid(15);
        }
        return out;
    }

    QVector<double> values(int chart) const
    {
        QVector<double> out;
        for (auto it = graphs[chart]->data()->constBegin(); it != graphs[chart]->data()->constEnd(); ++it)
            out << it->value;
        return out;
    }

    int points(int chart) const { return graphs[chart]->data()->size(); }

    PseudoTerminal pty;
    std::unique_ptr<Widget> window;
    QPlainTextEdit* console = nullptr;
    QLineEdit* csum = nullptr;
    QLineEdit* indexMiss = nullptr;
    QSerialPort* port = nullptr;
    std::array<QCPGraph*, 6> graphs {};
    int reads = 0;
};

} // namespace MeasurementTest

#endif // TST_MEASUREMENT_SUPPORT_H
