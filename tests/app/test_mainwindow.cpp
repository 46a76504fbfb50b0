#include "FormFixture.h"
#include "app/CategoryPanel.h"
#include "app/TableModel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolButton>

using app::TForm1;

namespace {

QString textOf(QWidget* w) {
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    return {};
}

// The name of the control that holds the keyboard focus (the editable combo box hands it to
// its line edit).
QString focusedControl(QWidget* window) {
    QWidget* w = window->focusWidget();
    while (w != nullptr && w->objectName().isEmpty())
        w = w->parentWidget();
    return w != nullptr ? w->objectName() : QString();
}

QStringList tabSequence(TForm1& form, QWidget* start, int steps) {
    start->setFocus(Qt::TabFocusReason);
    QStringList names{focusedControl(&form)};
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
        names << focusedControl(&form);
    }
    return names;
}

// One line per menu entry, "name=text", indented by its depth; a submenu is named by its menu.
void ListMenu(const QList<QAction*>& actions, const QString& indent, QStringList& out) {
    for (QAction* a : actions) {
        const QString name = a->menu() != nullptr ? a->menu()->objectName() : a->objectName();
        out << indent + name + "=" + a->text() + (a->isVisible() ? "" : " (hidden)");
        if (a->menu() != nullptr)
            ListMenu(a->menu()->actions(), indent + "  ", out);
    }
}

} // namespace

class MainWindow : public FormFixture {
protected:
    TForm1& makeShownForm() {
        TForm1& form = makeForm();
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        return form;
    }
};

TEST_F(MainWindow, ControlsHaveTheirNamesKindsTextsAndPlaces) {
    TForm1& form = makeForm();
    const struct {
        const char* name;
        const char* panel;
        const char* kind;
        QRect place;
        QString text;
    } controls[] = {
        {"Domainname", "CategoryPanel1", "QComboBox", {10, 8, 145, 21}, "Domainname"},
        {"XOVI", "CategoryPanel1", "QRadioButton", {10, 35, 63, 17}, "XOVI"},
        {"RadioButton1", "CategoryPanel1", "QRadioButton", {79, 35, 76, 17}, "SEOKICKS"},
        {"Label21", "CategoryPanel1", "QLabel", {10, 80, 79, 13}, "max. Ergebnisse"},
        {"maxerg", "CategoryPanel1", "QLineEdit", {9, 98, 88, 21}, "100"},
        {"Button1", "CategoryPanel1", "QPushButton", {10, 125, 75, 25}, "Check"},
        {"Button3", "CategoryPanel1", "QPushButton", {91, 125, 75, 25}, "Prüfe"},
        {"Label93", "CategoryPanel2", "QLabel", {9, 14, 79, 13}, "XOVI-API-Key"},
        {"xovi_api", "CategoryPanel2", "QLineEdit", {8, 33, 121, 21}, "XOVI-API-Keys"},
        {"Label1", "CategoryPanel2", "QLabel", {9, 62, 99, 13}, "SEO-KICKS-Code"},
        {"seokicks", "CategoryPanel2", "QLineEdit", {8, 81, 121, 21}, "SEO-KICKS-Code"},
        {"Button2", "CategoryPanel2", "QPushButton", {96, 108, 75, 25}, "Speichern"},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        auto* w = form.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind));
        auto* panel = form.findChild<app::CategoryPanel*>(QString::fromLatin1(c.panel));
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(w->parentWidget(), panel->content());
        EXPECT_EQ(textOf(w), c.text);
        if (qobject_cast<QLabel*>(w) != nullptr) {
            // A label grows to its text where the substitute font is wider than Tahoma.
            EXPECT_EQ(w->pos(), c.place.topLeft());
            EXPECT_EQ(w->height(), c.place.height());
            EXPECT_GE(w->width(), std::max(c.place.width(), w->sizeHint().width()));
        } else {
            EXPECT_EQ(w->geometry(), c.place);
        }
        // Only the two credential captions are bold; no button is a default button.
        EXPECT_EQ(w->font().bold(), w == form.Label93 || w == form.Label1);
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_FALSE(button->isDefault() || button->autoDefault());
        }
    }
    EXPECT_TRUE(form.Domainname->isEditable());
    EXPECT_EQ(form.Domainname->count(), 0);
    EXPECT_FALSE(form.XOVI->isChecked() || form.RadioButton1->isChecked());
}

