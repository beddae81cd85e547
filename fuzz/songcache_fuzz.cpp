// Arbitrary bytes as the song library's cache file, as they are and framed with a correct header
// (so that the payload's reader is reached past the digest): reading never crashes, never reads
// past the bytes and never allocates beyond what they can hold; a cache that reads is written
// back into bytes that read as the same cache.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "library/songcache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    library::CSongCache cache("");
    cache.Parse(bytes);
    if (!cache.Parse(library::CSongCache::Frame(bytes))) {
        if (!cache.Entries().empty() || !cache.TextFiles().empty()) __builtin_trap();
        return 0;
    }
    library::CSongCache again("");
    if (!again.Parse(cache.Encode()) || again.Roots() != cache.Roots() ||
        again.Entries() != cache.Entries() || again.TextFiles() != cache.TextFiles())
        __builtin_trap();
    return 0;
}
