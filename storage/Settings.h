#pragma once
// config.txt (two credentials) and domains.txt (the domain history). All throw toolkit::Error
// with a German message naming the file and the reason when a file cannot be read or written.

#include "app/contract/Window.h"

#include <string>
#include <vector>

namespace storage {

void LoadSettings(toolkit::Window& window);
void SaveSettings(toolkit::Window& window);
// A domains.txt that exists but cannot be read is marked unread in window.shared; RecordDomain
// then reads it again and, while that still fails, leaves it alone and throws.
void LoadHistory(toolkit::Window& window);
void RecordDomain(toolkit::Window& window);
void RemoveDuplicates(std::vector<std::string>& list);

} // namespace storage
