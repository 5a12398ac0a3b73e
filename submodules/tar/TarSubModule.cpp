// The tar sub-module: Morvane's sub-module contract (src/modules/SubModuleContract.h) on top of
// TarReader. Read it as the worked example of a sub-module:
//  - LoadSubModule reads the settings text and hands over the five operations;
//  - OpenProc claims a file by its content and keeps everything about it in one Container;
//  - ReadEntryProc lists lazily and remembers what it listed, because Morvane asks for an index
//    again after extracting it;
//  - ExtractProc writes one file in chunks, reporting each chunk to the progress function;
//  - no C++ exception ever leaves an operation.
//
// What Morvane is shown:
//  - regular files with their sizes; directories with the directory attribute (0x10), size 0;
//  - symbolic links as plain files whose content is the link's target text, so extraction
//    never creates a link that could point outside the destination;
//  - hard links as plain files with the content of the member they name;
//  - devices, FIFOs and the archive's root ("./") are not listed: they have no file to extract;
//  - GNU sparse and multi-volume members are listed but not extracted (ExtractProc answers 4).
// Names are UTF-8 unless the settings say CodePage=<n>; pax names are always UTF-8.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SystemAccess.h"
#include "TarReader.h"
#include "modules/SubModuleContract.h"

#if defined(_WIN32)
#define TAR_EXPORT  // exported undecorated through tar.def
#else
#define TAR_EXPORT __attribute__((visibility("default")))
#endif

using namespace tarmodule;

namespace {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

constexpr int32_t kExtractUnsupported = 4;  // "any other failure" of the contract
constexpr size_t kChunkSize = 1u << 20;

// Written by LoadSubModule before any container exists; containers copy it when they open.
std::atomic<uint32_t> configuredCodePage{kCodePageUtf8};

std::u16string FromWide(const SM_WCHAR* text) {
    std::u16string result;
    if (text)
        for (; *text; ++text) result += char16_t(*text);
    return result;
}

// "CodePage=<n>" in the settings text; false when the value is no supported code page.
bool ReadSettings(const SM_WCHAR* settings, uint32_t& codePage) {
    codePage = kCodePageUtf8;
    if (!settings) return true;
    for (const SM_WCHAR* item = settings; *item;) {
        const std::u16string line = FromWide(item);
        item += line.size() + 1;
        const size_t equals = line.find(u'=');
        if (equals == std::u16string::npos || line.compare(0, equals, u"CodePage") != 0) continue;
        std::u16string value = line.substr(equals + 1);
        value.erase(0, value.find_first_not_of(u' '));
        value.erase(value.find_last_not_of(u' ') + 1);
        if (value.empty() || value.size() > 5) return false;
        uint32_t number = 0;
        for (const char16_t c : value) {
            if (c < u'0' || c > u'9') return false;
            number = number * 10 + uint32_t(c - u'0');
        }
        if (!IsSupportedCodePage(number)) return false;
        codePage = number;
    }
    return true;
}

// FILETIME counts 100 ns from 1601-01-01; times it cannot hold are "no time" (zero).
SM_FILETIME ToFileTime(int64_t seconds, uint32_t nanoseconds) {
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr int64_t kLastSecond = INT64_MAX / 10000000 - kSecondsFrom1601To1970 - 1;
    SM_FILETIME time{0, 0};
    if (seconds < -kSecondsFrom1601To1970 || seconds > kLastSecond) return time;
    const uint64_t ticks = uint64_t(seconds + kSecondsFrom1601To1970) * 10000000u + nanoseconds / 100;
    time.LowDateTime = uint32_t(ticks);
    time.HighDateTime = uint32_t(ticks >> 32);
    return time;
}

struct ListedEntry {
    tar::Entry member;
    std::string normalizedName;  // bytes, '/'-separated: how hard links name their target
    std::u16string name;         // what Morvane shows
    uint64_t unpackedSize = 0;
};

class Container {
public:
    Container(std::unique_ptr<InputFile> file, uint32_t codePage)
        : file_(std::move(file)), readAhead_(*file_), reader_(readAhead_), codePage_(codePage) {}

    int32_t ReadEntry(int32_t index, EntryInfo& info);
    int32_t Extract(const ExtractRequest& request);

private:
    enum class Listing { Listed, End, Error };
    Listing ListUpTo(size_t index);
    const ListedEntry* FindHardLinkTarget(size_t index) const;
    int32_t CopyData(uint64_t offset, uint64_t size, OutputFile& output, const ExtractRequest& request);

