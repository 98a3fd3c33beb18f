// Where what the spec pass and the directory walk find goes, and what they say.
// Storing is one sink; the check whether anything changed is another, and an
// updating run's recording and copying of unchanged entries wraps storing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

// Where an entry lies in the resource file.
struct EntrySpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

class FileSink {
public:
    virtual ~FileSink() = default;

    // What the pass finds.
    // A file named by a spec, or listed by a walk that opens nothing.
    virtual void fileNamed(const std::string& path) = 0;
    // A file a walk listed and may open; `file` lasts until this returns.
    virtual void fileFound(const std::string& path, ListedFile& file) = 0;
    // A device, FIFO or socket a spec named: never opened.
    virtual void specialFileNamed(const std::string& /*path*/) {}
    // A directory about to be walked.
    virtual void directoryMet(const std::string& /*path*/) {}
    // False while files are listed by name alone, nothing opened or read ahead.
    virtual bool opensFiles() const = 0;
    virtual bool stopped() const = 0;
    // A message of the pass, formatted.
    virtual void tell(std::string_view /*text*/, bool /*warning*/) {}

    // What storing tells the sinks around it, and the end of the run.
    // The name `key` was taken by an entry at `span` (empty for a damaged one).
    virtual void entryStored(std::string_view /*key*/, EntrySpan /*span*/) {}
    // Writes what is held back, due before any other entry and at the end; false
    // when the run must stop.
    virtual bool flushHeld() { return true; }
    // True when a run that stored nothing still keeps its resource file.
    virtual bool keepsEmptyOutput() const { return false; }
    // The output is about to be made final: inputs from the file it replaces are closed.
    virtual void releaseInputs() {}
    // The resource file was made final, DAMAGED when an entry may not match its file;
    // or the run FAILED and leaves the resource file as it was.
    enum class RunEnd { KEPT, DAMAGED, FAILED };
    virtual void runEnded(RunEnd) {}
};
