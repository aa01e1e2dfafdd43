// SPDX-License-Identifier: GPL-3.0-or-later
// The frame parser on hand-picked byte sequences. Every expected record and
// counter comes from the frame encoder or from literal bytes, never from the
// parser under test.

#include "frameencoder.h"
#include "parser.h"
#include "testrecords.h"

#include <QtTest>

bool operator==(const UART_RCV& a, const UART_RCV& b)
{
    return sameRecord(a, b);
}

char* toString(const UART_RCV& r)
{
    return QTest::toString(describeRecord(r));
}

namespace {

UART_RCV rec(int index, int a1 = 0, int a2 = 0, int a3 = 0, int g1 = 0, int g2 = 0, int g3 = 0)
{
    return UART_RCV{quint8(index), qint16(a1), qint16(a2), qint16(a3), qint16(g1), qint16(g2), qint16(g3)};
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(quint8(v)));
    return out;
}

// What a listener saw at each emission: the record and the counters as they
// stood at that moment.
struct Emission
{
    UART_RCV record;
    uint checksumMisses;
    uint indexMisses;
    quint64 droppedBytes;
};

class Recorder
{
public:
    explicit Recorder(Parser& parser)
    {
        QObject::connect(&parser, &Parser::dataReady, [this, &parser](UART_RCV& data) {
            emissions.append({data, parser.getCSumMisses(), parser.getIndexMisses(),
                              parser.getDroppedBytes()});
        });
    }

    QVector<UART_RCV> records() const
    {
        QVector<UART_RCV> out;
        for (const Emission& e : emissions)
            out.append(e.record);
        return out;
    }

    QVector<int> indexes() const
    {
        QVector<int> out;
        for (const Emission& e : emissions)
            out.append(e.record.index);
        return out;
    }

    QVector<Emission> emissions;
};

// The payload of the worked example: index 1, angle1 100, angle2 -200.
const QByteArray examplePayload = bytes({0x01, 0x64, 0x00, 0x38, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});

} // namespace

class TestParser : public QObject
{
    Q_OBJECT
private slots:
    // The example frame, byte for byte.
    void exampleFrameEncodesToKnownBytes();
    void exampleFrameDecodes();
    void fieldsAreLittleEndianSigned_data();
    void fieldsAreLittleEndianSigned();
    void undecodedTailCountsOnlyForChecksum();

    // Frames cut across calls and packed together.
    void frameSplitAtEveryOffset();
    void frameOneBytePerCall();
    void emptyArrayChangesNothing();
    void backToBackFramesInOneArray();
    void eachEmissionCompletesBeforeNextByte();

    // Checksum failures.
    void onlyTheMatchingChecksumByteIsAccepted();
    void encoderCorruptFrameIsCounted();
    void syncSearchResumesAfterFailedChecksum();

    // Finding sync.
    void garbageBeforeFrame_data();
    void garbageBeforeFrame();
    void loneSyncByteAcrossCalls();
    void tripleSyncStartsFrameWithIndexAA();
    void straySyncByteShiftsTheFrame();
    void syncValuesInsidePayloadAndChecksum();
    void pendingBytesAreNotCountedYet();

    // Sequence check.
    void indexSequences_data();
    void indexSequences();
    void frameLostToChecksumBetweenGoodOnes();
    void frameMissingFromStream();

    // Listeners.
    void listenerModifiesRecord();
    void listenerFeedsMoreBytes();
};

void TestParser::exampleFrameEncodesToKnownBytes()
{
    const UART_RCV example = rec(1, 100, -200);
    QCOMPARE(FrameEncoder::payload(example), examplePayload);
    QCOMPARE(int(FrameEncoder::checksum(examplePayload)), 0x9C);
    QCOMPARE(FrameEncoder::frame(example), bytes({0xAA, 0xAA}) + examplePayload + bytes({0x9C}));
    QCOMPARE(FrameEncoder::frame(example).size(), Parser::FrameSize);
    QVERIFY(FrameEncoder::corruptFrame(example).back() != char(0x9C));
    QCOMPARE(FrameEncoder::corruptFrame(example).chopped(1), FrameEncoder::frame(example).chopped(1));
}

void TestParser::exampleFrameDecodes()
{
    Parser parser;
    Recorder seen(parser);
    parser.parse(bytes({0xAA, 0xAA}) + examplePayload + bytes({0x9C}));

    QCOMPARE(seen.records(), QVector<UART_RCV>{rec(1, 100, -200)});
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getIndexMisses(), 0u);
    QCOMPARE(parser.getDroppedBytes(), quint64(0));
}

