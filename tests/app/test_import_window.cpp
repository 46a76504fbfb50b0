// Datei > Links importieren…, a file dropped on the window and addresses pasted into the grid: the
// dialog shows what it recognised and what an import would give, takes another linking-page column,
// and its "Importieren" fills the table; a bad file is told in the dialog and changes nothing.
#include "FormFixture.h"
#include "app/ImportDialog.h"
#include "app/TableModel.h"
#include "storage/Reports.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTableWidget>

namespace {

class ImportWindowTest : public FormFixture {
protected:
    void TearDown() override {
        app::ImportDialog::setPathAsker(nullptr);
        FormFixture::TearDown();
    }
    // The dialog on screen; closed ones may wait for their deletion.
    app::ImportDialog* shownDialog(app::TForm1& form) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (app::ImportDialog* d : form.findChildren<app::ImportDialog*>())
            if (d->isVisible())
                return d;
        return nullptr;
    }
    Rows records(app::TForm1& form) {
        Rows rows = Cells(form.table());
        rows.erase(rows.begin(), rows.begin() + 2);
        for (auto& row : rows)
            row.erase(row.begin());
        return rows;
    }
};

TEST_F(ImportWindowTest, ShowsTheListTakesAnotherColumnAndImportsFromMenuPasteAndDrop) {
    app::TForm1& form = makeForm();
    form.Domainname->setEditText(QString::fromUtf8("müller.example"));
    // Neither header is known and both columns hold addresses: the first is taken, wrongly here.
    writeFile("agentur.csv", "Seite,Notiz,Verweis\r\n"
                             "https://ziel.example/a,<b>fett</b>,https://blog.example/1\r\n"
                             "https://ziel.example/b,=1+1,https://blog.example/2\r\n"
                             "https://ziel.example/a,x,https://blog.example/3\r\n");
    app::ImportDialog::setPathAsker(
        [this](QWidget*) { return QString::fromStdString(folder_ + "agentur.csv"); });
    form.Importieren1->trigger();
    app::ImportDialog* dialog = shownDialog(form);
    ASSERT_NE(dialog, nullptr);
    for (QLabel* label : {dialog->Datei, dialog->Erkannt, dialog->Zaehlung, dialog->Meldung})
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    EXPECT_EQ(dialog->Erkannt->text(),
              QString::fromUtf8("CSV · UTF-8 · Komma · 3 Spalten · mit Kopfzeile · 3 Zeilen"));
    EXPECT_EQ(dialog->LinkSpalte->currentText(), QStringLiteral("Spalte 1: Seite"));
    ASSERT_EQ(dialog->Vorschau->rowCount(), 3);
    EXPECT_EQ(dialog->Vorschau->item(0, 1)->text(), QStringLiteral("<b>fett</b>"));
    EXPECT_EQ(dialog->Vorschau->horizontalHeaderItem(0)->text(),
              QString::fromUtf8("Spalte 1: Seite → Link-URL"));
    EXPECT_EQ(dialog->Zaehlung->text(), QString::fromUtf8("2 neu, 1 doppelt, 0 übersprungen"));

    dialog->LinkSpalte->setCurrentIndex(2);
    emit dialog->LinkSpalte->activated(2);
    EXPECT_EQ(dialog->Zaehlung->text(), QString::fromUtf8("3 neu, 0 doppelt, 0 übersprungen"));
    EXPECT_EQ(dialog->Vorschau->horizontalHeaderItem(2)->text(),
              QString::fromUtf8("Spalte 3: Verweis → Link-URL"));
    ASSERT_TRUE(dialog->Importieren->isEnabled());
    QTest::mouseClick(dialog->Importieren, Qt::LeftButton);
    EXPECT_EQ(records(form), (Rows{{"https://blog.example/1", "", "", ""},
                                   {"https://blog.example/2", "", "", ""},
                                   {"https://blog.example/3", "", "", ""}}));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_TRUE(files().count("reporting/liste/" + storage::DomainStamp("müller.example") + "_" +
                              storage::DateStamp() + ".csv"));
    ExpectCommandsEnabled(form, true);

    // A picture dropped on the window: the dialog says why, and nothing can be imported.
    writeFile("bild.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder_ + "bild.png"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    dialog = shownDialog(form);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Contains(dialog->Meldung->text().toStdString(), "„bild.png“ enthält Binärdaten"));
    EXPECT_FALSE(dialog->Importieren->isEnabled());
    QTest::mouseClick(dialog->Schliessen, Qt::LeftButton);
    EXPECT_EQ(records(form).size(), 3u);

    // Addresses pasted into the grid add to the table; one it has already is left out.
    QApplication::clipboard()->setText(QStringLiteral("https://blog.example/2\nhttps://neu.example/seite\n"));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::setActiveWindow(&form);
    form.StringGrid1->setFocus();
    QTest::keyClick(form.StringGrid1, Qt::Key_V, Qt::ControlModifier);
    dialog = shownDialog(form);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Datei->text(), QStringLiteral("Zwischenablage"));
    EXPECT_EQ(dialog->Zaehlung->text(),
              QString::fromUtf8("1 neu, 1 doppelt, 0 übersprungen (zur Tabelle hinzu)"));
    QTest::mouseClick(dialog->Importieren, Qt::LeftButton);
    ASSERT_EQ(records(form).size(), 4u);
    EXPECT_EQ(records(form)[3], (std::vector<std::string>{"https://neu.example/seite", "", "", ""}));
}

} // namespace
