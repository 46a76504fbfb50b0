#include "app/Unit1.h"

#include "app/CategoryPanel.h"
#include "app/HistoryWindow.h"
#include "app/ImportDialog.h"
#include "app/ProgressStatus.h"
#include "app/SingleLine.h"
#include "app/TableModel.h"
#include "app/WatchWindow.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/render/PageRenderer.h"
#include "retrieval/ImportCommand.h"
#include "storage/ProgramFolder.h"
#include "storage/Settings.h"
#include "table/BacklinkTable.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

namespace app {

namespace {

template <typename W> W* place(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* b = place<QPushButton>(parent, name, left, top, 75, 25);
    b->setText(text);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, int left, int top, int width) {
    auto* e = place<QLineEdit>(parent, name, left, top, width, 21);
    e->setText(text);
    return e;
}

// Labels size themselves to their text, so that a font wider than the designed one (where
// Tahoma is missing) does not cut it off.
QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
              const QFont* font = nullptr) {
    auto* l = place<QLabel>(parent, name, left, top, width, 13);
    if (font != nullptr)
        l->setFont(*font);
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->resize(std::max(width, l->sizeHint().width()), 13);
    return l;
}

// Each radio button stays a tab stop of its own. Qt would otherwise make the pair one tab stop
// as soon as one of them had the focus.
class RadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void focusInEvent(QFocusEvent* event) override { QWidget::focusInEvent(event); }
};

// A check box's text over two lines: a click on it works the box as a click on the box does.
class BoxLabel final : public QLabel {
public:
    BoxLabel(QCheckBox* box, QWidget* parent) : QLabel(parent), box_(box) { setBuddy(box); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && box_->isEnabled() &&
            rect().contains(event->position().toPoint()))
            box_->click();
        QLabel::mouseReleaseEvent(event);
    }

private:
    QCheckBox* box_;
};

QFont boldLabelFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    return font;
}

} // namespace

TForm1::TForm1(std::string programFolder, QWidget* parent)
    : QMainWindow(parent), injectedFolder_(std::move(programFolder)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowIcon(ApplicationIcon());
    setFont(GridFont());
    buildControls();
    buildMenu();

    measure_ = std::make_unique<QtTextWidth>(StringGrid1->font());
    table_ = std::make_unique<table::BacklinkTable>(*measure_);
    model_ = new BacklinkModel(*table_, this);
    StringGrid1->setBacklinkModel(model_);

    fields_ = std::make_unique<QtWindowFields>(QtWindowFields::Widgets{
        Domainname, RadioButton1, XOVI, maxerg, xovi_api, seokicks, this, LabelVerlauf, Fortschritt});
    box_ = std::make_unique<QtMessageBox>(this, QStringLiteral("Quandrel Halmfang"));
    connect(StringGrid1, &StringGrid::linkRefused, this,
            [this](const QString& message) { guarded([&] { box_->showMessage(message.toStdString()); }); });
    window_ = std::make_unique<toolkit::Window>(
        toolkit::Window{shared_, *fields_, *box_, waiter_, *table_, Memo1, Memo3, Memo11});

    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    FormCreate();
    setPageRenderer(retrieval::FindHeadlessBrowser());
    // Saved as it changes, apart from "Speichern", which writes config.txt alone.
    connect(GleichzeitigeAbrufe, &QSpinBox::valueChanged, this, [this](int value) {
        guarded([&] { storage::SaveParallelFetches(shared_.programFolder, value); });
    });
    connect(BrowserPruefen, &QCheckBox::toggled, this,
            [this](bool on) { guarded([&] { storage::SaveBrowserCheck(shared_.programFolder, on); }); });
}

void TForm1::setPageRenderer(std::unique_ptr<retrieval::PageRenderer> renderer) {
    renderer_ = std::move(renderer);
    const bool found = renderer_ != nullptr;
    const QSignalBlocker quiet(BrowserPruefen); // the stored setting stays as the user left it
    BrowserPruefen->setEnabled(found);
    LabelBrowser->setEnabled(found);
    BrowserPruefen->setChecked(found && storage::LoadBrowserCheck(shared_.programFolder, true));
    HinweisBrowser->setVisible(!found);
    CategoryPanel2->setExpandedHeight(found ? 240 : 284);
}

// The model stops observing the table before the table goes.
TForm1::~TForm1() {
    StringGrid1->setModel(nullptr);
    delete model_;
}