void TestParser::fieldsAreLittleEndianSigned_data()
{
    QTest::addColumn<int>("field"); // 0 = angle1 ... 5 = accel3
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("value");

    const char* names[] = {"angle1", "angle2", "angle3", "accel1", "accel2", "accel3"};
    for (int field = 0; field < 6; ++field) {
        QTest::addRow("%s 0x1234", names[field]) << field << 0x34 << 0x12 << 0x1234;
        QTest::addRow("%s -1", names[field]) << field << 0xFF << 0xFF << -1;
        QTest::addRow("%s min", names[field]) << field << 0x00 << 0x80 << -32768;
        QTest::addRow("%s max", names[field]) << field << 0xFF << 0x7F << 32767;
        QTest::addRow("%s 0xAAAA", names[field]) << field << 0xAA << 0xAA << -21846;
        QTest::addRow("%s -256", names[field]) << field << 0x00 << 0xFF << -256;
    }
}

void TestParser::fieldsAreLittleEndianSigned()
{
    QFETCH(int, field);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, value);

    QByteArray payload(16, '\0');
    payload[0] = char(0xC8); // index 200: the index byte is unsigned
    payload[1 + 2 * field] = char(low);
    payload[2 + 2 * field] = char(high);

    UART_RCV expected = rec(200);
    qint16* fields[] = {&expected.angle1, &expected.angle2, &expected.angle3,
                        &expected.accel1, &expected.accel2, &expected.accel3};
    *fields[field] = qint16(value);
    QCOMPARE(FrameEncoder::payload(expected), payload);

    Parser parser;
    Recorder seen(parser);
    parser.parse(bytes({0xAA, 0xAA}) + payload + char(FrameEncoder::checksum(payload)));
    QCOMPARE(seen.records(), QVector<UART_RCV>{expected});
    QCOMPARE(parser.getCSumMisses(), 0u);
}

void TestParser::undecodedTailCountsOnlyForChecksum()
{
    const UART_RCV record = rec(9, -1, 2, -3, 4, -5, 6);
    Parser parser;
    Recorder seen(parser);
    parser.parse(FrameEncoder::frame(record, {0x00, 0x00, 0x00}));
    parser.parse(FrameEncoder::frame(rec(10, -1, 2, -3, 4, -5, 6), {0xFF, 0xAA, 0x13}));
    QCOMPARE(seen.records(), (QVector<UART_RCV>{record, rec(10, -1, 2, -3, 4, -5, 6)}));

    // A changed tail byte under the old checksum is a damaged frame.
    QByteArray damaged = FrameEncoder::frame(rec(11), {1, 2, 3});
    damaged[17] = char(4);
    parser.parse(damaged);
    QCOMPARE(seen.emissions.size(), 2);
    QCOMPARE(parser.getCSumMisses(), 1u);
}

void TestParser::frameSplitAtEveryOffset()
{
    const UART_RCV record = rec(0x42, 1000, -1000, 0x0AA0, -32768, 32767, 0xAA);
    const QByteArray frame = FrameEncoder::frame(record, {0xAA, 0xAA, 0xAA});
    for (int cut = 0; cut <= frame.size(); ++cut) {
        Parser parser;
        Recorder seen(parser);
        parser.parse(frame.left(cut));
        QCOMPARE(seen.emissions.size(), cut == frame.size() ? 1 : 0);
        parser.parse(frame.mid(cut));
        QVERIFY2(seen.records() == QVector<UART_RCV>{record}, qPrintable(QString("cut at %1").arg(cut)));
        QCOMPARE(parser.getCSumMisses(), 0u);
        QCOMPARE(parser.getDroppedBytes(), quint64(0));
    }
}

void TestParser::frameOneBytePerCall()
{
    const QVector<UART_RCV> records{rec(1, 100, -200), rec(2, -1, -1, -1, -1, -1, -1), rec(3, 0xAAAA)};
    QByteArray stream;
    for (const UART_RCV& r : records)
        stream += FrameEncoder::frame(r, {0xAA, 0x01, 0xAA});

    Parser parser;
    Recorder seen(parser);
    for (int i = 0; i < stream.size(); ++i) {
        parser.parse(stream.mid(i, 1));
        // An emission comes exactly with each frame's last byte.
        QCOMPARE(seen.emissions.size(), (i + 1) / Parser::FrameSize);
    }
    QCOMPARE(seen.records(), records);
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getIndexMisses(), 0u);
}

