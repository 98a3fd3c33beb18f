// raduza-list -x on any bytes, into a fresh directory where someone else has
// planted a link to a directory outside, a hard link to a file outside and a FIFO:
// nothing may land outside the extraction directory, nothing outside may change,
// and nothing may crash, throw or block.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"
#include "lister/lister.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::string> namesIn(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
    return names;
}

// A scratch box: out/ to extract into, with the planted entries; outside/ beside it.
fs::path makeBox() {
    std::string pattern = (fs::temp_directory_path() / "raduza-fuzz-extract-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(&pattern[0]) != nullptr, "no scratch directory");
    const fs::path box(pattern);
    fs::create_directories(box / "out");
    fs::create_directories(box / "outside");
    std::ofstream(box / "outside" / "KEEP.TXT") << "keep";
    fs::create_directory_symlink(box / "outside", box / "out" / "L");
    fs::create_hard_link(box / "outside" / "KEEP.TXT", box / "out" / "H.TXT");
    FUZZ_CHECK(::mkfifo((box / "out" / "F").c_str(), 0644) == 0, "no FIFO");
    return box;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const raduza::Bundle bundle = raduza::Bundle::fromImage(data, size);
    if (!bundle.ok()) return 0;
    const fs::path box = makeBox();
    (void)extractAll(bundle, (box / "out").string(), [](const raduza::BundleFile&, const Extracted&) {});

    FUZZ_CHECK(namesIn(box) == (std::set<std::string>{"out", "outside"}), "something landed beside the extraction directory");
    FUZZ_CHECK(namesIn(box / "outside") == std::set<std::string>{"KEEP.TXT"}, "something landed outside, through a link");
    FUZZ_CHECK(readFile(box / "outside" / "KEEP.TXT") == "keep", "a file outside was written through a hard link");
    FUZZ_CHECK(fs::is_symlink(box / "out" / "L"), "the planted link was replaced");
    std::error_code error;
    fs::remove_all(box, error);
    return 0;
}
