#pragma once
// The status bar's progress of a running command: a bar, the page being fetched, the time so far
// and the time left. Progress reports are only stored; the widgets follow four times a second, so
// that a command reporting thousands of steps costs no repaint each. The desktop's task bar gets
// the same fraction (TaskbarProgress.h).

#include "app/TaskbarProgress.h"
#include "app/contract/Progress.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QStatusBar;

namespace app {

class ProgressStatus final : public QObject {
    Q_OBJECT
public:
    explicit ProgressStatus(QStatusBar* bar);

    // A total of 0 ends the display.
    void set(const toolkit::Progress& progress);

    QProgressBar* ProgressBar1;
    QLabel* LabelSeite; // the page being fetched
    QLabel* LabelZeit;  // "0:42 · noch ca. 12 min"

private:
    void repaint();
    void tellLauncher(bool visible, double fraction);

    QTimer timer_;
    toolkit::Progress latest_;
    std::optional<toolkit::TimeLeft> estimate_;
    toolkit::TimeLeft::Clock::time_point started_;
    bool changed_ = false;
    int launcherPermille_ = -1; // what the task bar was last told; -1: nothing shown
    std::unique_ptr<TaskbarProgress> taskbar_;
};

} // namespace app
