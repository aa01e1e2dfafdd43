// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDINGOPENER_H
#define RECORDINGOPENER_H

#include <QObject>

#include <memory>

class LoadedRecording;
class QAbstractButton;
class QThread;
class QWidget;

// The live window's Open… button: asks for a recording, reads it on a
// thread of its own while the window goes on, and shows it in a viewer
// window, or the reader's line in a message box.
class RecordingOpener : public QObject
{
    Q_OBJECT

public:
    // button belongs to window, which parents the viewers.
    RecordingOpener(QAbstractButton* button, QWidget* window);
    ~RecordingOpener() override;

    // The folder the file dialog starts in: where recordings are made.
    static QString recordingsFolder();

    // Reads path and shows it; what the button does once a file is chosen.
    void open(const QString& path);

private:
    void loaded(const QString& path, std::unique_ptr<LoadedRecording> recording, const QString& error);

    QAbstractButton* button;
    QWidget* window;
    QThread* reading = nullptr;
};

#endif // RECORDINGOPENER_H
