// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef VIEWERWINDOW_H
#define VIEWERWINDOW_H

#include <QWidget>

#include <memory>

class ChartGroup;
class LoadedRecording;

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

    // The play head's entry point, the one way to move it: shows this
    // record (an index into the recording's history), bringing it into the
    // charts' view and reading it out.
    void seekToRecord(qint64 record);
    // The record at the play head, -1 before any.
    qint64 currentRecord() const { return playHeadRecord; }

private:
    std::unique_ptr<LoadedRecording> loaded;
    ChartGroup* charts = nullptr;
    qint64 playHeadRecord = -1;
};

#endif // VIEWERWINDOW_H
