// SPDX-License-Identifier: GPL-3.0-or-later
#include "chartexport.h"

#include "chartgroup.h"
#include "plotter.h"
#include "recordwriter.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImageWriter>
#include <QMenu>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtConcurrent>
#include <qcustomplot.h>

namespace {

// The charts' own background; the gaps between charts in a picture of all
// six get it too.
const QColor Background = Qt::white;
// The DPI a desktop at 100 % has; a PNG at twice the pixels says twice it.
constexpr double LogicalDpi = 96.0;
constexpr double MetresPerInch = 0.0254;

const char PngFilter[] = "PNG image (*.png)";
const char PdfFilter[] = "PDF document (*.pdf)";

QString picturesFolder()
{
    // Where the recordings go, so that a chart's picture is found beside
    // the data it shows.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QLatin1Char('/') + QLatin1String(RecordWriter::FolderName);
    return QDir(folder).exists() ? folder : documents;
}

// Encodes and writes on a worker; the error, empty when the file is whole.
QString writeFile(const QString& path, const QImage& image, const QByteArray& encoded)
{
    QByteArray bytes = encoded;
    if (!image.isNull()) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image))
            return writer.errorString();
    }
    // Written beside and renamed once complete: a full disk or a lost
    // folder leaves no half picture, nor a former one destroyed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return QString();
}

} // namespace

ChartExport::ChartExport(ChartGroup* group, QWidget* window)
    : QObject(window)
    , group(group)
    , window(window)
{
    connect(group, &ChartGroup::contextMenuRequested, this,
            [this](QMenu* menu, int channel, double) { addActions(menu, channel); });
}

void ChartExport::addActions(QMenu* menu, int channel)
{
    if (!menu->isEmpty())
        menu->addSeparator();
    QMenu* copyMenu = menu->addMenu(QStringLiteral("Copy image"));
    copyMenu->addAction(QStringLiteral("This chart"), this, [this, channel] { copy(channel); });
    copyMenu->addAction(QStringLiteral("All six charts"), this, [this] { copy(AllCharts); });
    QMenu* saveMenu = menu->addMenu(QStringLiteral("Save image…"));
    saveMenu->addAction(QStringLiteral("This chart…"), this, [this, channel] { askAndSave(channel); });
    saveMenu->addAction(QStringLiteral("All six charts…"), this, [this] { askAndSave(AllCharts); });
}

QList<ChartExport::Placed> ChartExport::charts(int channel)
{
    QList<Placed> placed;
    for (int c = 0; Plotter* chart = group->chart(c); ++c) {
        if (channel != AllCharts && c != channel)
            continue;
        QCustomPlot* plot = chart->customPlot();
        placed.append({plot, plot->mapTo(plot->window(), QPoint())});
    }
    QPoint origin = placed.isEmpty() ? QPoint() : placed.first().at;
    for (const Placed& p : placed)
        origin = QPoint(qMin(origin.x(), p.at.x()), qMin(origin.y(), p.at.y()));
    // What the screen shows, without the read-out the pointer left behind:
    // the group brings a chart's view up to date as it redraws.
    group->hideReadout();
    for (Placed& p : placed) {
        p.at -= origin;
        p.plot->replot(QCustomPlot::rpQueuedRefresh);
    }
    return placed;
}

QImage ChartExport::image(int channel)
{
    const QList<Placed> placed = charts(channel);
    if (placed.isEmpty())
        return QImage();
    QRect box;
    for (const Placed& p : placed)
        box |= QRect(p.at, p.plot->size());
    const double ratio = placed.first().plot->devicePixelRatioF();
    QImage picture(qRound(box.width() * ratio), qRound(box.height() * ratio), QImage::Format_RGB32);
    picture.fill(Background);
    QPainter painter(&picture);
    for (const Placed& p : placed) {
        // Drawn afresh at the pixel ratio, text and lines included, rather
        // than the screen's buffer copied or an image of the logical size
        // stretched.
        painter.drawPixmap(qRound(p.at.x() * ratio), qRound(p.at.y() * ratio), p.plot->toPixmap(0, 0, ratio));
    }
    painter.end();
    picture.setDevicePixelRatio(ratio);
    const int dotsPerMetre = qRound(LogicalDpi * ratio / MetresPerInch);
    picture.setDotsPerMeterX(dotsPerMetre);
    picture.setDotsPerMeterY(dotsPerMetre);
    return picture;
}

