// Datei > Überwachung…: the watch list edited through the window, and the timer switch over a fake
// systemctl.
#include "FormFixture.h"
#include "app/WatchWindow.h"
#include "storage/Changes.h"
#include "storage/History.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <optional>

using Strings = std::vector<std::string>;

namespace {

Strings TableRow(const QTableWidget* table, int row) {
    Strings cells;
    for (int col = 0; col < table->columnCount(); ++col)
        cells.push_back(table->item(row, col) ? table->item(row, col)->text().toStdString() : "");
    return cells;
}

using Result = app::SystemdTimer::CommandResult;

const Result kDisabled{true, 1, QStringLiteral("disabled\n"), {}};
const Result kEnabled{true, 0, QStringLiteral("enabled\n"), {}};
const Result kDone{true, 0, {}, {}};

class WatchWindowTest : public FormFixture {
protected:
    void TearDown() override {
        app::SystemdTimer::setRunnerHook(nullptr);
        FormFixture::TearDown();
    }
    // Through the menu, over a systemctl whose timer is off.
    app::WatchWindow* openWatch(app::TForm1& form) {
        app::SystemdTimer::setRunnerHook([](const QStringList&) { return kDisabled; });
        form.Ueberwachung1->trigger();
        return form.findChild<app::WatchWindow*>();
    }
    std::vector<storage::WatchEntry> stored() {
        storage::History::Opened opened = storage::History::Open(folder_);
        EXPECT_TRUE(opened.history) << opened.fault.reason;
        return opened.history ? opened.history->WatchList().value : std::vector<storage::WatchEntry>{};
    }
};

} // namespace

TEST_F(WatchWindowTest, AddsTheWindowsDomainAndRemovesTheSelectedEntry) {
    const std::time_t lastRun = std::time(nullptr);
    {
        storage::History::Opened opened = storage::History::Open(folder_);
        ASSERT_TRUE(opened.history) << opened.fault.reason;
        ASSERT_FALSE(
            opened.history->SaveWatch({"a.example", "a.example", "seokicks", "100", "wöchentlich", 0}));
        ASSERT_FALSE(opened.history->SetWatchLastRun("a.example", lastRun));
    }
    app::TForm1& form = makeForm();
    form.Domainname->setEditText(QString::fromUtf8("müller.example"));
    form.XOVI->setChecked(true);
    form.maxerg->setText(QStringLiteral("250"));
    app::WatchWindow* window = openWatch(form);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->Domain->text(), QString::fromUtf8("müller.example"));
    EXPECT_EQ(window->Dienst->currentData().toString(), QStringLiteral("xovi"));
    EXPECT_EQ(window->Max->value(), 250);

    window->Intervall->setCurrentText(QString::fromUtf8("monatlich"));
    QTest::mouseClick(window->Hinzufuegen, Qt::LeftButton);
    const storage::WatchEntry added{"müller.example", "xn--mller-kva.example", "xovi", "250", "monatlich", 0};
    const storage::WatchEntry first{"a.example", "a.example", "seokicks", "100", "wöchentlich", lastRun};
    EXPECT_EQ(stored(), (std::vector<storage::WatchEntry>{first, added}));
    ASSERT_EQ(window->Liste->rowCount(), 2);
    EXPECT_EQ(TableRow(window->Liste, 0), (Strings{"a.example", "seokicks", "100", "wöchentlich",
                                                   storage::RunTimeText(lastRun), "nein"}));
    EXPECT_EQ(TableRow(window->Liste, 1),
              (Strings{"müller.example", "xovi", "250", "monatlich", "nie", "ja"}));

    window->Liste->selectRow(0);
    QTest::mouseClick(window->Entfernen, Qt::LeftButton);
    EXPECT_EQ(stored(), (std::vector<storage::WatchEntry>{added}));
    ASSERT_EQ(window->Liste->rowCount(), 1);
    EXPECT_EQ(TableRow(window->Liste, 0)[0], "müller.example");
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(WatchWindowTest, UnreadableHistoryIsToldInTheWindow) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("halmfang.db")));
    app::WatchWindow* window = openWatch(makeForm());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->Meldung->isVisible());
    EXPECT_EQ(window->Meldung->textFormat(), Qt::PlainText);
    EXPECT_TRUE(Contains(window->Meldung->text().toStdString(), "Die Überwachungsliste ist nicht lesbar: "));
    QTest::mouseClick(window->Hinzufuegen, Qt::LeftButton);
    EXPECT_EQ(window->Liste->rowCount(), 0);
    EXPECT_TRUE(Contains(window->Meldung->text().toStdString(), "konnte nicht aufgenommen werden"));
}

