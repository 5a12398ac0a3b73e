#include "SystemAccess.h"

#include <cstdlib>
#include <cstring>

#include "text/Utf8.h"

#if defined(_WIN32)
#include <windows.h>
#include <oleauto.h>
#else
#include <dlfcn.h>
#include <locale.h>
#include <pthread.h>
#include <climits>
#endif

namespace sevenzip {

std::u16string FromLibraryText(const wchar_t* text) {
    if (!text) return std::u16string();
    return FromLibraryText(text, std::wcslen(text));
}

std::u16string FromLibraryText(const wchar_t* text, size_t length) {
    std::u16string result;
    if (!text) return result;
    result.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t c = uint32_t(text[i]);
        if (sizeof(wchar_t) == 2 || c < 0x10000) {
            result += char16_t(c);
        } else if (c <= 0x10FFFF) {
            result += char16_t(0xD800 + ((c - 0x10000) >> 10));
            result += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            result += u'\uFFFD';
        }
    }
    return result;
}

std::wstring ToLibraryText(const std::u16string& text) {
    std::wstring result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (sizeof(wchar_t) == 4 && pair) {
            result += wchar_t(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else {
            result += wchar_t(c);
        }
    }
    return result;
}

#if defined(_WIN32)

std::u16string ModuleFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleFolder), &self))
        return std::u16string();
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(self, &path[0], DWORD(path.size()));
        if (length == 0) return std::u16string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::u16string();
    return std::u16string(path.begin(), path.begin() + std::ptrdiff_t(slash + 1));
}

void* LoadLibraryForGood(const std::u16string& path) {
    const std::wstring wide(path.begin(), path.end());
    // Never freed: see the header.
    return LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* EntryPoint(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

Bstr AllocateLibraryText(const std::u16string& text) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), UINT(text.size()));
}

void FreeLibraryText(Bstr text) { SysFreeString(text); }

std::u16string DecodePassword(const char* password) {
    if (!password || !*password) return std::u16string();
    const int length = MultiByteToWideChar(CP_ACP, 0, password, -1, nullptr, 0);
    if (length <= 1) return std::u16string();
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, password, -1, &wide[0], length);
    return std::u16string(wide.begin(), wide.begin() + (length - 1));
}

struct Monitor::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};
Monitor::Monitor() : state_(new State) {}
Monitor::~Monitor() = default;
void Monitor::Enter() { AcquireSRWLockExclusive(&state_->lock); }
void Monitor::Leave() { ReleaseSRWLockExclusive(&state_->lock); }
void Monitor::Wait() { SleepConditionVariableSRW(&state_->condition, &state_->lock, INFINITE, 0); }
void Monitor::WakeAll() { WakeAllConditionVariable(&state_->condition); }

namespace {
DWORD WINAPI RunThread(void* work) {
    (*static_cast<std::function<void()>*>(work))();
    return 0;
}
}  // namespace

bool Thread::Start(std::function<void()> work) {
    Join();
    work_ = std::move(work);
    HANDLE thread = CreateThread(nullptr, 0, RunThread, &work_, 0, nullptr);
    if (!thread) return false;
    handle_ = reinterpret_cast<uintptr_t>(thread);
    return true;
}

void Thread::Join() {
    if (!handle_) return;
    HANDLE thread = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    handle_ = 0;
}

#else  // POSIX

std::u16string ModuleFolder() {
    Dl_info self{};
    if (!dladdr(reinterpret_cast<void*>(&ModuleFolder), &self) || !self.dli_fname) return std::u16string();
    char resolved[PATH_MAX];
    if (!realpath(self.dli_fname, resolved)) return std::u16string();
    std::string path(resolved);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::u16string();
    return text::FromUtf8(path.substr(0, slash + 1));
}

void* LoadLibraryForGood(const std::u16string& path) {
    // 7-Zip reads names that an archive does not mark as Unicode in the locale's character set,
    // or as UTF-8 when that locale is UTF-8 when the library is loaded; a host may run in the "C"
    // locale, and names are UTF-8 wherever this library runs.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    const locale_t previous = utf8 ? uselocale(utf8) : locale_t(0);
    void* library = dlopen(text::ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (utf8) {
        uselocale(previous);
        freelocale(utf8);
    }
    return library;
}

void* EntryPoint(void* library, const char* name) { return dlsym(library, name); }

// 7-Zip's own BSTR outside Windows (CPP/Common/MyWindows.cpp): malloc'ed, the byte count in the
// 32 bits before the text, a terminating zero after it.
Bstr AllocateLibraryText(const std::u16string& text) {
    const std::wstring wide = ToLibraryText(text);
    const size_t bytes = wide.size() * sizeof(wchar_t);
    auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(wchar_t)));
    if (!block) return nullptr;
    block[0] = uint32_t(bytes);
    auto* characters = reinterpret_cast<wchar_t*>(block + 1);
    std::memcpy(characters, wide.data(), bytes);
    characters[wide.size()] = 0;
    return characters;
}

void FreeLibraryText(Bstr text) {
    if (text) std::free(reinterpret_cast<uint32_t*>(text) - 1);
}

std::u16string DecodePassword(const char* password) { return password ? text::FromUtf8(password) : std::u16string(); }

struct Monitor::State {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
};
Monitor::Monitor() : state_(new State) {}
Monitor::~Monitor() {
    pthread_cond_destroy(&state_->condition);
    pthread_mutex_destroy(&state_->lock);
}
void Monitor::Enter() { pthread_mutex_lock(&state_->lock); }
void Monitor::Leave() { pthread_mutex_unlock(&state_->lock); }
void Monitor::Wait() { pthread_cond_wait(&state_->condition, &state_->lock); }
void Monitor::WakeAll() { pthread_cond_broadcast(&state_->condition); }

namespace {
void* RunThread(void* work) {
    (*static_cast<std::function<void()>*>(work))();
    return nullptr;
}
}  // namespace

bool Thread::Start(std::function<void()> work) {
    Join();
    work_ = std::move(work);
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, RunThread, &work_) != 0) return false;
    handle_ = uintptr_t(thread);
    return true;
}

void Thread::Join() {
    if (!handle_) return;
    pthread_join(pthread_t(handle_), nullptr);
    handle_ = 0;
}

#endif

}  // namespace sevenzip