void TForm1::buildControls() {
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    setCentralWidget(Panel2);
    auto* layout = new QHBoxLayout(Panel2);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);

    CategoryPanelGroup1 = new CategoryPanelGroup(Panel2);
    CategoryPanelGroup1->setObjectName(QStringLiteral("CategoryPanelGroup1"));
    CategoryPanelGroup1->setFixedWidth(200);
    CategoryPanelGroup1->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(CategoryPanelGroup1);

    auto* gridColumn = new QVBoxLayout;
    gridColumn->setSpacing(0);
    layout->addLayout(gridColumn, 1);
    StringGrid1 = new StringGrid(Panel2);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    gridColumn->addWidget(StringGrid1, 1);
    // What changed since the last Prüfe; hidden until there is something to say.
    LabelVerlauf = new QLabel(Panel2);
    LabelVerlauf->setObjectName(QStringLiteral("LabelVerlauf"));
    LabelVerlauf->setTextFormat(Qt::PlainText);
    LabelVerlauf->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    LabelVerlauf->setContentsMargins(4, 2, 4, 2);
    LabelVerlauf->hide();
    gridColumn->addWidget(LabelVerlauf);

    Abbrechen = new QPushButton(QStringLiteral("Abbrechen"), this);
    Abbrechen->setObjectName(QStringLiteral("Abbrechen"));
    Abbrechen->setAutoDefault(false);
    Abbrechen->setEnabled(false);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    Fortschritt = new ProgressStatus(statusBar());
    statusBar()->addPermanentWidget(Abbrechen);
    // Shown while a command runs; idle, the window keeps its designed client area.
    statusBar()->hide();
    connect(Abbrechen, &QPushButton::clicked, this, &TForm1::AbbrechenClick);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &TForm1::AbbrechenClick);

    CategoryPanel1 = CategoryPanelGroup1->addPanel(QStringLiteral("Checks"));
    CategoryPanel1->setObjectName(QStringLiteral("CategoryPanel1"));
    QWidget* checks = CategoryPanel1->content();

    Domainname = place<QComboBox>(checks, "Domainname", 10, 8, 145, 21);
    Domainname->setEditable(true);
    Domainname->setInsertPolicy(QComboBox::NoInsert);
    Domainname->completer()->setCaseSensitivity(Qt::CaseSensitive);
    Domainname->setEditText(QStringLiteral("Domainname"));

    XOVI = place<RadioButton>(checks, "XOVI", 10, 35, 63, 17);
    XOVI->setText(QStringLiteral("XOVI"));
    RadioButton1 = place<RadioButton>(checks, "RadioButton1", 79, 35, 76, 17);
    RadioButton1->setText(QStringLiteral("SEOKICKS"));

    Label21 = label(checks, "Label21", QStringLiteral("max. Ergebnisse"), 10, 80, 79);
    maxerg = edit(checks, "maxerg", QStringLiteral("100"), 9, 98, 88);
    Button1 = button(checks, "Button1", QStringLiteral("Check"), 10, 125);
    Button3 = button(checks, "Button3", QStringLiteral("Prüfe"), 91, 125);

    CategoryPanel2 = CategoryPanelGroup1->addPanel(QStringLiteral("Einstellungen"));
    CategoryPanel2->setObjectName(QStringLiteral("CategoryPanel2"));
    QWidget* settings = CategoryPanel2->content();

    const QFont bold = boldLabelFont();
    Label93 = label(settings, "Label93", QStringLiteral("XOVI-API-Key"), 9, 14, 79, &bold);
    xovi_api = edit(settings, "xovi_api", QStringLiteral("XOVI-API-Keys"), 8, 33, 121);
    Label1 = label(settings, "Label1", QStringLiteral("SEO-KICKS-Code"), 9, 62, 99, &bold);
    seokicks = edit(settings, "seokicks", QStringLiteral("SEO-KICKS-Code"), 8, 81, 121);
    Button2 = button(settings, "Button2", QStringLiteral("Speichern"), 96, 108);
    LabelAbrufe = label(settings, "LabelAbrufe", QStringLiteral("Gleichzeitige Abrufe"), 9, 139, 120);
    GleichzeitigeAbrufe = place<QSpinBox>(settings, "GleichzeitigeAbrufe", 8, 154, 60, 21);
    GleichzeitigeAbrufe->setRange(storage::kMinParallelFetches, storage::kMaxParallelFetches);
    const QString browserText = QStringLiteral("Seiten mit JavaScript im Browser nachprüfen");
    BrowserPruefen = place<QCheckBox>(settings, "BrowserPruefen", 8, 186, 17, 17);
    BrowserPruefen->setAccessibleName(browserText);
    LabelBrowser = new BoxLabel(BrowserPruefen, settings);
    LabelBrowser->setObjectName(QStringLiteral("LabelBrowser"));
    LabelBrowser->setGeometry(27, 184, 165, 28);
    LabelBrowser->setTextFormat(Qt::PlainText);
    LabelBrowser->setWordWrap(true);
    LabelBrowser->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelBrowser->setText(browserText);
    HinweisBrowser = place<QLabel>(settings, "HinweisBrowser", 27, 214, 165, 42);
    HinweisBrowser->setTextFormat(Qt::PlainText);
    HinweisBrowser->setWordWrap(true);
    HinweisBrowser->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    HinweisBrowser->setText(
        QStringLiteral("Kein Browser gefunden (chromium-headless-shell oder chromium installieren)"));
    CategoryPanel2->setCollapsed(true);

    for (QLineEdit* field : {Domainname->lineEdit(), maxerg, xovi_api, seokicks})
        MakeSingleLine(field);
    // The stored files know no length limit; a field that cut a loaded value would save it cut.
    for (QLineEdit* field : {Domainname->lineEdit(), xovi_api, seokicks})
        field->setMaxLength(std::numeric_limits<int>::max());

    // The added setting comes last, so that the designed order stays as it was.
    QWidget* const order[] = {XOVI,     maxerg,  Button1,  Domainname,  RadioButton1,        Button3,
                              xovi_api, Button2, seokicks, StringGrid1, GleichzeitigeAbrufe, BrowserPruefen};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);

    // Addresses pasted into the grid, or a list file dropped on the window, go to the import dialog.
    auto* paste = new QShortcut(QKeySequence::Paste, StringGrid1);
    paste->setContext(Qt::WidgetShortcut);
    connect(paste, &QShortcut::activated, this, [this] { importText(QApplication::clipboard()->text()); });
    setAcceptDrops(true);
}

