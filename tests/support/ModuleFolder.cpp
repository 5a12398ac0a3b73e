#include "support/ModuleFolder.h"

namespace testing_support {

void ModuleFolder::AddModule(const std::string& name, bool withoutUnload) {
    fs::copy_file(TestModuleFile(withoutUnload), folder.Path() / fs::u8path(LibraryName(name)),
                  fs::copy_options::overwrite_existing);
}

void ModuleFolder::WriteIni(const std::string& fileName, const std::string& text) {
    WriteFile(folder.Path() / fs::u8path(fileName), text);
}

}  // namespace testing_support
