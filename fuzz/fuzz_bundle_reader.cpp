// The in-memory readers of raduza/bundle.h and raduza/program_file.h on any
// bytes: they must never read outside them, every view they give must lie inside
// them, every file must be found by its own name, and listing the directories
// from the top must reach every file whose name has no empty component, once.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "raduza/bundle.h"

namespace {

bool inside(raduza::FileView view, const std::uint8_t* data, std::size_t size) {
    return view.size() == 0 || (view.data() >= data && view.size() <= size && view.data() - data <= static_cast<std::ptrdiff_t>(size - view.size()));
}

bool hasEmptyComponent(std::u16string_view name) {
    if (name.empty() || name.front() == u'/' || name.front() == u'\\') return true;
    if (name.back() == u'/' || name.back() == u'\\') return true;
    for (std::size_t i = 1; i < name.size(); ++i)
        if ((name[i] == u'/' || name[i] == u'\\') && (name[i - 1] == u'/' || name[i - 1] == u'\\')) return true;
    return false;
}

// Files reached by listing `directory` and every subdirectory below it.
std::size_t filesBelow(const raduza::Bundle& bundle, const std::u16string& directory, int depth) {
    FUZZ_CHECK(depth < 10000, "listing recursed without end");
    std::size_t files = 0;
    for (const raduza::DirEntry& entry : bundle.list(directory)) {
        const std::u16string path = directory.empty() ? entry.name16 : directory + u"/" + entry.name16;
        if (!entry.isDirectory) {
            FUZZ_CHECK(bundle.isFile(path), "a listed file is not found");
            ++files;
        } else if (!entry.name16.empty()) {
            FUZZ_CHECK(bundle.isDirectory(path), "a listed directory is not a directory");
            files += filesBelow(bundle, path, depth + 1);
        }
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t previous = 0;
    const raduza::WalkOutcome walk = raduza::walkResources(data, size, [&](const raduza::ResourceEntry& entry) {
        FUZZ_CHECK(entry.offset >= previous && entry.offset < size, "entries out of order or outside");
        FUZZ_CHECK(inside(entry.data, data, size), "an entry's data lies outside the input");
        previous = entry.offset + 1;
    });
    FUZZ_CHECK(walk.offset <= size, "a fault placed outside the input");

    const raduza::Bundle bundle = raduza::Bundle::fromImage(data, size);
    FUZZ_CHECK(bundle.ok() == (walk.error == raduza::BundleError::NONE), "the bundle and the walk disagree");
    std::size_t wellFormed = 0;
    for (const raduza::BundleFile& file : bundle) {
        FUZZ_CHECK(inside(file.bytes, data, size), "a file's bytes lie outside the input");
        const std::optional<raduza::FileView> found = bundle.open(file.name);
        FUZZ_CHECK(found && found->data() == file.bytes.data() && found->size() == file.bytes.size(),
                   "a file is not found by its own name");
        if (!hasEmptyComponent(file.name)) ++wellFormed;
    }
    FUZZ_CHECK(filesBelow(bundle, u"", 0) >= wellFormed, "listing misses files");

    // The same bytes as a program file (a PE or ELF one when they open as such).
    const raduza::WalkOutcome programWalk = raduza::walkProgramResources(data, size, [&](const raduza::ResourceEntry& entry) {
        FUZZ_CHECK(entry.offset < size, "a program's entry placed outside the input");
        FUZZ_CHECK(inside(entry.data, data, size), "a program's entry's data lies outside the input");
    });
    FUZZ_CHECK(programWalk.offset <= size, "a fault in a program placed outside the input");
    const raduza::Bundle program = raduza::Bundle::fromProgramImage(data, size);
    FUZZ_CHECK(program.ok() == (programWalk.error == raduza::BundleError::NONE), "the program's bundle and walk disagree");
    for (const raduza::BundleFile& file : program)
        FUZZ_CHECK(inside(file.bytes, data, size), "a program's file's bytes lie outside the input");
    return 0;
}
