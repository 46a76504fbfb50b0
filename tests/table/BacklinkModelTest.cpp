// The grid's model shows a cell's note as its tooltip and nowhere else.
#include "app/TableModel.h"
#include "table/BacklinkTable.h"
#include "tests/table/FakeTextWidth.h"

#include <QSignalSpy>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace {

TEST(BacklinkModel, ShowsACellNoteAsTooltipOnly) {
    tabletest::FakeTextWidth measure;
    table::BacklinkTable t(measure);
    t.ResetWithHeaders({"Nr.", "Link-URL", "Status"});
    t.AppendRecord({"http://a.example/", "Fehler"});
    app::BacklinkModel model(t);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // Table cell (2, 2) is model cell (1, 1): row 0 and column 0 are the headers.
    const QModelIndex status = model.index(1, 1);
    EXPECT_FALSE(status.data(Qt::ToolTipRole).isValid());
    t.SetCellNote(2, 2, "Zeitüberschreitung");
    EXPECT_EQ(changed.count(), 1);
    // Handed to Qt escaped, so that no page text is ever read as markup.
    EXPECT_EQ(status.data(Qt::ToolTipRole).toString(),
              Qt::convertFromPlainText(QString::fromUtf8("Zeitüberschreitung"), Qt::WhiteSpaceNormal));
    EXPECT_EQ(status.data(Qt::DisplayRole).toString(), "Fehler");
    EXPECT_FALSE(model.index(1, 0).data(Qt::ToolTipRole).isValid());

    t.SetCell(2, 2, "gefunden");
    EXPECT_FALSE(status.data(Qt::ToolTipRole).isValid());
}

} // namespace
