#pragma once
// Fakes of the window and temporary program folders for the storage tests.

#include "app/contract/Error.h"
#include "app/contract/Window.h"
#include "table/BacklinkTable.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace storage_test {

using Lines = std::vector<std::string>;

class FakeFields : public toolkit::WindowFields {
public:
    std::string domain = "Domainname";
    std::vector<std::string> history;
    int historySets = 0;
    std::string maxerg = "1000";
    std::string xoviApi = "XOVI-API-Keys";
    std::string seokicks = "SEO-KICKS-Code";
    std::string caption;
    Lines* log = nullptr;         // gets every caption, when set
    Lines* progressLog = nullptr; // gets every progress report as "done/total current", when set

    std::string domainText() const override { return domain; }
    void setDomainText(const std::string& text) override { domain = text; }
    std::vector<std::string> domainHistory() const override { return history; }
    void setDomainHistory(const std::vector<std::string>& entries) override {
        history = entries;
        ++historySets;
    }
    bool seokicksChosen() const override { return true; }
    bool xoviChosen() const override { return false; }
    std::string maxergText() const override { return maxerg; }
    void setMaxergText(const std::string& text) override { maxerg = text; }
    std::string xoviApiText() const override { return xoviApi; }
    void setXoviApiText(const std::string& text) override { xoviApi = text; }
    std::string seokicksText() const override { return seokicks; }
    void setSeokicksText(const std::string& text) override { seokicks = text; }
    void setCaption(const std::string& text) override {
        caption = text;
        if (log)
            log->push_back("caption " + text);
    }
    void setProgress(const toolkit::Progress& p) override {
        if (progressLog)
            progressLog->push_back(std::to_string(p.done) + "/" + std::to_string(p.total) + " " + p.current);
    }
};

class FakeBox : public toolkit::MessageBox {
public:
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::vector<std::string> questions; // each answered "Nein"
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void showError(const std::string& text) override { errors.push_back(text); }
    bool askYesNo(const std::string& question) override {
        questions.push_back(question);
        return false;
    }
};

// Returns at once; notes each wait in `log` and runs `during` inside it, as a window event would.
class ScriptedWait : public toolkit::PacedWaiter {
public:
    Lines* log = nullptr;
    std::function<void()> during;
    void pacedWait(std::int32_t milliseconds) override {
        if (log)
            log->push_back("wait " + std::to_string(milliseconds));
        if (during)
            during();
    }
};

class CharWidth : public toolkit::TextWidth {
public:
    std::int32_t width(std::string_view text) const override {
        return static_cast<std::int32_t>(text.size()) * 7;
    }
};

// A fresh program folder (path ends with '/'), removed with its content afterwards.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qh-storage-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern + "/";
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Everything a command needs, over fakes, in a temporary program folder.
struct Harness {
    TempFolder folder;
    toolkit::Shared shared;
    FakeFields fields;
    FakeBox box;
    ScriptedWait waiter;
    CharWidth measure;
    table::BacklinkTable table{measure};
    toolkit::LineBuffer memo1, memo3, memo11;
    toolkit::Window window{shared, fields, box, waiter, table, memo1, memo3, memo11};

    Harness() { shared.programFolder = folder.path(); }
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        ADD_FAILURE() << "cannot open " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string DataFile(const std::string& name) {
    return std::string(QH_TEST_DATA_DIR) + "/storage/" + name;
}

inline std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline Lines ColumnNotes(const table::BacklinkTable& table, std::int32_t col) {
    Lines notes;
    for (std::int32_t row = 0; row < table.RowCount(); ++row)
        notes.push_back(table.GetCellNote(col, row));
    return notes;
}

// The message of the toolkit::Error that `action` throws.
inline std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const toolkit::Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no toolkit::Error thrown";
    return {};
}

// Makes every write beyond `bytes` fail with EFBIG, as a full disk would, for its lifetime.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

} // namespace storage_test
