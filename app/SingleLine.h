#pragma once
// Single-line fields never hold a line break: a key pasted with its trailing line break would
// otherwise take two lines of config.txt, a domain two history entries.

class QLineEdit;

namespace app {

// CR and LF are removed from the field's text whichever way it enters: typing, paste, drag and
// drop, and setText from code.
void MakeSingleLine(QLineEdit* edit);

} // namespace app