void TestParser::emptyArrayChangesNothing()
{
    const QByteArray frame = FrameEncoder::frame(rec(7, 7, 7, 7));
    Parser parser;
    Recorder seen(parser);
    parser.parse(QByteArray());
    parser.parse(frame.left(7));
    parser.parse(QByteArray());
    parser.parse(QByteArray(""));
    QCOMPARE(seen.emissions.size(), 0);
    parser.parse(frame.mid(7));
    QCOMPARE(seen.records(), QVector<UART_RCV>{rec(7, 7, 7, 7)});
    parser.parse(QByteArray());
    QCOMPARE(seen.emissions.size(), 1);
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getIndexMisses(), 0u);
    QCOMPARE(parser.getDroppedBytes(), quint64(0));
}

void TestParser::backToBackFramesInOneArray()
{
    QVector<UART_RCV> records;
    QByteArray stream;
    for (int i = 0; i < 100; ++i) {
        records.append(rec(250 + i, i, -i, i * 300, -i * 300, 0xAA * i, 1));
        stream += FrameEncoder::frame(records.back(), {quint8(i), 0xAA, quint8(~i)});
    }
    Parser parser;
    Recorder seen(parser);
    parser.parse(stream);
    QCOMPARE(seen.records(), records);
    QCOMPARE(parser.getIndexMisses(), 0u); // 255 -> 0 along the way
    QCOMPARE(parser.getCSumMisses(), 0u);
}

void TestParser::eachEmissionCompletesBeforeNextByte()
{
    // good, damaged, two garbage bytes, good: in one array. The first
    // listener call must not see the damaged frame or the garbage yet.
    const QByteArray stream = FrameEncoder::frame(rec(5)) + FrameEncoder::corruptFrame(rec(6))
                              + bytes({0x01, 0x02}) + FrameEncoder::frame(rec(7));
    Parser parser;
    Recorder seen(parser);
    int inside = 0;
    int maxInside = 0;
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV&) { maxInside = qMax(maxInside, ++inside); });
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV&) { --inside; });
    parser.parse(stream);

    QCOMPARE(seen.emissions.size(), 2);
    QCOMPARE(maxInside, 1);
    QCOMPARE(seen.emissions[0].record, rec(5));
    QCOMPARE(seen.emissions[0].checksumMisses, 0u);
    QCOMPARE(seen.emissions[0].droppedBytes, quint64(0));
    QCOMPARE(seen.emissions[1].record, rec(7));
    QCOMPARE(seen.emissions[1].checksumMisses, 1u);
    QCOMPARE(seen.emissions[1].droppedBytes, quint64(2));
    QCOMPARE(seen.emissions[1].indexMisses, 0u); // counted only after the emission
    QCOMPARE(parser.getIndexMisses(), 1u);
}

void TestParser::onlyTheMatchingChecksumByteIsAccepted()
{
    const UART_RCV record = rec(3, 0x1111, 0x2222, 0x3333);
    const QByteArray good = FrameEncoder::frame(record);
    const int right = quint8(good.back());

    Parser parser;
    Recorder seen(parser);
    for (int value = 0; value < 256; ++value) {
        QByteArray frame = good;
        frame[Parser::FrameSize - 1] = char(value);
        parser.parse(frame);
        QCOMPARE(seen.emissions.size(), value >= right ? 1 : 0);
        QCOMPARE(parser.getCSumMisses(), uint(value < right ? value + 1 : value));
    }
    QCOMPARE(seen.records(), QVector<UART_RCV>{record});
    QCOMPARE(parser.getIndexMisses(), 0u);
    QCOMPARE(parser.getDroppedBytes(), quint64(0)); // a damaged frame is not dropped bytes
}

void TestParser::encoderCorruptFrameIsCounted()
{
    Parser parser;
    Recorder seen(parser);
    parser.parse(FrameEncoder::corruptFrame(rec(1, 100, -200)));
    QCOMPARE(seen.emissions.size(), 0);
    QCOMPARE(parser.getCSumMisses(), 1u);
    QCOMPARE(parser.getIndexMisses(), 0u);
    parser.parse(FrameEncoder::frame(rec(2)));
    QCOMPARE(seen.records(), QVector<UART_RCV>{rec(2)});
    QCOMPARE(parser.getCSumMisses(), 1u);
}