TEST_F(MainWindow, StartsWithCaptionClientAreaAndPanelsAndTheGridFollowsTheSize) {
    TForm1& form = makeShownForm();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quandrel Halmfang 0.1b"));
    EXPECT_EQ(form.shared().titleText, "Quandrel Halmfang 0.1b");
    EXPECT_EQ(form.shared().programFolder, folder_);
    EXPECT_EQ(form.centralWidget(), form.Panel2);
    EXPECT_EQ(form.Panel2->size(), QSize(736, 373));
    EXPECT_EQ(form.CategoryPanelGroup1->geometry(), QRect(1, 1, 200, 371));
    EXPECT_EQ(form.StringGrid1->geometry(), QRect(201, 1, 534, 371));

    EXPECT_EQ(form.CategoryPanel1->title(), QStringLiteral("Checks"));
    EXPECT_EQ(form.CategoryPanel2->title(), QStringLiteral("Einstellungen"));
    EXPECT_FALSE(form.CategoryPanel1->isCollapsed());
    EXPECT_TRUE(form.CategoryPanel2->isCollapsed());
    EXPECT_EQ(form.CategoryPanel1->y(), 0);
    EXPECT_EQ(form.CategoryPanel2->y(), 200);
    EXPECT_TRUE(form.Button3->isVisible());
    EXPECT_FALSE(form.seokicks->isVisible());

    for (const toolkit::LineBuffer* memo : {&form.Memo1, &form.Memo3, &form.Memo11})
        EXPECT_EQ(memo->count(), 0u);
    const retrieval::TlsTransport& tls = form.IdSSLIOHandlerSocketOpenSSL1;
    EXPECT_EQ(tls.mode, retrieval::TlsTransport::Mode::Unassigned);
    EXPECT_TRUE(tls.verifyMode.empty());
    EXPECT_EQ(tls.verifyDepth, 0);
    EXPECT_TRUE(boxes_.empty());

    form.resize(form.width() + 100, form.height() + 50);
    QApplication::processEvents();
    EXPECT_EQ(form.StringGrid1->geometry(), QRect(201, 1, 634, 421));
    EXPECT_EQ(form.CategoryPanelGroup1->geometry(), QRect(1, 1, 200, 421));
}

