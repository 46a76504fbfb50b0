#include "app/TableModel.h"

#include "app/QtToolkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <algorithm>

namespace app {

namespace {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Text 2 px from the cell's left edge and never elided: a fitted width leaves 6 px beside the
// widest text, less than the style's own margins would need.
class GridDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(QPalette::Normal, (opt.state & QStyle::State_Selected)
                                                                ? QPalette::HighlightedText
                                                                : QPalette::Text));
        painter->setClipRect(opt.rect);
        painter->drawText(opt.rect.adjusted(2, 0, 0, 0),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
};

} // namespace

BacklinkModel::BacklinkModel(table::BacklinkTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), rows_(std::max(0, table.RowCount() - 1)),
      cols_(std::max(0, table.ColCount() - 1)) {
    table_.setObserver(this);
}

BacklinkModel::~BacklinkModel() {
    table_.setObserver(nullptr);
}

QString BacklinkModel::cornerText() const {
    return toQString(table_.GetCell(0, 0));
}

int BacklinkModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int BacklinkModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

QVariant BacklinkModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return toQString(table_.GetCell(index.column() + 1, index.row() + 1));
    if (role == Qt::ToolTipRole) {
        const std::string& note = table_.GetCellNote(index.column() + 1, index.row() + 1);
        if (!note.empty())
            return toQString(note);
    }
    return {};
}

QVariant BacklinkModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || section < 0)
        return {};
    if (orientation == Qt::Horizontal)
        return toQString(table_.GetCell(section + 1, 0));
    return toQString(table_.GetCell(0, section + 1));
}

Qt::ItemFlags BacklinkModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void BacklinkModel::cellChanged(std::int32_t col, std::int32_t row) {
    if (col < 0 || row < 0 || col > cols_ || row > rows_)
        return; // not shown yet; the view reads it once the counts include it
    if (col == 0 && row == 0)
        emit cornerChanged();
    else if (row == 0)
        emit headerDataChanged(Qt::Horizontal, col - 1, col - 1);
    else if (col == 0)
        emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
    else {
        const QModelIndex cell = index(row - 1, col - 1);
        emit dataChanged(cell, cell, {Qt::DisplayRole});
    }
}

void BacklinkModel::rowCountChanged(std::int32_t, std::int32_t) {
    syncRows();
}

void BacklinkModel::colCountChanged(std::int32_t, std::int32_t) {
    syncColumns();
}

void BacklinkModel::colWidthChanged(std::int32_t col, std::int32_t width) {
    emit widthChanged(col, width);
}

void BacklinkModel::tableReset() {
    beginResetModel();
    rows_ = std::max(0, table_.RowCount() - 1);
    cols_ = std::max(0, table_.ColCount() - 1);
    endResetModel();
    emit cornerChanged();
}

void BacklinkModel::syncRows() {
    const int target = std::max(0, table_.RowCount() - 1);
    if (target > rows_) {
        beginInsertRows({}, rows_, target - 1);
        rows_ = target;
        endInsertRows();
    } else if (target < rows_) {
        beginRemoveRows({}, target, rows_ - 1);
        rows_ = target;
        endRemoveRows();
    }
}

void BacklinkModel::syncColumns() {
    const int target = std::max(0, table_.ColCount() - 1);
    if (target > cols_) {
        beginInsertColumns({}, cols_, target - 1);
        cols_ = target;
        endInsertColumns();
    } else if (target < cols_) {
        beginRemoveColumns({}, target, cols_ - 1);
        cols_ = target;
        endRemoveColumns();
    }
}

StringGrid::StringGrid(QWidget* parent) : QTableView(parent) {
    setFont(GridFont());
    setItemDelegate(new GridDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setSectionsClickable(false);
        header->setHighlightSections(false);
        header->setTextElideMode(Qt::ElideNone);
        header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setDefaultSectionSize(table::BacklinkTable::kStartWidth);
    horizontalHeader()->setFixedHeight(kRowHeight);
    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    verticalHeader()->setFixedWidth(table::BacklinkTable::kStartWidth);

    corner_ = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    if (corner_ != nullptr)
        corner_->installEventFilter(this);
}

void StringGrid::setBacklinkModel(BacklinkModel* model) {
    model_ = model;
    setModel(model);
    connect(model, &BacklinkModel::widthChanged, this, &StringGrid::applyWidth);
    connect(model, &BacklinkModel::columnsInserted, this, &StringGrid::applyAllWidths);
    connect(model, &BacklinkModel::modelReset, this, [this] {
        applyAllWidths();
        showTableCurrentCell();
    });
    connect(model, &BacklinkModel::cornerChanged, this, [this] {
        if (corner_ != nullptr)
            corner_->update();
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            model_->table().SetCurrentCell(current.column() + 1, current.row() + 1);
    });
    applyAllWidths();
    showTableCurrentCell();
}

void StringGrid::applyWidth(int col, int width) {
    if (col == 0)
        verticalHeader()->setFixedWidth(width);
    else if (col - 1 < horizontalHeader()->count())
        horizontalHeader()->resizeSection(col - 1, width);
}

void StringGrid::applyAllWidths() {
    const table::BacklinkTable& table = model_->table();
    for (int col = 0; col < table.ColCount(); ++col)
        applyWidth(col, table.ColWidth(col));
}

void StringGrid::showTableCurrentCell() {
    const table::BacklinkTable& table = model_->table();
    const QModelIndex cell = model_->index(table.Row() - 1, table.Col() - 1);
    if (cell.isValid())
        selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
}

// The corner is the fixed cell (0, 0); Qt's corner button draws no text of its own.
bool StringGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == corner_ && event->type() == QEvent::Paint && model_ != nullptr) {
        QPainter painter(corner_);
        QStyleOptionHeader opt;
        opt.initFrom(corner_);
        opt.rect = corner_->rect();
        opt.position = QStyleOptionHeader::OnlyOneSection;
        opt.text = model_->cornerText();
        opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        // The button is disabled so that it does not select all; the cell still reads as a header.
        opt.state |= QStyle::State_Raised | QStyle::State_Enabled;
        opt.palette.setCurrentColorGroup(QPalette::Active);
        corner_->style()->drawControl(QStyle::CE_Header, &opt, &painter, corner_);
        return true;
    }
    return QTableView::eventFilter(watched, event);
}

} // namespace app
