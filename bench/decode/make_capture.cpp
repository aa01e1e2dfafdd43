// SPDX-License-Identifier: GPL-3.0-or-later
// make_capture FILE FRAMES: FRAMES frames of a slowly turning board, with
// values spread over the whole range so the number formatting does real work.

#include "frameencoder.h"

#include <QFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE FRAMES\n", argv[0]);
        return 2;
    }
    const long long frames = std::atoll(argv[2]);
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (frames <= 0 || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 2;
    }
    QByteArray chunk;
    for (long long i = 0; i < frames; ++i) {
        const double t = double(i) / 606.0;
        UART_RCV r;
        r.index = quint8(i);
        r.angle1 = qint16(std::lround(17999.0 * std::sin(t * 0.31)));
        r.angle2 = qint16(std::lround(5500.0 * std::sin(t * 0.7)));
        r.angle3 = qint16(std::lround(5000.0 * std::cos(t * 0.5)));
        r.accel1 = qint16(std::lround(866.0 * std::sin(t * 0.5)));
        r.accel2 = qint16(std::lround(-819.0 * std::sin(t * 0.7)));
        r.accel3 = qint16(std::lround(1000.0 * std::cos(t * 0.6)));
        chunk.append(FrameEncoder::frame(r));
        if (chunk.size() > (1 << 20)) {
            out.write(chunk);
            chunk.clear();
        }
    }
    out.write(chunk);
    return out.error() == QFile::NoError ? 0 : 1;
}