TEST_F(MainWindow, PanelsCollapseAndExpandByTheirHeadersAndTheGroupScrolls) {
    TForm1& form = makeShownForm();
    QScrollBar* bar = form.CategoryPanelGroup1->verticalScrollBar();
    EXPECT_FALSE(bar->isVisible());

    QTest::mouseClick(form.CategoryPanel2->header(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(form.CategoryPanel2->isCollapsed());
    EXPECT_TRUE(form.seokicks->isVisible() && form.Button2->isVisible());
    // Two expanded panels are taller than the group: it scrolls.
    EXPECT_TRUE(bar->isVisible());
    EXPECT_GT(bar->maximum(), 0);

    QTest::mouseClick(form.CategoryPanel1->header(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_TRUE(form.CategoryPanel1->isCollapsed());
    EXPECT_FALSE(form.Button1->isVisible());
    EXPECT_EQ(form.CategoryPanel2->y(), app::CategoryPanel::kHeaderHeight);
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(MainWindow, TabOrderFollowsTheDesign) {
    TForm1& form = makeShownForm();
    EXPECT_EQ(tabSequence(form, form.XOVI, 6), QStringList({"XOVI", "maxerg", "Button1", "Domainname",
                                                            "RadioButton1", "Button3", "StringGrid1"}));
    form.CategoryPanel2->setCollapsed(false);
    EXPECT_EQ(tabSequence(form, form.Button3, 4),
              QStringList({"Button3", "xovi_api", "Button2", "seokicks", "StringGrid1"}));
}

TEST_F(MainWindow, MenuHasDateiBeendenAndAHiddenToolsMenuWithoutAccelerators) {
    TForm1& form = makeForm();
    QStringList menu;
    ListMenu(form.menuBar()->actions(), "", menu);
    EXPECT_EQ(menu, QStringList({"Datei1=Datei", "  Importieren1=Links importieren…", "  Verlauf1=Verlauf…",
                                 "  Ueberwachung1=Überwachung…", "  Beenden1=Beenden", "ools1=Tools (hidden)",
                                 "  abelle1=Tabelle", "    Filter1=Filter", "      BLgefunden1=BL gefunden",
                                 "      BLnichtgefunden1=BL nicht gefunden",
                                 "      BLSpendertotFehler1=BL-Spender tot / Fehler",
                                 "      zurcksetzen1=zurücksetzen"}));
    for (QAction* a : form.findChildren<QAction*>()) {
        EXPECT_FALSE(a->text().contains('&')) << a->text().toStdString();
        EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();
    }
    for (QAction* a : form.Filter1->actions())
        a->trigger();
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindow, SpeichernWritesConfigByteForByte) {
    TForm1& form = makeShownForm();
    QTest::mouseClick(form.CategoryPanel2->header(), Qt::LeftButton);
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    EXPECT_EQ(readFile("config.txt"), "XOVI-API-Keys\r\nSEO-KICKS-Code\r\n");

    form.xovi_api->clear();
    TypeText(form.xovi_api, QStringLiteral("k3y-Ä ö"));
    form.seokicks->clear();
    TypeText(form.seokicks, QStringLiteral(" code,2 "));
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    EXPECT_EQ(readFile("config.txt"), "k3y-\xC3\x84 \xC3\xB6\r\n code,2 \r\n");
    EXPECT_FALSE(QDir(dir_.path()).exists("domains.txt"));
    EXPECT_TRUE(boxes_.empty());
}

// A key pasted with its line break would take two lines of config.txt; no single-line field
// takes CR or LF, whether set from code, pasted or inserted.
TEST_F(MainWindow, SingleLineFieldsDropLineBreaksHoweverTheTextArrives) {
    writeFile("domains.txt", "a\r.example\r\n");
    TForm1& form = makeShownForm();
    for (QLineEdit* field : {form.Domainname->lineEdit(), form.maxerg, form.xovi_api, form.seokicks}) {
        SCOPED_TRACE(field->parentWidget()->objectName().toStdString() + "/" +
                     field->objectName().toStdString());
        field->setText(QStringLiteral("\r\nx\ry\nz\r\n"));
        EXPECT_EQ(field->text(), QStringLiteral("xyz"));
        field->setCursorPosition(1);
        QApplication::clipboard()->setText(QStringLiteral("1\r\n2\n"));
        field->paste();
        EXPECT_EQ(field->text(), QStringLiteral("x12yz"));
        EXPECT_EQ(field->cursorPosition(), 3);
        field->insert(QStringLiteral("\n"));
        EXPECT_EQ(field->text(), QStringLiteral("x12yz"));
    }
    // A history entry with a lone CR comes into the field without it.
    form.Domainname->setCurrentIndex(0);
    EXPECT_EQ(form.Domainname->currentText(), QStringLiteral("a.example"));

    form.xovi_api->setText(QStringLiteral("key\r\n"));
    form.seokicks->setText(QStringLiteral("code\n"));
    form.Button2->click();
    EXPECT_EQ(readFile("config.txt"), "key\r\ncode\r\n");
}

// The credentials and the history list as the files give them: in UTF-8, or one config line and
// a history in Windows-1252.
TEST_F(MainWindow, StartFillsFieldsAndDropDownListFromTheFiles) {
    const std::pair<const char*, const char*> files[] = {
        {"key-1\r\ncoöde\r\nignored\r\n", "a.example\r\nb.example\r\n\r\nB.example\r\n"},
        {"only\r\n", "m\xFCller.example\r\nstra\337e.example\r\n"}};
    const QStringList expected[] = {{"key-1", "coöde", "a.example", "b.example", "", "B.example"},
                                    {"only", "", "müller.example", "straße.example"}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(files[i].second);
        writeFile("config.txt", files[i].first);
        writeFile("domains.txt", files[i].second);
        TForm1& form = makeForm();
        QStringList shown{form.xovi_api->text(), form.seokicks->text()};
        for (int item = 0; item < form.Domainname->count(); ++item)
            shown << form.Domainname->itemText(item);
        EXPECT_EQ(shown, expected[i]);
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(form.window().fields.domainText(), "Domainname");
    }
}

// Beyond the 32,767 characters an edit field keeps by default, values load and save whole.
TEST_F(MainWindow, LongStoredValuesLoadAndSaveWhole) {
    const std::string key(40000, 'k'), code(50000, 'c'), domain(40000, 'd');
    writeFile("config.txt", key + "\r\n" + code + "\r\n");
    writeFile("domains.txt", domain + "\r\n");
    TForm1& form = makeForm();
    form.Domainname->setCurrentIndex(0);
    EXPECT_EQ(form.window().fields.domainText(), domain);
    form.Button2->click();
    EXPECT_EQ(readFile("config.txt"), key + "\r\n" + code + "\r\n");
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindow, UnreadableConfigShowsAnErrorLoadsTheHistoryAndOpensTheWindow) {
    // A file that exists but fails to read, also for root: reading our own memory at address 0.
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), dir_.filePath("config.txt")));
    writeFile("domains.txt", "a.example\r\n");
    TForm1& form = makeShownForm();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, app::QtMessageBox::Kind::Error);
    EXPECT_TRUE(Contains(boxes_[0].text, "config.txt"));
    ASSERT_EQ(form.Domainname->count(), 1);
    EXPECT_EQ(form.Domainname->itemText(0), QStringLiteral("a.example"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quandrel Halmfang 0.1b"));
    EXPECT_EQ(form.xovi_api->text(), QStringLiteral("XOVI-API-Keys"));

    // "Speichern" asks before it replaces the file it could not read; "Nein" keeps it.
    form.CategoryPanel2->setCollapsed(false);
    form.Button2->click();
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].kind, app::QtMessageBox::Kind::Question);
    EXPECT_TRUE(Contains(boxes_[1].text, "Trotzdem überschreiben?"));
    EXPECT_TRUE(QFileInfo(dir_.filePath("config.txt")).isSymLink());
    // "Ja" writes, here through the link into /proc, which refuses it.
    app::QtMessageBox::setNextAnswer(true);
    form.Button2->click();
    ASSERT_EQ(boxes_.size(), 4u);
    EXPECT_EQ(boxes_[2].kind, app::QtMessageBox::Kind::Question);
    EXPECT_TRUE(Contains(boxes_[3].text, "konnte nicht geschrieben werden"));
}

TEST_F(MainWindow, AFailingHandlerShowsTheErrorBoxAndTheWindowGoesOn) {
    TForm1& form = makeFormIn(folder_ + "missing/folder/");
    EXPECT_TRUE(boxes_.empty());
    form.CategoryPanel2->setCollapsed(false);
    form.Button2->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, app::QtMessageBox::Kind::Error);
    EXPECT_TRUE(Contains(boxes_[0].text, "config.txt"));

    form.guarded([] { throw 42; });
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].kind, app::QtMessageBox::Kind::Error);
    EXPECT_FALSE(boxes_[1].text.empty());
    form.guarded([] { throw toolkit::Cancelled(); });
    EXPECT_EQ(boxes_.size(), 2u);
}

// The service choice, maxerg and the caption are read and written by every "Check" (test_check).
TEST_F(MainWindow, DomainFieldAndItsHistoryListReadAndWriteTheCombo) {
    TForm1& form = makeForm();
    toolkit::WindowFields& fields = form.window().fields;

    form.Domainname->lineEdit()->clear();
    TypeText(form.Domainname->lineEdit(), QStringLiteral("Mein-Shop.example/ä"));
    const std::vector<std::string> history = {"x.example", "", "Mein-Shop.example/\xC3\xA4", "x.example"};
    fields.setDomainHistory(history);
    EXPECT_EQ(fields.domainText(), "Mein-Shop.example/\xC3\xA4");
    EXPECT_EQ(form.Domainname->currentText(), QStringLiteral("Mein-Shop.example/ä"));
    EXPECT_EQ(fields.domainHistory(), history);
    EXPECT_TRUE(form.Domainname->updatesEnabled());
    fields.setDomainHistory({});
    EXPECT_EQ(form.Domainname->count(), 0);
    EXPECT_EQ(fields.domainText(), "Mein-Shop.example/\xC3\xA4");
}
