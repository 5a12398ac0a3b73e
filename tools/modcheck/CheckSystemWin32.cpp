// modcheck's system layer on Windows: LoadLibraryExW, the process's handle table, the unhandled
// exception filter.
#include "CheckSystem.h"

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "text/Utf8.h"

namespace modcheck {
namespace sys {

namespace {

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::string SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string message;
    if (length > 0 && buffer) message.assign(buffer, buffer + length);
    if (buffer) LocalFree(buffer);
    while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' || message.back() == u' '))
        message.pop_back();
    return text::ToUtf8(message) + " (error " + std::to_string(code) + ")";
}

HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

void* LoadLibraryFile(const std::u16string& path, std::string& error) {
    // As Morvane loads it: the libraries it depends on are searched in its own folder first.
    const std::wstring full = std::filesystem::absolute(FilePath(path)).wstring();
    HMODULE library = LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        const DWORD code = GetLastError();
        error = SystemMessage(code);
        if (code == ERROR_BAD_EXE_FORMAT) error += "; is it built for the other word size?";
    }
    return reinterpret_cast<void*>(library);
}

void* FindExport(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryFile(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::filesystem::path FilePath(const std::u16string& text) { return std::filesystem::path(Wide(text)); }

std::u16string PathText(const std::filesystem::path& path) {
    const std::wstring wide = path.wstring();
    return std::u16string(wide.begin(), wide.end());
}

std::string PasswordBytes(const std::u16string& text) {
    const std::wstring wide = Wide(text);
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::vector<Handle> OpenFileHandles() {
    // Windows has no call that lists a process's own handles (and Wine counts none). Handle values
    // are small multiples of four, and freed ones are handed out again first, so the table stays
    // dense: probing every value up to a margin past the highest one ever seen finds them all.
    constexpr uintptr_t kStep = 4, kMargin = 128 * kStep;
    static uintptr_t highestEver = 0;
    std::vector<Handle> handles;
    uintptr_t highest = highestEver;
    for (uintptr_t value = kStep; value <= highest + kMargin; value += kStep) {
        DWORD flags = 0;
        if (!GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) continue;
        highest = std::max(highest, value);
        if (GetFileType(reinterpret_cast<HANDLE>(value)) == FILE_TYPE_DISK) handles.push_back(Handle(value));
    }
    highestEver = highest;
    return handles;
}

bool IdentifyHandle(Handle handle, FileId& id) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle <= 0 || !GetFileInformationByHandle(AsHandle(handle), &information)) return false;
    id.volume = information.dwVolumeSerialNumber;
    id.index = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

bool IdentifyPath(const std::filesystem::path& path, FileId& id) {
    // Attributes only, everyone else's access shared: this open disturbs nobody.
    HANDLE file = CreateFileW(path.wstring().c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = IdentifyHandle(Handle(file), id);
    CloseHandle(file);
    return known;
}

std::string DescribeHandle(Handle handle) {
    const std::string number = "handle " + std::to_string(handle);
    wchar_t path[4096];
    const DWORD length = GetFinalPathNameByHandleW(AsHandle(handle), path, DWORD(sizeof path / sizeof path[0]), 0);
    if (length == 0 || length >= sizeof path / sizeof path[0]) return number;
    return text::ToUtf8(std::u16string(path, path + length)) + " (" + number + ")";
}

Handle OpenForReading(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoHandle : Handle(file);
}

void CloseFileHandle(Handle handle) {
    if (handle > 0) CloseHandle(AsHandle(handle));
}

bool IsOpenInProcess(const std::filesystem::path& path) {
    // An open that shares nothing fails while any other handle has the file's data open.
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

void WriteOutput(const std::string& text) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(output, &mode)) {
        const std::u16string wide = text::FromUtf8(text);
        WriteConsoleW(output, wide.data(), DWORD(wide.size()), &written, nullptr);
    } else {
        WriteFile(output, text.data(), DWORD(text.size()), &written, nullptr);
    }
}

// ---- Crash report

namespace {

thread_local const char* callUnderWay = nullptr;

const char* ExceptionMeaning(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    case 0x20474343: return "a C++ exception of a GCC runtime that nobody caught";
    case 0xE06D7363: return "a C++ exception of a Microsoft runtime that nobody caught";
    default: return "unhandled exception";
    }
}

// The heap may be damaged: a fixed buffer and the plain system calls only.
[[noreturn]] void ReportAndExit(const char* what, DWORD code) {
    char line[1024];
    const char* call = callUnderWay ? callUnderWay : "outside any call into the sub-module";
    const int length = wsprintfA(line, "FAIL crash: %.700s: %s (0x%08lx)\r\n", call, what, static_cast<unsigned long>(code));
    DWORD written = 0;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteFile(output, line, DWORD(length), &written, nullptr);
    const char tail[] = "modcheck: stopped by the crash; the checks after it did not run\r\n";
    WriteFile(output, tail, DWORD(sizeof tail - 1), &written, nullptr);
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
    ReportAndExit(ExceptionMeaning(code), code);
}

// A sub-module's own runtime ends with abort() from the shared C runtime.
void OnAbort(int) { ReportAndExit("abort() called", 3); }

}  // namespace

void InstallCrashReport() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(OnUnhandledException);
    std::signal(SIGABRT, OnAbort);
}

void SetCallUnderWay(const char* description) { callUnderWay = description; }

}  // namespace sys
}  // namespace modcheck

int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i], argv[i] + wcslen(argv[i]));
    return RunModcheck(arguments);
}
