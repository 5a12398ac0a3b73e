#include "FormatLibrary.h"

#include <algorithm>
#include <cstring>

#include "SystemAccess.h"

namespace sevenzip {

std::u16string LowerCase(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    return text;
}

namespace {

std::vector<std::u16string> Words(const std::u16string& text) {
    std::vector<std::u16string> words;
    std::u16string word;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u' ') {
            word += text[i];
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

// A multi-signature is a run of signatures, each preceded by its length in one byte.
std::vector<std::string> SplitSignatures(const std::string& bytes) {
    std::vector<std::string> signatures;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = uint8_t(bytes[at]);
        if (length == 0 || at + 1 + length > bytes.size()) break;
        signatures.push_back(bytes.substr(at + 1, length));
        at += 1 + length;
    }
    return signatures;
}

}  // namespace

bool Format::SignatureMatches(const std::string& head) const {
    for (const std::string& signature : signatures)
        if (head.size() >= signatureOffset + signature.size() &&
            head.compare(signatureOffset, signature.size(), signature) == 0)
            return true;
    return false;
}

bool Format::HasExtension(const std::u16string& extension) const {
    return !extension.empty() && std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

bool Format::CompressesOneStream() const {
    return std::find(addedExtensions.begin(), addedExtensions.end(), u".tar") != addedExtensions.end();
}

std::unique_ptr<FormatLibrary> FormatLibrary::Load(const std::u16string& folder, std::string& problem) {
    if (folder.empty()) {
        problem = "the module cannot tell its own folder";
        return nullptr;
    }
    void* library = LoadLibraryForGood(folder + kLibraryFileName);
    if (!library) {
        problem = "7-Zip's library is not beside the module";
        return nullptr;
    }
    std::unique_ptr<FormatLibrary> loaded(new FormatLibrary);
    loaded->createObject_ = reinterpret_cast<CreateObjectFunction>(EntryPoint(library, "CreateObject"));
    const auto count = reinterpret_cast<GetNumberOfFormatsFunction>(EntryPoint(library, "GetNumberOfFormats"));
    const auto property = reinterpret_cast<GetHandlerProperty2Function>(EntryPoint(library, "GetHandlerProperty2"));
    uint32_t formats = 0;
    if (!loaded->createObject_ || !count || !property || count(&formats) != kOk || formats == 0) {
        problem = "7-Zip's library offers no formats";
        return nullptr;
    }
    for (uint32_t index = 0; index < formats; ++index) {
        Format format;
        Property value;
        if (property(index, kHandlerName, value.Receive()) != kOk || !value.IsText()) continue;
        format.name = value.Text();
        if (property(index, kHandlerClassId, value.Receive()) != kOk || value.Bytes().size() != sizeof(Guid)) continue;
        std::memcpy(&format.classId, value.Bytes().data(), sizeof(Guid));
        uint64_t number = 0;
        if (property(index, kHandlerFlags, value.Receive()) == kOk && value.Number(number)) format.flags = uint32_t(number);
        if (property(index, kHandlerSignatureOffset, value.Receive()) == kOk && value.Number(number))
            format.signatureOffset = uint32_t(number);
        if (property(index, kHandlerSignature, value.Receive()) == kOk && !value.Bytes().empty())
            format.signatures.push_back(value.Bytes());
        if (property(index, kHandlerMultiSignature, value.Receive()) == kOk)
            for (const std::string& signature : SplitSignatures(value.Bytes())) format.signatures.push_back(signature);
        std::vector<std::u16string> added;
        if (property(index, kHandlerExtension, value.Receive()) == kOk) format.extensions = Words(LowerCase(value.Text()));
        if (property(index, kHandlerAddExtension, value.Receive()) == kOk) added = Words(value.Text());
        // "*" stands for nothing added.
        for (size_t i = 0; i < format.extensions.size(); ++i)
            format.addedExtensions.push_back(i < added.size() && added[i] != u"*" ? added[i] : std::u16string());
        for (const std::string& signature : format.signatures)
            loaded->signatureReach_ = std::max<size_t>(loaded->signatureReach_, format.signatureOffset + signature.size());
        loaded->formats_.push_back(std::move(format));
    }
    if (loaded->formats_.empty()) {
        problem = "7-Zip's library offers no formats";
        return nullptr;
    }
    return loaded;
}

const Format* FormatLibrary::Find(const std::u16string& name) const {
    const std::u16string wanted = LowerCase(name);
    for (const Format& format : formats_)
        if (LowerCase(format.name) == wanted) return &format;
    return nullptr;
}

ComPointer<IInArchive> FormatLibrary::CreateArchive(const Format& format) const {
    ComPointer<IInArchive> archive;
    if (createObject_(&format.classId, &kIidInArchive, reinterpret_cast<void**>(archive.Receive())) != kOk) archive.Reset();
    return archive;
}

}  // namespace sevenzip
