// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef VIEWERWINDOW_H
#define VIEWERWINDOW_H

#include <QWidget>

#include <memory>

class ChartGroup;
class LoadedRecording;
class NoiseWindow;

// A recording shown whole in a window of its own: the live window's six
// charts over the recording's own times, with the same zoom, pan, read-outs
// and statistics, and its index misses counted as the live window counts
// them. It owns what it shows; opened from the live window it is a child of
// it, a window of its own that closes with it.
class ViewerWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ViewerWindow(std::unique_ptr<LoadedRecording> recording, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    const LoadedRecording& recording() const { return *loaded; }

private:
    std::unique_ptr<LoadedRecording> loaded;
    ChartGroup* charts = nullptr;
    NoiseWindow* noise = nullptr;
};

#endif // VIEWERWINDOW_H
