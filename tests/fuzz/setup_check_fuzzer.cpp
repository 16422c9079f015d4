// make_setup's check of a setup file: the image's headers and certificate
// table, the payload scan, the placement of the table after the archive,
// and the members. Input: an image's first bytes, a zero byte, and a
// payload that is placed at the first aligned offset beyond 1 MiB.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "setup_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silence_log();
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (input.size() < 2)
        return 0;
    const std::size_t image_size = std::min<std::size_t>(data[0] | (data[1] << 8), input.size() - 2);
    const std::string image = input.substr(2, image_size);
    const std::string payload = input.substr(2 + image_size);
    std::string file = image;
    file.resize(0x100004, '\0');
    file += payload;
    const std::string path = fuzz::input_file("setup.exe", file);
    const bundler::setup_report report = bundler::check_setup(fuzz::wide(path));
    FUZZ_CHECK(report.file_size == file.size());
    if (report.payload_offset) {
        FUZZ_CHECK(*report.payload_offset > 0x100000 && *report.payload_offset % 4 == 0);
        FUZZ_CHECK(*report.payload_offset < file.size());
    }
    if (report.image.certificates && report.image.problem.empty())
        FUZZ_CHECK(report.image.certificates->offset + report.image.certificates->size <= file.size());
    if (report.archive_end)
        FUZZ_CHECK(report.payload_offset && *report.archive_end <= file.size());
    if (report.job && *report.job != install::job::client_installation)
        FUZZ_CHECK(report.packages.empty());
    return 0;
}
