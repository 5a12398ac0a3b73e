#include "Callbacks.h"

#include "SystemAccess.h"

namespace sevenzip {

HResult PasswordState::Answer(Bstr* password) {
    if (!password) return kFail;
    *password = nullptr;
    asked = true;
    // No password yet: Morvane asks the user and offers the archive again.
    if (!given) return kAbort;
    *password = AllocateLibraryText(text);
    return *password ? kOk : kFail;
}

bool IsPlainFileName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (const char16_t c : name)
        if (c == u'/' || c == u'\\' || c == u':' || c == 0) return false;
    return true;
}

HResult OpenCallback::QueryInterface(const Guid& iid, void** object) {
    if (iid == kIidUnknown || iid == kIidArchiveOpenCallback) {
        *object = static_cast<IArchiveOpenCallback*>(this);
    } else if (iid == kIidArchiveOpenVolumeCallback) {
        *object = static_cast<IArchiveOpenVolumeCallback*>(this);
    } else if (iid == kIidCryptoGetTextPassword) {
        *object = static_cast<ICryptoGetTextPassword*>(this);
    } else {
        *object = nullptr;
        return kNoInterface;
    }
    AddRef();
    return kOk;
}

HResult OpenCallback::GetProperty(uint32_t propertyId, PropertyValue* value) {
    if (!value) return kFail;
    *value = PropertyValue{};
    if (propertyId == kpidName) {
        value->bstrValue = AllocateLibraryText(name_);
        if (!value->bstrValue) return kFail;
        value->type = kTypeBstr;
    }
    return kOk;
}

HResult OpenCallback::GetStream(const wchar_t* name, IInStream** stream) {
    if (!stream) return kFail;
    *stream = nullptr;
    // Only files beside the first volume, and none for an archive inside another.
    const std::u16string wanted = FromLibraryText(name);
    if (folder_.empty() || !IsPlainFileName(wanted)) return kFalse;
    std::unique_ptr<ReadOnlyFile> file = ReadOnlyFile::Open(folder_ + wanted);
    if (!file) return kFalse;
    ComPointer<FileInStream> volume = ComPointer<FileInStream>::Adopt(new FileInStream(std::move(file)));
    volumes_.push_back(volume);
    volume->AddRef();
    *stream = volume.Get();
    return kOk;
}

bool OpenCallback::VolumeFailed() const {
    for (const ComPointer<FileInStream>& volume : volumes_)
        if (volume->Failed()) return true;
    return false;
}

}  // namespace sevenzip
