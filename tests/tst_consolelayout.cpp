// SPDX-License-Identifier: GPL-3.0-or-later
// The console's layout against the stock one: two consoles, identical but for
// the layout, take the same edits and must look and scroll exactly alike.
#include "consolelayout.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

class TestConsoleLayout : public QObject
{
    Q_OBJECT

private slots:
    void looksAndScrollsAsTheStockLayout();
};

namespace {

struct Consoles
{
    QWidget window;
    QPlainTextEdit* stock = new QPlainTextEdit(&window);
    QPlainTextEdit* console = new QPlainTextEdit(&window);

    Consoles()
    {
        auto* text = new QTextDocument(console);
        text->setDocumentLayout(new ConsoleLayout(text));
        console->setDocument(text);
        QFont font("Courier New", 9);
        for (QPlainTextEdit* edit : {stock, console}) {
            edit->setReadOnly(true);
            edit->setFont(font);
            edit->resize(420, 161);
        }
        console->move(0, 170);
        window.resize(420, 340);
        window.show();
    }

    template<typename Edit>
    void both(Edit edit)
    {
        edit(stock);
        edit(console);
        QCoreApplication::processEvents();
    }

    // Empty when the two agree.
    QString mismatch() const
    {
        if (stock->toPlainText() != console->toPlainText())
            return "text differs";
        if (stock->document()->lineCount() != console->document()->lineCount())
            return QString("line counts %1 and %2").arg(stock->document()->lineCount())
                .arg(console->document()->lineCount());
        for (QTextBlock a = stock->document()->firstBlock(), b = console->document()->firstBlock();
             a.isValid(); a = a.next(), b = b.next()) {
            const QRectF ra = stock->document()->documentLayout()->blockBoundingRect(a);
            const QRectF rb = console->document()->documentLayout()->blockBoundingRect(b);
            if (ra != rb || a.layout()->lineCount() != b.layout()->lineCount())
                return QString("paragraph %1 laid out differently").arg(a.blockNumber());
        }
        const QScrollBar* sa = stock->verticalScrollBar();
        const QScrollBar* sb = console->verticalScrollBar();
        if (sa->maximum() != sb->maximum() || sa->value() != sb->value() || sa->pageStep() != sb->pageStep())
            return QString("scroll bars at %1 of %2 and %3 of %4").arg(sa->value()).arg(sa->maximum())
                .arg(sb->value()).arg(sb->maximum());
        if (stock->grab().toImage() != console->grab().toImage())
            return "pictures differ";
        return QString();
    }
};

} // namespace

void TestConsoleLayout::looksAndScrollsAsTheStockLayout()
{
    Consoles consoles;
    const QString shortLine = "[12:00:00.000] /dev/pts/3 is open";
    const QString longLine = "[12:00:00.001] Ind: 123; Yaw:  -12.34; Pitch:   45.67; Roll:  -89.01; "
                             "Xacc:   1234 mg ( 12.101 m/s2); Yacc:  -1234 mg (-12.101 m/s2); "
                             "Zacc:   1000 mg (  9.807 m/s2)";
    QVERIFY(consoles.console->fontMetrics().horizontalAdvance(longLine) > 2 * 420);

    // Into an empty console, then one line at a time, short and wrapping.
    for (int i = 0; i < 30; ++i) {
        consoles.both([&](QPlainTextEdit* e) { e->appendPlainText(i % 3 ? longLine : shortLine); });
        QVERIFY2(consoles.mismatch().isEmpty(), qPrintable(QString("line %1: %2").arg(i).arg(consoles.mismatch())));
    }
    // Several lines in one append, and an empty line.
    consoles.both([&](QPlainTextEdit* e) { e->appendPlainText(longLine + '\n' + shortLine + '\n' + longLine); });
    QCOMPARE(consoles.mismatch(), QString());
    consoles.both([](QPlainTextEdit* e) { e->appendPlainText(QString()); });
    QCOMPARE(consoles.mismatch(), QString());

    // Text added to the last paragraph itself, where its layout must change.
    consoles.both([&](QPlainTextEdit* e) {
        QTextCursor end(e->document());
        end.movePosition(QTextCursor::End);
        end.insertText(longLine);
    });
    QCOMPARE(consoles.mismatch(), QString());
    consoles.both([&](QPlainTextEdit* e) { e->appendPlainText(shortLine); });
    QCOMPARE(consoles.mismatch(), QString());

    // The oldest lines removed, then the rest cleared.
    consoles.both([](QPlainTextEdit* e) {
        QTextCursor oldest(e->document());
        oldest.setPosition(e->document()->findBlockByNumber(10).position(), QTextCursor::KeepAnchor);
        oldest.removeSelectedText();
    });
    QCOMPARE(consoles.mismatch(), QString());
    consoles.both([](QPlainTextEdit* e) { e->clear(); });
    QCOMPARE(consoles.mismatch(), QString());
    consoles.both([&](QPlainTextEdit* e) { e->appendPlainText(longLine); });
    QCOMPARE(consoles.mismatch(), QString());
}

QTEST_MAIN(TestConsoleLayout)
#include "tst_consolelayout.moc"
