#ifndef WIDGET_H
#define WIDGET_H

#include <QList>
#include <QSerialPort>
#include <QWidget>

#include <functional>

#include "parser.h"

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// One entry of the port list: the name the port is opened by, and the text
// shown after it.
struct PortEntry
{
    QString name;
    QString description;
};

// Where the port list comes from. The monitor lists the system's serial
// ports; the demo and the tests add ports the system does not enumerate,
// such as pseudo-terminals.
using PortSource = std::function<QList<PortEntry>()>;

QList<PortEntry> systemSerialPorts();

class Widget : public QWidget
{
    Q_OBJECT

public:
    // The console keeps this many of the newest lines; older ones scroll out,
    // so a monitor left running for days does not grow without bound.
    static constexpr int ConsoleMaxLines = 10000;

    explicit Widget(QWidget* parent = nullptr, PortSource portSource = systemSerialPorts);
    ~Widget() override;

private slots:
    void on_scan_button_clicked();
    void on_connect_button_clicked();
    void readSerial();
    void handleError(QSerialPort::SerialPortError error);
    void updateData(UART_RCV& data);

private:
    void printToConsole(const QString& message);
    double convertToMsSquared(short mg);
    void sendReset();
    void closePort();

    Ui::Widget* ui = nullptr;
    QSerialPort* serialPort = nullptr;
    Parser* parser = nullptr;
    PortSource portSource;
};

#endif // WIDGET_H
