// SPDX-License-Identifier: GPL-3.0-or-later
// imu-decode recording from a port: a pseudo-terminal whose master side this
// test holds, so it plays the board and can pull the cable.

#include "pseudoterminal.h"
#include "tst_decode_support.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace DecodeTest;

class TestDecodePort : public QObject
{
    Q_OBJECT

private slots:
    void lostPortEndsWithStatus3AndEverythingWritten();
    void cablePulledSoonAfterABurst();
    void sigtermEndsTheRecordingWithTheSummary();
    void countAndDurationEndARecording();
    void rawKeepsTheBytesExactly();

private:
    // Starts the decoder on the pty and waits until its header is in the
    // output file: from then on the port is open and every byte is heard.
    bool startRecorder(QProcess& process, const PseudoTerminal& pty, const QString& output,
                       const QStringList& extra = {});
    static QVector<UART_RCV> frames(int first, int count);
    QTemporaryDir dir;
};

bool TestDecodePort::startRecorder(QProcess& process, const PseudoTerminal& pty, const QString& output,
                                   const QStringList& extra)
{
    process.start(decoderPath(), QStringList{QStringLiteral("--port"), pty.slavePath(), QStringLiteral("-o"), output}
                                     + extra);
    if (!process.waitForStarted(10000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (readLines(output).value(0) == QLatin1String(csvHeader()))
            return true;
        if (process.state() != QProcess::Running)
            return false;
        QTest::qWait(20);
    }
    return false;
}

QVector<UART_RCV> TestDecodePort::frames(int first, int count)
{
    QVector<UART_RCV> out;
    for (int i = first; i < first + count; ++i)
        out.append(record(i, 100 * (i % 360) - 18000, (i % 120) * 50 - 3000, -(i % 90) * 40, i % 50, -i % 70,
                          1000 - i % 30));
    return out;
}

static void checkRows(const QStringList& lines, const QVector<UART_RCV>& sent, const QDateTime& startedAt)
{
    QCOMPARE(lines.size(), sent.size() + 1);
    QString previous;
    for (int i = 0; i < sent.size(); ++i) {
        const auto [time, rest] = splitHostTime(lines.at(i + 1));
        QCOMPARE(rest, expectedRow(sent.at(i)));
        QVERIFY2(hostTimePattern().match(time).hasMatch(), qPrintable(time));
        const QDateTime when = QDateTime::fromString(time, Qt::ISODateWithMs);
        QVERIFY(when.isValid());
        // Stamped when read: after the test started, not in the future.
        QVERIFY(when >= startedAt.addMSecs(-1000));
        QVERIFY(when <= QDateTime::currentDateTime().addMSecs(1000));
        QVERIFY(time >= previous);
        previous = time;
    }
}

void TestDecodePort::lostPortEndsWithStatus3AndEverythingWritten()
{
    const QDateTime startedAt = QDateTime::currentDateTime();
    PseudoTerminal pty;
    QVERIFY2(pty.isOpen(), qPrintable(pty.errorString()));
    const QString output = dir.filePath(QStringLiteral("lost.csv"));
    QProcess process;
    QVERIFY(startRecorder(process, pty, output));

    // 300 frames in bursts, one cut across two writes, with bytes before the
    // first sync as when joining a board mid-frame.
    const QVector<UART_RCV> sent = frames(0, 300);
    QByteArray stream = QByteArray("\x13\x37\x00\x01\x02", 5) + capture(sent);
    for (int offset = 0; offset < stream.size(); offset += 190 + 7) {
        QVERIFY(pty.write(stream.mid(offset, 190 + 7)));
        QTest::qWait(5);
    }
    // Flushed within a second without any further input: tail -f works.
    QTRY_COMPARE_WITH_TIMEOUT(readLines(output).size(), sent.size() + 1, 10000);
    QCOMPARE(process.state(), QProcess::Running);

    pty.close();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 3);
    const QStringList err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 2);
    // The cause in words, not the leftover system error the port reports.
    QVERIFY2(err.first().contains(QStringLiteral("lost (device hung up"))
                 && err.first().contains(pty.slavePath()),
             qPrintable(err.first()));
    const Summary summary = parseSummary(err);
    QVERIFY2(summary.valid, qPrintable(err.constLast()));
    QCOMPARE(summary.records, 300ull);
    QCOMPARE(summary.dropped, 5ull);
    QCOMPARE(summary.checksumMisses, 0ull);
    QVERIFY(summary.framesPerSecond > 0.0);
    checkRows(readLines(output), sent, startedAt);
}

