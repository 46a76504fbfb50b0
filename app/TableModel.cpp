#include "app/TableModel.h"

#include "app/QtText.h"
#include "app/QtToolkit.h"
#include "text/SpreadsheetSafe.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPolygon>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <map>
#include <set>

namespace app {

namespace {

struct MarkColours {
    QColor background;
    QColor text;
};

// Calm tints: green, a lighter green, amber, red. Light ones with black text in a light scheme,
// dark ones with light text in a dark scheme; each pair keeps a contrast of at least 4.5 : 1.
MarkColours ColoursOf(table::CellMark mark, bool dark) {
    const QColor text = dark ? QColor(0xF0, 0xF0, 0xF0) : QColor(Qt::black);
    switch (mark) {
    case table::CellMark::Found:
        return {dark ? QColor(0x1E, 0x4D, 0x22) : QColor(0xC8, 0xE6, 0xC9), text};
    case table::CellMark::FoundWeak:
        return {dark ? QColor(0x2B, 0x3A, 0x2C) : QColor(0xEA, 0xF6, 0xEA), text};
    case table::CellMark::NotFound:
        return {dark ? QColor(0x5C, 0x3F, 0x00) : QColor(0xFF, 0xE0, 0xA8), text};
    case table::CellMark::Failed:
        return {dark ? QColor(0x6B, 0x1F, 0x1F) : QColor(0xF8, 0xC8, 0xC8), text};
    case table::CellMark::None:
    case table::CellMark::RowLoss: // number cells only, which the row header paints
    case table::CellMark::RowNew:
        break;
    }
    return {};
}

// A row's loss or new-row marker: a bar at the left of its number, red for a loss, blue for a new
// row, each at least 3 : 1 against the header in its scheme and unlike the cells' tints.
QIcon RowMarkerIcon(table::CellMark mark, bool dark) {
    QColor colour;
    if (mark == table::CellMark::RowLoss)
        colour = dark ? QColor(0xFF, 0x8A, 0x80) : QColor(0xB7, 0x1C, 0x1C);
    else if (mark == table::CellMark::RowNew)
        colour = dark ? QColor(0x82, 0xB1, 0xFF) : QColor(0x15, 0x65, 0xC0);
    else
        return {};
    QPixmap bar(4, 16);
    bar.fill(colour);
    return QIcon(bar);
}

// The columns whose cells hold addresses to open, by their header.
bool IsLinkHeader(const std::string& header) {
    return header == "Link-URL" || header == "Ziel-URL";
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
        // A found page without a link that counts: a dark corner marks the lighter green.
        if (index.data(BacklinkModel::kMarkRole).toInt() == static_cast<int>(table::CellMark::FoundWeak)) {
            const QRect r = opt.rect;
            constexpr int kCorner = 8;
            painter->setPen(Qt::NoPen);
            painter->setBrush(IsDarkScheme(option.palette) ? QColor(0xA5, 0xD6, 0xA7) : QColor(0x2E, 0x7D, 0x32));
            painter->drawPolygon(QPolygon(
                {r.topRight() - QPoint(kCorner, 0), r.topRight(), r.topRight() + QPoint(0, kCorner)}));
        }
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
    return QtText(table_.GetCell(0, 0));
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
        return QtText(table_.GetCell(index.column() + 1, index.row() + 1));
    if (role == Qt::ToolTipRole) {
        const std::string& note = table_.GetCellNote(index.column() + 1, index.row() + 1);
        // The note quotes page text. Qt takes a tooltip that looks like markup for rich text, where
        // an <img> would load a local file on hover; escaped, it shows as written.
        if (!note.empty())
            return Qt::convertFromPlainText(QtText(note), Qt::WhiteSpaceNormal);
    }
    if (role == Qt::BackgroundRole || role == Qt::ForegroundRole || role == kMarkRole) {
        const table::CellMark mark = table_.GetCellMark(index.column() + 1, index.row() + 1);
        if (role == kMarkRole)
            return static_cast<int>(mark);
        if (mark != table::CellMark::None) {
            const MarkColours colours = ColoursOf(mark, dark_);
            return role == Qt::BackgroundRole ? colours.background : colours.text;
        }
    }
    return {};
}

QVariant BacklinkModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section < 0)
        return {};
    if (orientation == Qt::Vertical && (role == kMarkRole || role == Qt::DecorationRole)) {
        const table::CellMark mark = table_.GetCellMark(0, section + 1);
        if (role == kMarkRole)
            return static_cast<int>(mark);
        const QIcon marker = RowMarkerIcon(mark, dark_);
        return marker.isNull() ? QVariant() : QVariant(marker);
    }
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return QtText(table_.GetCell(section + 1, 0));
    return QtText(table_.GetCell(0, section + 1));
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
        emit dataChanged(cell, cell); // text, note and mark alike
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

void BacklinkModel::setDarkScheme(bool dark) {
    if (dark == dark_)
        return;
    dark_ = dark;
    if (rows_ > 0 && cols_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1), {Qt::BackgroundRole, Qt::ForegroundRole});
    if (rows_ > 0)
        emit headerDataChanged(Qt::Vertical, 0, rows_ - 1);
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

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const std::unique_ptr<QMenu> menu = contextMenuFor(indexAt(pos));
        menu->exec(viewport()->mapToGlobal(pos));
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (isLinkCell(index))
            openLink(index);
    });
}

