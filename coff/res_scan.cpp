#include "coff/res_scan.h"

#include <algorithm>
#include <cstring>

#include "raduza/format/layout.h"

using raduza::format::paddingFor;

namespace {

constexpr const char* CANNOT_READ = "it could not be read";
constexpr const char* ENDED_EARLY = "it ended before its size: it changed while it was read";

// The longest header whose type and name both fit a directory string: two fields
// of 65,535 units and their zero units, between the sizes and the trailer.
constexpr std::uint32_t MAX_CONVERTIBLE_HEADER =
    raduza::format::RES_FIXED_HEADER_BYTES + 2 * (2 * MAX_DIRECTORY_STRING_UNITS + 2);

}  // namespace

bool InputWindow::moveTo(std::uint64_t offset) {
    if (offset == inputAt_) return true;
    if (!input_.seek(offset)) {
        readError_ = CANNOT_READ;
        return false;
    }
    inputAt_ = offset;
    return true;
}

bool InputWindow::readInto(char* target, std::size_t count, std::size_t& got) {
    const std::optional<std::size_t> read = input_.read(target, count);
    if (!read || *read == 0) {
        readError_ = read ? ENDED_EARLY : CANNOT_READ;
        return false;
    }
    got = *read;
    inputAt_ += got;
    return true;
}

const unsigned char* InputWindow::bytes(std::uint64_t offset, std::size_t count) {
    if (offset >= start_ && count <= filled_ && offset - start_ <= filled_ - count) return buffer_.data() + (offset - start_);
    if (!readError_.empty()) return nullptr;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(count, CHUNK), size_ - std::min(size_, offset)));
    if (wanted < count) {
        readError_ = ENDED_EARLY;
        return nullptr;
    }
    if (buffer_.size() < wanted) buffer_.resize(wanted);
    // What the window holds already of the bytes wanted moves to its front.
    std::size_t kept = 0;
    if (offset >= start_ && offset - start_ < filled_ && inputAt_ == start_ + filled_) {
        kept = filled_ - static_cast<std::size_t>(offset - start_);
        std::memmove(buffer_.data(), buffer_.data() + (offset - start_), kept);
    } else if (!moveTo(offset)) {
        return nullptr;
    }
    start_ = offset;
    filled_ = kept;
    while (filled_ < count) {
        std::size_t got = 0;
        if (!readInto(reinterpret_cast<char*>(buffer_.data()) + filled_, wanted - filled_, got)) {
            filled_ = 0;
            return nullptr;
        }
        filled_ += got;
    }
    return buffer_.data();
}

