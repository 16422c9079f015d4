// The payload archive reader over the native file layer: opening, the job
// choice, every member's directory entry, name and data, and the extraction
// of small archives into a scratch folder. Input: a zip archive.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "job_choice.h"
#include "varnox/common/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silence_log();
    const std::string path = fuzz::input_file("archive.zip", std::string(reinterpret_cast<const char*>(data), size));
    const auto opened = varnox::archive::open_unzip(fuzz::wide(path), 0);
    if (!opened)
        return 0;
    install::choose_job(*opened);
    const auto archive = std::dynamic_pointer_cast<varnox::archive::unzip_base>(opened);
    FUZZ_CHECK(archive);
    std::uint64_t declared = 0;
    const std::vector<varnox::archive::unzip_base::member_entry> members = archive->members();
    for (const auto& member : members) {
        const auto text = varnox::archive::member_name_text(member.name, member.bit_flags);
        if (text) {
            varnox::archive::is_safe_member_name(*text);
            FUZZ_CHECK(varnox::archive::printable_member_name(*text).size() == text->size());
        }
        archive->contains(member.name);
        declared += member.size;
        if (member.readable && !member.folder && member.size <= (1u << 20))
            archive->member_data_match(member.index);
    }
    // Small archives are extracted for real: names, folders, links and
    // partial files all go through the file layer.
    if (members.size() <= 32 && declared <= (1u << 20)) {
        std::vector<std::wstring> written;
        archive->extract_all(fuzz::wide(fuzz::scratch() + "/out"), written);
        if (!members.empty())
            archive->extract(members.front().name, fuzz::scratch() + "/single/member");
        fuzz::remove_below("out");
        fuzz::remove_below("single");
    }
    archive->close();
    return 0;
}
