#pragma once
// File helpers for the stored text files: reading with encoding detection, line splitting,
// atomic replacement and directory creation. Failures throw toolkit::Error with a German message
// that names the file and the system's reason.

#include <initializer_list>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace storage {

// Program folder + a relative literal such as "\reporting\seokicks\"; backslashes become '/'.
// The separator that the folder's trailing '/' and the literal's leading one would double is
// written once; an empty folder stands for the working directory.
std::string ProgramPath(const std::string& programFolder, std::string_view literal);

bool FileExists(const std::string& path);      // a regular file (or a link to one)
bool DirectoryExists(const std::string& path); // a directory (or a link to one)

// Creates every missing level of `path` from the top down. A level that cannot be created is
// passed over; returns whether the full path is a directory afterwards.
bool MakeMissingDirectories(const std::string& path);

// The whole file as it is stored.
std::string ReadFileBytes(const std::string& path);

// Lines ended by CR LF or a lone LF; a lone CR stays inside its line. A final line end adds no
// empty line; an empty text has no lines.
std::vector<std::string> SplitFileLines(std::string_view text);

// A stored line list as UTF-8 lines: a leading UTF-8 byte order mark is dropped, the bytes are
// split as by SplitFileLines, and each line that is valid UTF-8 stays as it is while any other
// line is taken as Windows-1252. Decided per line, since an older file may have got lines of a
// newer version appended.
std::vector<std::string> DecodeFileLines(std::string_view bytes);

// ReadFileBytes + DecodeFileLines.
std::vector<std::string> ReadFileLines(const std::string& path);

// Every line followed by CR LF.
std::string JoinCrLf(const std::vector<std::string>& lines);

// Replaces `path` with `data`: a temporary file beside it is written, flushed to disk and renamed
// over the old file, so that a failure leaves the old file as it was and no partial file behind.
// The new file gets exactly `mode`. Where `path` is a symbolic link (or a chain of them), the file
// it ends in is replaced that way instead and the links stay; that file keeps its own mode, and
// gets `mode` only when a dangling link makes it new.
void WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode = 0644);
// The same with the data given in pieces, written one after the other.
void WriteFileAtomic(const std::string& path, std::initializer_list<std::string_view> pieces,
                     mode_t mode = 0644);

} // namespace storage