bool InputWindow::copyTo(OutputBuffer& out, std::uint64_t offset, std::uint64_t count) {
    if (count == 0) return !out.failed();
    if (count <= CHUNK) {
        const unsigned char* data = bytes(offset, static_cast<std::size_t>(count));
        if (data == nullptr) return false;
        out.put(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
        return !out.failed();
    }
    // Large data goes past the window: by the system from the file to the object
    // where it can, else read straight into the output's buffer.
    filled_ = 0;
    if (!readError_.empty() || !moveTo(offset)) return false;
    const std::uint64_t copied = out.copyInSystem(input_, count);
    inputAt_ += copied;
    std::uint64_t remaining = count - copied;
    while (remaining > 0 && !out.failed()) {
        std::size_t space = 0;
        char* target = out.freeSpace(OutputBuffer::MIN_READ_SPACE, space);
        if (out.failed()) break;
        std::size_t got = 0;
        if (!readInto(target, static_cast<std::size_t>(std::min<std::uint64_t>(space, remaining)), got)) return false;
        out.commit(got);
        remaining -= got;
    }
    return !out.failed();
}

namespace {

// Keeps the type or name `field` in `file`; a type like `previous` shares its units.
ResourceId keep(const raduza::ResourceField& field, ScannedFile& file, const ResourceId* previous) {
    if (field.isOrdinal()) return ResourceId{Arena::NO_REF, field.ordinal()};
    const auto length = static_cast<std::uint32_t>(field.length());
    if (previous != nullptr && !previous->isOrdinal() && previous->value == length) {
        const unsigned char* units = file.units(*previous);
        bool same = true;
        for (std::uint32_t i = 0; i < length && same; ++i)
            same = field.unit(i) == static_cast<char16_t>(units[2 * i] | (units[2 * i + 1] << 8));
        if (same) return *previous;
    }
    const Arena::Ref ref = file.texts.allocate(std::max<std::size_t>(2 * std::size_t{length}, Arena::ALIGNMENT));
    auto* units = reinterpret_cast<unsigned char*>(file.texts.at(ref));
    for (std::uint32_t i = 0; i < length; ++i) {
        const char16_t unit = field.unit(i);
        units[2 * i] = static_cast<unsigned char>(unit & 0xFF);
        units[2 * i + 1] = static_cast<unsigned char>(unit >> 8);
    }
    return ResourceId{ref, length};
}

}  // namespace

ScanOutcome scanResourceFile(InputWindow& window, ScannedFile& file) {
    using raduza::BundleError;
    const auto broken = [](BundleError error, std::uint64_t offset) {
        return ScanOutcome{ScanOutcome::Kind::BROKEN, error, offset};
    };
    const ScanOutcome readFailed{ScanOutcome::Kind::READ_FAILED, BundleError::NONE, 0};
    const std::uint64_t size = window.fileSize();
    if (size < raduza::RESOURCE_FILE_START_BYTES) return broken(BundleError::NOT_A_RESOURCE_FILE, 0);
    const unsigned char* start = window.bytes(0, raduza::RESOURCE_FILE_START_BYTES);
    if (start == nullptr) return readFailed;
    if (!raduza::startsResourceFile(start, raduza::RESOURCE_FILE_START_BYTES))
        return broken(BundleError::NOT_A_RESOURCE_FILE, 0);

    for (std::uint64_t offset = raduza::RESOURCE_FILE_START_BYTES; offset < size;) {
        const std::uint64_t left = size - offset;
        raduza::EntryHeader header;
        // The sizes alone first: they say how much of the file the header takes.
        const std::size_t sizesAvailable = static_cast<std::size_t>(std::min<std::uint64_t>(left, 8));
        const unsigned char* sizes = window.bytes(offset, sizesAvailable);
        if (sizes == nullptr) return readFailed;
        BundleError error = raduza::readEntryHeader(sizes, sizesAvailable, header);
        if (error != BundleError::HEADER_CUT_SHORT || sizesAvailable < 8) return broken(error, offset);
        const std::uint32_t headerSize = raduza::format::readLe32(sizes + 4);
        if (headerSize > left) return broken(BundleError::HEADER_CUT_SHORT, offset);
        if (headerSize > MAX_CONVERTIBLE_HEADER) return ScanOutcome{ScanOutcome::Kind::NAME_TOO_LONG, error, offset};
        const unsigned char* bytes = window.bytes(offset, headerSize);
        if (bytes == nullptr) return readFailed;
        error = raduza::readEntryHeader(bytes, headerSize, header);
        if (error != BundleError::NONE) return broken(error, offset);
        const std::uint64_t dataEnd = offset + headerSize + header.dataSize;
        if (header.dataSize > left - headerSize || paddingFor(dataEnd) > size - dataEnd)
            return broken(BundleError::DATA_CUT_SHORT, offset);
        if (!header.isEmpty()) {
            const raduza::ResourceEntry& fields = header.fields;
            if (fields.type.length() > MAX_DIRECTORY_STRING_UNITS || fields.name.length() > MAX_DIRECTORY_STRING_UNITS)
                return ScanOutcome{ScanOutcome::Kind::NAME_TOO_LONG, BundleError::NONE, offset};
            ScannedResource resource;
            resource.type = keep(fields.type, file, file.resources.empty() ? nullptr : &file.resources.back().type);
            resource.name = keep(fields.name, file, nullptr);
            resource.offset = offset;
            resource.headerSize = headerSize;
            resource.dataSize = header.dataSize;
            resource.language = fields.language;
            file.resources.push_back(resource);
        }
        offset = dataEnd + paddingFor(dataEnd);
    }
    return {};
}
