// What the fuzz targets share: structure read out of the fuzzer's bytes, and a loud
// end when an invariant breaks, so that libFuzzer keeps the input as a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fuzz {

[[noreturn]] inline void Broken(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

inline void Check(bool holds, const char* what) {
    if (!holds) Broken(what);
}

// The fuzzer's bytes read front to back; past the end every byte reads as 0, so any
// input, even an empty one, describes a case.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return offset_ >= size_; }

    uint8_t Byte() { return Empty() ? 0 : data_[offset_++]; }

    // Up to `count` bytes: fewer when the input ends first.
    std::vector<uint8_t> Bytes(size_t count) {
        const size_t available = Empty() ? 0 : size_ - offset_;
        const size_t taken = count < available ? count : available;
        std::vector<uint8_t> bytes(data_ + offset_, data_ + offset_ + taken);
        offset_ += taken;
        return bytes;
    }

    std::vector<uint8_t> Rest() { return Bytes(size_); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// Decimal digits without a leading zero (as "%lu" prints), at most `maximum`.
inline bool IsDecimal(const std::string& text, unsigned long long maximum) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return false;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= maximum;
}

}  // namespace fuzz
