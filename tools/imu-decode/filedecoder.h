// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef IMU_DECODE_FILEDECODER_H
#define IMU_DECODE_FILEDECODER_H

#include <QString>

class DecodeSession;

// Decodes a capture file or standard input in fixed-size chunks, so a file of
// any size is streamed rather than loaded.
class FileDecoder
{
public:
    FileDecoder() = default;
    ~FileDecoder();
    FileDecoder(const FileDecoder&) = delete;
    FileDecoder& operator=(const FileDecoder&) = delete;

    // "-" is standard input. On failure, error says why.
    bool open(const QString& path, QString& error);

    // Until end of input, the session's count, durationSeconds (0: none) or a
    // stop signal. Returns the exit status; error is set when it is not 0.
    int run(DecodeSession& session, double durationSeconds, QString& error);

private:
    QString path;
    int fd = -1;
    bool ownsFd = false;
};

#endif // IMU_DECODE_FILEDECODER_H
