#pragma once
// The main window TForm1 with its controls, menu, hidden buffers and the values the commands
// share.

#include "app/QtToolkit.h"
#include "app/contract/Error.h"
#include "app/contract/LineBuffer.h"
#include "app/contract/Window.h"

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QWidget;

namespace table {
class BacklinkTable;
}

namespace app {

class BacklinkModel;
class CategoryPanel;
class CategoryPanelGroup;
class StringGrid;

// Settings of the TLS transport that the Check command attaches to the SEOkicks client:
// mode unassigned, no certificate verification, depth 0, port 0.
struct TlsTransport {
    enum class Mode { Unassigned, Client, Server, Both };
    Mode mode = Mode::Unassigned;
    std::vector<std::string> verifyMode; // empty: no verification
    int verifyDepth = 0;
    int port = 0;
};

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
    void Beenden1Click();
    void BLgefunden1Click();
    void BLnichtgefunden1Click();
    void BLSpendertotFehler1Click();
    void zurcksetzen1Click();

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
    StringGrid* StringGrid1;

    QMenu* Datei1;
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
    TlsTransport IdSSLIOHandlerSocketOpenSSL1;

private:
    void buildControls();
    void buildMenu();
    void showError(const std::string& text) noexcept;

    std::string injectedFolder_;
    toolkit::Shared shared_;
    std::unique_ptr<QtTextWidth> measure_;
    std::unique_ptr<table::BacklinkTable> table_;
    std::unique_ptr<QtWindowFields> fields_;
    std::unique_ptr<QtMessageBox> box_;
    UnbuiltPacedWaiter waiter_;
    std::unique_ptr<toolkit::Window> window_;
    BacklinkModel* model_ = nullptr;
};

template <typename Body> void TForm1::guarded(Body&& body) noexcept {
    try {
        body();
    } catch (const toolkit::Cancelled&) {
        // The window is closing; the command ends without a word.
    } catch (const std::exception& error) {
        showError(error.what());
    } catch (...) {
        showError("Unbekannter Fehler");
    }
}

} // namespace app
