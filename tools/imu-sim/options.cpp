// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <QCommandLineParser>

#include <array>
#include <cmath>

namespace {
bool parseProbability(const QString& text, double& value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && value >= 0 && value <= 1;
}

bool parseNonNegative(const QString& text, double& value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0;
}

// One value for all three axes, or three separated by commas (X,Y,Z).
bool parseAxes(const QString& text, bool negativeAllowed, std::array<double, 3>& axes)
{
    const QStringList parts = text.split(',');
    if (parts.size() != 1 && parts.size() != 3)
        return false;
    std::array<double, 3> values {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        values[std::size_t(i)] = parts[parts.size() == 1 ? 0 : i].trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(values[std::size_t(i)]) || (!negativeAllowed && values[std::size_t(i)] < 0))
            return false;
    }
    axes = values;
    return true;
}

QString invalid(const QString& option, const QString& value, const QString& expected)
{
    return QStringLiteral("invalid value '%1' for --%2: expected %3").arg(value, option, expected);
}
} // namespace

bool parseOptions(const QStringList& arguments, SimOptions& options, QString& error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "");
    const QCommandLineOption rate("rate", "", "HZ");
    const QCommandLineOption seed("seed", "", "N");
    const QCommandLineOption corrupt("corrupt", "", "P");
    const QCommandLineOption drop("drop", "", "P");
    const QCommandLineOption garbage("garbage", "", "P");
    const QCommandLineOption disconnect("disconnect-after", "", "S");
    const QCommandLineOption out("out", "", "PATH");
    const QCommandLineOption count("count", "", "N");
    const QCommandLineOption records("records", "", "FILE");
    const QCommandLineOption port("port", "", "DEVICE");
    const QCommandLineOption replay("replay", "", "FILE");
    const QCommandLineOption speed("speed", "", "X");
    const QCommandLineOption loop("loop", "");
    const QCommandLineOption still("still", "");
    const QCommandLineOption density("noise-density", "", "N");
    const QCommandLineOption randomWalk("random-walk", "", "K");
    const QCommandLineOption bias("bias", "", "MG");
    const QCommandLineOption yawDrift("yaw-drift", "", "DEG_PER_MIN");
    const QCommandLineOption angleNoise("angle-noise", "", "DEG");
    parser.addOptions({help, rate, seed, corrupt, drop, garbage, disconnect, out, count, records, port, replay,
                       speed, loop, still, density, randomWalk, bias, yawDrift, angleNoise});

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        if (error.endsWith('.'))
            error.chop(1);
        if (!error.isEmpty())
            error[0] = error[0].toLower();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return false;
    }
    options.help = parser.isSet(help);

    // An option given twice takes its last value, as most programs do.
    auto last = [&parser](const QCommandLineOption& option) { return parser.values(option).last(); };

    if (parser.isSet(rate)) {
        const QString text = last(rate);
        options.rateGiven = true;
        if (text == "max") {
            options.rateMax = true;
        } else {
            bool ok = false;
            options.rate = text.toDouble(&ok);
            if (!ok || !std::isfinite(options.rate) || options.rate <= 0) {
                error = invalid("rate", text, "frames per second above 0, or max");
                return false;
            }
        }
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        options.seed = last(seed).toULongLong(&ok);
        if (!ok) {
            error = invalid("seed", last(seed), "an unsigned integer");
            return false;
        }
    }
    const std::pair<const QCommandLineOption*, double*> probabilities[] = {
        {&corrupt, &options.corrupt}, {&drop, &options.drop}, {&garbage, &options.garbage}};
    for (const auto& [option, value] : probabilities) {
        if (parser.isSet(*option) && !parseProbability(last(*option), *value)) {
            error = invalid(option->names().first(), last(*option), "a probability from 0 to 1");
            return false;
        }
    }
    if (parser.isSet(disconnect) && !parseNonNegative(last(disconnect), options.disconnectAfter)) {
        error = invalid("disconnect-after", last(disconnect), "seconds, 0 or more");
        return false;
    }
    if (parser.isSet(count)) {
        bool ok = false;
        options.count = last(count).toLongLong(&ok);
        if (!ok || options.count < 0) {
            error = invalid("count", last(count), "a number of frames, 0 or more");
            return false;
        }
    }
    if (parser.isSet(out)) {
        options.out = last(out);
        if (options.out.isEmpty()) {
            error = invalid("out", options.out, "a file path, or - for standard output");
            return false;
        }
    }
    if (parser.isSet(port)) {
        options.port = last(port);
        if (options.port.isEmpty()) {
            error = invalid("port", options.port, "a serial device such as /dev/ttyUSB0");
            return false;
        }
        if (parser.isSet(out)) {
            error = QStringLiteral("--port and --out exclude each other");
            return false;
        }
        // Closing a real device from this end does not pull anything out.
        if (parser.isSet(disconnect)) {
            error = QStringLiteral("--disconnect-after needs the simulator's own pseudo-terminal");
            return false;
        }
    }
    if (parser.isSet(records)) {
        options.records = last(records);
        if (options.records.isEmpty()) {
            error = invalid("records", options.records, "a file path");
            return false;
        }
    }
    if (parser.isSet(replay)) {
        options.replay = last(replay);
        if (options.replay.isEmpty()) {
            error = invalid("replay", options.replay, "a recording or a capture file");
            return false;
        }
    }
    options.loop = parser.isSet(loop);
    if (parser.isSet(speed)) {
        bool ok = false;
        options.speed = last(speed).toDouble(&ok);
        if (!ok || !std::isfinite(options.speed) || options.speed <= 0) {
            error = invalid("speed", last(speed), "a factor above 0, such as 0.5 or 10");
            return false;
        }
    }
    for (const QCommandLineOption* option : {&speed, &loop}) {
        if (parser.isSet(*option) && options.replay.isEmpty()) {
            error = QStringLiteral("--%1 needs --replay").arg(option->names().first());
            return false;
        }
    }

    options.still = parser.isSet(still);
    if (options.still && !options.replay.isEmpty()) {
        error = QStringLiteral("--still and --replay exclude each other");
        return false;
    }
    StillNoise& noise = options.stillNoise;
    const struct
    {
        const QCommandLineOption* option;
        std::array<double, 3>* axes;
        bool negativeAllowed;
        const char* expected;
    } axisOptions[] = {
        {&density, &noise.densityUg, false, "ug/sqrt(Hz), 0 or more: one value for every axis, or X,Y,Z"},
        {&randomWalk, &noise.randomWalkUg, false, "ug/sqrt(s), 0 or more: one value for every axis, or X,Y,Z"},
        {&bias, &noise.biasMg, true, "mg: one value for every axis, or X,Y,Z"}};
    for (const auto& [option, axes, negativeAllowed, expected] : axisOptions) {
        if (parser.isSet(*option) && !parseAxes(last(*option), negativeAllowed, *axes)) {
            error = invalid(option->names().first(), last(*option), QString::fromLatin1(expected));
            return false;
        }
    }
    if (parser.isSet(yawDrift)) {
        bool ok = false;
        noise.yawDriftDegPerMin = last(yawDrift).toDouble(&ok);
        if (!ok || !std::isfinite(noise.yawDriftDegPerMin)) {
            error = invalid("yaw-drift", last(yawDrift), "degrees per minute, such as 0.4 or -2");
            return false;
        }
    }
    if (parser.isSet(angleNoise) && !parseNonNegative(last(angleNoise), noise.angleNoiseDeg)) {
        error = invalid("angle-noise", last(angleNoise), "degrees, 0 or more");
        return false;
    }
    for (const QCommandLineOption* option : {&density, &randomWalk, &bias, &yawDrift, &angleNoise}) {
        if (parser.isSet(*option) && !options.still) {
            error = QStringLiteral("--%1 needs --still").arg(option->names().first());
            return false;
        }
    }
    return true;
}

