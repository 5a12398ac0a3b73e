#include "config/IniDocument.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace {

constexpr uint32_t kInitialNamesBuffer = 1024;
constexpr uint32_t kInitialSectionBuffer = 4096;

// The profile reads answer "buffer size minus two" when the text was cut short; grow until it fits.
template <typename Read>
std::u16string ReadWhole(uint32_t size, Read read) {
    std::vector<char16_t> buffer;
    for (;;) {
        buffer.assign(size, u'\0');
        const uint32_t length = read(buffer.data(), size);
        if (length + 2 != size || size >= (1u << 30)) {
            // Keep the list's own terminators: items end in NUL, the list in one more.
            return std::u16string(buffer.data(), std::min<size_t>(length + 1, size));
        }
        size *= 2;
    }
}

// Walks a NUL-separated list ended by an empty item (or by its end).
template <typename Visit>
void ForEachItem(std::u16string_view list, Visit visit) {
    while (!list.empty() && list.front() != u'\0') {
        const size_t end = std::min(list.find(u'\0'), list.size());
        visit(std::u16string(list.substr(0, end)));
        list.remove_prefix(std::min(end + 1, list.size()));
    }
}

// The INI file on disk, read through the platform's profile reads.
class IniFileReader : public IniReader {
public:
    explicit IniFileReader(const std::u16string& path) : path_(path) {}
    uint32_t ReadSectionNames(char16_t* buffer, uint32_t size) const override {
        return platform::ReadIniSectionNames(path_, buffer, size);
    }
    uint32_t ReadSection(const std::u16string& name, char16_t* buffer, uint32_t size) const override {
        return platform::ReadIniSection(path_, name, buffer, size);
    }

private:
    const std::u16string& path_;
};

}  // namespace

bool IniDocument::Load(const std::u16string& path) { return Load(IniFileReader(path)); }

bool IniDocument::Load(const IniReader& reader) {
    const std::u16string names = ReadWhole(kInitialNamesBuffer, [&](char16_t* buffer, uint32_t size) {
        return reader.ReadSectionNames(buffer, size);
    });
    ForEachItem(names, [&](const std::u16string& name) {
        IniSection& section = SectionNamed(name);
        const std::u16string lines = ReadWhole(kInitialSectionBuffer, [&](char16_t* buffer, uint32_t size) {
            return reader.ReadSection(name, buffer, size);
        });
        ParseLines(section, lines);
    });
    return true;
}

IniSection& IniDocument::SectionNamed(const std::u16string& name) {
    auto found = sections_.find(name);
    if (found == sections_.end())
        found = sections_.emplace(name, std::make_unique<IniSection>(name)).first;
    return *found->second;
}

void IniDocument::ParseLines(IniSection& section, const std::u16string& lines) {
    ForEachItem(lines, [&](const std::u16string& line) {
        size_t start = line.find_first_not_of(u" \t");
        if (start == std::u16string::npos || line[start] == u';') return;
        const size_t equals = line.find(u'=', start);
        if (equals == std::u16string::npos) return;
        section.Set(line.substr(start, equals - start), line.substr(equals + 1));
    });
}

const IniSection* IniDocument::FindSection(const std::u16string& name) const {
    const auto found = sections_.find(name);
    return found == sections_.end() ? nullptr : found->second.get();
}
