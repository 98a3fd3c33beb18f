// Prints what reading a bundle back costs: opening a resource file image of
// 200,000 names (the index is built then) and looking every name up as a user
// writes it, in lower case; the median of 5 runs after an untimed one.
//   build/native/raduza_bundle_bench [names]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "raduza/bundle.h"

namespace {

using Clock = std::chrono::steady_clock;

void put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void put32(std::string& out, unsigned value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// The image raduza -r writes for DIRS directories of tiny files, in its order.
std::string makeImage(const std::vector<std::string>& names) {
    std::string image("\0\0\0\0\x20\0\0\0\xff\xff\0\0\xff\xff\0\0", 16);
    image.append(16, '\0');
    const std::string type = "RT_RADUZA";
    for (const std::string& name : names) {
        std::string fields;
        for (char c : type) put16(fields, static_cast<unsigned char>(c));
        put16(fields, 0);
        for (char c : name) put16(fields, static_cast<unsigned char>(c));
        put16(fields, 0);
        fields.append((4 - (8 + fields.size()) % 4) % 4, '\0');
        put32(image, 4);
        put32(image, static_cast<unsigned>(8 + fields.size() + 16));
        image += fields;
        put32(image, 0);
        put16(image, 0x30);
        put16(image, 0x409);
        put32(image, 0);
        put32(image, 0);
        image += "data";
    }
    return image;
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    const std::size_t perDirectory = 1000;
    std::vector<std::string> names, queries;
    for (std::size_t i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "ASSETS/LEVEL%03zu/TILE%06zu.BIN", i / perDirectory, i);
        names.push_back(name);
        std::snprintf(name, sizeof name, "assets/level%03zu/tile%06zu.bin", i / perDirectory, i);
        queries.push_back(name);
    }
    const std::string image = makeImage(names);

    std::vector<double> opens, lookups;
    for (int run = 0; run < 6; ++run) {
        const Clock::time_point opening = Clock::now();
        const raduza::Bundle bundle = raduza::Bundle::fromImage(image.data(), image.size());
        const double opened = seconds(opening);
        if (!bundle.ok() || bundle.size() != count) {
            std::fprintf(stderr, "the image did not read back: %s\n", raduza::describe(bundle.error()));
            return 1;
        }
        const Clock::time_point looking = Clock::now();
        std::size_t found = 0;
        for (const std::string& query : queries) found += bundle.open(query).has_value();
        const double lookedUp = seconds(looking);
        if (found != count) {
            std::fprintf(stderr, "%zu of %zu names found\n", found, count);
            return 1;
        }
        if (run == 0) continue;  // warms the caches
        opens.push_back(opened);
        lookups.push_back(lookedUp);
    }
    std::printf("bundle of %zu names (%.1f MiB image), median of %zu runs:\n", count, image.size() / 1048576.0,
                opens.size());
    std::printf("  open and index:      %8.1f ms\n", median(opens) * 1e3);
    std::printf("  look up every name:  %8.1f ms (%.0f ns a lookup)\n", median(lookups) * 1e3,
                median(lookups) * 1e9 / static_cast<double>(count));
    return 0;
}