double generatedFramesPerSecond(const SimOptions& options)
{
    return options.rateMax ? LinkFramesPerSecond : std::fmin(options.rate, LinkFramesPerSecond);
}

QString helpText()
{
    return QStringLiteral(
R"(Usage: imu-sim [options]

Plays the IMU board: streams its 19-byte measurement frames (two 0xAA sync
bytes, 16-byte little-endian payload, additive checksum) to a new
pseudo-terminal, whose path is the first line of standard output. Open that
path in the monitor like any serial port. The simulator listens to the port:
the reset command "$MIB,RESET*87" restarts the index at 0 and the motion from
rest (a replay from its start); anything else the host sends is reported on
standard error and ignored. When the host closes the port the simulator keeps
sending, as a board on a cable does, and those frames are lost; the host may
reopen the port any time.

Options:
  --rate HZ             frames per second (default 100), or "max" to fill the
                        115200-baud 8-N-1 link (about 606 frames/s). Paced on
                        a monotonic clock like a real line; no rate goes beyond
                        what the link carries. With --replay: the pace of
                        every row (or 19-byte slice), in place of host_time.
  --seed N              seed of the noise and of the faults (default 1); the
                        same seed and options give the same stream.
  --corrupt P           probability that a frame is sent with a wrong checksum
  --drop P              probability that a frame is skipped (its index is used
                        up, so the host sees the index jump)
  --garbage P           probability of 1 to 8 random bytes before a frame;
                        they never contain 0xAA, so never look like a frame.
                        The three faults apply to a replayed CSV as well, but
                        not to a raw capture, which is played as it is.
  --disconnect-after S  close the pseudo-terminal after S seconds (a cable
                        pulled out) and exit
  --out PATH            write the stream to a file instead (- for standard
                        output), unpaced unless --rate is given; a replay
                        is paced there too, and ends at its end
  --port DEVICE         stream into an existing serial device instead, such
                        as the board's end of a USB gadget (/dev/ttyGS0) or
                        an adapter on a null-modem cable to the host's. The
                        link is set raw at 115200 8-N-1 without flow control,
                        paced and listening as on the pseudo-terminal; when
                        the device hangs up the simulator ends (status 3)
  --count N             stop after N frames (sent, corrupted and dropped ones
                        all count; of a replay, rows or 19-byte slices, over
                        every pass)
  --records FILE        write one CSV line per frame, with the header
                        index,angle1,angle2,angle3,accel1,accel2,accel3,fate
                        (values as sent, fate sent, corrupt or dropped; not
                        for a raw capture)
  --replay FILE         play FILE instead of the simulated motion: a CSV
                        recording (header host_time,index,yaw_deg,...,z_ms2,
                        as imu-decode writes it) or a raw capture of the
                        link's bytes (as --out writes it).
                        Each row becomes its frame again: the monitor's
                        remapping undone, the three undecoded bytes 0. Rows
                        follow each other by their host_time gaps (rows of
                        one instant as fast as the link carries them); rows
                        without host_time, and a capture's bytes, go at the
                        link's full rate. The whole file is checked first: a
                        fault ends the run before anything is sent, with
                        status 2 and one line "imu-sim: FILE:LINE: what is
                        wrong". At the end the stream stops but the port
                        stays open; the reset command plays it again
  --speed X             with --replay: play X times as fast (default 1), yet
                        never faster than the link carries
  --loop                with --replay: start again at the end, endlessly
  --still               a board lying level and still instead of the motion,
                        with known noise (see Still board below): ground
                        truth for the monitor's noise analysis and imu-noise
  --noise-density N     white noise density of the accelerations in
                        ug/sqrt(Hz), two-sided (the Allan deviation's value
                        at 1 s): one value for X, Y and Z (the monitor's
                        axes), or X,Y,Z (default 200)
  --random-walk K       random walk of each acceleration's bias in
                        ug/sqrt(s) (the Allan deviation's +1/2 line read at
                        3 s): one value or X,Y,Z (default 20)
  --bias MG             constant offset of the accelerations in mg: one value
                        or X,Y,Z (default 0)
  --yaw-drift D         steady drift of the yaw in degrees per minute
                        (default 0.4; positive turns the nose right)
  --angle-noise DEG     white noise of each angle: the deviation of one
                        sample in degrees (default 0.01)
                        The last five need --still.
  -h, --help            show this text

Motion: the board rests flat for 1 s after start and after every reset, then
turns its yaw through the whole circle every 20 s while pitch and roll swing
within +-50 and +-55 degrees. The monitor shows the physical axes: X forward,
Y right, Z down; yaw turns the nose right, pitch raises it, roll lowers the
right side. Accelerations are the specific force in milli-g (gravity seen in
the board's frame, plus up to +-8 mg of noise per axis): a board lying still
shows Zacc about -1000 mg in the monitor and sends accel3 about +1000. On the
wire the board's own conventions apply: angle1 = -yaw, angle2 = roll,
angle3 = pitch, accel3 = -Zacc; angles in hundredths of a degree. With --out
and no --rate the motion advances 1/100 s per frame.

Still board (--still): the board lies level. Yaw starts at 0 and drifts at
--yaw-drift, wrapping at +-180 degrees; pitch and roll stay 0; X, Y and Z
read 0, 0 and -1000 mg (accel3 +1000 on the wire). Each acceleration axis
adds its --bias, a bias that walks in steps of deviation K / sqrt(fs), and
white noise of deviation N * sqrt(fs) per sample; each angle adds its white
noise. fs is the rate the frames are generated at: the --rate given (at most
the link's 606.3 frames/s), the link's rate for max, and 100 for --out
without --rate, which advances the board 1/100 s per frame. Values are
rounded to 1 mg and 0.01 degree, as the board sends them. The reset command
restarts the yaw at 0 and the bias walk at the bias.

At the end it prints on standard error:
  imu-sim: frames sent: N, corrupted: C, dropped: D, garbage bytes: G
Exit status: 0 when done or ended by SIGINT/SIGTERM, 1 when the output fails
(or the --port device cannot be opened), 2 for a bad argument or a --replay
file that cannot be played, 3 when the --port device hung up.
)");
}
