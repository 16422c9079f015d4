#pragma once

// The unsafe-name table that the archive tests' fixture script writes
// (unsafe_names.txt): one archive per row, its name as Python escapes it.
// The Windows and the native suites both read it.

#include <fstream>
#include <string>
#include <vector>

struct unsafe_row {
    std::string index;  // the archive is unsafe_<index>.zip
    std::string shown;
};

inline std::vector<unsafe_row> unsafe_rows(const std::string& fixtures)
{
    std::ifstream listing(fixtures + "/unsafe_names.txt");
    std::vector<unsafe_row> rows;
    std::string line;
    while (std::getline(listing, line))
        rows.push_back({line.substr(0, 2), line.substr(3)});
    return rows;
}