void TestParser::syncSearchResumesAfterFailedChecksum()
{
    // A damaged frame full of sync values: the search must not restart
    // inside it, or the good frame after it would be misread.
    const UART_RCV syncLike = rec(0xAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA);
    const UART_RCV good = rec(0x10, 1, 2, 3, 4, 5, 6);
    Parser parser;
    Recorder seen(parser);
    parser.parse(FrameEncoder::corruptFrame(syncLike, {0xAA, 0xAA, 0xAA}) + FrameEncoder::frame(good));
    QCOMPARE(seen.records(), QVector<UART_RCV>{good});
    QCOMPARE(parser.getCSumMisses(), 1u);
    QCOMPARE(parser.getDroppedBytes(), quint64(0));
}

void TestParser::garbageBeforeFrame_data()
{
    QTest::addColumn<QByteArray>("garbage");

    QTest::newRow("none") << QByteArray();
    QTest::newRow("one byte") << bytes({0x00});
    QTest::newRow("no sync values") << bytes({0x00, 0x01, 0x55, 0xFF, 0x7F, 0x80, 0xAB, 0xA9});
    QTest::newRow("lone sync then other") << bytes({0xAA, 0x55});
    QTest::newRow("lone sync then zero") << bytes({0xAA, 0x00});
    QTest::newRow("lone syncs in a row") << bytes({0xAA, 0x01, 0xAA, 0x02, 0xAA, 0xFF});
    QTest::newRow("mixed") << bytes({0x01, 0xAA, 0x02, 0x03, 0xAA, 0x7F, 0x9C});
    QTest::newRow("text") << QByteArray("$MIB,RESET*87\r\n");
    QTest::newRow("long") << QByteArray(5000, char(0x55));
}

void TestParser::garbageBeforeFrame()
{
    QFETCH(QByteArray, garbage);
    const UART_RCV record = rec(77, -77, 77);
    Parser parser;
    Recorder seen(parser);
    parser.parse(garbage + FrameEncoder::frame(record) + garbage);
    QCOMPARE(seen.records(), QVector<UART_RCV>{record});
    QCOMPARE(seen.emissions[0].droppedBytes, quint64(garbage.size()));
    QCOMPARE(parser.getDroppedBytes(), quint64(2 * garbage.size()));
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getIndexMisses(), 0u);
}

void TestParser::loneSyncByteAcrossCalls()
{
    const UART_RCV record = rec(1);
    const QByteArray frame = FrameEncoder::frame(record);
    Parser parser;
    Recorder seen(parser);

    parser.parse(bytes({0xAA}));
    parser.parse(bytes({0x55}));
    parser.parse(frame);
    QCOMPARE(seen.records(), QVector<UART_RCV>{record});
    QCOMPARE(parser.getDroppedBytes(), quint64(2));

    // A sync byte at the end of one read and the other at the start of the next.
    parser.parse(frame.left(1));
    parser.parse(frame.mid(1));
    QCOMPARE(seen.records(), (QVector<UART_RCV>{record, record}));
    QCOMPARE(parser.getDroppedBytes(), quint64(2));
}

void TestParser::tripleSyncStartsFrameWithIndexAA()
{
    // AA AA AA: the third is the index; the frame carries on from there.
    const QByteArray payload = bytes({0xAA, 0x10, 0x00, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3});
    Parser parser;
    Recorder seen(parser);
    parser.parse(bytes({0xAA, 0xAA}) + payload + char(FrameEncoder::checksum(payload)));
    QCOMPARE(seen.records(), QVector<UART_RCV>{rec(0xAA, 0x10, 0x20)});
    QCOMPARE(FrameEncoder::frame(rec(0xAA, 0x10, 0x20), {1, 2, 3}).left(3), bytes({0xAA, 0xAA, 0xAA}));
}

void TestParser::straySyncByteShiftsTheFrame()
{
    // A stray sync byte just before a frame pairs with the frame's first one;
    // the frame is then read one byte early, its own checksum byte becomes a
    // dropped byte, and the frame after it is found again.
    const QByteArray frame = FrameEncoder::frame(rec(20, 300, 400), {9, 8, 7});
    const QByteArray shiftedPayload = frame.mid(1, 16);
    const int shiftedChecksum = quint8(frame[17]);
    const bool shiftedValid = FrameEncoder::checksum(shiftedPayload) == shiftedChecksum;
    QVERIFY(!shiftedValid); // the values above were picked for a damaged shifted frame
    QVERIFY(frame.back() != char(0xAA));

    Parser parser;
    Recorder seen(parser);
    parser.parse(bytes({0xAA}) + frame + FrameEncoder::frame(rec(21)));
    QCOMPARE(seen.records(), QVector<UART_RCV>{rec(21)});
    QCOMPARE(parser.getCSumMisses(), 1u);
    QCOMPARE(parser.getDroppedBytes(), quint64(1));
}

