#pragma once
// StringGrid1: a table view over the backlink table. Row 0 of the table is shown as the
// horizontal header and column 0 as the vertical header, so that both stay in place while the
// cells scroll and a large table costs no widget per cell.

#include "table/BacklinkTable.h"

#include <QAbstractTableModel>
#include <QTableView>
#include <memory>

class QMenu;

namespace app {

class BacklinkModel final : public QAbstractTableModel, public table::TableObserver {
    Q_OBJECT
public:
    // The cell's table::CellMark as an int, for the grid's painting; for the vertical header, the
    // mark of the row's number cell, which the header shows as an icon (Qt::DecorationRole).
    static constexpr int kMarkRole = Qt::UserRole + 1;

    explicit BacklinkModel(table::BacklinkTable& table, QObject* parent = nullptr);
    ~BacklinkModel() override;

    table::BacklinkTable& table() const { return table_; }
    QString cornerText() const;
    // Tints and text colours for a dark colour scheme rather than a light one.
    void setDarkScheme(bool dark);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void cellChanged(std::int32_t col, std::int32_t row) override;
    void rowCountChanged(std::int32_t oldCount, std::int32_t newCount) override;
    void colCountChanged(std::int32_t oldCount, std::int32_t newCount) override;
    void colWidthChanged(std::int32_t col, std::int32_t width) override;
    void tableReset() override;

signals:
    // A column of the table (0 = number column) got a new width.
    void widthChanged(int col, int width);
    void cornerChanged();

private:
    void syncRows();
    void syncColumns();

    table::BacklinkTable& table_;
    // The counts the view has been told of; Qt must hear of every change before it is seen.
    int rows_ = 0;
    int cols_ = 0;
    bool dark_ = false;
};

class StringGrid final : public QTableView {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 24;

    explicit StringGrid(QWidget* parent = nullptr);

    void setBacklinkModel(BacklinkModel* model);
    BacklinkModel* backlinkModel() const { return model_; }

    // The selected cells as lines of tab-separated texts, row by row; what Ctrl+C copies.
    QString selectionText() const;
    void copySelection();
    // "Kopieren" and "Link öffnen" for the cell at `index`, as the context menu offers them.
    std::unique_ptr<QMenu> contextMenuFor(const QModelIndex& index);
    // Opens the cell's address in the browser if it stands in a Link-URL or Ziel-URL column.
    // Only http and https addresses are opened; anything else, and an address that cannot be
    // read, is refused with a message.
    void openLink(const QModelIndex& index);
    bool isLinkCell(const QModelIndex& index) const;

signals:
    // A short German text for the user: why a link was not opened.
    void linkRefused(const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applyWidth(int col, int width);
    void applyAllWidths();
    void showTableCurrentCell();

    BacklinkModel* model_ = nullptr;
    QWidget* corner_ = nullptr;
};

} // namespace app
