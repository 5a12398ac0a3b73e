#include "support/PluginUnderTest.h"

#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifndef PLUGIN_FILE
#error "the build names the plug-in library under test"
#endif

namespace testing_support {
namespace {

void* LoadLibraryAt(const fs::path& path) {
#if defined(_WIN32)
    return LoadLibraryW(path.wstring().c_str());
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void* Symbol(void* library, const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

template <typename Function>
void Bind(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(Symbol(library, name));
    if (!function) throw std::runtime_error(std::string("the plug-in does not export ") + name);
}

}  // namespace

PluginUnderTest::PluginUnderTest(const ModuleFolder& folder) {
    const fs::path source = fs::u8path(PLUGIN_FILE);
    const fs::path copy = folder.folder.Path() / source.filename();
    fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
    library_ = LoadLibraryAt(copy);
    if (!library_) throw std::runtime_error("the plug-in did not load");
    Bind(library_, OpenArchive, "OpenArchive");
    Bind(library_, OpenArchiveW, "OpenArchiveW");
    Bind(library_, ReadHeader, "ReadHeader");
    Bind(library_, ReadHeaderExW, "ReadHeaderExW");
    Bind(library_, ProcessFile, "ProcessFile");
    Bind(library_, ProcessFileW, "ProcessFileW");
    Bind(library_, CloseArchive, "CloseArchive");
    Bind(library_, SetChangeVolProc, "SetChangeVolProc");
    Bind(library_, SetChangeVolProcW, "SetChangeVolProcW");
    Bind(library_, SetProcessDataProc, "SetProcessDataProc");
    Bind(library_, SetProcessDataProcW, "SetProcessDataProcW");
    Bind(library_, GetPackerCaps, "GetPackerCaps");
    Bind(library_, CanYouHandleThisFile, "CanYouHandleThisFile");
    Bind(library_, CanYouHandleThisFileW, "CanYouHandleThisFileW");
    Bind(library_, GetBackgroundFlags, "GetBackgroundFlags");
}

void PluginUnderTest::Unload() {
    if (!library_) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(library_));
#else
    dlclose(library_);
#endif
    library_ = nullptr;
}

PK_HANDLE PluginUnderTest::Open(const std::u16string& path, int* result, int openMode) {
    std::u16string text = path;
    tOpenArchiveDataW data{};
    data.ArcName = W(text);
    data.OpenMode = openMode;
    data.OpenResult = -1;
    PK_HANDLE handle = OpenArchiveW(&data);
    if (result) *result = data.OpenResult;
    return handle;
}

int PluginUnderTest::Probe(const std::u16string& path) {
    std::u16string text = path;
    return CanYouHandleThisFileW(W(text));
}

tHeaderDataExW PluginUnderTest::NextHeader(PK_HANDLE handle, int* result) {
    tHeaderDataExW header{};
    *result = ReadHeaderExW(handle, &header);
    return header;
}

}  // namespace testing_support
