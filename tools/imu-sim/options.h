// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OPTIONS_H
#define OPTIONS_H

#include "stillboard.h"

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
    bool still = false;          // the still board instead of the motion
    StillNoise stillNoise;       // its noise
    bool help = false;
};

// The link the board talks over: 115200 baud, 8-N-1, so ten bit times per
// byte and 19 bytes per frame.
constexpr double LinkBaud = 115200.0;
constexpr double LinkBitsPerByte = 10.0;
constexpr double LinkFramesPerSecond = LinkBaud / LinkBitsPerByte / 19.0;

// The rate the simulated board's frames are generated at: the link's full
// rate for "max" and for any rate beyond what it carries, 100 for an unpaced
// --out stream.
double generatedFramesPerSecond(const SimOptions& options);

// Fills options from the arguments (program name first). On a bad argument
// returns false with a one-line message naming it in error.
bool parseOptions(const QStringList& arguments, SimOptions& options, QString& error);

QString helpText();

#endif // OPTIONS_H
