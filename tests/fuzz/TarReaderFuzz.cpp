// The TAR reader on an archive held in memory: every member it reports must lie inside the
// archive, whatever the headers, numbers, long names and pax records say.
#include <cstdint>
#include <cstring>
#include <string>

#include "TarReader.h"

namespace {

class MemoryInput : public tar::Input {
public:
    MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
        if (offset > size_ || size > size_ - offset) return false;
        std::memcpy(buffer, data_ + offset, size);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryInput input(data, size);
    tar::Reader reader(input);
    tar::Entry entry;
    for (int members = 0; members < 4096; ++members) {
        const tar::Reader::Step step = reader.Next(entry);
        if (step != tar::Reader::Step::Entry) {
            if (step == tar::Reader::Step::Error && !tar::ProblemText(reader.LastProblem())) __builtin_trap();
            break;
        }
        if (entry.dataOffset < entry.headerOffset + tar::kBlockSize) __builtin_trap();
        if (entry.dataOffset > size || entry.size > size - entry.dataOffset) __builtin_trap();
        const std::string shown = tar::NormalizeMemberName(entry.name);
        if (shown.size() > entry.name.size()) __builtin_trap();
    }
    return 0;
}
