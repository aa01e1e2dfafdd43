// SPDX-License-Identifier: GPL-3.0-or-later
// imu-decode against the simulated board: what the simulator says it sent is
// what the decoder writes, from a capture and live through a pseudo-terminal.

#include "tst_decode_support.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace DecodeTest;

namespace {

struct SimFrame
{
    UART_RCV record;
    QString fate;
};

// The simulator's --records file.
QVector<SimFrame> readRecords(const QString& path)
{
    QVector<SimFrame> frames;
    const QStringList lines = readLines(path);
    if (lines.value(0) != QLatin1String("index,angle1,angle2,angle3,accel1,accel2,accel3,fate"))
        return frames;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines.at(i).split(QLatin1Char(','));
        if (f.size() != 8)
            return {};
        frames.append({record(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt(), f[5].toInt(),
                              f[6].toInt()),
                       f[7]});
    }
    return frames;
}

QVector<UART_RCV> sentOnly(const QVector<SimFrame>& frames)
{
    QVector<UART_RCV> sent;
    for (const SimFrame& f : frames)
        if (f.fate == QLatin1String("sent"))
            sent.append(f.record);
    return sent;
}

struct SimCounts
{
    bool valid = false;
    quint64 sent = 0, corrupted = 0, dropped = 0, garbage = 0;
};

SimCounts parseSimCounts(const QByteArray& err)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^imu-sim: frames sent: (\\d+), corrupted: (\\d+), dropped: (\\d+), garbage bytes: (\\d+)$"),
                                            QRegularExpression::MultilineOption);
    const auto match = pattern.match(QString::fromUtf8(err));
    SimCounts c;
    if (!match.hasMatch())
        return c;
    c.valid = true;
    c.sent = match.captured(1).toULongLong();
    c.corrupted = match.captured(2).toULongLong();
    c.dropped = match.captured(3).toULongLong();
    c.garbage = match.captured(4).toULongLong();
    return c;
}

} // namespace

class TestDecodeSim : public QObject
{
    Q_OBJECT

private slots:
    void seededCaptureMatchesTheSimulatorRecords();
    void faultCountsMatchTheSimulator();
    void recordingEndsWhenTheSimulatorPullsTheCable();

private:
    bool runSimulator(const QStringList& arguments, QByteArray& err);
    QTemporaryDir dir;
};

bool TestDecodeSim::runSimulator(const QStringList& arguments, QByteArray& err)
{
    QProcess sim;
    sim.start(QStringLiteral(IMU_SIM_PATH), arguments);
    if (!sim.waitForFinished(60000))
        return false;
    err = sim.readAllStandardError();
    return sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0;
}

void TestDecodeSim::seededCaptureMatchesTheSimulatorRecords()
{
    const QString capturePath = dir.filePath(QStringLiteral("seeded.bin"));
    const QString recordsPath = dir.filePath(QStringLiteral("seeded-records.csv"));
    QByteArray simErr;
    QVERIFY(runSimulator({"--seed", "42", "--count", "3000", "--out", capturePath, "--records", recordsPath},
                         simErr));
    const QVector<UART_RCV> sent = sentOnly(readRecords(recordsPath));
    QCOMPARE(sent.size(), 3000);

    const Result result = runDecoder({capturePath});
    QCOMPARE(result.exitCode, 0);
    const QStringList rows = result.outLines();
    QCOMPARE(rows.size(), sent.size() + 1);
    for (int i = 0; i < sent.size(); ++i)
        QCOMPARE(rows.at(i + 1), QLatin1Char(',') + expectedRow(sent.at(i)));
    const Summary summary = parseSummary(result.errLines());
    QCOMPARE(summary.records, 3000ull);
    QCOMPARE(summary.checksumMisses + summary.indexMisses + summary.dropped, 0ull);
}

