// SPDX-License-Identifier: GPL-3.0-or-later
#include "consolelayout.h"

#include <QTextDocument>

ConsoleLayout::ConsoleLayout(QTextDocument* document)
    : QPlainTextDocumentLayout(document)
{
}

void ConsoleLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    // An append inserts a paragraph separator where the last paragraph's
    // text ends, then the new text, up to the end of the document. The
    // separator only ends the old paragraph: its text and so its layout stay
    // as they were.
    QTextDocument* text = document();
    const bool appendedParagraphs = charsRemoved == 0 && charsAdded > 1
        && from + charsAdded == text->characterCount() - 1
        && text->characterAt(from) == QChar::ParagraphSeparator;
    if (appendedParagraphs)
        QPlainTextDocumentLayout::documentChanged(from + 1, 0, charsAdded - 1);
    else
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
}
