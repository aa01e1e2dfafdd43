// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CONSOLELAYOUT_H
#define CONSOLELAYOUT_H

#include <QPlainTextDocumentLayout>

// The console's text layout. The console only ever grows at its end, and
// the stock layout treats a paragraph appended there as a change to the
// paragraph before it too, laying that one out again though its text did not
// change: about a third of what appending a line costs. This layout hands
// such an append on as what it is, new paragraphs after an untouched one;
// every other edit goes through as it is.
class ConsoleLayout : public QPlainTextDocumentLayout
{
    Q_OBJECT

public:
    explicit ConsoleLayout(QTextDocument* document);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;
};

#endif // CONSOLELAYOUT_H
