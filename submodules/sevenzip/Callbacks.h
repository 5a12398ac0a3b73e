// What 7-Zip asks while it opens an archive or extracts from it: the password, and the other
// volumes of a split archive.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "Streams.h"

namespace sevenzip {

// The password of one open, and whether 7-Zip asked for it: a handler that answers "not this
// format" after asking has been given a wrong one.
struct PasswordState {
    bool given = false;
    std::u16string text;
    std::atomic<bool> asked{false};

    // 7-Zip's answer to a request: the text in the library's allocation, or kAbort without one.
    HResult Answer(Bstr* password);
};

class OpenCallback final : public IArchiveOpenCallback, public IArchiveOpenVolumeCallback, public ICryptoGetTextPassword {
public:
    // `folder` and `name` tell where the archive's other volumes lie; a nested archive has no
    // folder and so no volumes.
    OpenCallback(std::shared_ptr<PasswordState> password, std::u16string folder, std::u16string name)
        : password_(std::move(password)), folder_(std::move(folder)), name_(std::move(name)) {}

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override;
    HResult SEVENZIP_CALL SetTotal(const uint64_t*, const uint64_t*) override { return kOk; }
    HResult SEVENZIP_CALL SetCompleted(const uint64_t*, const uint64_t*) override { return kOk; }
    HResult SEVENZIP_CALL GetProperty(uint32_t propertyId, PropertyValue* value) override;
    HResult SEVENZIP_CALL GetStream(const wchar_t* name, IInStream** stream) override;
    HResult SEVENZIP_CALL CryptoGetTextPassword(Bstr* password) override { return password_->Answer(password); }
    SEVENZIP_REFERENCE_COUNTED

    // Whether reading one of the volumes failed.
    bool VolumeFailed() const;

private:
    ~OpenCallback() = default;
    std::shared_ptr<PasswordState> password_;
    std::u16string folder_;
    std::u16string name_;
    std::vector<ComPointer<FileInStream>> volumes_;
};

// Whether a volume's name, as a handler asks for it, names a file beside the first volume.
bool IsPlainFileName(const std::u16string& name);

}  // namespace sevenzip
