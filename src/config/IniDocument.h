// The INI file in memory: sections by exact (case-sensitive, untrimmed) name.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "config/IniSection.h"

// The two reads the document is filled from. Each answers like the platform's profile reads:
// code units delivered without the final NUL, 0 for nothing, buffer size minus two when cut short.
class IniReader {
public:
    virtual ~IniReader() = default;
    virtual uint32_t ReadSectionNames(char16_t* buffer, uint32_t size) const = 0;
    virtual uint32_t ReadSection(const std::u16string& name, char16_t* buffer, uint32_t size) const = 0;
};

class IniDocument {
public:
    // Fills the document from the file at path. A missing or empty file gives an empty document.
    bool Load(const std::u16string& path);
    bool Load(const IniReader& reader);
    const IniSection* FindSection(const std::u16string& name) const;

private:
    IniSection& SectionNamed(const std::u16string& name);
    void ParseLines(IniSection& section, const std::u16string& lines);

    // std::u16string compares code units as unsigned 16-bit values, shorter prefix first.
    std::map<std::u16string, std::unique_ptr<IniSection>> sections_;
};
