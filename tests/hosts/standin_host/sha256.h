// SHA-256 of a byte sequence, so that frames can be compared between the
// native and the Windows build by a short line of text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lowpass::standin {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // Finishes and returns the digest as 64 lower-case hex digits.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);

    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace lowpass::standin
