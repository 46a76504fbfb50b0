#include "app/ProgressStatus.h"

#include "app/QtToolkit.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <algorithm>

namespace app {

namespace {

using Clock = toolkit::TimeLeft::Clock;
constexpr std::chrono::milliseconds kRepaintEvery{250};

} // namespace

ProgressStatus::ProgressStatus(QStatusBar* bar) : QObject(bar), taskbar_(MakeTaskbarProgress()) {
    ProgressBar1 = new QProgressBar(bar);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setMaximumWidth(160);
    LabelSeite = new QLabel(bar);
    LabelSeite->setObjectName(QStringLiteral("LabelSeite"));
    LabelSeite->setTextFormat(Qt::PlainText);
    LabelSeite->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelZeit = new QLabel(bar);
    LabelZeit->setObjectName(QStringLiteral("LabelZeit"));
    LabelZeit->setTextFormat(Qt::PlainText);
    bar->addWidget(ProgressBar1);
    bar->addWidget(LabelSeite, 1);
    bar->addWidget(LabelZeit);
    for (QWidget* w : {static_cast<QWidget*>(ProgressBar1), static_cast<QWidget*>(LabelSeite),
                       static_cast<QWidget*>(LabelZeit)})
        w->hide();
    timer_.setInterval(kRepaintEvery);
    connect(&timer_, &QTimer::timeout, this, &ProgressStatus::repaint);
}

void ProgressStatus::set(const toolkit::Progress& progress) {
    const bool starting = progress.total > 0 && !estimate_;
    latest_ = progress;
    changed_ = true;
    if (starting) {
        started_ = Clock::now();
        estimate_.emplace(started_);
        timer_.start();
    }
    // The first and the last report show at once; the rest with the next tick.
    if (starting || progress.total <= 0)
        repaint();
}

void ProgressStatus::repaint() {
    const bool running = latest_.total > 0;
    if (!running) {
        timer_.stop();
        estimate_.reset();
        for (QWidget* w : {static_cast<QWidget*>(ProgressBar1), static_cast<QWidget*>(LabelSeite),
                           static_cast<QWidget*>(LabelZeit)})
            w->hide();
        tellLauncher(false, 0);
        return;
    }
    const auto now = Clock::now();
    if (changed_) {
        changed_ = false;
        // QProgressBar counts in int; large totals are shown in thousandths.
        const auto done = std::clamp<std::int64_t>(latest_.done, 0, latest_.total);
        ProgressBar1->setRange(0, 1000);
        ProgressBar1->setValue(static_cast<int>(done * 1000 / latest_.total));
        ProgressBar1->setFormat(QStringLiteral("%1 / %2").arg(done).arg(latest_.total));
        LabelSeite->setText(QtText(latest_.current));
        ProgressBar1->show();
        LabelSeite->show();
        LabelZeit->show();
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started_);
    const std::string left = toolkit::TimeLeft::LeftText(estimate_->left(latest_, now));
    LabelZeit->setText(
        QtText(toolkit::TimeLeft::ElapsedText(elapsed) + (left.empty() ? "" : " · " + left)));
    tellLauncher(true, static_cast<double>(ProgressBar1->value()) / 1000.0);
}

// Sent only when the shown thousandth changes, so that a fast command does not flood the bus.
void ProgressStatus::tellLauncher(bool visible, double fraction) {
    const int permille = visible ? static_cast<int>(fraction * 1000) : -1;
    if (permille == launcherPermille_)
        return;
    launcherPermille_ = permille;
    taskbar_->show(visible, fraction);
}

} // namespace app