void TForm1::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    Datei1 = bar->addMenu(QStringLiteral("Datei"));
    Datei1->setObjectName(QStringLiteral("Datei1"));
    Importieren1 = Datei1->addAction(QStringLiteral("Links importieren…"));
    Importieren1->setObjectName(QStringLiteral("Importieren1"));
    Verlauf1 = Datei1->addAction(QStringLiteral("Verlauf…"));
    Verlauf1->setObjectName(QStringLiteral("Verlauf1"));
    Ueberwachung1 = Datei1->addAction(QStringLiteral("Überwachung…"));
    Ueberwachung1->setObjectName(QStringLiteral("Ueberwachung1"));
    Beenden1 = Datei1->addAction(QStringLiteral("Beenden"));
    Beenden1->setObjectName(QStringLiteral("Beenden1"));

    ools1 = bar->addMenu(QStringLiteral("Tools"));
    ools1->setObjectName(QStringLiteral("ools1"));
    abelle1 = ools1->addMenu(QStringLiteral("Tabelle"));
    abelle1->setObjectName(QStringLiteral("abelle1"));
    Filter1 = abelle1->addMenu(QStringLiteral("Filter"));
    Filter1->setObjectName(QStringLiteral("Filter1"));
    BLgefunden1 = Filter1->addAction(QStringLiteral("BL gefunden"));
    BLgefunden1->setObjectName(QStringLiteral("BLgefunden1"));
    BLnichtgefunden1 = Filter1->addAction(QStringLiteral("BL nicht gefunden"));
    BLnichtgefunden1->setObjectName(QStringLiteral("BLnichtgefunden1"));
    BLSpendertotFehler1 = Filter1->addAction(QStringLiteral("BL-Spender tot / Fehler"));
    BLSpendertotFehler1->setObjectName(QStringLiteral("BLSpendertotFehler1"));
    zurcksetzen1 = Filter1->addAction(QStringLiteral("zurücksetzen"));
    zurcksetzen1->setObjectName(QStringLiteral("zurcksetzen1"));
    ools1->menuAction()->setVisible(false);

    connect(Importieren1, &QAction::triggered, this, &TForm1::Importieren1Click);
    connect(Verlauf1, &QAction::triggered, this, &TForm1::Verlauf1Click);
    connect(Ueberwachung1, &QAction::triggered, this, &TForm1::Ueberwachung1Click);
    connect(Beenden1, &QAction::triggered, this, &TForm1::Beenden1Click);
    connect(BLgefunden1, &QAction::triggered, this, &TForm1::BLgefunden1Click);
    connect(BLnichtgefunden1, &QAction::triggered, this, &TForm1::BLnichtgefunden1Click);
    connect(BLSpendertotFehler1, &QAction::triggered, this, &TForm1::BLSpendertotFehler1Click);
    connect(zurcksetzen1, &QAction::triggered, this, &TForm1::zurcksetzen1Click);
}

