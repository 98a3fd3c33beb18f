// Copying a file's bytes into an entry, exactly as many as its header declares,
// and taking back an entry whose input failed, so that the resource file stays a
// sequence of complete, aligned entries whatever happens to an input.
#pragma once

#include <cstdint>

#include "platform/file_system.h"
#include "resfile/output_buffer.h"

enum class CopyOutcome { COMPLETE, READ_FAILED, SIZE_CHANGED, OUTPUT_FAILED };

// Copies exactly `size` bytes of `input` to `out` and makes sure the input ended
// there. A file that grew leaves its first `size` bytes in `out`.
[[nodiscard]] CopyOutcome copyExactly(InputFile& input, OutputBuffer& out, std::uint64_t size);

enum class TakeBack { REMOVED, COMPLETED };

// Removes the entry that starts at `entryStart`, of which `written` data bytes were
// copied. Where its bytes have already left for a pipe, the entry is completed with
// zeros and its data padding instead (COMPLETED), so every later entry stays in place.
TakeBack takeBackEntry(OutputBuffer& out, std::uint64_t entryStart, std::uint32_t dataSize, std::uint64_t written);
