// The platform seam on Windows: the real system calls.
#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "platform/Platform.h"

namespace platform {
namespace {

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string U(const wchar_t* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }

// Copies a text that FormatMessageW or we allocated with LocalAlloc, then frees it, also when
// the copy cannot be made.
std::u16string TakeLocalText(wchar_t* text) {
    struct Owner {
        wchar_t* text;
        ~Owner() { LocalFree(text); }
    } owner{text};
    return text ? U(text) : std::u16string();
}

wchar_t* LocalFallback(const wchar_t* format, uint32_t code, size_t limit) {
    auto* buffer = static_cast<wchar_t*>(LocalAlloc(LMEM_ZEROINIT, 512));
    if (!buffer) return nullptr;
    size_t capacity = LocalSize(buffer) / sizeof(wchar_t);
    if (capacity > limit) capacity = limit;
    _snwprintf(buffer, capacity - 1, format, static_cast<unsigned>(code));
    return buffer;
}

}  // namespace

uint32_t ReadIniSectionNames(const std::u16string& iniPath, char16_t* buffer, uint32_t size) {
    return GetPrivateProfileSectionNamesW(reinterpret_cast<wchar_t*>(buffer), size, W(iniPath));
}

uint32_t ReadIniSection(const std::u16string& iniPath, const std::u16string& section, char16_t* buffer,
                        uint32_t size) {
    return GetPrivateProfileSectionW(W(section), reinterpret_cast<wchar_t*>(buffer), size, W(iniPath));
}

LibraryHandle LoadLibraryFromPath(const std::u16string& path, std::u16string& errorText) {
    HMODULE library = LoadLibraryExW(W(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library) return library;
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (!FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr))
        text = LocalFallback(L"Unrecognized error code: %u", code, 256);
    errorText = TakeLocalText(text);
    return nullptr;
}

void* FindExport(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void ReleaseLibrary(LibraryHandle library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::u16string ExceptionText(uint32_t exceptionCode) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (!FormatMessageW(flags, GetModuleHandleW(L"NTDLL.dll"), exceptionCode, 0, reinterpret_cast<wchar_t*>(&text),
                        0, nullptr)) {
        text = exceptionCode == 0xE0434352u ? LocalFallback(L".NET code has thrown an exception", 0, 256)
                                            : LocalFallback(L"Unrecognized exception: %u", exceptionCode, 256);
    }
    return TakeLocalText(text);
}

bool PathMatchesMask(const std::u16string& path, const std::u16string& mask) {
    return PathMatchSpecW(W(path), W(mask)) != FALSE;
}

std::u16string ModuleDirectory(void* instance) {
    // Grows until the whole path fits instead of cutting it at a fixed size.
    std::vector<wchar_t> buffer(2048);
    for (;;) {
        const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(instance), buffer.data(), buffer.size());
        if (length == 0) return std::u16string();
        if (length < buffer.size()) break;
        buffer.resize(buffer.size() * 2);
    }
    PathRemoveFileSpecW(buffer.data());
    return U(buffer.data()) + u"\\";
}

void ShowReport(const std::u16string& text, const std::u16string& caption) {
    MessageBoxW(nullptr, W(text), W(caption), MB_OK);
}

}  // namespace platform

namespace platform {
namespace {

bool StartsWith(const std::u16string& text, const char16_t* prefix) {
    return text.compare(0, std::char_traits<char16_t>::length(prefix), prefix) == 0;
}

// The system's full form of path: absolute, "/" turned into "\\", "." and ".." resolved as the
// plain form would be. Empty when it cannot be had.
std::u16string FullPath(const std::u16string& path) {
    std::vector<wchar_t> buffer(path.size() + MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameW(W(path), DWORD(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return std::u16string();
        if (length < buffer.size()) return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), length);
        buffer.resize(length);
    }
}

// Runs fileCall on the path and, when that is refused and the path is long, on its long form.
template <typename FileCall>
bool WithLongPathRetry(const std::u16string& path, PathKind kind, FileCall fileCall) {
    if (fileCall(W(path))) return true;
    const std::u16string longForm = LongPathForm(path, kind);
    return longForm != path && fileCall(W(longForm));
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Closes every handle of this process, but the one given, that refers to the given handle's file.
DWORD WINAPI CloseOtherHandlesToFile(void* parameter) {
    const HANDLE kept = static_cast<HANDLE>(parameter);
    BY_HANDLE_FILE_INFORMATION wanted{}, found{};
    if (!GetFileInformationByHandle(kept, &wanted)) return 0;
    // Handle values are multiples of four, the lowest free one handed out first: past a long run
    // of unused values there are no more.
    for (uintptr_t value = 4, lastUsed = 0; value < lastUsed + 4 * 4096; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!GetHandleInformation(handle, &flags)) continue;
        lastUsed = value;
        if (handle != kept && GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &found) &&
            SameFile(found, wanted))
            CloseHandle(handle);
    }
    return 0;
}

FILETIME Split(uint64_t time) {
    FILETIME split;
    split.dwLowDateTime = static_cast<DWORD>(time);
    split.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return split;
}

}  // namespace

