// The INI document, fed twice from one input: through a reader that answers as the platform's
// profile reads do (texts cut short at any buffer size, lists without their terminators), and as
// an INI file on disk read through the platform's own reads.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "config/IniDocument.h"
#include "text/Utf8.h"

namespace {

// The input as UTF-16 code units: the section-name list, then each section's lines, U+FFFF apart.
class InputReader : public IniReader {
public:
    InputReader(const uint8_t* data, size_t size) {
        std::u16string units;
        for (size_t i = 0; i + 1 < size; i += 2) units += char16_t(data[i] | (data[i + 1] << 8));
        size_t start = 0;
        for (;;) {
            const size_t mark = units.find(u'\uFFFF', start);
            parts_.push_back(units.substr(start, mark == std::u16string::npos ? mark : mark - start));
            if (mark == std::u16string::npos) break;
            start = mark + 1;
        }
    }
    uint32_t ReadSectionNames(char16_t* buffer, uint32_t size) const override { return Deliver(parts_[0], buffer, size); }
    uint32_t ReadSection(const std::u16string& name, char16_t* buffer, uint32_t size) const override {
        // Each name gets the next part when first asked for, and keeps it when asked again.
        auto found = assigned_.find(name);
        if (found == assigned_.end()) {
            found = assigned_.emplace(name, assigned_.size() + 1).first;
            names_.push_back(name);
        }
        return Deliver(found->second < parts_.size() ? parts_[found->second] : std::u16string(), buffer, size);
    }
    const std::vector<std::u16string>& NamesAsked() const { return names_; }

private:
    // Like GetPrivateProfileSection(Names)W: cut to size - 2 with two NULs, else copied as it is.
    static uint32_t Deliver(const std::u16string& text, char16_t* buffer, uint32_t size) {
        if (size < 2) return 0;
        if (text.size() + 2 > size) {
            std::copy_n(text.begin(), size - 2, buffer);
            buffer[size - 2] = buffer[size - 1] = u'\0';
            return size - 2;
        }
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = u'\0';
        return uint32_t(text.size());
    }

    std::vector<std::u16string> parts_;
    mutable std::map<std::u16string, size_t> assigned_;
    mutable std::vector<std::u16string> names_;
};

void Use(const IniDocument& document, const std::vector<std::u16string>& names) {
    for (const std::u16string& name : names) {
        const IniSection* section = document.FindSection(name);
        if (!section) __builtin_trap();  // every section read must be found again
        const std::u16string flat = section->Flatten();
        if (flat.empty() || flat.back() != u'\0') __builtin_trap();
        for (const IniSection::Pair& pair : section->Pairs()) {
            std::u16string value;
            int32_t number = 0;
            if (!section->GetString(pair.first, value) || value != pair.second) __builtin_trap();
            section->GetInt(pair.first, number);
        }
    }
}

std::string temporaryIni;

void RemoveTemporaryIni() { unlink(temporaryIni.c_str()); }

const std::string& TemporaryIni() {
    if (temporaryIni.empty()) {
        char path[] = "/tmp/morvane-ini-fuzz-XXXXXX";
        const int file = mkstemp(path);
        if (file >= 0) close(file);
        temporaryIni = path;
        std::atexit(RemoveTemporaryIni);
    }
    return temporaryIni;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        const InputReader reader(data, size);
        IniDocument document;
        document.Load(reader);
        Use(document, reader.NamesAsked());
    }
    // The file reads re-read the whole file for every section: small files keep the fuzzer fast.
    if (size > 4096) return 0;
    const std::string& file = TemporaryIni();
    if (FILE* out = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
        IniDocument document;
        document.Load(text::FromUtf8(file));
        if (const IniSection* modules = document.FindSection(u"Modules")) Use(document, {modules->Name()});
    }
    return 0;
}
