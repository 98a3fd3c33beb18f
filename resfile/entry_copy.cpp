#include "resfile/entry_copy.h"

#include <algorithm>

#include "resfile/res_format.h"

CopyOutcome copyExactly(InputFile& input, OutputBuffer& out, std::uint64_t size) {
    std::uint64_t remaining = size;
    // The bytes of a large file need not pass through this process. Whatever the
    // system did not copy is read below, and the end is confirmed there as always.
    remaining -= out.copyInSystem(input, size);
    for (;;) {
        std::size_t space = 0;
        char* target = out.freeSpace(OutputBuffer::MIN_READ_SPACE, space);
        if (out.failed()) return CopyOutcome::OUTPUT_FAILED;
        // Ask for one byte more than is left, so a file that grew is noticed.
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(space, remaining + 1));
        const std::optional<std::size_t> got = input.read(target, wanted);
        if (!got) return CopyOutcome::READ_FAILED;
        if (*got > remaining) {
            // The file grew: its first `size` bytes are here, and an entry that
            // cannot be taken back from a pipe keeps them rather than zeros.
            out.commit(static_cast<std::size_t>(remaining));
            return CopyOutcome::SIZE_CHANGED;
        }
        if (*got == 0) return remaining == 0 ? CopyOutcome::COMPLETE : CopyOutcome::SIZE_CHANGED;
        out.commit(*got);
        remaining -= *got;
        // A read that stopped short exactly at the declared size has met the end:
        // the file neither grew nor shrank, and no further read is needed to know.
        if (remaining == 0 && *got < wanted && input.readReachedEnd()) return CopyOutcome::COMPLETE;
    }
}

TakeBack takeBackEntry(OutputBuffer& out, std::uint64_t entryStart, std::uint32_t dataSize, std::uint64_t written) {
    if (out.dropFrom(entryStart)) return TakeBack::REMOVED;
    if (written < dataSize) out.putZeros(static_cast<std::size_t>(dataSize - written));
    out.putZeros(paddingFor(dataSize));
    return TakeBack::COMPLETED;
}
