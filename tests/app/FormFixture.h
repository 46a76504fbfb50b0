#pragma once
// A TForm1 over a temporary program folder, with its message boxes recorded instead of shown.

#include "app/QtToolkit.h"
#include "app/Unit1.h"
#include "table/BacklinkTable.h"

#include <QAction>
#include <QColor>
#include <QDirIterator>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

// Types text into a widget key by key, also characters that have no key of their own.
inline void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// What Qt shows of a text set in `format`: markup rendered, an image as U+FFFC, so that a test
// sees outside text that Qt would not show as written.
inline QString Rendered(const QString& text, Qt::TextFormat format = Qt::AutoText) {
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// Contrast ratio of two colours by their relative luminance, as WCAG defines it.
inline double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

using Rows = std::vector<std::vector<std::string>>;

inline Rows Cells(const table::BacklinkTable& t) {
    Rows rows;
    for (std::int32_t row = 0; row < t.RowCount(); ++row)
        rows.push_back(t.RowCells(row));
    return rows;
}

inline testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" lacks \"" << part << '"';
}

// While a command runs, neither command button nor filter item may start anything.
inline void ExpectCommandsEnabled(app::TForm1& form, bool enabled) {
    EXPECT_EQ(form.busy(), !enabled);
    for (QPushButton* b : {form.Button1, form.Button3})
        EXPECT_EQ(b->isEnabled(), enabled) << b->objectName().toStdString();
    for (QAction* a : {form.BLgefunden1, form.BLnichtgefunden1, form.BLSpendertotFehler1, form.zurcksetzen1})
        EXPECT_EQ(a->isEnabled(), enabled) << a->objectName().toStdString();
}

struct ShownBox {
    app::QtMessageBox::Kind kind;
    std::string text;
};

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path().toStdString() + "/";
        app::QtMessageBox::setHook([this](app::QtMessageBox::Kind kind, const std::string& text) {
            boxes_.push_back({kind, text});
        });
    }
    void TearDown() override {
        form_.reset();
        app::QtMessageBox::setHook(nullptr);
        app::QtMessageBox::setNextAnswer(false);
    }

    app::TForm1& makeForm() { return makeFormIn(folder_); }
    app::TForm1& makeFormIn(const std::string& folder) {
        form_ = std::make_unique<app::TForm1>(folder);
        return *form_;
    }

    void writeFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(folder_ + name, std::ios::binary);
        out << bytes;
    }
    std::string readFile(const std::string& name) const {
        std::ifstream in(folder_ + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Every file below the program folder, relative to it.
    std::set<std::string> files() const {
        std::set<std::string> names;
        QDirIterator it(dir_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            names.insert(QDir(dir_.path()).relativeFilePath(it.next()).toStdString());
        return names;
    }

    QTemporaryDir dir_;
    std::string folder_;
    std::vector<ShownBox> boxes_;
    std::unique_ptr<app::TForm1> form_;
};