// The switch shows systemctl's state and turns the timer on and off; where systemctl is missing or
// refuses, the window says so and offers the README's cron line instead.
TEST_F(WatchWindowTest, TimerSwitchFollowsSystemctlOrOffersTheCronLine) {
    std::ifstream readme(QH_TEST_DATA_DIR "/../../README.md");
    const std::string text{std::istreambuf_iterator<char>(readme), {}};
    const Result noBus{true, 1, {}, QStringLiteral("Failed to connect to bus: No medium found")};
    const QString isEnabled = QStringLiteral("--user is-enabled quandrel-halmfang-monitor.timer");
    const QString enable = QStringLiteral("--user enable --now quandrel-halmfang-monitor.timer");
    const QString disable = QStringLiteral("--user disable --now quandrel-halmfang-monitor.timer");
    struct Case {
        const char* name;
        std::optional<Result> stateFailure; // what is-enabled answers instead of the state
        Result enableAnswer;
        bool usable;       // the switch can be clicked
        QStringList calls; // after one click on a usable switch
    };
    const Case cases[] = {
        {"works", std::nullopt, kDone, true, {isEnabled, enable, isEnabled}},
        {"enable refused", std::nullopt, noBus, true, {isEnabled, enable}},
        {"no systemctl", Result{}, kDone, false, {isEnabled}},
        {"no user session", noBus, kDone, false, {isEnabled}},
        {"timer not installed",
         Result{true, 4, QStringLiteral("not-found\n"), {}},
         kDone,
         false,
         {isEnabled}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList calls;
        bool on = false;
        app::SystemdTimer::setRunnerHook([&](const QStringList& arguments) {
            calls << arguments.join(' ');
            const QString verb = arguments.value(1);
            if (verb == "is-enabled")
                return c.stateFailure ? *c.stateFailure : on ? kEnabled : kDisabled;
            if (verb == "enable") {
                on = c.enableAnswer.finished && c.enableAnswer.exitCode == 0;
                return c.enableAnswer;
            }
            on = false;
            return kDone;
        });
        app::WatchWindow window(folder_, {}, {}, {});
        window.show();
        EXPECT_EQ(window.Automatisch->isEnabled(), c.usable);
        EXPECT_FALSE(window.Automatisch->isChecked());
        if (c.usable)
            window.Automatisch->click();
        EXPECT_EQ(window.Automatisch->isChecked(), on);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(window.TimerMeldung->isVisible(), !on);
        EXPECT_EQ(window.CronZeile->isVisible(), !on);
        EXPECT_EQ(window.TimerMeldung->textFormat(), Qt::PlainText);
        if (!on) {
            EXPECT_TRUE(window.CronZeile->isReadOnly());
            const std::string cron = window.CronZeile->text().toStdString();
            EXPECT_NE(text.find("\n    " + cron + "\n"), std::string::npos) << "not the README's: " << cron;
            EXPECT_TRUE(Contains(window.TimerMeldung->text().toStdString(), "nicht schalten"));
        } else {
            window.Automatisch->click();
            EXPECT_FALSE(window.Automatisch->isChecked());
            EXPECT_EQ(calls.mid(3), QStringList({disable, isEnabled}));
        }
    }
}

// "Liste" asks for its file instead of a maximum, and stores the file's absolute path.
TEST_F(WatchWindowTest, ListEntryKeepsItsFile) {
    writeFile("links.csv", "Linking page,Last crawled\nhttps://blog.example/a,2024-05-17\n");
    app::TForm1& form = makeForm();
    form.Domainname->setEditText(QString::fromUtf8("müller.example"));
    app::WatchWindow* window = openWatch(form);
    ASSERT_NE(window, nullptr);
    window->Dienst->setCurrentIndex(window->Dienst->findData(QStringLiteral("liste")));
    EXPECT_TRUE(window->ListeDatei->isVisibleTo(window));
    EXPECT_FALSE(window->Max->isVisibleTo(window));
    QTest::mouseClick(window->Hinzufuegen, Qt::LeftButton);
    EXPECT_EQ(window->Meldung->text(), QString::fromUtf8("Bitte die Datei der Liste wählen."));
    EXPECT_TRUE(stored().empty());

    window->ListeDatei->setText(QString::fromStdString(folder_ + "links.csv"));
    QTest::mouseClick(window->Hinzufuegen, Qt::LeftButton);
    const std::vector<storage::WatchEntry> entries = stored();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].service, "liste");
    EXPECT_EQ(entries[0].listPath,
              QFileInfo(QString::fromStdString(folder_ + "links.csv")).absoluteFilePath().toStdString());
    EXPECT_EQ(TableRow(window->Liste, 0)[2], entries[0].listPath);
}