void TestDecodePort::cablePulledSoonAfterABurst()
{
    // The last frames before the cable goes reach the file through the
    // final flush, well before the periodic one. (Bytes still queued in the
    // kernel at the very moment the master closes are discarded by the
    // hang-up, as bytes on a wire being unplugged are: the decoder never
    // sees them.)
    const QDateTime startedAt = QDateTime::currentDateTime();
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    const QString output = dir.filePath(QStringLiteral("burst.csv"));
    QProcess process;
    QVERIFY(startRecorder(process, pty, output, {QStringLiteral("--format"), QStringLiteral("csv")}));
    const QVector<UART_RCV> sent = frames(17, 200);
    QVERIFY(pty.write(capture(sent)));
    QTest::qWait(200);
    pty.close();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 3);
    const QStringList err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    const Summary summary = parseSummary(err);
    QVERIFY2(summary.valid, qPrintable(err.join('\n')));
    QVERIFY(summary.records > 0);
    const QStringList lines = readLines(output);
    QCOMPARE(quint64(lines.size() - 1), summary.records);
    checkRows(lines, sent.mid(0, int(summary.records)), startedAt);
}

void TestDecodePort::sigtermEndsTheRecordingWithTheSummary()
{
    const QDateTime startedAt = QDateTime::currentDateTime();
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    const QString output = dir.filePath(QStringLiteral("term.csv"));
    QProcess process;
    QVERIFY(startRecorder(process, pty, output));
    const QVector<UART_RCV> sent = frames(250, 40); // the index wraps at 255
    QVERIFY(pty.write(capture(sent)));
    QTRY_COMPARE_WITH_TIMEOUT(readLines(output).size(), sent.size() + 1, 10000);

    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 1);
    const Summary summary = parseSummary(err);
    QVERIFY2(summary.valid, qPrintable(err.value(0)));
    QCOMPARE(summary.records, 40ull);
    QCOMPARE(summary.indexMisses, 0ull);
    QVERIFY(summary.framesPerSecond > 0.0);
    checkRows(readLines(output), sent, startedAt);
}

void TestDecodePort::countAndDurationEndARecording()
{
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    const QString counted = dir.filePath(QStringLiteral("count.csv"));
    QProcess process;
    QVERIFY(startRecorder(process, pty, counted, {QStringLiteral("--count"), QStringLiteral("25")}));
    const QVector<UART_RCV> sent = frames(0, 60);
    QVERIFY(pty.write(capture(sent)));
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QStringList lines = readLines(counted);
    QCOMPARE(lines.size(), 26);
    QCOMPARE(splitHostTime(lines.constLast()).second, expectedRow(sent.at(24)));
    const QStringList err = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(parseSummary(err).records, 25ull);

    // Nothing arrives: the duration still ends it, with an empty recording.
    const QString timed = dir.filePath(QStringLiteral("duration.csv"));
    QProcess quiet;
    QVERIFY(startRecorder(quiet, pty, timed, {QStringLiteral("--duration"), QStringLiteral("0.3")}));
    QVERIFY(quiet.waitForFinished(10000));
    QCOMPARE(quiet.exitCode(), 0);
    QCOMPARE(readLines(timed), QStringList{QString::fromLatin1(csvHeader())});
    const QStringList quietErr = QString::fromUtf8(quiet.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    const Summary summary = parseSummary(quietErr);
    QVERIFY2(summary.valid, qPrintable(quietErr.value(0)));
    QCOMPARE(summary.records, 0ull);
    QCOMPARE(summary.framesPerSecond, 0.0);
}

void TestDecodePort::rawKeepsTheBytesExactly()
{
    PseudoTerminal pty;
    QVERIFY(pty.isOpen());
    const QString output = dir.filePath(QStringLiteral("link.csv"));
    const QString raw = dir.filePath(QStringLiteral("link.bin"));
    QProcess process;
    QVERIFY(startRecorder(process, pty, output, {QStringLiteral("--raw"), raw}));
    // A faulty link: noise, a corrupt frame, a frame cut off at the end.
    const QByteArray stream = QByteArray("\x13\xAA\x37", 3) + capture(frames(0, 200))
                              + FrameEncoder::corruptFrame(frames(200, 1).first()) + capture(frames(201, 99))
                              + FrameEncoder::frame(frames(300, 1).first()).left(7);
    for (int offset = 0; offset < stream.size(); offset += 500)
        QVERIFY(pty.write(stream.mid(offset, 500)));
    // All of it received (and flushed) before the cable goes.
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(raw).size(), qint64(stream.size()), 10000);
    pty.close();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 3);
    QFile kept(raw);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), stream);
    QCOMPARE(readLines(output).size(), 300);
}

QTEST_GUILESS_MAIN(TestDecodePort)
#include "tst_decode_port.moc"
