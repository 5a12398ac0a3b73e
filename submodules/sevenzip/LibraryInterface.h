// 7-Zip's format library as its callers see it: the COM-style interfaces, the property values
// and the three entry points of 7z.dll / 7z.so, declared after 7-Zip's published interface
// (IArchive.h, IStream.h, IProgress.h, IPassword.h, PropID.h). Only the declarations cross: the
// library's code stays in its own file, loaded at run time.
//
// Layout rules that these declarations keep: an interface is a table of virtual functions in the
// order 7-Zip declares them, with IUnknown's three first and no virtual destructor; methods and
// entry points are __stdcall on 32-bit Windows; strings are wchar_t (UTF-16 on Windows, UTF-32 on
// Linux), and a BSTR has its byte count in the 32 bits before its first character.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define SEVENZIP_CALL __stdcall
#else
#define SEVENZIP_CALL
#endif

namespace sevenzip {

using HResult = int32_t;
constexpr HResult kOk = 0;
constexpr HResult kFalse = 1;
constexpr HResult kNotImplemented = int32_t(0x80004001u);
constexpr HResult kNoInterface = int32_t(0x80004002u);
constexpr HResult kAbort = int32_t(0x80004004u);
constexpr HResult kFail = int32_t(0x80004005u);

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
inline bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

// 7-Zip's interface ids: {23170F69-40C1-278A-0000-00gg00ii0000}.
constexpr Guid SevenZipInterface(uint8_t group, uint8_t id) {
    return Guid{0x23170F69, 0x40C1, 0x278A, {0, 0, 0, group, 0, id, 0, 0}};
}
constexpr Guid kIidUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid kIidProgress = SevenZipInterface(0x00, 0x05);
constexpr Guid kIidSequentialInStream = SevenZipInterface(0x03, 0x01);
constexpr Guid kIidSequentialOutStream = SevenZipInterface(0x03, 0x02);
constexpr Guid kIidInStream = SevenZipInterface(0x03, 0x03);
constexpr Guid kIidCryptoGetTextPassword = SevenZipInterface(0x05, 0x10);
constexpr Guid kIidArchiveOpenCallback = SevenZipInterface(0x06, 0x10);
constexpr Guid kIidArchiveExtractCallback = SevenZipInterface(0x06, 0x20);
constexpr Guid kIidArchiveOpenVolumeCallback = SevenZipInterface(0x06, 0x30);
constexpr Guid kIidInArchiveGetStream = SevenZipInterface(0x06, 0x40);
constexpr Guid kIidInArchive = SevenZipInterface(0x06, 0x60);

// ---- Property values (PROPVARIANT) -----------------------------------------------------------

enum : uint16_t {
    kTypeEmpty = 0,
    kTypeBstr = 8,
    kTypeBool = 11,
    kTypeUint32 = 19,
    kTypeUint64 = 21,
    kTypeFileTime = 64,
};

using Bstr = wchar_t*;

struct FileTime {
    uint32_t low;
    uint32_t high;
};

struct PropertyValue {
    uint16_t type;
    uint16_t reserved1;
    uint16_t reserved2;
    uint16_t reserved3;
    union {
        uint32_t uint32Value;
        uint64_t uint64Value;
        int16_t boolValue;  // -1 true, 0 false
        FileTime fileTimeValue;
        Bstr bstrValue;
        void* room[2];  // as large as the largest member of Windows' PROPVARIANT
    };
};
static_assert(offsetof(PropertyValue, uint64Value) == 8, "PROPVARIANT layout");

// Property ids of items and archives (PropID.h).
enum : uint32_t {
    kpidMainSubfile = 1,
    kpidPath = 3,
    kpidName = 4,
    kpidExtension = 5,
    kpidIsDir = 6,
    kpidSize = 7,
    kpidPackSize = 8,
    kpidAttrib = 9,
    kpidCTime = 10,
    kpidATime = 11,
    kpidMTime = 12,
    kpidEncrypted = 15,
    kpidPosixAttrib = 53,
    kpidSymLink = 54,
    kpidIsAltStream = 63,
    kpidIsAux = 64,
    kpidIsDeleted = 65,
    kpidErrorFlags = 71,
    kpidHardLink = 90,
};

// Bits of kpidErrorFlags.
constexpr uint32_t kErrorIsNotArchive = 1u << 0;
constexpr uint32_t kErrorHeadersError = 1u << 1;
constexpr uint32_t kErrorUnexpectedEnd = 1u << 5;

// What GetHandlerProperty2 tells of a format (NArchive::NHandlerPropID).
enum : uint32_t {
    kHandlerName = 0,
    kHandlerClassId = 1,
    kHandlerExtension = 2,
    kHandlerAddExtension = 3,
    kHandlerSignature = 6,
    kHandlerMultiSignature = 7,
    kHandlerSignatureOffset = 8,
    kHandlerFlags = 11,
};

// Bits of kHandlerFlags (NArcInfoFlags).
enum : uint32_t {
    kFormatFindSignature = 1u << 3,
    kFormatMultiSignature = 1u << 4,
    kFormatStartOpen = 1u << 6,
    kFormatPureStartOpen = 1u << 7,
    kFormatBackwardOpen = 1u << 8,
    kFormatPreArchive = 1u << 9,
    kFormatByExtensionOnly = 1u << 12,
};

// Extraction (NArchive::NExtract).
enum : int32_t { kAskExtract = 0, kAskTest = 1, kAskSkip = 2 };
enum : int32_t {
    kResultOk = 0,
    kResultUnsupportedMethod = 1,
    kResultDataError = 2,
    kResultCrcError = 3,
    kResultUnavailable = 4,
    kResultUnexpectedEnd = 5,
    kResultDataAfterEnd = 6,
    kResultIsNotArchive = 7,
    kResultHeadersError = 8,
    kResultWrongPassword = 9,
};

// Origins of IInStream::Seek.
enum : uint32_t { kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// ---- Interfaces --------------------------------------------------------------------------------

struct IUnknownLike {
    virtual HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) = 0;
    virtual uint32_t SEVENZIP_CALL AddRef() = 0;
    virtual uint32_t SEVENZIP_CALL Release() = 0;

protected:
    ~IUnknownLike() = default;  // objects are freed through Release only
};

struct ISequentialInStream : IUnknownLike {
    virtual HResult SEVENZIP_CALL Read(void* data, uint32_t size, uint32_t* processed) = 0;
};

struct ISequentialOutStream : IUnknownLike {
    virtual HResult SEVENZIP_CALL Write(const void* data, uint32_t size, uint32_t* processed) = 0;
};

struct IInStream : ISequentialInStream {
    virtual HResult SEVENZIP_CALL Seek(int64_t offset, uint32_t origin, uint64_t* position) = 0;
};

struct IProgress : IUnknownLike {
    virtual HResult SEVENZIP_CALL SetTotal(uint64_t total) = 0;
    virtual HResult SEVENZIP_CALL SetCompleted(const uint64_t* completed) = 0;
};

struct ICryptoGetTextPassword : IUnknownLike {
    virtual HResult SEVENZIP_CALL CryptoGetTextPassword(Bstr* password) = 0;
};

struct IArchiveOpenCallback : IUnknownLike {
    virtual HResult SEVENZIP_CALL SetTotal(const uint64_t* files, const uint64_t* bytes) = 0;
    virtual HResult SEVENZIP_CALL SetCompleted(const uint64_t* files, const uint64_t* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
    virtual HResult SEVENZIP_CALL GetStream(uint32_t index, ISequentialOutStream** stream, int32_t askMode) = 0;
    virtual HResult SEVENZIP_CALL PrepareOperation(int32_t askMode) = 0;
    virtual HResult SEVENZIP_CALL SetOperationResult(int32_t result) = 0;
};

struct IArchiveOpenVolumeCallback : IUnknownLike {
    virtual HResult SEVENZIP_CALL GetProperty(uint32_t propertyId, PropertyValue* value) = 0;
    virtual HResult SEVENZIP_CALL GetStream(const wchar_t* name, IInStream** stream) = 0;
};

struct IInArchiveGetStream : IUnknownLike {
    virtual HResult SEVENZIP_CALL GetStream(uint32_t index, ISequentialInStream** stream) = 0;
};

struct IInArchive : IUnknownLike {
    virtual HResult SEVENZIP_CALL Open(IInStream* stream, const uint64_t* maxCheckStartPosition,
                                       IArchiveOpenCallback* callback) = 0;
    virtual HResult SEVENZIP_CALL Close() = 0;
    virtual HResult SEVENZIP_CALL GetNumberOfItems(uint32_t* count) = 0;
    virtual HResult SEVENZIP_CALL GetProperty(uint32_t index, uint32_t propertyId, PropertyValue* value) = 0;
    virtual HResult SEVENZIP_CALL Extract(const uint32_t* indices, uint32_t count, int32_t testMode,
                                          IArchiveExtractCallback* callback) = 0;
    virtual HResult SEVENZIP_CALL GetArchiveProperty(uint32_t propertyId, PropertyValue* value) = 0;
    // GetNumberOfProperties, GetPropertyInfo, GetNumberOfArchiveProperties and
    // GetArchivePropertyInfo follow in the table; nothing here calls them.
};

// ---- The library's entry points --------------------------------------------------------------

extern "C" {
typedef HResult(SEVENZIP_CALL* CreateObjectFunction)(const Guid* classId, const Guid* interfaceId, void** object);
typedef HResult(SEVENZIP_CALL* GetNumberOfFormatsFunction)(uint32_t* count);
typedef HResult(SEVENZIP_CALL* GetHandlerProperty2Function)(uint32_t format, uint32_t propertyId, PropertyValue* value);
}

}  // namespace sevenzip
