// raduza-coff's run: a resource file in, a COFF object out, or a message and
// nothing written. The object is written as raduza writes its resource file: a new
// file beside the old one that replaces it when complete (resfile/resource_output.h).
#pragma once

#include <string>

#include "coff/coff_object.h"
#include "platform/file_system.h"

struct ConversionRequest {
    std::string input;   // the resource file
    std::string output;  // the object
    CoffMachine machine = CoffMachine::I386;
};

// Converts; every message, one line each beginning "raduza-coff: ", is appended to
// `messages`. Returns the exit status: 0 with the object in place, else 1 with the
// output as it was (or, where it could only be written in place, left empty).
int convertToObject(FileSystem& fs, const ConversionRequest& request, std::string& messages);
