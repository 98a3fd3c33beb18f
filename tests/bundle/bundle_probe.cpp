// A Win32 program for the loader agreement test. Linked with a resource file, it
// reads its bundle through the module (the Windows loader) and the same resource
// file through memory, and dumps both:
//   bundle_probe.exe FILE.res DUMP
// DUMP holds one line per file and view, "module|memory NAME SIZE HASH" with the
// name in UTF-8, then "lookups-failed N": the files that the module view could
// not find by their stored name, by the name in lower case, by the name in UTF-8
// (a narrow path), or whose bytes differ; then "opened-by-listing N": the files
// found by walking list() and opening each listed name through a narrow path;
// then "version V group-icon G icon I": 1 for each of those other resources found;
// then for each view "order VIEW" and "listed VIEW", each name after a tab: the
// files as iterated, and as a walk through list() meets them.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include "raduza/bundle.h"

namespace {

std::uint64_t fnv1a(raduza::FileView bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3u;
    return hash;
}

void dump(std::FILE* out, const char* view, const raduza::Bundle& bundle) {
    for (const raduza::BundleFile& file : bundle)
        std::fprintf(out, "%s %s %zu %016llx\n", view, file.utf8Name().c_str(), file.bytes.size(),
                     static_cast<unsigned long long>(fnv1a(file.bytes)));
}

std::u16string lowerAscii(std::u16string_view name) {
    std::u16string lower(name);
    for (char16_t& unit : lower)
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    return lower;
}

bool same(const std::optional<raduza::FileView>& found, raduza::FileView expected) {
    return found && found->size() == expected.size() &&
           std::equal(found->begin(), found->end(), expected.begin());
}

std::size_t openListed(const raduza::Bundle& bundle, const std::string& directory) {
    std::size_t opened = 0;
    for (const raduza::DirEntry& entry : bundle.list(directory)) {
        const std::string path = directory.empty() ? entry.name : directory + "/" + entry.name;
        if (entry.isDirectory)
            opened += openListed(bundle, path);
        else if (const std::optional<raduza::FileView> bytes = bundle.open(path); bytes && bytes->size() == entry.size)
            ++opened;
    }
    return opened;
}

void walkListed(const raduza::Bundle& bundle, const std::string& directory, std::string& names) {
    for (const raduza::DirEntry& entry : bundle.list(directory)) {
        const std::string path = directory.empty() ? entry.name : directory + "/" + entry.name;
        if (entry.isDirectory)
            walkListed(bundle, path, names);
        else
            names += "\t" + path;
    }
}

void dumpOrder(std::FILE* out, const char* view, const raduza::Bundle& bundle) {
    std::string iterated, listed;
    for (const raduza::BundleFile& file : bundle) iterated += "\t" + file.utf8Name();
    walkListed(bundle, "", listed);
    std::fprintf(out, "order %s%s\nlisted %s%s\n", view, iterated.c_str(), view, listed.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bundle_probe FILE.res DUMP\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const raduza::Bundle memory = raduza::Bundle::fromImage(image.data(), image.size());
    const raduza::Bundle module = raduza::Bundle::ofProgram();
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out || !memory.ok() || !module.ok()) {
        std::fprintf(stderr, "bundle_probe: memory: %s; module: %s\n", raduza::describe(memory.error()),
                     raduza::describe(module.error()));
        return 2;
    }
    dump(out, "module", module);
    dump(out, "memory", memory);
    dumpOrder(out, "module", module);
    dumpOrder(out, "memory", memory);
    std::size_t failed = 0;
    for (const raduza::BundleFile& file : memory)
        if (!same(module.open(file.name), file.bytes) || !same(module.open(lowerAscii(file.name)), file.bytes) ||
            !same(module.open(file.utf8Name()), file.bytes))
            ++failed;
    std::fprintf(out, "lookups-failed %zu\nopened-by-listing %zu\n", failed, openListed(module, ""));
    // The program's other resources, which its bundle must not hide.
    std::fprintf(out, "version %d group-icon %d icon %d\n", FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_VERSION) != nullptr,
                 FindResourceA(nullptr, "GAME", RT_GROUP_ICON) != nullptr,
                 FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_ICON) != nullptr);
    return std::fclose(out) == 0 ? 0 : 2;
}