QByteArray ChartExport::pdf(int channel)
{
    const QList<Placed> placed = charts(channel);
    if (placed.isEmpty())
        return QByteArray();
    QRect box;
    for (const Placed& p : placed)
        box |= QRect(p.at, p.plot->size());

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setCreator(QStringLiteral("Telvorin IMU"));
    // As the library's own PDF export: a pixel is a point, and text keeps
    // its size against the chart as on the screen.
    writer.setResolution(placed.first().plot->logicalDpiY());
    QPageLayout page(QPageSize(box.size(), QPageSize::Point, QString(), QPageSize::ExactMatch),
                     QPageLayout::Portrait, QMarginsF());
    page.setMode(QPageLayout::FullPageMode);
    writer.setPageLayout(page);
    QCPPainter painter;
    if (!painter.begin(&writer))
        return QByteArray();
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    // Screen pens are hairlines, which vector editors draw 0 wide.
    painter.setMode(QCPPainter::pmNonCosmetic);
    painter.setWindow(QRect(QPoint(), box.size()));
    for (const Placed& p : placed) {
        painter.save();
        painter.translate(p.at);
        p.plot->toPainter(&painter);
        painter.restore();
    }
    painter.end();
    return bytes;
}

void ChartExport::copy(int channel)
{
    const QImage picture = image(channel);
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
}

void ChartExport::save(int channel, const QString& path, Format format)
{
    // Drawn now, as shown now; only the slow part goes to the worker.
    const QImage picture = format == Format::Png ? image(channel) : QImage();
    const QByteArray document = format == Format::Pdf ? pdf(channel) : QByteArray();
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, path] {
        const QString error = watcher->result();
        watcher->deleteLater();
        const QString shown = QDir::toNativeSeparators(path);
        if (error.isEmpty()) {
            emit saved(QStringLiteral("Image saved to %1").arg(shown));
            return;
        }
        const QString line = QStringLiteral("Cannot save %1: %2").arg(shown, error);
        emit failed(line);
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Save image"), line, QMessageBox::Ok,
                                    window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Not modal to the application: the live window goes on behind it.
        box->open();
    });
    if (picture.isNull() && document.isEmpty()) {
        watcher->setFuture(QtConcurrent::run([] { return QStringLiteral("nothing to draw"); }));
        return;
    }
    watcher->setFuture(QtConcurrent::run([path, picture, document] { return writeFile(path, picture, document); }));
}

ChartExport::Format ChartExport::formatFor(QString& path, const QString& chosenFilter)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return Format::Png;
    if (suffix == QLatin1String("pdf"))
        return Format::Pdf;
    const bool pdf = chosenFilter == QLatin1String(PdfFilter);
    path += pdf ? QLatin1String(".pdf") : QLatin1String(".png");
    return pdf ? Format::Pdf : Format::Png;
}

QString ChartExport::suggestedName(int channel) const
{
    QString name = QStringLiteral("charts");
    if (channel != AllCharts) {
        name = group->chart(channel)->objectName();
        name.remove(QLatin1String("_plotter"));
    }
    return name + QDateTime::currentDateTime().toString(QStringLiteral("'-'yyyy-MM-dd_HH-mm-ss'.png'"));
}

void ChartExport::askAndSave(int channel)
{
    QString filter = QLatin1String(PngFilter);
    QString path = QFileDialog::getSaveFileName(window, QStringLiteral("Save image"),
                                                picturesFolder() + QLatin1Char('/') + suggestedName(channel),
                                                QStringLiteral("%1;;%2").arg(PngFilter, PdfFilter), &filter);
    if (path.isEmpty())
        return;
    const Format format = formatFor(path, filter);
    save(channel, path, format);
}
