#include "app/WatchWindow.h"

#include "app/ImportDialog.h"
#include "app/QtText.h"
#include "retrieval/RunHistory.h"
#include "storage/Changes.h"
#include "storage/History.h"
#include "storage/Watch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <ctime>
#include <utility>

namespace app {

WatchWindow::WatchWindow(std::string programFolder, const QString& domain, const QString& service,
                         const QString& limit, QWidget* parent)
    : QDialog(parent), folder_(std::move(programFolder)), timer_(MakeTimerSwitch()) {
    setObjectName(QStringLiteral("WatchWindow"));
    setWindowTitle(QStringLiteral("Überwachung"));

    Meldung = PlainLabel(this, "Meldung");
    Liste = new QTableWidget(0, 6, this);
    Liste->setObjectName(QStringLiteral("Liste"));
    Liste->setHorizontalHeaderLabels({QStringLiteral("Domain"), QStringLiteral("Dienst"),
                                      QStringLiteral("Max / Liste"), QStringLiteral("Intervall"),
                                      QStringLiteral("letzter Lauf"), QStringLiteral("fällig")});
    Liste->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Liste->setSelectionBehavior(QAbstractItemView::SelectRows);
    Liste->setSelectionMode(QAbstractItemView::SingleSelection);
    Liste->verticalHeader()->hide();
    Liste->horizontalHeader()->setStretchLastSection(true);

    Domain = new QLineEdit(domain, this);
    Domain->setObjectName(QStringLiteral("Domain"));
    Dienst = new QComboBox(this);
    Dienst->setObjectName(QStringLiteral("Dienst"));
    Dienst->addItem(QStringLiteral("SEOkicks"), QStringLiteral("seokicks"));
    Dienst->addItem(QStringLiteral("XOVI"), QStringLiteral("xovi"));
    Dienst->addItem(QStringLiteral("Liste"), QStringLiteral("liste"));
    Dienst->setCurrentIndex(std::max(0, Dienst->findData(service)));
    Max = new QSpinBox(this);
    Max->setObjectName(QStringLiteral("Max"));
    Max->setRange(1, 1'000'000);
    bool numeric = false;
    const int max = limit.trimmed().toInt(&numeric);
    Max->setValue(numeric && max >= 1 ? max : 100);
    ListeDatei = new QLineEdit(this);
    ListeDatei->setObjectName(QStringLiteral("ListeDatei"));
    ListeDatei->setPlaceholderText(QStringLiteral("Datei der Liste"));
    ListeWaehlen = new QPushButton(QStringLiteral("Datei…"), this);
    ListeWaehlen->setObjectName(QStringLiteral("ListeWaehlen"));
    Intervall = new QComboBox(this);
    Intervall->setObjectName(QStringLiteral("Intervall"));
    for (const std::string_view name :
         {storage::kIntervalDaily, storage::kIntervalWeekly, storage::kIntervalMonthly})
        Intervall->addItem(QtText(name));
    Intervall->setCurrentIndex(1);
    Hinzufuegen = new QPushButton(QStringLiteral("Hinzufügen"), this);
    Hinzufuegen->setObjectName(QStringLiteral("Hinzufuegen"));
    Entfernen = new QPushButton(QStringLiteral("Entfernen"), this);
    Entfernen->setObjectName(QStringLiteral("Entfernen"));

    Automatisch = new QCheckBox(QtText(timer_->label()), this);
    Automatisch->setObjectName(QStringLiteral("Automatisch"));
    TimerMeldung = PlainLabel(this, "TimerMeldung");
    CronZeile = new QLineEdit(QtText(timer_->fallbackLine()), this);
    CronZeile->setObjectName(QStringLiteral("CronZeile"));
    CronZeile->setReadOnly(true);
    TimerMeldung->hide();
    CronZeile->hide();

    auto* fields = new QHBoxLayout;
    fields->addWidget(Domain, 3);
    fields->addWidget(Dienst);
    fields->addWidget(Max);
    fields->addWidget(ListeDatei, 3);
    fields->addWidget(ListeWaehlen);
    fields->addWidget(Intervall);
    fields->addWidget(Hinzufuegen);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Meldung);
    layout->addWidget(Liste);
    auto* removeRow = new QHBoxLayout;
    removeRow->addStretch();
    removeRow->addWidget(Entfernen);
    layout->addLayout(removeRow);
    layout->addLayout(fields);
    layout->addWidget(Automatisch);
    layout->addWidget(TimerMeldung);
    layout->addWidget(CronZeile);
    resize(720, 420);

    connect(Hinzufuegen, &QPushButton::clicked, this, &WatchWindow::addEntry);
    connect(Dienst, &QComboBox::currentIndexChanged, this, &WatchWindow::showServiceFields);
    connect(ListeWaehlen, &QPushButton::clicked, this, [this] {
        const QString path = ImportDialog::askPath(this);
        if (!path.isEmpty())
            ListeDatei->setText(path);
    });
    showServiceFields();
    connect(Entfernen, &QPushButton::clicked, this, &WatchWindow::removeSelected);
    connect(Automatisch, &QCheckBox::toggled, this, &WatchWindow::switchTimer);
    reload();
    readTimerState();
}

