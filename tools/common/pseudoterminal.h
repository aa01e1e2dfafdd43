// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QByteArray>
#include <QString>

// The master side of a kernel pseudo-terminal. Its slave is a real tty that
// the serial-port module opens by path like any serial device, so a program
// holding the master plays the board at the far end of a cable. Closing the
// master is pulling that cable.
class PseudoTerminal
{
public:
    // Opens a new pseudo-terminal in raw mode, passing over any whose device
    // still has a serial-port lock file from an earlier holder; check isOpen().
    PseudoTerminal();
    ~PseudoTerminal();

    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isOpen() const;
    // For example "/dev/pts/3"; empty when opening failed.
    QString slavePath() const;
    int masterFd() const;
    // Why opening or the last write failed.
    QString errorString() const;

    // Writes all of bytes, waiting up to timeoutMs for room when the slave's
    // input queue is full. Returns false on error or time-out.
    bool write(const QByteArray& bytes, int timeoutMs = 5000);

    // Everything that arrives from the slave side within timeoutMs, stopping
    // early once maxBytes have been read.
    QByteArray read(int timeoutMs, int maxBytes = 1 << 20);

    // The cable pulled: the slave side then sees the device go away.
    void close();

private:
    bool openMaster();

    int fd = -1;
    QString path;
    QString error;
};

#endif // PSEUDOTERMINAL_H
