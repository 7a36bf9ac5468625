// What the fuzz targets share: structure read out of the fuzzer's bytes, and a loud
// end when an invariant breaks, so that libFuzzer keeps the input as a finding.
#pragma once

#include <algorithm>
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
    Input(const uint8_t* data, size_t size) : data_(data), end_(data + size) {}

    uint8_t Byte() { return data_ == end_ ? 0 : *data_++; }

    std::vector<uint8_t> Bytes(size_t count) {
        const uint8_t* from = data_;
        data_ += std::min(count, static_cast<size_t>(end_ - data_));
        return {from, data_};
    }

private:
    const uint8_t* data_;
    const uint8_t* end_;
};

}  // namespace fuzz
