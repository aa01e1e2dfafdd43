// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingopener.h"

#include "loadedrecording.h"
#include "recordwriter.h"
#include "viewerwindow.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>

RecordingOpener::RecordingOpener(QAbstractButton* button, QWidget* window)
    : QObject(window)
    , button(button)
    , window(window)
{
    connect(button, &QAbstractButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this->window, QStringLiteral("Open a recording"),
                                                          recordingsFolder(),
                                                          QStringLiteral("Recordings (*.csv);;All files (*)"));
        if (!path.isEmpty())
            open(path);
    });
}

RecordingOpener::~RecordingOpener()
{
    // A file still being read is read to its end, and dropped.
    if (reading)
        reading->wait();
}

QString RecordingOpener::recordingsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QLatin1Char('/') + QLatin1String(RecordWriter::FolderName);
    return QDir(folder).exists() ? folder : documents;
}

void RecordingOpener::open(const QString& path)
{
    if (reading)
        return;
    // An hour's recording takes a second or two to read: the live window
    // goes on meanwhile, and the button waits.
    button->setEnabled(false);
    auto result = std::make_shared<std::unique_ptr<LoadedRecording>>();
    auto error = std::make_shared<QString>();
    reading = QThread::create([path, result, error] { *result = LoadedRecording::load(path, *error); });
    reading->setObjectName(QStringLiteral("recording reader"));
    connect(reading, &QThread::finished, this, [this, path, result, error] {
        reading->wait();
        delete reading;
        reading = nullptr;
        button->setEnabled(true);
        loaded(path, std::move(*result), *error);
    });
    reading->start();
}

void RecordingOpener::loaded(const QString& path, std::unique_ptr<LoadedRecording> recording, const QString& error)
{
    if (!recording) {
        QMessageBox::warning(window, QStringLiteral("Open a recording"),
                             QStringLiteral("Cannot show %1:\n%2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    if (!recording->cutOffText().isEmpty())
        std::fprintf(stderr, "imu-monitor: %s\n", qPrintable(recording->cutOffText()));
    auto* viewer = new ViewerWindow(std::move(recording), window);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
}