    std::unique_ptr<InputFile> file_;
    tar::ReadAhead readAhead_;  // the headers' reads; the data is read straight from file_
    tar::Reader reader_;
    uint32_t codePage_;
    std::vector<ListedEntry> entries_;
    bool ended_ = false;
};

Container::Listing Container::ListUpTo(size_t index) {
    while (entries_.size() <= index) {
        if (ended_) return Listing::End;
        tar::Entry member;
        switch (reader_.Next(member)) {
        case tar::Reader::Step::End: ended_ = true; return Listing::End;
        case tar::Reader::Step::Error: return Listing::Error;
        case tar::Reader::Step::Entry: break;
        }
        ListedEntry listed;
        listed.normalizedName = tar::NormalizeMemberName(member.name);
        if (listed.normalizedName.empty() || member.type == tar::EntryType::Special) continue;
        listed.name = DecodeText(listed.normalizedName, member.namesAreUtf8 ? kCodePageUtf8 : codePage_);
        if (kPathSeparator != u'/') std::replace(listed.name.begin(), listed.name.end(), u'/', kPathSeparator);
        listed.member = std::move(member);
        entries_.push_back(std::move(listed));
        ListedEntry& added = entries_.back();
        switch (added.member.type) {
        case tar::EntryType::Directory: added.unpackedSize = 0; break;
        case tar::EntryType::SymbolicLink: added.unpackedSize = added.member.linkName.size(); break;
        case tar::EntryType::HardLink: {
            const ListedEntry* target = FindHardLinkTarget(entries_.size() - 1);
            added.unpackedSize = target ? target->member.size : 0;
            break;
        }
        default: added.unpackedSize = added.member.size; break;
        }
    }
    return Listing::Listed;
}

// The latest earlier member with the link's name that holds data.
const ListedEntry* Container::FindHardLinkTarget(size_t index) const {
    const std::string target = tar::NormalizeMemberName(entries_[index].member.linkName);
    for (size_t i = index; i-- > 0;) {
        const ListedEntry& candidate = entries_[i];
        if (candidate.normalizedName == target && candidate.member.type == tar::EntryType::File) return &candidate;
    }
    return nullptr;
}

int32_t Container::ReadEntry(int32_t index, EntryInfo& info) {
    if (index < 0) return SM_ENTRY_ERROR;
    switch (ListUpTo(size_t(index))) {
    case Listing::End: return SM_ENTRY_END;
    case Listing::Error: return SM_ENTRY_ERROR;
    case Listing::Listed: break;
    }
    const ListedEntry& entry = entries_[size_t(index)];
    const bool directory = entry.member.type == tar::EntryType::Directory;
    info.UnpackedSize = entry.unpackedSize;
    info.PackedSize = entry.member.size;
    info.Attributes = directory ? kAttributeDirectory : kAttributeArchive;
    if (!directory && (entry.member.mode & 0200) == 0) info.Attributes |= kAttributeReadOnly;
    info.LastWriteTime = ToFileTime(entry.member.mtime, entry.member.mtimeNanoseconds);
    info.CreationTime = info.LastWriteTime;
    const size_t length = std::min<size_t>(entry.name.size(), SM_NAME_LENGTH);
    std::copy(entry.name.begin(), entry.name.begin() + length, info.Name);
    if (length < SM_NAME_LENGTH) info.Name[length] = 0;
    return SM_ENTRY_OK;
}

int32_t Container::CopyData(uint64_t offset, uint64_t size, OutputFile& output, const ExtractRequest& request) {
    std::vector<unsigned char> buffer(size_t(std::min<uint64_t>(size, kChunkSize)));
    while (size > 0) {
        const size_t chunk = size_t(std::min<uint64_t>(size, kChunkSize));
        if (!file_->ReadAt(offset, buffer.data(), chunk)) {
            // The archive may have shrunk since it was listed: then the data is incomplete.
            return file_->CurrentSize() < offset + chunk ? SM_EXTRACT_BAD_DATA : SM_EXTRACT_READ_ERROR;
        }
        if (!output.Write(buffer.data(), chunk)) return SM_EXTRACT_WRITE_ERROR;
        request.ProgressProc(request.ProgressContext, int32_t(chunk), 0);
        offset += chunk;
        size -= chunk;
    }
    return SM_EXTRACT_OK;
}

int32_t Container::Extract(const ExtractRequest& request) {
    if (request.EntryIndex < 0 || size_t(request.EntryIndex) >= entries_.size() || !request.TargetPath)
        return kExtractUnsupported;
    const size_t index = size_t(request.EntryIndex);
    const ListedEntry& entry = entries_[index];
    const std::u16string target = FromWide(request.TargetPath);

    if (entry.member.type == tar::EntryType::Directory)
        return MakeDirectory(target) ? SM_EXTRACT_OK : SM_EXTRACT_WRITE_ERROR;
    if (entry.member.type == tar::EntryType::Unsupported) return kExtractUnsupported;

    const ListedEntry* source = &entry;
    if (entry.member.type == tar::EntryType::HardLink) {
        source = FindHardLinkTarget(index);
        if (!source) return SM_EXTRACT_BAD_DATA;
    }

    OutputFile output;
    if (!output.Create(target)) return SM_EXTRACT_WRITE_ERROR;
    int32_t result = SM_EXTRACT_OK;
    if (entry.member.type == tar::EntryType::SymbolicLink) {
        const std::string& text = entry.member.linkName;
        if (!output.Write(text.data(), text.size())) result = SM_EXTRACT_WRITE_ERROR;
        else if (!text.empty()) request.ProgressProc(request.ProgressContext, int32_t(text.size()), 0);
    } else {
        result = CopyData(source->member.dataOffset, source->member.size, output, request);
    }
    if (result != SM_EXTRACT_OK) return result;  // the incomplete file is deleted with `output`
    return output.Close() ? SM_EXTRACT_OK : SM_EXTRACT_WRITE_ERROR;
}

// ---- The five operations ---------------------------------------------------------------------

int32_t SM_CALL OpenTar(OpenRequest request, ContainerHandle* handle, void* /*owner*/) {
    try {
        if (!handle || !request.ArchivePath) return SM_OPEN_NOT_MINE;
        std::unique_ptr<InputFile> file = InputFile::Open(FromWide(request.ArchivePath));
        unsigned char block[tar::kBlockSize];
        if (!file || file->Size() < tar::kBlockSize || !file->ReadAt(0, block, sizeof block) ||
            !tar::IsHeaderBlock(block))
            return SM_OPEN_NOT_MINE;
        // TAR has no encryption, so a password, if any, is not looked at.
        *handle = new Container(std::move(file), configuredCodePage.load());
        return SM_OPEN_OK;
    } catch (...) {
        return SM_OPEN_NOT_MINE;
    }
}

int32_t SM_CALL CloseTar(ContainerHandle handle) {
    delete static_cast<Container*>(handle);
    return 1;
}

int32_t SM_CALL ReadTarEntry(ContainerHandle handle, int32_t index, EntryInfo* entry) {
    try {
        if (!handle || !entry) return SM_ENTRY_ERROR;
        return static_cast<Container*>(handle)->ReadEntry(index, *entry);
    } catch (...) {
        return SM_ENTRY_ERROR;
    }
}

int32_t SM_CALL ExtractTarEntry(ContainerHandle handle, ExtractRequest request) {
    try {
        if (!handle || !request.ProgressProc) return kExtractUnsupported;
        return static_cast<Container*>(handle)->Extract(request);
    } catch (...) {
        return kExtractUnsupported;
    }
}

// Nothing to prepare: listing reads the archive lazily.
int32_t SM_CALL PrepareTar(ContainerHandle /*handle*/) { return 1; }

}  // namespace

// ---- The two exports -------------------------------------------------------------------------

extern "C" TAR_EXPORT int32_t SM_CALL LoadSubModule(SubModuleInterface* Interface) {
    if (!Interface) return 0;
    uint32_t codePage = kCodePageUtf8;
    try {
        // A mistyped code page refuses the module, so that Morvane reports it instead of guessing.
        if (!ReadSettings(Interface->SettingsText, codePage)) return 0;
    } catch (...) {
        return 0;
    }
    configuredCodePage.store(codePage);
    Interface->Version = SM_INTERFACE_VERSION;
    Interface->OpenProc = OpenTar;
    Interface->CloseProc = CloseTar;
    Interface->ReadEntryProc = ReadTarEntry;
    Interface->ExtractProc = ExtractTarEntry;
    Interface->PrepareProc = PrepareTar;
    return 1;
}

extern "C" TAR_EXPORT int32_t SM_CALL UnloadSubModule(void) { return 1; }
