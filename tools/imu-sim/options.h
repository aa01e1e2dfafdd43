// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OPTIONS_H
#define OPTIONS_H

#include <QString>
#include <QStringList>

#include <cstdint>

// The simulator's command line.
struct SimOptions
{
    // Frames per second; ignored when rateMax. rateGiven tells whether the
    // user chose a rate, which paces a --out stream that is unpaced otherwise.
    double rate = 100.0;
    bool rateMax = false;
    bool rateGiven = false;
    std::uint64_t seed = 1;
    double corrupt = 0;
    double drop = 0;
    double garbage = 0;
    double disconnectAfter = -1; // seconds; negative: never
    qint64 count = -1;           // frames; negative: no limit
    QString out;                 // empty: a pseudo-terminal; "-": standard output
    QString port;                // an existing serial device instead of either
    QString records;             // empty: none
    QString replay;              // a recording to play instead of the motion
    double speed = 1.0;          // scales the pace of a replay
    bool loop = false;           // a replay starts again at its end
    bool help = false;
};

// The link the board talks over: 115200 baud, 8-N-1, so ten bit times per
// byte and 19 bytes per frame.
constexpr double LinkBaud = 115200.0;
constexpr double LinkBitsPerByte = 10.0;
constexpr double LinkFramesPerSecond = LinkBaud / LinkBitsPerByte / 19.0;

// Fills options from the arguments (program name first). On a bad argument
// returns false with a one-line message naming it in error.
bool parseOptions(const QStringList& arguments, SimOptions& options, QString& error);

QString helpText();

#endif // OPTIONS_H
