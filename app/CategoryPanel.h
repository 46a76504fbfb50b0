#pragma once
// A vertical group of panels, each with a header that collapses and expands it. The group
// scrolls vertically when the expanded panels are taller than it.

#include <QScrollArea>
#include <QWidget>

class QToolButton;
class QVBoxLayout;

namespace app {

class CategoryPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeaderHeight = 24;
    static constexpr int kExpandedHeight = 200;

    CategoryPanel(const QString& title, QWidget* parent = nullptr);

    QString title() const;
    QToolButton* header() const { return header_; }
    // Children placed here take positions relative to the area below the header.
    QWidget* content() const { return content_; }

    bool isCollapsed() const { return collapsed_; }
    void setCollapsed(bool collapsed);
    // Header included; kExpandedHeight unless a panel holds more.
    void setExpandedHeight(int height);

signals:
    void collapsedChanged(bool collapsed);

private:
    QToolButton* header_;
    QWidget* content_;
    bool collapsed_ = false;
    int expandedHeight_ = kExpandedHeight;
};

class CategoryPanelGroup : public QScrollArea {
    Q_OBJECT
public:
    explicit CategoryPanelGroup(QWidget* parent = nullptr);

    // Panels stand in the order they are added, from the top.
    CategoryPanel* addPanel(const QString& title);

private:
    QVBoxLayout* column_;
};

} // namespace app
