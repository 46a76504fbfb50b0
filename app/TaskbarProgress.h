#pragma once
// The progress of a running command on the desktop's task bar entry. TaskbarProgressDBus.cpp
// sends it as the LauncherEntry signal that KDE Plasma and Ubuntu's dock read; a port adds a file
// of its own.

#include <memory>

namespace app {

class TaskbarProgress {
public:
    virtual ~TaskbarProgress() = default;
    // `fraction` from 0 to 1; invisible: the entry shows no progress.
    virtual void show(bool visible, double fraction) = 0;
};

std::unique_ptr<TaskbarProgress> MakeTaskbarProgress();

} // namespace app
