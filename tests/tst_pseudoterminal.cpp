// SPDX-License-Identifier: GPL-3.0-or-later
// The pseudo-terminal every port test and the simulator stand on. The kernel
// hands a freed number out again at once, while the program that had it open
// through the serial port module may still hold its lock file; a new
// pseudo-terminal must not be one the serial port then refuses to open.
#include "pseudoterminal.h"

#include <QSerialPort>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class TestPseudoTerminal : public QObject
{
    Q_OBJECT

private slots:
    void passesOverANumberWhoseLockIsStillHeld();
};

void TestPseudoTerminal::passesOverANumberWhoseLockIsStillHeld()
{
    auto first = std::make_unique<PseudoTerminal>();
    QVERIFY2(first->isOpen(), qPrintable(first->errorString()));
    const QString freedPath = first->slavePath();
    QSerialPort holder(freedPath);
    QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));

    // The holder lets go of the device but not yet of its lock: its
    // descriptor now points at /dev/null, and with the master closed the
    // kernel is free to hand the number out again.
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    QVERIFY(devNull >= 0);
    QVERIFY(::dup2(devNull, int(holder.handle())) >= 0);
    ::close(devNull);
    first.reset();

    PseudoTerminal second;
    QVERIFY2(second.isOpen(), qPrintable(second.errorString()));
    QVERIFY2(second.slavePath() != freedPath, qPrintable(freedPath));
    QSerialPort user(second.slavePath());
    QVERIFY2(user.open(QIODevice::ReadWrite), qPrintable(user.errorString()));

    // And it carries bytes both ways like any other.
    QVERIFY(second.write("ping"));
    QVERIFY(user.waitForReadyRead(2000));
    QCOMPARE(user.readAll(), QByteArray("ping"));
    QCOMPARE(user.write("pong"), qint64(4));
    QVERIFY(user.waitForBytesWritten(2000));
    QCOMPARE(second.read(2000, 4), QByteArray("pong"));

    holder.close();
}

QTEST_GUILESS_MAIN(TestPseudoTerminal)
#include "tst_pseudoterminal.moc"