bool ReadAttributes(const std::u16string& path, uint32_t& attributes) {
    return WithLongPathRetry(path, PathKind::Directory, [&](const wchar_t* p) {
        attributes = GetFileAttributesW(p);
        return attributes != INVALID_FILE_ATTRIBUTES;
    });
}

bool MakeDirectory(const std::u16string& path) {
    return WithLongPathRetry(path, PathKind::Directory,
                             [](const wchar_t* p) { return CreateDirectoryW(p, nullptr) != FALSE; });
}

void SetFileTimes(const std::u16string& path, uint64_t creationTime, uint64_t lastWriteTime) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const bool opened = WithLongPathRetry(path, PathKind::File, [&](const wchar_t* p) {
        file = CreateFileW(p, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (!opened) return;
    const FILETIME creation = Split(creationTime);
    const FILETIME lastWrite = Split(lastWriteTime);
    SetFileTime(file, &creation, nullptr, &lastWrite);
    CloseHandle(file);
}

void SetDirectoryTime(const std::u16string& path, uint64_t lastWriteTime) {
    HANDLE directory = INVALID_HANDLE_VALUE;
    const bool opened = WithLongPathRetry(path, PathKind::Directory, [&](const wchar_t* p) {
        directory = CreateFileW(p, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return directory != INVALID_HANDLE_VALUE;
    });
    if (!opened) return;
    const FILETIME lastWrite = Split(lastWriteTime);
    SetFileTime(directory, nullptr, nullptr, &lastWrite);
    CloseHandle(directory);
}

void DiscardFile(const std::u16string& path) {
    // No access asked: this opens the file whatever sharing the module's own handle allows.
    HANDLE file = INVALID_HANDLE_VALUE;
    const bool opened = WithLongPathRetry(path, PathKind::File, [&](const wchar_t* p) {
        file = CreateFileW(p, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (!opened) return;
    // A handle that the faulted module left open keeps the file, and nobody else will close it.
    // On a thread of its own, bounded: asking about some other handle (a pipe that a thread of
    // the host reads) may wait for that handle, and the host must not wait with it.
    bool done = true;
    if (HANDLE worker = CreateThread(nullptr, 0, CloseOtherHandlesToFile, file, 0, nullptr)) {
        done = WaitForSingleObject(worker, 5000) == WAIT_OBJECT_0;
        CloseHandle(worker);
    } else {
        CloseOtherHandlesToFile(file);
    }
    if (done) CloseHandle(file);  // else the worker may still use it
    WithLongPathRetry(path, PathKind::File, [](const wchar_t* p) { return DeleteFileW(p) != FALSE; });
}

// Windows hosts keep the attributes of the header themselves: the plug-in sets none.
void MakeReadOnly(const std::u16string& /*path*/) {}

std::u16string LongPathForm(const std::u16string& path, PathKind kind) {
    // CreateDirectoryW keeps 12 characters of MAX_PATH for an 8.3 file name inside.
    const size_t plainLimit = kind == PathKind::Directory ? MAX_PATH - 12 : MAX_PATH;
    // Device and long forms are taken as they are.
    if (StartsWith(path, u"\\\\?\\") || StartsWith(path, u"\\\\.\\")) return path;
    // The long form switches off the system's own normalisation, so it is done here first.
    const std::u16string full = FullPath(path);
    if (full.size() < plainLimit) return path;
    if (StartsWith(full, u"\\\\")) return u"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == u':' && full[2] == u'\\') return u"\\\\?\\" + full;
    return path;
}

static_assert(sizeof(SRWLOCK) <= 64 && alignof(SRWLOCK) <= 16, "Lock's storage holds an SRW lock");

Lock::Lock() { InitializeSRWLock(reinterpret_cast<SRWLOCK*>(state_)); }
Lock::~Lock() = default;  // an SRW lock holds no resources
void Lock::lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(state_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(state_)); }

CivilTime LocalCivilTime(uint64_t utcFileTime) {
    const FILETIME utc = Split(utcFileTime);
    FILETIME local{};
    SYSTEMTIME broken{};
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &broken);
    CivilTime time;
    time.year = broken.wYear;
    time.month = broken.wMonth;
    time.day = broken.wDay;
    time.hour = broken.wHour;
    time.minute = broken.wMinute;
    time.second = broken.wSecond;
    return time;
}

// Both convert exactly the units given (the converters count no terminator then), and an
// empty text, which the converters refuse, is simply empty.
bool AnsiToWide(std::string_view text, std::u16string& wide) {
    wide.clear();
    if (text.empty()) return true;
    const int size = int(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), size, nullptr, 0);
    if (needed <= 0) return false;
    std::vector<wchar_t> buffer(size_t(needed), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), size, buffer.data(), needed) != needed) return false;
    wide.assign(buffer.begin(), buffer.end());
    return true;
}

bool WideToAnsi(std::u16string_view text, std::string& ansi) {
    ansi.clear();
    if (text.empty()) return true;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = int(text.size());
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    ansi.resize(size_t(needed));
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, &ansi[0], needed, nullptr, nullptr) != needed)
        return false;
    return true;
}

}  // namespace platform
