#pragma once
// UTF-8 validity and the Windows-1252 fallback that older stored files and undeclared pages need.

#include <string>
#include <string_view>

namespace text {

// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// Windows-1252 bytes as UTF-8; the five bytes the code page leaves undefined become the C1
// controls, as Windows reads them. Throws toolkit::Error when the system lacks the charset.
std::string Windows1252ToUtf8(std::string_view bytes);

} // namespace text
