// Pulls the tool's messages out of a standard output that also carries the
// resource file. It relies on the bytes of the resource never containing a
// message's first word, which tests ensure by keeping capital letters out of
// the stored data.
#pragma once

#include <cstring>
#include <string>

struct ConsoleSplit {
    std::string resource;  // the bytes of the resource file
    std::string messages;  // the message lines, in order
};

inline ConsoleSplit splitConsole(const std::string& stdoutBytes) {
    ConsoleSplit split;
    std::size_t copied = 0;
    for (std::size_t i = stdoutBytes.find_first_of("SWE"); i != std::string::npos;
         i = stdoutBytes.find_first_of("SWE", i + 1)) {
        bool message = false;
        for (const char* prefix : {"Stored ", "Warning:", "Error:"})
            message = message || stdoutBytes.compare(i, std::strlen(prefix), prefix) == 0;
        const std::size_t end = message ? stdoutBytes.find('\n', i) : std::string::npos;
        if (end == std::string::npos) continue;
        split.resource += stdoutBytes.substr(copied, i - copied);
        split.messages += stdoutBytes.substr(i, end + 1 - i);
        copied = end + 1;
        i = end;
    }
    split.resource += stdoutBytes.substr(copied);
    return split;
}
