// Files by UTF-8 path, closed on every path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace qern {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// fopen by a UTF-8 path (wide-character functions on Windows).
FileHandle open_file(const std::string& path, const char* mode);
// Deletes a file; returns true when it was deleted.
bool remove_file(const std::string& path);
// Renames `from` to `to`, replacing `to` if it exists. Returns true on success.
bool replace_file(const std::string& from, const std::string& to);

// True when `path` was last modified before `reference` was (modification
// times to the file system's precision: nanoseconds, 100 ns on Windows);
// false when they are equal or either time cannot be read.
bool modified_before(const std::string& path, const std::string& reference);

// True when `a` and `b` name one file: when both exist, the same file
// (device and inode; volume and file index on Windows), whatever the
// spelling, links included; when neither exists, the same name in the same
// folder (letter case ignored on Windows), the file one of them would
// create. False when only one exists.
bool names_same_file(const std::string& a, const std::string& b);

// Moves the position of `file` by `offset` bytes (64-bit on every platform).
// Returns true on success.
bool seek_relative(std::FILE* file, std::int64_t offset);
// The position of `file` in bytes from its start, -1 when it cannot be told;
// and a move to such a position (false on failure).
std::int64_t file_position(std::FILE* file);
bool seek_to(std::FILE* file, std::int64_t position);
// The number of bytes from the current position to the end of `file`, the
// position unchanged; -1 when it cannot be told.
std::int64_t bytes_remaining(std::FILE* file);

}  // namespace qern

namespace qern {
// A name beside `path` that no other process uses at the same time, for
// writing a file completely before it is renamed into place.
std::string temporary_path_for(const std::string& path);
}  // namespace qern
