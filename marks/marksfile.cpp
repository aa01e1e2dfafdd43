// SPDX-License-Identifier: GPL-3.0-or-later
#include "marksfile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace MarksFile {

const char Header[] = "host_time,index,mark,note\n";

namespace {

constexpr int MaxIndex = 255;
// What an error line quotes of a field at most.
constexpr int ShownFieldLength = 40;

// A field quoted in an error line: short, and on one line whatever it holds.
QString shown(const QByteArray& text)
{
    QString out = QString::fromUtf8(text.left(ShownFieldLength));
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    return out + (text.size() > ShownFieldLength ? QStringLiteral("…") : QString());
}

bool isDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Splits CSV text into rows of fields, RFC 4180 with LF or CRLF line ends.
class CsvReader
{
public:
    explicit CsvReader(const QByteArray& text)
        : p(text.constData())
        , end(text.constData() + text.size())
    {
    }

    bool atEnd() const { return p == end; }
    qint64 lineNumber() const { return line; }

    // The next row; false with error set on a quoted field left open or
    // followed by more text.
    bool nextRow(QVector<QByteArray>& fields, QString& error)
    {
        fields.clear();
        for (;;) {
            QByteArray field;
            if (p < end && *p == '"') {
                ++p;
                for (;;) {
                    if (p == end) {
                        error = QStringLiteral("a quoted field is not closed");
                        return false;
                    }
                    if (*p == '"') {
                        if (p + 1 < end && p[1] == '"') {
                            field += '"';
                            p += 2;
                            continue;
                        }
                        ++p;
                        break;
                    }
                    if (*p == '\n')
                        ++line;
                    field += *p++;
                }
                if (p < end && *p != ',' && *p != '\n' && !(*p == '\r' && p + 1 < end && p[1] == '\n')) {
                    error = QStringLiteral("text after the closing quote of a field");
                    return false;
                }
            } else {
                const char* start = p;
                while (p < end && *p != ',' && *p != '\n')
                    ++p;
                field = QByteArray(start, int(p - start));
                if (p < end && *p == '\n' && field.endsWith('\r'))
                    field.chop(1);
            }
            fields.append(field);
            if (p < end && *p == '\r' && p + 1 < end && p[1] == '\n')
                ++p;
            if (p == end)
                return true;
            if (*p++ == '\n') {
                ++line;
                return true;
            }
        }
    }

private:
    const char* p;
    const char* end;
    qint64 line = 1;
};

} // namespace

QString pathFor(const QString& recordingPath)
{
    const QString extension = QStringLiteral(".csv");
    QString base = recordingPath;
    if (base.endsWith(extension, Qt::CaseInsensitive))
        base.chop(extension.size());
    return base + QStringLiteral(".marks.csv");
}

QByteArray field(const QByteArray& text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\r') && !text.contains('\n'))
        return text;
    QByteArray quoted = text;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

void appendRow(QByteArray& out, const QByteArray& hostTime, int index, int number, const QString& note)
{
    out += hostTime;
    out += ',';
    out += QByteArray::number(index);
    out += ',';
    out += QByteArray::number(number);
    out += ',';
    out += field(note.toUtf8());
    out += '\n';
}

bool parseHostTime(const QByteArray& text, qint64& msSinceEpoch)
{
    // The recording's own shape, and nothing Qt would also take (a date
    // alone, an hour 24, no milliseconds).
    constexpr int LocalPart = 23;
    if (text.size() != LocalPart + 1 && text.size() != LocalPart + 6)
        return false;
    static const char shape[] = "dddd-dd-ddTdd:dd:dd.ddd";
    for (int i = 0; i < LocalPart; ++i) {
        const char c = text.at(i);
        if (shape[i] == 'd' ? c < '0' || c > '9' : c != shape[i])
            return false;
    }
    if (text.size() == LocalPart + 1) {
        if (text.at(LocalPart) != 'Z')
            return false;
    } else {
        const QByteArray offset = text.mid(LocalPart);
        if ((offset.at(0) != '+' && offset.at(0) != '-') || offset.at(3) != ':'
            || !isDigits(offset.mid(1, 2)) || !isDigits(offset.mid(4, 2)) || offset.mid(1, 2).toInt() > 23
            || offset.mid(4, 2).toInt() > 59)
            return false;
    }
    if (text.mid(11, 2).toInt() > 23)
        return false;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (!when.isValid())
        return false;
    msSinceEpoch = when.toMSecsSinceEpoch();
    return true;
}

bool parse(const QByteArray& text, const QString& path, QVector<Entry>& entries, QString& error)
{
    entries.clear();
    auto fail = [&](qint64 line, const QString& what) {
        error = QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(what);
        entries.clear();
        return false;
    };
    // A spreadsheet may save it with a byte order mark.
    const QByteArray bom("\xEF\xBB\xBF");
    CsvReader reader(text.startsWith(bom) ? text.mid(bom.size()) : text);
    QVector<QByteArray> fields;
    QString csvError;
    const QByteArray header = QByteArray(Header).trimmed();
    if (reader.atEnd())
        return fail(1, QStringLiteral("the file is empty, expected the header %1").arg(QLatin1String(header)));
    if (!reader.nextRow(fields, csvError))
        return fail(reader.lineNumber(), csvError);
    if (fields.toList() != header.split(','))
        return fail(1, QStringLiteral("the header is not %1").arg(QLatin1String(header)));

    while (!reader.atEnd()) {
        const qint64 line = reader.lineNumber();
        if (!reader.nextRow(fields, csvError))
            return fail(line, csvError);
        // A blank line, such as a text editor leaves at the end.
        if (fields.size() == 1 && fields.first().isEmpty())
            continue;
        if (fields.size() != FieldCount)
            return fail(line, QStringLiteral("the row has %1 fields, expected %2").arg(fields.size()).arg(FieldCount));
        Entry entry;
        entry.line = line;
        entry.hostTime = fields.at(0);
        if (!parseHostTime(entry.hostTime, entry.msSinceEpoch))
            return fail(line, QStringLiteral("host_time %1 is not a local time with milliseconds and UTC offset, "
                                             "such as 2026-12-08T14:02:11.377+01:00")
                                  .arg(shown(entry.hostTime)));
        if (!isDigits(fields.at(1)) || fields.at(1).size() > 3 || fields.at(1).toInt() > MaxIndex)
            return fail(line, QStringLiteral("index %1 is not a frame index from 0 to %2").arg(shown(fields.at(1))).arg(MaxIndex));
        entry.index = fields.at(1).toInt();
        bool ok = false;
        entry.number = fields.at(2).toInt(&ok);
        if (!isDigits(fields.at(2)) || !ok || entry.number < 1)
            return fail(line, QStringLiteral("mark %1 is not a mark number from 1").arg(shown(fields.at(2))));
        entry.note = QString::fromUtf8(fields.at(3));
        entries.append(entry);
    }
    return true;
}

bool read(const QString& path, QVector<Entry>& entries, QString& error)
{
    entries.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxFileBytes) {
        error = QStringLiteral("%1: %2 bytes, too large for a marks file").arg(path).arg(file.size());
        return false;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return false;
    }
    return parse(text, path, entries, error);
}

} // namespace MarksFile