void TestParser::syncValuesInsidePayloadAndChecksum()
{
    // All sixteen payload bytes 0xAA: the checksum is 16 * 0xAA mod 256.
    const UART_RCV allSync = rec(0xAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA);
    const QByteArray allSyncFrame = FrameEncoder::frame(allSync, {0xAA, 0xAA, 0xAA});
    QCOMPARE(allSyncFrame, QByteArray(18, char(0xAA)) + bytes({0xA0}));

    // A checksum byte of 0xAA is not the start of the next frame.
    const UART_RCV syncChecksum = rec(0xAA);
    QCOMPARE(int(quint8(FrameEncoder::frame(syncChecksum).back())), 0xAA);

    Parser parser;
    Recorder seen(parser);
    parser.parse(allSyncFrame + FrameEncoder::frame(syncChecksum) + FrameEncoder::frame(rec(0xAB, 0xAA))
                 + allSyncFrame);
    QCOMPARE(seen.records(), (QVector<UART_RCV>{allSync, syncChecksum, rec(0xAB, 0xAA), allSync}));
    QCOMPARE(seen.records()[0].angle1, qint16(-21846));
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getDroppedBytes(), quint64(0));
    QCOMPARE(parser.getIndexMisses(), 1u); // the repeated 0xAA; 0xAB -> 0xAA is a step back
}

void TestParser::pendingBytesAreNotCountedYet()
{
    Parser parser;
    Recorder seen(parser);
    parser.parse(bytes({0xAA}));
    QCOMPARE(parser.getDroppedBytes(), quint64(0)); // may still be a frame's start
    parser.parse(bytes({0x01}));
    QCOMPARE(parser.getDroppedBytes(), quint64(2));

    // Everything short of the checksum byte is held, not judged.
    const QByteArray damaged = FrameEncoder::corruptFrame(rec(4));
    parser.parse(damaged.chopped(1));
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getDroppedBytes(), quint64(2));
    parser.parse(damaged.right(1));
    QCOMPARE(parser.getCSumMisses(), 1u);
    QCOMPARE(parser.getDroppedBytes(), quint64(2));
    QCOMPARE(seen.emissions.size(), 0);
}

void TestParser::indexSequences_data()
{
    QTest::addColumn<QVector<int>>("indexes");
    QTest::addColumn<QVector<int>>("missesSeen"); // by the listener, at each record
    QTest::addColumn<int>("misses");

    QTest::newRow("5 6 7") << QVector<int>{5, 6, 7} << QVector<int>{0, 0, 0} << 0;
    QTest::newRow("5 6 8") << QVector<int>{5, 6, 8} << QVector<int>{0, 0, 0} << 1;
    QTest::newRow("5 4") << QVector<int>{5, 4} << QVector<int>{0, 0} << 0;
    QTest::newRow("255 0") << QVector<int>{255, 0} << QVector<int>{0, 0} << 0;
    QTest::newRow("0 255") << QVector<int>{0, 255} << QVector<int>{0, 0} << 0;
    QTest::newRow("5 5") << QVector<int>{5, 5} << QVector<int>{0, 0} << 1;
    QTest::newRow("first record 200") << QVector<int>{200} << QVector<int>{0} << 0;
    QTest::newRow("first record 0") << QVector<int>{0} << QVector<int>{0} << 0;
    QTest::newRow("5 6 8 9") << QVector<int>{5, 6, 8, 9} << QVector<int>{0, 0, 0, 1} << 1;
    QTest::newRow("5 9 3") << QVector<int>{5, 9, 3} << QVector<int>{0, 0, 1} << 2;
    QTest::newRow("10 9 8 7") << QVector<int>{10, 9, 8, 7} << QVector<int>{0, 0, 0, 0} << 0;
    QTest::newRow("5 6 5 6") << QVector<int>{5, 6, 5, 6} << QVector<int>{0, 0, 0, 0} << 0;
    QTest::newRow("254 0") << QVector<int>{254, 0} << QVector<int>{0, 0} << 1;
    QTest::newRow("1 255") << QVector<int>{1, 255} << QVector<int>{0, 0} << 1;
    QTest::newRow("0 128") << QVector<int>{0, 128} << QVector<int>{0, 0} << 1;
    QTest::newRow("7 7 7 7") << QVector<int>{7, 7, 7, 7} << QVector<int>{0, 0, 1, 2} << 3;
}

