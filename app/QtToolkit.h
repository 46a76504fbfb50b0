#pragma once
// The toolkit contract implemented over Qt.

#include "app/contract/Toolkit.h"

#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <string>

class QComboBox;
class QUrl;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace app {

// Tahoma at pixel size 11, plain. Where Tahoma is missing Qt substitutes a font, and the
// metrics below then measure in the font the grid really uses.
QFont GridFont();

QString ToQString(const std::string& text);

// The application's mark, the same drawing as the desktop entry's icon.
QIcon ApplicationIcon();

class QtTextWidth final : public toolkit::TextWidth {
public:
    explicit QtTextWidth(const QFont& font = GridFont()) : metrics_(font) {}
    std::int32_t width(std::string_view text) const override;

private:
    QFontMetrics metrics_;
};

// Plain box: one OK button, no icon. Error box: the critical box. While a hook is set the boxes
// go to it instead of opening, so that no test waits on a modal box.
class QtMessageBox final : public toolkit::MessageBox {
public:
    enum class Kind { Message, Error };
    using Hook = std::function<void(Kind kind, const std::string& text)>;

    QtMessageBox(QWidget* parent, QString title);

    void showMessage(const std::string& text) override;
    void showError(const std::string& text) override;

    static void setHook(Hook hook);

private:
    QPointer<QWidget> parent_;
    QString title_;
};

// Opens an address in the desktop's browser. While a hook is set the address goes to it
// instead, so that no test starts a browser.
class UrlOpener {
public:
    using Hook = std::function<bool(const QUrl& url)>;
    static bool open(const QUrl& url); // false when the desktop could not open it
    static void setHook(Hook hook);
};

class QtWindowFields final : public toolkit::WindowFields {
public:
    struct Widgets {
        QComboBox* domain;
        QRadioButton* seokicks; // RadioButton1
        QRadioButton* xovi;     // XOVI
        QLineEdit* maxerg;
        QLineEdit* xoviApi;
        QLineEdit* seokicksCode;
        QWidget* window; // carries the caption
    };

    explicit QtWindowFields(const Widgets& widgets) : w_(widgets) {}

    std::string domainText() const override;
    std::vector<std::string> domainHistory() const override;
    void setDomainHistory(const std::vector<std::string>& entries) override;
    bool seokicksChosen() const override;
    bool xoviChosen() const override;
    std::string maxergText() const override;
    void setMaxergText(const std::string& text) override;
    std::string xoviApiText() const override;
    void setXoviApiText(const std::string& text) override;
    std::string seokicksText() const override;
    void setSeokicksText(const std::string& text) override;
    void setCaption(const std::string& text) override;

private:
    Widgets w_;
};

} // namespace app
