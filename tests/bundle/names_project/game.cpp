// Prints each bundled file as its size, a blank and its name, a newline in a name as \n.
#include <cstdio>

#include "raduza/bundle.h"

int main() {
    const raduza::Bundle& bundle = raduza::Bundle::ofProgram();
    if (!bundle.ok()) return 1;
    for (const raduza::BundleFile& file : bundle) {
        std::string name;
        for (char c : file.utf8Name()) name += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::printf("%zu %s\n", file.bytes.size(), name.c_str());
    }
    return 0;
}