void TForm1::showError(const std::string& text) noexcept {
    try {
        box_->showError(text);
    } catch (...) {
        // Nothing is left to tell the user with.
    }
}

void TForm1::FormCreate() {
    bool folderSet = false;
    guarded([this, &folderSet] {
        const bool chosen = injectedFolder_.empty();
        std::string folder = injectedFolder_;
        if (chosen)
            folder = storage::ChooseProgramFolder(QCoreApplication::applicationDirPath().toStdString(),
                                                  storage::BuiltInLayout(), std::getenv("XDG_DATA_HOME"),
                                                  std::getenv("HOME"));
        if (folder.empty() || folder.back() != '/')
            folder += '/';
        shared_.programFolder = folder;
        shared_.titleText = toolkit::kTitleText;
        fields_->setCaption(shared_.titleText);
        // The user's data folder of an installed program may not exist yet; a folder beside the
        // executable always does.
        if (chosen)
            storage::MakeDataFolder(shared_);
        folderSet = true;
    });
    if (!folderSet)
        return;
    // Each file has its own error box: a broken config.txt does not keep the history from loading,
    // which a later "Check" would otherwise replace. The window opens all the same.
    guarded([this] { storage::LoadSettings(*window_); });
    guarded([this] { storage::LoadHistory(*window_); });
    GleichzeitigeAbrufe->setValue(storage::LoadParallelFetches(shared_.programFolder));
}

TForm1::CommandScope::CommandScope(TForm1& form) : form_(form) {
    form_.busy_ = true;
    form_.statusBar()->show();
    form_.setCommandsEnabled(false);
    // A scheduled run at work in the same folder would share its politeness per host, its
    // domain list and its report names: the command waits for it, or does not start.
    folderLock_ = storage::FolderLock::Acquire(form_.shared_.programFolder, std::chrono::milliseconds(0));
    if (folderLock_ || !form_.box_->askYesNo(kFolderBusyQuestion))
        return;
    form_.fields_->setProgress({0, 1, kFolderBusyWaiting});
    try {
        while (!(folderLock_ =
                     storage::FolderLock::Acquire(form_.shared_.programFolder, std::chrono::milliseconds(0))))
            form_.waiter_.pacedWait(250);
    } catch (const toolkit::Cancelled&) {
        // "Abbrechen", Esc or a closing window: the command does not start.
    }
    form_.fields_->setProgress({});
}

TForm1::CommandScope::~CommandScope() {
    form_.busy_ = false;
    form_.fields_->setProgress({});
    form_.statusBar()->hide();
    form_.setCommandsEnabled(true);
    if (form_.stopping_ && !form_.closing_)
        form_.waiter_.reset();
    form_.stopping_ = false;
    if (form_.closing_)
        form_.finishClose();
}

void TForm1::setCommandsEnabled(bool enabled) {
    for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button3)})
        w->setEnabled(enabled);
    for (QAction* a : {Importieren1, BLgefunden1, BLnichtgefunden1, BLSpendertotFehler1, zurcksetzen1})
        a->setEnabled(enabled);
    Abbrechen->setEnabled(!enabled);
}