void WatchWindow::showMessage(const QString& text) {
    Meldung->setText(text);
    Meldung->setVisible(!text.isEmpty());
}

// A list has a file where a service has its maximum.
void WatchWindow::showServiceFields() {
    const bool list = Dienst->currentData().toString() == QLatin1String("liste");
    Max->setVisible(!list);
    ListeDatei->setVisible(list);
    ListeWaehlen->setVisible(list);
}

void WatchWindow::reload() {
    Liste->setRowCount(0);
    storage::History::Opened opened = storage::History::Open(folder_);
    if (!opened.history) {
        showMessage(QStringLiteral("Die Überwachungsliste ist nicht lesbar: ") + QtText(opened.fault.reason));
        return;
    }
    const auto list = opened.history->WatchList();
    if (list.fault) {
        showMessage(QStringLiteral("Die Überwachungsliste ist nicht lesbar: ") + QtText(list.fault.reason));
        return;
    }
    QStringList messages;
    if (!opened.notice.empty())
        messages << QtText(opened.notice);
    if (list.value.empty())
        messages << QStringLiteral("Noch keine Domain in der Überwachungsliste.");
    showMessage(messages.join('\n'));
    const std::time_t now = std::time(nullptr);
    Liste->setRowCount(static_cast<int>(list.value.size()));
    int row = 0;
    for (const storage::WatchEntry& e : list.value) {
        const QStringList cells{QtText(e.domain),
                                QtText(e.service),
                                QtText(e.service == "liste" ? e.listPath : e.limit),
                                QtText(e.interval),
                                e.lastRun == 0 ? QStringLiteral("nie")
                                               : QtText(storage::RunTimeText(e.lastRun)),
                                storage::IsDue(e, now) ? QStringLiteral("ja") : QStringLiteral("nein")};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (col == 0)
                item->setData(Qt::UserRole, QtText(e.domainKey));
            Liste->setItem(row, col, item);
        }
        ++row;
    }
}

void WatchWindow::addEntry() {
    const QString domain = Domain->text().trimmed();
    if (domain.isEmpty()) {
        showMessage(QStringLiteral("Bitte eine Domain eingeben."));
        return;
    }
    storage::WatchEntry entry{StdText(domain),
                              retrieval::DomainKey(StdText(domain)),
                              StdText(Dienst->currentData().toString()),
                              std::to_string(Max->value()),
                              StdText(Intervall->currentText()),
                              0,
                              {}};
    if (entry.service == "liste") {
        const QFileInfo file(ListeDatei->text().trimmed());
        if (ListeDatei->text().trimmed().isEmpty() || !file.isFile()) {
            showMessage(ListeDatei->text().trimmed().isEmpty()
                            ? QStringLiteral("Bitte die Datei der Liste wählen.")
                            : QStringLiteral("Die Liste ") + ListeDatei->text().trimmed() +
                                  QStringLiteral(" gibt es nicht."));
            return;
        }
        entry.limit.clear();
        entry.listPath = StdText(file.absoluteFilePath());
    }
    storage::History::Opened opened = storage::History::Open(folder_);
    storage::Fault fault = opened.fault;
    if (opened.history)
        fault = opened.history->SaveWatch(entry);
    reload();
    if (fault)
        showMessage(QStringLiteral("Die Domain konnte nicht aufgenommen werden: ") + QtText(fault.reason));
}

void WatchWindow::removeSelected() {
    const int row = Liste->currentRow();
    const QTableWidgetItem* item = row >= 0 ? Liste->item(row, 0) : nullptr;
    if (!item) {
        showMessage(QStringLiteral("Bitte zuerst eine Zeile wählen."));
        return;
    }
    storage::History::Opened opened = storage::History::Open(folder_);
    storage::Fault fault = opened.fault;
    if (opened.history)
        fault = opened.history->RemoveWatch(StdText(item->data(Qt::UserRole).toString())).fault;
    reload();
    if (fault)
        showMessage(QStringLiteral("Die Domain konnte nicht entfernt werden: ") + QtText(fault.reason));
}

void WatchWindow::readTimerState() {
    const TimerSwitch::State state = timer_->read();
    const QSignalBlocker block(Automatisch);
    if (!state.on) {
        Automatisch->setChecked(false);
        Automatisch->setEnabled(false);
        showTimerUnavailable(state.problem);
        return;
    }
    Automatisch->setEnabled(true);
    Automatisch->setChecked(*state.on);
    TimerMeldung->hide();
    CronZeile->hide();
}

void WatchWindow::switchTimer(bool on) {
    if (const std::optional<std::string> problem = timer_->turn(on)) {
        const QSignalBlocker block(Automatisch);
        Automatisch->setChecked(!on);
        showTimerUnavailable(*problem);
        return;
    }
    readTimerState();
}

void WatchWindow::showTimerUnavailable(const std::string& problem) {
    QString text = QtText(timer_->unavailableText());
    if (!problem.empty())
        text += QStringLiteral(": ") + QtText(problem);
    text += QStringLiteral(".\n") + QtText(timer_->fallbackHint());
    TimerMeldung->setText(text);
    TimerMeldung->show();
    CronZeile->show();
}

} // namespace app
