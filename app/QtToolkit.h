#pragma once
// The toolkit contract implemented over Qt.

#include "app/QtText.h"
#include "app/contract/Toolkit.h"

#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QComboBox;
class QLabel;
class QUrl;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace app {

class ProgressStatus;

// Tahoma at pixel size 11, plain. Where Tahoma is missing Qt substitutes a font, and the
// metrics below then measure in the font the grid really uses.
QFont GridFont();

// The application's mark, the same drawing as the desktop entry's icon.
QIcon ApplicationIcon();

// Width of a text in the given font as a plain text-extent measure gives it: the sum of the
// characters' advances without kerning, rounded once at the end as Qt rounds a drawn line.
// Texts made only of characters that need no shaping (see AddsUp) are summed from a table of
// advances that learns each character once; any other text (combining marks, characters beyond
// the table, right-to-left and complex scripts, controls, invalid UTF-8) goes through Qt's full
// shaping, still without kerning. The sum forms no ligatures where the font has some (fi, fl),
// as a text-extent measure forms none. Not for use from two threads at once.
class QtTextWidth final : public toolkit::TextWidth {
public:
    explicit QtTextWidth(const QFont& font = GridFont());
    std::int32_t width(std::string_view text) const override;

private:
    // Whether a character takes its own advance whatever stands beside it.
    static bool AddsUp(char32_t character);
    static QFont WithoutKerning(QFont font);
    std::int32_t shapedWidth(std::string_view text) const;
    std::int32_t learn(char32_t character) const;

    QFont font_;
    QFontMetrics metrics_;
    // Advance in 1/64 px (Qt's fixed point) per code point below the table's end; kUnknown until
    // looked at, kShaped for a character outside the rule.
    mutable std::vector<std::int32_t> advances_;

    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    // Shaping costs microseconds per text, and a column such as the anchor texts repeats a few
    // texts over and over. Bounded: cleared when full.
    static constexpr std::size_t kShapedEntries = 4096;
    mutable std::unordered_map<std::string, std::int32_t, TextHash, std::equal_to<>> shaped_;
};

// Plain box: one OK button, no icon. Error box: the critical box. Question: "Ja" and "Nein".
// While a hook is set the boxes go to it instead of opening, so that no test waits on a modal
// box; a question then gets the answer set by setNextAnswer, once, and "Nein" after that.
class QtMessageBox final : public toolkit::MessageBox {
public:
    enum class Kind { Message, Error, Question };
    using Hook = std::function<void(Kind kind, const std::string& text)>;

    QtMessageBox(QWidget* parent, QString title);

    void showMessage(const std::string& text) override;
    void showError(const std::string& text) override;
    bool askYesNo(const std::string& question) override;

    static void setHook(Hook hook);
    static void setNextAnswer(bool yes);

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
        QLabel* statusLine; // under the grid: the summary of the last Prüfe
        ProgressStatus* progress = nullptr; // in the status bar
    };

    explicit QtWindowFields(const Widgets& widgets) : w_(widgets) {}

    std::string domainText() const override;
    void setDomainText(const std::string& text) override;
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
    void setStatusLine(const std::string& text) override;
    void setProgress(const toolkit::Progress& progress) override;

private:
    Widgets w_;
};

} // namespace app
