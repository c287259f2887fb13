// Finder comments of files, kept in the extended attribute "user.xdg.comment"
// (the freedesktop convention), read and written as raw bytes.
#pragma once

#include <string>

// The name of the extended attribute that holds a file's comment.
constexpr const char* kFinderCommentAttribute = "user.xdg.comment";

// The file's comment; an empty text when it has none or it cannot be read (no such
// file, no extended attributes on its file system).
std::string ReadFinderCommentFromFile(const std::string& path);

// Sets the file's comment (an empty comment removes the attribute). Tries up to 11
// times and stops as soon as an attempt succeeds and reading back gives exactly the
// comment. Reports nothing: a failure is silent.
void WriteFinderComment(const std::string& comment, const std::string& path);
