#pragma once
// The main window TForm1 with its controls, menu, hidden buffers and the values the commands
// share.

#include "app/PacedWait.h"
#include "app/QtEventSource.h"
#include "app/QtToolkit.h"
#include "app/contract/Error.h"
#include "app/contract/LineBuffer.h"
#include "app/contract/Window.h"
#include "app/filter/TableFilter.h"
#include "retrieval/CheckCommand.h"
#include "retrieval/SiteRobots.h"
#include "retrieval/http/HttpFetch.h"
#include "retrieval/http/PageFetch.h"
#include "storage/FolderLock.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QAction;
class QCheckBox;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace table {
class BacklinkTable;
}
namespace retrieval {
class PageRenderer;
}

namespace app {

inline constexpr const char* kFolderBusyQuestion =
    "Ein Lauf ohne Fenster arbeitet gerade in diesem Ordner (etwa die geplante Überwachung). Zwei Läufe "
    "zugleich würden sich stören.\n\nAuf sein Ende warten? Mit „Nein“ können Sie es später erneut "
    "versuchen.";
inline constexpr const char* kFolderBusyWaiting = "Warte, bis der Lauf ohne Fenster den Ordner freigibt …";

class BacklinkModel;
class CategoryPanel;
class CategoryPanelGroup;
class ImportDialog;
class ProgressStatus;
class StringGrid;

class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 736;
    static constexpr int kClientHeight = 373;

