#include "driver/claimants.h"

#include <cstring>

void Claimants::add(std::string_view name, std::string_view path) {
    putText(name);
    putText(path);
}

std::optional<std::string> Claimants::firstOf(std::string_view name) {
    while (indexedTo_ < log_.size()) {
        const std::string_view claimed = textAt(indexedTo_);
        const std::string_view path = textAt(indexedTo_);
        index_.emplace(claimed, path);
    }
    const auto found = index_.find(std::string(name));
    if (found == index_.end()) return std::nullopt;
    return found->second;
}

void Claimants::putText(std::string_view text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    char bytes[sizeof length];
    std::memcpy(bytes, &length, sizeof length);
    log_.append(bytes, sizeof bytes);
    log_.append(text);
}

std::string_view Claimants::textAt(std::size_t& at) const {
    std::uint32_t length = 0;
    std::memcpy(&length, log_.data() + at, sizeof length);
    at += sizeof length;
    const std::string_view text(log_.data() + at, length);
    at += length;
    return text;
}
