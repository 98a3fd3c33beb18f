// Prints the bytes of one resource that raduza bundled into this program: the
// one named by the first argument, or ASSETS/GREETING.TXT. Exits with status 1
// when the program holds no such resource.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "ASSETS/GREETING.TXT";
    const HRSRC found = FindResourceA(nullptr, name, "RT_RADUZA");
    if (found == nullptr) {
        std::fprintf(stderr, "No resource named %s.\n", name);
        return 1;
    }
    const HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = LockResource(loaded);
    const DWORD size = SizeofResource(nullptr, found);
    // WriteFile, not stdio: the bytes go out exactly, without text-mode translation.
    DWORD written = 0;
    if (data == nullptr || !WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, size, &written, nullptr) ||
        written != size) {
        std::fprintf(stderr, "Could not print the resource %s.\n", name);
        return 1;
    }
    return 0;
}
