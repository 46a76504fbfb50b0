#include "app/CategoryPanel.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace app {

CategoryPanel::CategoryPanel(const QString& title, QWidget* parent)
    : QWidget(parent), header_(new QToolButton(this)), content_(new QWidget(this)) {
    header_->setText(title);
    header_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header_->setArrowType(Qt::DownArrow);
    header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    header_->setFixedHeight(kHeaderHeight);
    header_->setFocusPolicy(Qt::NoFocus);
    content_->setFixedHeight(kExpandedHeight - kHeaderHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addWidget(content_);
    setFixedHeight(kExpandedHeight);

    connect(header_, &QToolButton::clicked, this, [this] { setCollapsed(!collapsed_); });
}

QString CategoryPanel::title() const {
    return header_->text();
}

void CategoryPanel::setCollapsed(bool collapsed) {
    if (collapsed == collapsed_)
        return;
    collapsed_ = collapsed;
    content_->setVisible(!collapsed);
    header_->setArrowType(collapsed ? Qt::RightArrow : Qt::DownArrow);
    setFixedHeight(collapsed ? kHeaderHeight : expandedHeight_);
    emit collapsedChanged(collapsed);
}

void CategoryPanel::setExpandedHeight(int height) {
    expandedHeight_ = height;
    content_->setFixedHeight(height - kHeaderHeight);
    if (!collapsed_)
        setFixedHeight(height);
}

CategoryPanelGroup::CategoryPanelGroup(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* inner = new QWidget;
    column_ = new QVBoxLayout(inner);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(0);
    column_->addStretch(1);
    setWidget(inner);
}

CategoryPanel* CategoryPanelGroup::addPanel(const QString& title) {
    auto* panel = new CategoryPanel(title);
    column_->insertWidget(column_->count() - 1, panel);
    return panel;
}

} // namespace app
