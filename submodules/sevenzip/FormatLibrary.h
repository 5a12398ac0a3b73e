// 7-Zip's format library (7z.dll / 7z.so), loaded from the module's own folder, and the table of
// its format handlers: names, class ids, signatures and extensions. Formats are found by name,
// never by their place in the table, which depends on how the library was linked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "LibraryInterface.h"

namespace sevenzip {

#if defined(_WIN32)
constexpr char16_t kLibraryFileName[] = u"7z.dll";
#else
constexpr char16_t kLibraryFileName[] = u"7z.so";
#endif

struct Format {
    std::u16string name;  // as 7-Zip names it: "7z", "zip", "gzip", "Ext", "VHD", ...
    Guid classId{};
    uint32_t flags = 0;  // kFormat... bits
    uint32_t signatureOffset = 0;
    std::vector<std::string> signatures;  // each compared at signatureOffset
    // Extensions without the dot, lower-case, each with what the single item of such a file is
    // called after (".tar" for "tgz"; empty for none).
    std::vector<std::u16string> extensions;
    std::vector<std::u16string> addedExtensions;

    // Whether one of the signatures lies at signatureOffset of `head` (the file's first bytes).
    bool SignatureMatches(const std::string& head) const;
    // Whether `extension` (lower-case, without the dot) is one of this format's.
    bool HasExtension(const std::u16string& extension) const;
    // A format that compresses one stream, which 7-Zip names after the tar it usually holds.
    bool CompressesOneStream() const;
};

class FormatLibrary {
public:
    // Loads the library from `folder` (ending in a separator); null, with the reason, when it
    // cannot be loaded or offers no formats.
    static std::unique_ptr<FormatLibrary> Load(const std::u16string& folder, std::string& problem);

    const std::vector<Format>& Formats() const { return formats_; }
    // The format of this name (letter case ignored); null when the library has none.
    const Format* Find(const std::u16string& name) const;
    // A new handler object of the format; empty when the library cannot make one.
    ComPointer<IInArchive> CreateArchive(const Format& format) const;
    // How many bytes from the start of a file the signatures reach into.
    size_t SignatureReach() const { return signatureReach_; }

private:
    CreateObjectFunction createObject_ = nullptr;
    std::vector<Format> formats_;
    size_t signatureReach_ = 0;
};

// Lower-case ASCII letters, the rest unchanged.
std::u16string LowerCase(std::u16string text);

}  // namespace sevenzip
