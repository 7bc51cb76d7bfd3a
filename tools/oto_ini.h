// Reading a voicebank's oto.ini files: code page 932 or UTF-8 (with or
// without a byte-order mark), decoded with the platform's own converters,
// every line either an entry with its sample resolved beside the file or a
// problem that says why it could not be read.
#pragma once

#include <string>
#include <vector>

#include "tools/sample_inspection.h"

namespace qern {

// One line "name.wav=alias,offset,consonant,cutoff,preutterance,overlap".
struct OtoEntry {
    int line_number = 0;          // from 1
    std::string sample_name;      // as written before the "=", UTF-8
    std::string sample_path;      // the oto.ini's folder joined with sample_name, UTF-8
    std::string alias;            // UTF-8, may be empty
    OtoRegions regions;
};

// A line that holds no entry: undecodable bytes, no "=", no sample name, or
// numbers that do not read.
struct OtoLineProblem {
    int line_number = 0;
    std::string text;    // the line, UTF-8 where it could be decoded, else with '?' for the bytes
    std::string reason;
};

enum class OtoEncoding { UTF8, UTF8_WITH_BOM, CP932 };

struct OtoFile {
    std::string path;                     // UTF-8
    std::string folder;                   // the folder the sample names are relative to, UTF-8
    OtoEncoding encoding = OtoEncoding::UTF8;
    std::vector<OtoEntry> entries;        // in line order
    std::vector<OtoLineProblem> problems; // in line order
};

// Converts code page 932 bytes to UTF-8 with the platform's converter (iconv,
// or MultiByteToWideChar on Windows). Returns false, leaving `utf8` empty,
// for bytes that are not valid code page 932.
bool cp932_to_utf8(const std::string& cp932, std::string& utf8);

// True when `bytes` are well-formed UTF-8 (ASCII included).
bool is_valid_utf8(const std::string& bytes);

// Reads the oto.ini text `bytes` of a file at `path`: UTF-8 when it starts
// with a byte-order mark or is valid UTF-8 as a whole, else code page 932,
// each line decoded on its own so that one bad line spoils only itself.
// Empty lines are passed over.
OtoFile parse_oto_text(const std::string& path, const std::string& bytes);

// Reads the oto.ini file at `path` (UTF-8). Returns false when the file
// cannot be read at all.
bool read_oto_file(const std::string& path, OtoFile& oto);

// The oto.ini files under `folder` and its subfolders (any letter case of
// the name), sorted UTF-8 paths.
std::vector<std::string> find_oto_files(const std::string& folder);

// The name of the encoding, for reports.
const char* oto_encoding_name(OtoEncoding encoding);

}  // namespace qern