QString StringGrid::selectionText() const {
    if (model_ == nullptr || selectionModel() == nullptr)
        return {};
    std::map<int, std::map<int, QString>> cells; // row -> column -> text
    std::set<int> columns;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        QString text = index.data(Qt::DisplayRole).toString();
        // A tab or line break inside a cell would split it.
        text.replace(QLatin1Char('\t'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
        cells[index.row()][index.column()] = text;
        columns.insert(index.column());
    }
    QStringList lines;
    for (const auto& [row, texts] : cells) {
        QStringList line;
        for (const int col : columns) {
            const auto it = texts.find(col);
            line << (it != texts.end() ? it->second : QString());
        }
        lines << line.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

void StringGrid::copySelection() {
    // Pasted into a spreadsheet, a cell from a linking page must stay text. No cell holds a tab
    // or a line break any more, so they still separate the cells.
    QStringList lines = selectionText().split(QLatin1Char('\n'));
    for (QString& line : lines) {
        QStringList cells = line.split(QLatin1Char('\t'));
        for (QString& cell : cells)
            cell = QString::fromStdString(text::SpreadsheetSafe(cell.toStdString()));
        line = cells.join(QLatin1Char('\t'));
    }
    const QString text = lines.join(QLatin1Char('\n'));
    if (!text.isEmpty() || selectionModel()->hasSelection())
        QApplication::clipboard()->setText(text);
}

// A new colour scheme brings tints that suit it.
void StringGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) &&
        model_ != nullptr)
        model_->setDarkScheme(IsDarkScheme(palette()));
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool StringGrid::isLinkCell(const QModelIndex& index) const {
    return index.isValid() && model_ != nullptr &&
           IsLinkHeader(model_->table().GetCell(index.column() + 1, 0));
}

std::unique_ptr<QMenu> StringGrid::contextMenuFor(const QModelIndex& index) {
    auto menu = std::make_unique<QMenu>(this);
    QAction* copy = menu->addAction(QStringLiteral("Kopieren"), this, &StringGrid::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(selectionModel() != nullptr && selectionModel()->hasSelection());
    QAction* open = menu->addAction(QStringLiteral("Link öffnen"), this, [this, index] { openLink(index); });
    open->setEnabled(isLinkCell(index) && !index.data(Qt::DisplayRole).toString().trimmed().isEmpty());
    return menu;
}

void StringGrid::openLink(const QModelIndex& index) {
    const QString text = index.data(Qt::DisplayRole).toString().trimmed();
    if (!isLinkCell(index) || text.isEmpty())
        return;
    // Tolerant as a browser's address bar: a space, "|", "{}" or a bare "%" are encoded, not refused.
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (url.isValid() && !web) {
        emit linkRefused(QStringLiteral("Nur http- und https-Adressen lassen sich öffnen."));
        return;
    }
    if (!url.isValid() || url.host().isEmpty()) {
        emit linkRefused(QStringLiteral("Die Adresse ist ungültig und kann nicht geöffnet werden: ") + text);
        return;
    }
    if (!UrlOpener::open(url))
        emit linkRefused(QStringLiteral("Der Browser ließ sich nicht starten."));
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
    model->setDarkScheme(IsDarkScheme(palette()));
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