void TForm1::AbbrechenClick() {
    if (!busy_ || closing_ || stopping_)
        return;
    stopping_ = true;
    waiter_.abort();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (busy_) {
        requestClose(false);
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TForm1::requestClose(bool quitAfterwards) {
    closing_ = true;
    quitAfterClose_ = quitAfterClose_ || quitAfterwards;
    waiter_.abort();
}

// The command has unwound: nothing of it runs on when the window goes.
void TForm1::finishClose() {
    const bool quit = quitAfterClose_;
    closing_ = false;
    quitAfterClose_ = false;
    waiter_.reset();
    close();
    if (quit)
        QCoreApplication::quit();
}

retrieval::KeepGoing TForm1::fetchHook() {
    return [this] { return !closing_ && !stopping_; };
}

retrieval::CheckSetup TForm1::checkSetup() {
    retrieval::CheckSetup setup;
    setup.seokicksBase = checkConnection.seokicksBase;
    setup.xoviBase = checkConnection.xoviBase;
    setup.tlsTransport = &IdSSLIOHandlerSocketOpenSSL1;
    setup.stopped = [this] { return stopping_ && !closing_; };
    setup.makeClient = [this](const retrieval::TlsTransport* tls) {
        retrieval::FetchOptions options = checkConnection.fetch;
        options.tlsTransportAttached = tls != nullptr;
        return std::make_unique<retrieval::CurlHttpClient>(options, fetchHook(), &events_);
    };
    return setup;
}

void TForm1::Button1Click() {
    if (busy_)
        return;
    CommandScope scope(*this);
    if (!scope.ownsFolder())
        return;
    guarded([this] { retrieval::RunCheck(*window_, checkSetup()); });
}

void TForm1::Button2Click() {
    guarded([this] { storage::SaveSettings(*window_); });
}

void TForm1::Button3Click() {
    if (busy_)
        return;
    CommandScope scope(*this);
    if (!scope.ownsFolder())
        return;
    guarded([this] {
        // A page whose fetch the closing window or "Abbrechen" cut short did not fail: its row stays
        // unmarked.
        retrieval::KeepGoing keepGoing = [hook = fetchHook()] {
            if (!hook())
                throw toolkit::Cancelled();
            return true;
        };
        const auto newEvents = [] { return std::make_unique<QtEventSource>(); };
        retrieval::CurlPageFetches sideBySide(pageFetch, keepGoing, newEvents);
        retrieval::CurlPageFetches robotsSideBySide(robotsFetch, keepGoing, newEvents);
        const bool browser = BrowserPruefen->isChecked();
        retrieval::RunCrossCheck(
            *window_, {retrieval::MakeCurlPageFetcher(pageFetch, keepGoing, &events_), &sideBySide,
                       GleichzeitigeAbrufe->value(), [this] { return stopping_ && !closing_; },
                       retrieval::MakeCurlPageFetcher(robotsFetch, keepGoing, &events_), &robotsSideBySide,
                       browser ? renderer_.get() : nullptr, renderer_ != nullptr && !browser});
    });
}

void TForm1::Importieren1Click() {
    guarded([this] {
        const QString path = ImportDialog::askPath(this);
        if (!path.isEmpty())
            importFile(path);
    });
}

void TForm1::importFile(const QString& path) {
    showImport([&path](ImportDialog& dialog) { dialog.openFile(path); });
}

void TForm1::importText(const QString& text) {
    showImport([&text](ImportDialog& dialog) { dialog.openText(text); });
}

// The dialog reads the list and shows it; "Importieren" fills the table as a command does.
void TForm1::showImport(const std::function<void(ImportDialog&)>& open) {
    if (busy_)
        return;
    guarded([&] {
        auto* dialog = new ImportDialog(*table_, Domainname->currentText().toStdString(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        open(*dialog);
        connect(dialog, &QDialog::accepted, this, [this, dialog] {
            if (busy_ || dialog->list() == nullptr)
                return;
            CommandScope scope(*this);
            if (!scope.ownsFolder())
                return;
            guarded([&] { retrieval::RunImport(*window_, *dialog->list(), dialog->roles()); });
        });
        dialog->open();
    });
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy_ && event->mimeData()->hasUrls() && event->mimeData()->urls().value(0).isLocalFile())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QUrl url = event->mimeData()->urls().value(0);
    if (!url.isLocalFile())
        return;
    event->acceptProposedAction();
    importFile(url.toLocalFile());
}

// A window of its own per click, for the domain in the field; it goes when closed.
void TForm1::Verlauf1Click() {
    guarded([this] {
        auto* history = new HistoryWindow(shared_.programFolder, Domainname->currentText(), this);
        history->setAttribute(Qt::WA_DeleteOnClose);
        history->show();
    });
}

// The watch list, with the domain, service and max of the window ready to add.
void TForm1::Ueberwachung1Click() {
    guarded([this] {
        auto* watch = new WatchWindow(shared_.programFolder, Domainname->currentText(),
                                      XOVI->isChecked() ? QStringLiteral("xovi") : QStringLiteral("seokicks"),
                                      maxerg->text(), this);
        watch->setAttribute(Qt::WA_DeleteOnClose);
        watch->show();
    });
}

void TForm1::Beenden1Click() {
    guarded([this] {
        if (busy_)
            requestClose(true);
        else
            QCoreApplication::quit();
    });
}

void TForm1::filterByStatus(std::string_view status) {
    if (busy_)
        return;
    guarded([this, status] { filter_.FilterRows(*table_, table_->Col(), std::string(status)); });
}

void TForm1::BLgefunden1Click() {
    filterByStatus(retrieval::kStatusFound);
}

void TForm1::BLnichtgefunden1Click() {
    filterByStatus(retrieval::kStatusNotFound);
}

void TForm1::BLSpendertotFehler1Click() {
    filterByStatus(retrieval::kStatusError);
}

void TForm1::zurcksetzen1Click() {
    if (busy_)
        return;
    guarded([this] { filter_.RestoreRows(*table_); });
}

} // namespace app
