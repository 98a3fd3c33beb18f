// Prints the files that raduza bundled into this program, through
// raduza/bundle.h: the same code on Windows (resources linked into the .exe) and
// on Linux (resource files embedded by raduza_add_resources).
//   show_asset          the bundle as a tree, then ASSETS/GREETING.TXT
//   show_asset NAME     the bytes of the file NAME; status 1 when there is none
#include <raduza/bundle.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

void printTree(const raduza::Bundle& bundle, const std::string& directory, int depth) {
    for (const raduza::DirEntry& entry : bundle.list(directory)) {
        const std::string path = directory.empty() ? entry.name : directory + "/" + entry.name;
        if (entry.isDirectory) {
            std::printf("%*s%s/\n", 4 * depth, "", entry.name.c_str());
            printTree(bundle, path, depth + 1);
        } else {
            std::printf("%*s%s  %zu bytes\n", 4 * depth, "", entry.name.c_str(), entry.size);
        }
    }
}

bool printFile(const raduza::Bundle& bundle, const char* name) {
    const std::optional<raduza::FileView> file = bundle.open(name);
    if (!file) {
        std::fprintf(stderr, "No file named %s in the bundle.\n", name);
        return false;
    }
    return std::fwrite(file->data(), 1, file->size(), stdout) == file->size();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // the same bytes as on Linux: no CR before each LF
#endif
    static const raduza::Bundle bundle = raduza::Bundle::ofProgram();
    if (argc > 1) return printFile(bundle, argv[1]) ? 0 : 1;
    printTree(bundle, "", 0);
    std::printf("\nassets/greeting.txt:\n");
    return printFile(bundle, "assets/greeting.txt") ? 0 : 1;
}