void TestDecodeSim::faultCountsMatchTheSimulator()
{
    const QString capturePath = dir.filePath(QStringLiteral("faults.bin"));
    const QString recordsPath = dir.filePath(QStringLiteral("faults-records.csv"));
    QByteArray simErr;
    QVERIFY(runSimulator({"--seed", "9", "--count", "5000", "--corrupt", "0.04", "--drop", "0.03", "--garbage",
                          "0.1", "--out", capturePath, "--records", recordsPath},
                         simErr));
    const SimCounts sim = parseSimCounts(simErr);
    QVERIFY2(sim.valid, simErr.constData());
    QVERIFY(sim.corrupted > 0 && sim.dropped > 0 && sim.garbage > 0);
    const QVector<UART_RCV> sent = sentOnly(readRecords(recordsPath));
    QCOMPARE(quint64(sent.size()), sim.sent);

    quint64 expectedIndexMisses = 0;
    for (int i = 1; i < sent.size(); ++i) {
        const quint8 step = quint8(sent[i].index - sent[i - 1].index);
        expectedIndexMisses += (step != 1 && step != 255) ? 1 : 0;
    }

    const Result result = runDecoder({capturePath});
    QCOMPARE(result.exitCode, 0);
    const Summary summary = parseSummary(result.errLines());
    QVERIFY2(summary.valid, result.err.constData());
    QCOMPARE(summary.records, sim.sent);
    QCOMPARE(summary.checksumMisses, sim.corrupted);
    QCOMPARE(summary.dropped, sim.garbage);
    QCOMPARE(summary.indexMisses, expectedIndexMisses);
    const QStringList rows = result.outLines();
    QCOMPARE(rows.size(), sent.size() + 1);
    for (int i = 0; i < sent.size(); ++i)
        QCOMPARE(rows.at(i + 1), QLatin1Char(',') + expectedRow(sent.at(i)));
}

void TestDecodeSim::recordingEndsWhenTheSimulatorPullsTheCable()
{
    const QString recordsPath = dir.filePath(QStringLiteral("live-records.csv"));
    const QString output = dir.filePath(QStringLiteral("live.csv"));
    QProcess sim;
    sim.start(QStringLiteral(IMU_SIM_PATH),
              {"--seed", "5", "--rate", "250", "--disconnect-after", "2.5", "--records", recordsPath});
    QVERIFY(sim.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString slave = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(slave.startsWith(QStringLiteral("/dev/")), qPrintable(slave));

    QProcess decoder;
    decoder.start(decoderPath(), {"--port", slave, "-o", output});
    QVERIFY(decoder.waitForStarted(10000));
    QVERIFY(sim.waitForFinished(20000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(decoder.waitForFinished(10000));
    QCOMPARE(decoder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(decoder.exitCode(), 3);

    const QStringList err = QString::fromUtf8(decoder.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(err.size() == 2 && err.first().contains(QStringLiteral("lost")), qPrintable(err.join('\n')));
    const Summary summary = parseSummary(err);
    QVERIFY2(summary.valid, qPrintable(err.constLast()));

    // The frames sent before the decoder opened the port are lost on the
    // line, as with a real board; from then on every one must be written,
    // the last ones before the cable went included.
    const QVector<UART_RCV> sent = sentOnly(readRecords(recordsPath));
    const QStringList rows = readLines(output);
    QVERIFY2(rows.size() > 300, qPrintable(QString::number(rows.size())));
    QCOMPARE(quint64(rows.size() - 1), summary.records);
    const int first = sent.size() - (rows.size() - 1);
    QVERIFY(first >= 0);
    for (int i = 1; i < rows.size(); ++i)
        QCOMPARE(splitHostTime(rows.at(i)).second, expectedRow(sent.at(first + i - 1)));
    QCOMPARE(summary.indexMisses, 0ull);
    QCOMPARE(summary.checksumMisses, 0ull);
}

QTEST_GUILESS_MAIN(TestDecodeSim)
#include "tst_decode_sim.moc"
