#include "tests/support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>

#include "platform/path_rules.h"

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (;;) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / ("raduza-test-" + std::to_string(random() % 1000000000));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Restore write permission first so read-only test files can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (!it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::full(const std::string& relative) const {
    return std::filesystem::path(path_) / std::filesystem::path(relative).make_preferred();
}

void TempDir::writeFile(const std::string& relative, const std::string& bytes) const {
    const std::filesystem::path target = full(relative);
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TempDir::makeDirectory(const std::string& relative) const { std::filesystem::create_directories(full(relative)); }

std::string TempDir::readFile(const std::string& relative) const {
    std::ifstream input(full(relative), std::ios::binary);
    std::ostringstream bytes;
    bytes << input.rdbuf();
    return bytes.str();
}

bool TempDir::exists(const std::string& relative) const { return std::filesystem::exists(full(relative)); }

std::string platformPath(std::initializer_list<std::string> parts) {
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : std::string(1, PLATFORM_PATH_RULES.separator)) + part;
    return joined;
}

std::vector<std::string> openFilesIn(const std::string& directory) {
    std::vector<std::string> open;
    std::error_code unlisted;
    const std::string below = std::filesystem::canonical(directory).string() + "/";
    for (const auto& descriptor : std::filesystem::directory_iterator("/proc/self/fd", unlisted)) {
        std::error_code gone;
        const std::filesystem::path target = std::filesystem::read_symlink(descriptor.path(), gone);
        if (target.string().compare(0, below.size(), below) == 0 && !std::filesystem::is_directory(target, gone))
            open.push_back(target.string());
    }
    return open;
}
