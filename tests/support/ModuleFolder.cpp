#include "support/ModuleFolder.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifndef TESTMODULE_DIRECTORY
#error "the build names the folder of the test sub-module"
#endif

namespace testing_support {

fs::path TestModuleFile(bool withoutUnload) {
    return fs::u8path(TESTMODULE_DIRECTORY) / (std::string(withoutUnload ? "testmodule_nounload" : "testmodule") +
                                              TESTMODULE_SUFFIX);
}

bool LibraryLoaded(const fs::path& path) {
#if defined(_WIN32)
    return GetModuleHandleW(path.wstring().c_str()) != nullptr;
#else
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library) dlclose(library);
    return library != nullptr;
#endif
}

void ModuleFolder::AddModule(const std::string& name, bool withoutUnload) {
    fs::copy_file(TestModuleFile(withoutUnload), folder.Path() / fs::u8path(LibraryName(name)),
                  fs::copy_options::overwrite_existing);
}

void ModuleFolder::WriteIni(const std::string& fileName, const std::string& text) {
    WriteFile(folder.Path() / fs::u8path(fileName), text);
}

}  // namespace testing_support
