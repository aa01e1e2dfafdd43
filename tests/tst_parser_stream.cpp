// SPDX-License-Identifier: GPL-3.0-or-later
// The frame parser on long generated streams with faults, delivered in chunks
// of random size, checked against what the generator put into each stream.

#include "parser.h"
#include "parserstreamgenerator.h"
#include "testrecords.h"

#include <QtTest>

using ParserStreamGenerator::ExpectedRecord;
using ParserStreamGenerator::Stream;

namespace {

// Feeds the stream in the given pieces and returns the first difference from
// what the generator expects, or an empty string.
QString firstDifference(const Stream& stream, const QVector<int>& sizes)
{
    Parser parser;
    QVector<ExpectedRecord> seen;
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV& data) {
        seen.append({data, parser.getCSumMisses(), parser.getIndexMisses(), parser.getDroppedBytes()});
        // Scribble over what the parser handed out (all but the index, which
        // listeners leave alone): nothing of it may carry into the next record.
        data.angle1 = data.angle2 = data.angle3 = qint16(0x5A5A);
        data.accel1 = data.accel2 = data.accel3 = qint16(-1);
    });

    int offset = 0;
    for (int size : sizes) {
        parser.parse(stream.bytes.mid(offset, size));
        offset += size;
    }
    if (offset != stream.bytes.size())
        return QStringLiteral("fed %1 of %2 bytes").arg(offset).arg(stream.bytes.size());

    for (int i = 0; i < qMin(seen.size(), stream.records.size()); ++i) {
        const ExpectedRecord& want = stream.records[i];
        const ExpectedRecord& got = seen[i];
        if (!sameRecord(want.record, got.record))
            return QStringLiteral("record %1: %2, expected %3")
                .arg(i)
                .arg(describeRecord(got.record), describeRecord(want.record));
        if (got.checksumMisses != want.checksumMisses || got.indexMisses != want.indexMisses
            || got.droppedBytes != want.droppedBytes)
            return QStringLiteral("record %1: counters %2/%3/%4 during its delivery, expected %5/%6/%7")
                .arg(i)
                .arg(got.checksumMisses)
                .arg(got.indexMisses)
                .arg(got.droppedBytes)
                .arg(want.checksumMisses)
                .arg(want.indexMisses)
                .arg(want.droppedBytes);
    }
    if (seen.size() != stream.records.size())
        return QStringLiteral("%1 records, expected %2").arg(seen.size()).arg(stream.records.size());
    if (parser.getCSumMisses() != stream.checksumMisses || parser.getIndexMisses() != stream.indexMisses
        || parser.getDroppedBytes() != stream.droppedBytes)
        return QStringLiteral("final counters %1/%2/%3, expected %4/%5/%6")
            .arg(parser.getCSumMisses())
            .arg(parser.getIndexMisses())
            .arg(parser.getDroppedBytes())
            .arg(stream.checksumMisses)
            .arg(stream.indexMisses)
            .arg(stream.droppedBytes);
    return QString();
}

} // namespace

class TestParserStream : public QObject
{
    Q_OBJECT
private slots:
    void generatorIsRepeatableAndInjectsFaults();
    void randomChunksGiveExpectedRecords();
    void wholeStreamAndSingleBytesAgree();
};

void TestParserStream::generatorIsRepeatableAndInjectsFaults()
{
    const Stream a = ParserStreamGenerator::generate(7, 2000);
    const Stream b = ParserStreamGenerator::generate(7, 2000);
    QCOMPARE(a.bytes, b.bytes);
    QVERIFY(ParserStreamGenerator::generate(8, 2000).bytes != a.bytes);

    // Over a few seeds every kind of fault occurs, and records still get
    // through: otherwise the comparisons below would prove little.
    int corrupt = 0, lost = 0, garbage = 0, cut = 0, indexMisses = 0, records = 0;
    for (quint32 seed = 1; seed <= 20; ++seed) {
        const Stream s = ParserStreamGenerator::generate(seed, 2000);
        corrupt += s.corruptFrames;
        lost += s.lostFrames;
        garbage += s.garbageRuns;
        cut += s.endsInsideFrame;
        indexMisses += int(s.indexMisses);
        records += s.records.size();
        QCOMPARE(uint(s.corruptFrames), s.checksumMisses);
    }
    QVERIFY(corrupt > 100);
    QVERIFY(lost > 100);
    QVERIFY(garbage > 100);
    QVERIFY(cut > 0 && cut < 20);
    QVERIFY(indexMisses > 100);
    QVERIFY(records > 30000);
}

void TestParserStream::randomChunksGiveExpectedRecords()
{
    for (quint32 seed = 1; seed <= 300; ++seed) {
        const Stream stream = ParserStreamGenerator::generate(seed, 1500);
        const QString difference = firstDifference(stream, ParserStreamGenerator::chunkSizes(seed, stream.bytes.size()));
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(difference)));
    }
}

void TestParserStream::wholeStreamAndSingleBytesAgree()
{
    for (quint32 seed = 1001; seed <= 1010; ++seed) {
        const Stream stream = ParserStreamGenerator::generate(seed, 1500);
        const QString whole = firstDifference(stream, {int(stream.bytes.size())});
        QVERIFY2(whole.isEmpty(), qPrintable(QStringLiteral("seed %1, whole: %2").arg(seed).arg(whole)));
        const QString bytewise = firstDifference(stream, QVector<int>(stream.bytes.size(), 1));
        QVERIFY2(bytewise.isEmpty(), qPrintable(QStringLiteral("seed %1, bytewise: %2").arg(seed).arg(bytewise)));
    }
}

QTEST_GUILESS_MAIN(TestParserStream)
#include "tst_parser_stream.moc"