    // An empty programFolder means the directory of the running executable.
    explicit TForm1(std::string programFolder = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    toolkit::Shared& shared() { return shared_; }
    toolkit::Window& window() { return *window_; }
    table::BacklinkTable& table() { return *table_; }

    // Runs a handler body; an error it lets out goes to the error box and the event loop
    // goes on.
    template <typename Body> void guarded(Body&& body) noexcept;

    void FormCreate();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Importieren1Click();
    // The import dialog for a file (dropped on the window) or the clipboard's text (Ctrl+V on the grid).
    void importFile(const QString& path);
    void importText(const QString& text);
    void Verlauf1Click();
    void Ueberwachung1Click();
    void Beenden1Click();
    void BLgefunden1Click();
    void BLnichtgefunden1Click();
    void BLSpendertotFehler1Click();
    void zurcksetzen1Click();
    // "Abbrechen" and Esc: stops the running Check or Prüfe (see retrieval::CrossCheckSetup).
    void AbbrechenClick();

    QWidget* Panel2;
    CategoryPanelGroup* CategoryPanelGroup1;
    CategoryPanel* CategoryPanel1;
    CategoryPanel* CategoryPanel2;
    QComboBox* Domainname;
    QRadioButton* XOVI;
    QRadioButton* RadioButton1;
    QLabel* Label21;
    QLineEdit* maxerg;
    QPushButton* Button1;
    QPushButton* Button3;
    QLabel* Label93;
    QLineEdit* xovi_api;
    QLabel* Label1;
    QLineEdit* seokicks;
    QPushButton* Button2;
    QLabel* LabelAbrufe;
    QSpinBox* GleichzeitigeAbrufe; // pages a "Prüfe" fetches at once, 1 to 16, kept in abrufe.txt
    // "Seiten mit JavaScript im Browser nachprüfen", kept in browser.txt; its text is LabelBrowser,
    // which wraps. Without a browser it is off and disabled, and HinweisBrowser says why.
    QCheckBox* BrowserPruefen;
    QLabel* LabelBrowser;
    QLabel* HinweisBrowser;
    StringGrid* StringGrid1;
    QLabel* LabelVerlauf;        // the summary line of the last Prüfe, under the grid
    QPushButton* Abbrechen;      // in the status bar; enabled only while a command runs
    ProgressStatus* Fortschritt; // the status bar's progress bar, page and times

    QMenu* Datei1;
    QAction* Importieren1;
    QAction* Verlauf1;
    QAction* Ueberwachung1;
    QAction* Beenden1;
    QMenu* ools1;
    QMenu* abelle1;
    QMenu* Filter1;
    QAction* BLgefunden1;
    QAction* BLnichtgefunden1;
    QAction* BLSpendertotFehler1;
    QAction* zurcksetzen1;

    toolkit::LineBuffer Memo1;
    toolkit::LineBuffer Memo3;
    toolkit::LineBuffer Memo11;
    // Mode unassigned, no certificate verification, depth 0, port 0.
    retrieval::TlsTransport IdSSLIOHandlerSocketOpenSSL1;

    // Where "Check" sends its requests and how it fetches. The program keeps these defaults;
    // tests point them at servers of their own.
    struct CheckConnection {
        std::string seokicksBase = retrieval::kSeokicksBase;
        std::string xoviBase = retrieval::kXoviBase;
        retrieval::FetchOptions fetch;
    };
    CheckConnection checkConnection;
    // How "Prüfe" fetches the linking pages; tests trust their own certificate or shorten the
    // time-outs here.
    retrieval::FetchOptions pageFetch = retrieval::PageFetchOptions();
    // The same for the robots.txt of the hosts whose pages link to the domain.
    retrieval::FetchOptions robotsFetch = retrieval::RobotsFetchOptions();

    // The snapshot of the Tools > Tabelle > Filter items, kept until a reset.
    const filter::TableFilter& tableFilter() const { return filter_; }

    // A command ("Check", "Prüfe") is running.
    bool busy() const { return busy_; }

    // The browser that "Prüfe" shows pages built with scripts in (null: none); the window finds
    // one at its start, tests put in their own. Sets the check box to match.
    void setPageRenderer(std::unique_ptr<retrieval::PageRenderer> renderer);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // While a command runs, the commands and the filter items start nothing. Asked to close
    // meanwhile, the window ends the command at its next step and closes once it has unwound.
    class CommandScope {
    public:
        explicit CommandScope(TForm1& form);
        ~CommandScope();
        CommandScope(const CommandScope&) = delete;
        CommandScope& operator=(const CommandScope&) = delete;
        // Whether the command may run: it holds the program folder. When a run without a window
        // holds it, the user is asked whether to wait; the wait shows in the status bar and ends
        // with "Abbrechen".
        bool ownsFolder() const { return folderLock_ != nullptr; }

    private:
        TForm1& form_;
        // Keeps a scheduled run off the program folder meanwhile.
        std::unique_ptr<storage::FolderLock> folderLock_;
    };

    void buildControls();
    void buildMenu();
    void showError(const std::string& text) noexcept;
    void setCommandsEnabled(bool enabled);
    void requestClose(bool quitAfterwards);
    void finishClose();
    // For every fetch of a command: the fetch is aborted once the window is asked to close. The
    // window repaints and takes events meanwhile, since the fetch waits in events_.
    retrieval::KeepGoing fetchHook();
    retrieval::CheckSetup checkSetup();
    void filterByStatus(std::string_view status);
    void showImport(const std::function<void(ImportDialog&)>& open);

    std::string injectedFolder_;
    toolkit::Shared shared_;
    std::unique_ptr<QtTextWidth> measure_;
    std::unique_ptr<table::BacklinkTable> table_;
    std::unique_ptr<QtWindowFields> fields_;
    std::unique_ptr<QtMessageBox> box_;
    QtPacedWaiter waiter_;
    // Drives the transfers of the commands, one at a time, in every event loop that runs.
    QtEventSource events_;
    std::unique_ptr<toolkit::Window> window_;
    BacklinkModel* model_ = nullptr;
    filter::TableFilter filter_;
    std::unique_ptr<retrieval::PageRenderer> renderer_;
    bool busy_ = false;
    bool closing_ = false;  // asked to close while a command runs
    bool stopping_ = false; // "Abbrechen" while a command runs
    bool quitAfterClose_ = false;
};

template <typename Body> void TForm1::guarded(Body&& body) noexcept {
    try {
        body();
    } catch (const toolkit::Cancelled&) {
        // The window is closing or the user stopped the command; it ends without a word.
    } catch (const std::exception& error) {
        // A fetch aborted for the closing window fails too; that is no news to the user.
        if (!closing_ && !stopping_)
            showError(error.what());
    } catch (...) {
        if (!closing_ && !stopping_)
            showError("Unbekannter Fehler");
    }
}

} // namespace app
