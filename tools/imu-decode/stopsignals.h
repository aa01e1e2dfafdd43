// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef IMU_DECODE_STOPSIGNALS_H
#define IMU_DECODE_STOPSIGNALS_H

// SIGINT and SIGTERM turned into a readable file descriptor: the handler only
// writes one byte to a pipe (async-signal-safe), and the program notices it
// in its event loop or its poll() like any other input.
namespace StopSignals {

// Installs the handlers; false if the pipe could not be made.
bool install();

// Becomes readable once a stop signal has arrived.
int fd();

bool received();

} // namespace StopSignals

#endif // IMU_DECODE_STOPSIGNALS_H
