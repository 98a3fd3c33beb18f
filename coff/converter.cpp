#include "coff/converter.h"

#include <cstdio>
#include <memory>

#include "resfile/output_buffer.h"
#include "resfile/resource_output.h"

namespace {

constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = 1;

// A type or name for one line of text: #N for an ordinal, else UTF-8 with control
// characters (and the quote and backslash) escaped.
std::string describeId(const ScannedFile& file, const ResourceId& id) {
    if (id.isOrdinal()) return "#" + std::to_string(id.value);
    const unsigned char* units = file.units(id);
    std::u16string text(id.value, u'\0');
    for (std::uint32_t i = 0; i < id.value; ++i) text[i] = static_cast<char16_t>(units[2 * i] | (units[2 * i + 1] << 8));
    std::string out = "\"";
    for (const char c : raduza::toUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string describeResource(const ScannedFile& file, const ScannedResource& resource) {
    char language[8];
    std::snprintf(language, sizeof language, "0x%04X", resource.language);
    return "type " + describeId(file, resource.type) + ", name " + describeId(file, resource.name) + ", language " +
           language;
}

class Run {
public:
    Run(FileSystem& fs, const ConversionRequest& request, std::string& messages)
        : fs_(fs), request_(request), messages_(messages) {}

    int convert();

private:
    int fail(const std::string& message) {
        messages_ += "raduza-coff: " + message + "\n";
        return STATUS_FAILED;
    }
    int scanFailed(const ScanOutcome& outcome, const InputWindow& window);
    int write(ResourceObject& object, InputWindow& window, InputFile& input);

    FileSystem& fs_;
    const ConversionRequest& request_;
    std::string& messages_;
    ScannedFile file_;
};

int Run::convert() {
    const std::string& in = request_.input;
    Result<std::unique_ptr<InputFile>> input = fs_.openInput(in);
    if (!input) return fail("cannot read " + in + ": " + input.error().text);
    InputWindow window(**input);
    if (const ScanOutcome scanned = scanResourceFile(window, file_); scanned.kind != ScanOutcome::Kind::SCANNED)
        return scanFailed(scanned, window);

    ResourceObject object(file_);
    if (const auto twice = object.sort()) {
        const ScannedResource& first = file_.resources[twice->first];
        const ScannedResource& second = file_.resources[twice->second];
        return fail(in + ": the entries at offsets " + std::to_string(first.offset) + " and " +
                    std::to_string(second.offset) + " are both " + describeResource(file_, first) +
                    ": a program holds only one resource of a type, name and language");
    }
    if (const auto overfull = object.overfullTable()) {
        const ScannedResource& resource = file_.resources[overfull->resource];
        const std::string type = describeId(file_, resource.type);
        const char* const limit = " (a resource directory table holds at most 65,535 of each, text and ordinal)";
        switch (overfull->what) {
        case ResourceObject::Overfull::TYPES: return fail(in + ": too many types" + limit);
        case ResourceObject::Overfull::NAMES: return fail(in + ": too many names of the type " + type + limit);
        case ResourceObject::Overfull::LANGUAGES:
            return fail(in + ": too many languages of the type " + type + ", name " + describeId(file_, resource.name) +
                        limit);
        }
    }
    if (!object.layOut()) return fail(in + ": too large for an object file, whose offsets stop at 4 GiB");
    return write(object, window, **input);
}

int Run::scanFailed(const ScanOutcome& outcome, const InputWindow& window) {
    const std::string& in = request_.input;
    switch (outcome.kind) {
    case ScanOutcome::Kind::SCANNED: break;
    case ScanOutcome::Kind::BROKEN:
        return fail(in + ": not a valid resource file: " + raduza::describe(outcome.error) + " (at offset " +
                    std::to_string(outcome.offset) + ")");
    case ScanOutcome::Kind::NAME_TOO_LONG:
        return fail(in + ": the entry at offset " + std::to_string(outcome.offset) +
                    " has a type or name of more than 65,535 UTF-16 units, which no resource directory holds");
    case ScanOutcome::Kind::READ_FAILED: break;
    }
    return fail("cannot read " + in + ": " + window.readError());
}

int Run::write(ResourceObject& object, InputWindow& window, InputFile& input) {
    const std::string& out = request_.output;
    const Result<PathStatus> status = fs_.status(out);
    if (status && status->readOnly) return fail(out + " is not writable");
    Result<std::unique_ptr<ResourceOutput>> opened =
        ResourceOutput::open(fs_, out, "raduza-coff: " + out + " was being overwritten directly when the run stopped, so it is left empty.\n");
    if (!opened) return fail("cannot create " + out + ": " + opened.error().text);
    ResourceOutput& output = **opened;
    const auto abandon = [&](const std::string& message) {
        const int failed = fail(message);
        if (output.abandon()) fail(out + " was being overwritten directly, so it is left empty");
        return failed;
    };
    if (output.isOwn(input.id())) return abandon(out + " is the resource file read: the object needs a name of its own");
    {
        OutputBuffer buffer(output.file());
        const bool built = object.write(request_.machine, buffer, window);
        const Result<void> flushed = buffer.flush();
        if (window.readFailed()) return abandon("cannot read " + request_.input + ": " + window.readError());
        // Nothing but a failed read or write stops the object: a failed write fails the flush too.
        if (!built || !flushed) return abandon("cannot write " + out + ": " + (flushed ? "" : flushed.error().text));
    }
    if (const Result<void> committed = output.commit(); !committed)
        return fail("cannot replace " + out + " with the new object: " + committed.error().text + "; it is left as it was");
    return STATUS_OK;
}

}  // namespace

int convertToObject(FileSystem& fs, const ConversionRequest& request, std::string& messages) {
    return Run(fs, request, messages).convert();
}
