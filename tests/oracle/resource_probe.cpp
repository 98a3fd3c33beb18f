// A Win32 program for the loader test. Linked with a resource file, it asks the
// Windows loader for resources of type RT_RADUZA and dumps what it was given.
//   resource_probe.exe QUERIES DUMP
// QUERIES holds one UTF-8 name per line. DUMP receives, little-endian: the number of
// RT_RADUZA names the module lists, then per query a status (PROBE_*), the size and
// the bytes found.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

enum ProbeStatus : std::uint32_t { PROBE_FOUND = 0, PROBE_NOT_FOUND = 1, PROBE_NOT_IN_CODE_PAGE = 2 };

const char* const PROBE_TYPE = "RT_RADUZA";

void putU32(std::FILE* dump, std::uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    std::fwrite(bytes, 1, sizeof bytes, dump);
}

// FindResourceA takes names in the ANSI code page; a name it cannot carry is reported, not guessed.
bool toAnsiCodePage(const std::string& utf8, std::string& ansi) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (units <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
    BOOL lossy = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return false;
    ansi.assign(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, &ansi[0], bytes, nullptr, &lossy);
    return !lossy;
}

void probe(const std::string& utf8Name, std::FILE* dump) {
    std::string name;
    if (!toAnsiCodePage(utf8Name, name)) {
        putU32(dump, PROBE_NOT_IN_CODE_PAGE);
        putU32(dump, 0);
        return;
    }
    const HRSRC found = FindResourceA(nullptr, name.c_str(), PROBE_TYPE);
    const HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(nullptr, found) : 0;
    if (!found || (!bytes && size > 0)) {
        putU32(dump, PROBE_NOT_FOUND);
        putU32(dump, 0);
        return;
    }
    putU32(dump, PROBE_FOUND);
    putU32(dump, size);
    std::fwrite(bytes, 1, size, dump);
}

BOOL CALLBACK countName(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
    ++*reinterpret_cast<std::uint32_t*>(count);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: resource_probe QUERIES DUMP\n");
        return 2;
    }
    std::FILE* queries = std::fopen(argv[1], "rb");
    std::FILE* dump = std::fopen(argv[2], "wb");
    if (!queries || !dump) {
        std::fprintf(stderr, "resource_probe: cannot open %s or %s\n", argv[1], argv[2]);
        return 2;
    }
    std::uint32_t listed = 0;
    EnumResourceNamesA(nullptr, PROBE_TYPE, countName, reinterpret_cast<LONG_PTR>(&listed));
    putU32(dump, listed);
    std::string line;
    for (int c; (c = std::fgetc(queries)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        probe(line, dump);
        line.clear();
    }
    return std::fclose(dump) == 0 ? 0 : 2;
}
