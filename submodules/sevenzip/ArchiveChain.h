// An archive file opened by 7-Zip's handlers, and what it holds when it holds one thing: the
// joined volumes of a split archive, the disk of an image file, the file system on a disk, the
// tar of a compressed stream. Each step is one level; the innermost one is what Morvane lists.
//
// A level is opened by its content: first the formats whose signature the stream's first bytes
// carry, then those that its name's extension names, then those that need no signature at all
// (MBR); a program file is searched for an archive behind it (installers, self-extracting
// archives).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Callbacks.h"
#include "ComSupport.h"
#include "DecodedStream.h"
#include "FormatLibrary.h"
#include "ModuleSettings.h"
#include "Streams.h"

namespace sevenzip {

enum class OpenOutcome { Opened, NotMine, NeedPassword };

struct ArchiveLevel {
    const Format* format = nullptr;
    ComPointer<IInArchive> archive;
    ComPointer<OpenCallback> callback;
    std::u16string name;  // what this level's stream is called: the file's name, or the item's above
    bool passwordAsked = false;  // the handler needed the password to read the headers
    bool cutShort = false;  // the handler found the archive cut short or its headers damaged
};

class ArchiveChain {
public:
    ArchiveChain(const FormatLibrary& library, const ModuleSettings& settings) : library_(library), settings_(settings) {}
    ~ArchiveChain() { Close(); }
    ArchiveChain(const ArchiveChain&) = delete;
    ArchiveChain& operator=(const ArchiveChain&) = delete;

    // Opens the file and whatever a split archive or a disk image in it holds. NeedPassword: a
    // handler asked for the password, and there was none or it was wrong.
    OpenOutcome Open(const std::u16string& path, std::shared_ptr<PasswordState> password);
    // Opens the archive inside a compressed stream (the tar of a .tar.gz), when there is one.
    void OpenDecodedContent();

    const ArchiveLevel& Innermost() const { return levels_.back(); }
    size_t Depth() const { return levels_.size(); }
    // Whether a level was found cut short: its items are not all the archive had.
    bool CutShort() const {
        for (const ArchiveLevel& level : levels_)
            if (level.cutShort) return true;
        return false;
    }
    // An item's path in the innermost level; an item without one is named after the level, as
    // 7-Zip names it.
    std::u16string ItemPath(uint32_t index) const { return ItemPath(levels_.back(), index); }
    // Whether a level's headers were encrypted (and so the password that opened them is right).
    bool HeadersEncrypted() const;
    // Whether reading the file or one of its volumes failed (rather than its content being bad).
    bool SourceFailed() const;
    void Close();

private:
    OpenOutcome OpenLevel(const ComPointer<IInStream>& stream, const std::u16string& name,
                          const ComPointer<OpenCallback>& callback, ArchiveLevel& level);
    OpenOutcome TryFormat(const Format& format, const ComPointer<IInStream>& stream, uint64_t searchLimit,
                          const ComPointer<OpenCallback>& callback, ArchiveLevel& level);
    std::u16string ItemPath(const ArchiveLevel& level, uint32_t index) const;

    const FormatLibrary& library_;
    const ModuleSettings& settings_;
    std::shared_ptr<PasswordState> password_;
    ComPointer<FileInStream> file_;
    ComPointer<DecodedStream> decoded_;
    bool HoldsExcludedFormat();

    std::vector<ArchiveLevel> levels_;
};

// What 7-Zip calls the content of `fileName` when a handler of `format` gives it no name: the
// name with the format's extension taken off and the extension it stands for added ("x.tgz" ->
// "x.tar", "x.gz" -> "x", "x" -> "x~").
std::u16string DefaultName(const std::u16string& fileName, const Format& format);

}  // namespace sevenzip
