// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CHARTEXPORT_H
#define CHARTEXPORT_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>

class ChartGroup;
class QCustomPlot;
class QMenu;
class QWidget;

// The charts of a group as pictures, offered in each chart's context menu:
// "Copy image" puts one on the clipboard, "Save image…" asks for a file;
// each for the chart under the pointer or for all six as they are laid out.
//
// A picture shows what the chart shows at that moment (its view, without
// the hover read-out). A PNG and a copied image have the screen's pixel
// ratio: a 400 x 200 chart on a desktop at 200 % gives 800 x 400 pixels,
// and the PNG says 192 DPI, so it is shown at the chart's size. A PDF is a
// single page of 1 pt per pixel in vectors, with pens that keep their
// width in a vector editor instead of the screen's hairlines.
//
// Drawing takes a few milliseconds on the GUI thread; encoding and writing
// the file happen on a worker, so the live charts go on meanwhile. A file
// is reported saved only once it is whole on disk; a file that cannot be
// written is said in a message box and left as it was.
class ChartExport : public QObject
{
    Q_OBJECT

public:
    enum class Format { Png, Pdf };
    // What "All six charts" takes instead of the one under the pointer.
    static constexpr int AllCharts = -1;

    // group's charts belong to window, which also parents the dialogs.
    ChartExport(ChartGroup* group, QWidget* window);

    // The picture of one chart (channel) or of AllCharts, at the screen's
    // pixel ratio.
    QImage image(int channel);
    // The same as a one-page PDF.
    QByteArray pdf(int channel);
    void copy(int channel);
    // Writes the picture in the background; saved() or failed() follows.
    void save(int channel, const QString& path, Format format);

    // The format a name given in the save dialog asks for: its suffix, or
    // when it has neither .png nor .pdf the chosen filter's, with that
    // suffix appended to the name.
    static Format formatFor(QString& path, const QString& chosenFilter);

signals:
    void saved(const QString& line);
    void failed(const QString& line);

private:
    struct Placed
    {
        QCustomPlot* plot;
        QPoint at; // within the charts' bounding box
    };
    QList<Placed> charts(int channel);
    void addActions(QMenu* menu, int channel);
    void askAndSave(int channel);
    QString suggestedName(int channel) const;

    ChartGroup* group;
    QWidget* window;
};

#endif // CHARTEXPORT_H