void TestParser::indexSequences()
{
    QFETCH(QVector<int>, indexes);
    QFETCH(QVector<int>, missesSeen);
    QFETCH(int, misses);

    Parser parser;
    Recorder seen(parser);
    for (int index : indexes)
        parser.parse(FrameEncoder::frame(rec(index, index)));

    QCOMPARE(seen.indexes(), indexes);
    QVector<int> counted;
    for (const Emission& e : seen.emissions)
        counted.append(int(e.indexMisses));
    QCOMPARE(counted, missesSeen);
    QCOMPARE(parser.getIndexMisses(), uint(misses));
    QCOMPARE(parser.getCSumMisses(), 0u);
}

void TestParser::frameLostToChecksumBetweenGoodOnes()
{
    Parser parser;
    Recorder seen(parser);
    parser.parse(FrameEncoder::frame(rec(5)) + FrameEncoder::corruptFrame(rec(6)) + FrameEncoder::frame(rec(7)));
    QCOMPARE(seen.indexes(), (QVector<int>{5, 7}));
    QCOMPARE(parser.getCSumMisses(), 1u);
    QCOMPARE(parser.getIndexMisses(), 1u);
    QCOMPARE(seen.emissions[1].checksumMisses, 1u);
    QCOMPARE(seen.emissions[1].indexMisses, 0u);
}

void TestParser::frameMissingFromStream()
{
    Parser parser;
    Recorder seen(parser);
    parser.parse(FrameEncoder::frame(rec(5)) + FrameEncoder::frame(rec(7)) + FrameEncoder::frame(rec(8)));
    QCOMPARE(seen.indexes(), (QVector<int>{5, 7, 8}));
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getIndexMisses(), 1u);
}

void TestParser::listenerModifiesRecord()
{
    const UART_RCV first = rec(1, 100, -200, 300, -400, 500, -600);
    const UART_RCV second = rec(2, 1, 2, 3, 4, 5, 6);
    Parser parser;
    QVector<UART_RCV> before;
    QVector<UART_RCV> after;
    // Connected in this order, so they run in this order.
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV& data) {
        before.append(data);
        data.angle1 = qint16(-data.angle1);
        std::swap(data.angle2, data.angle3);
        data.accel3 = qint16(-data.accel3);
    });
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV& data) {
        after.append(data);
        data = rec(data.index, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777);
    });
    parser.parse(FrameEncoder::frame(first) + FrameEncoder::frame(second));

    // Each record is decoded afresh: no listener's changes carry over.
    QCOMPARE(before, (QVector<UART_RCV>{first, second}));
    QCOMPARE(after, (QVector<UART_RCV>{rec(1, -100, 300, -200, -400, 500, 600), rec(2, -1, 3, 2, 4, 5, -6)}));
    QCOMPARE(parser.getIndexMisses(), 0u);
    QCOMPARE(parser.getCSumMisses(), 0u);
}

void TestParser::listenerFeedsMoreBytes()
{
    // A listener that runs a nested event loop can get parse() called again
    // with the next bytes while the outer call still has bytes of its own.
    Parser parser;
    Recorder seen(parser);
    bool fed = false;
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV&) {
        if (!fed) {
            fed = true;
            parser.parse(FrameEncoder::frame(rec(2, 2)) + FrameEncoder::frame(rec(3, 3)).left(10));
        }
    });
    parser.parse(FrameEncoder::frame(rec(1, 1)) + FrameEncoder::frame(rec(3, 3)).mid(10)
                 + FrameEncoder::frame(rec(4, 4)));
    QCOMPARE(seen.indexes(), (QVector<int>{1, 2, 3, 4}));
    QCOMPARE(seen.records(), (QVector<UART_RCV>{rec(1, 1), rec(2, 2), rec(3, 3), rec(4, 4)}));
    QCOMPARE(parser.getCSumMisses(), 0u);
    QCOMPARE(parser.getDroppedBytes(), quint64(0));
    // Each record's sequence check follows its own emission, so the nested
    // record 2 is checked before record 1: the checks see 2, 1, 3, 4.
    QCOMPARE(parser.getIndexMisses(), 1u);
}

QTEST_GUILESS_MAIN(TestParser)
#include "tst_parser.moc"
