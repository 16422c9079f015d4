#pragma once

// Where a Windows executable (PE) image keeps its Authenticode signature:
// the certificate table that its security data directory points at, which
// signing tools append at the end of the file.

#include <cstdint>
#include <optional>
#include <string>

#include "varnox/common/archive_file.h"

namespace bundler {

struct certificate_table {
    std::uint64_t offset;  // in the file
    std::uint32_t size;
};

struct pe_facts {
    bool is_pe = false;
    // The table the image names; empty when it names none.
    std::optional<certificate_table> certificates;
    // Why the table cannot be read (outside the file, a malformed entry);
    // empty when it can.
    std::string problem;
};

// Reads the headers of the image in file; never reads beyond its end.
pe_facts read_pe_facts(const varnox::archive::archive_file& file);

} // namespace bundler
