#pragma once
// What the commands share: the process-wide values owned by the window module and the parts of
// the window they work on. TForm1 builds one; tests build one over fakes.

#include "app/contract/LineBuffer.h"
#include "app/contract/Toolkit.h"

#include <string>

namespace table {
class BacklinkTable;
}

namespace toolkit {

inline constexpr const char* kTitleText = "Quandrel Halmfang 0.1b";

struct Shared {
    std::string programFolder; // directory of the executable, ending with '/'
    std::string titleText = kTitleText;
    std::string reportPath; // the report file being written
    // domains.txt or config.txt exists but could not be read, or its folder could not be made or
    // found, so the drop-down list or the credential fields may lack what it holds.
    bool historyUnread = false;
    bool settingsUnread = false;
};

struct Window {
    Shared& shared;
    WindowFields& fields;
    MessageBox& box;
    PacedWaiter& waiter;
    table::BacklinkTable& table;
    LineBuffer& memo1;
    LineBuffer& memo3;
    LineBuffer& memo11;
};

} // namespace toolkit
