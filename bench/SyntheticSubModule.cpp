// A sub-module that serves containers from memory: no file is read, so that timing it measures
// what the host around it costs. It claims any path whose file name reads "COUNT-KIND.synthetic":
// COUNT entries named "folderFFF/fileNNNNNNN.dat", unique with KIND "unique", each name twice in a
// row with KIND "repeated".
#include <cstdint>
#include <cstring>
#include <new>

#include "modules/SubModuleContract.h"

namespace {

struct Container {
    int32_t count = 0;
    bool repeated = false;
};

// Parses the file name of path; false when it is not one of ours.
bool ParseName(const SM_WCHAR* path, Container& container) {
    const SM_WCHAR* name = path;
    for (const SM_WCHAR* at = path; *at; ++at)
        if (*at == '/' || *at == '\\') name = at + 1;
    int64_t count = 0;
    const SM_WCHAR* at = name;
    for (; *at >= '0' && *at <= '9'; ++at) {
        count = count * 10 + (*at - '0');
        if (count > INT32_MAX) return false;
    }
    if (at == name || *at++ != '-') return false;
    auto follows = [&at](const char* text) {
        const SM_WCHAR* p = at;
        for (; *text; ++text, ++p)
            if (*p != SM_WCHAR(*text)) return false;
        at = p;
        return true;
    };
    if (follows("unique")) container.repeated = false;
    else if (follows("repeated")) container.repeated = true;
    else return false;
    if (!follows(".synthetic") || *at != 0) return false;
    container.count = int32_t(count);
    return true;
}

// Writes value as exactly digits decimal digits.
SM_WCHAR* PutDigits(SM_WCHAR* out, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = SM_WCHAR('0' + value % 10);
    return out + digits;
}

SM_WCHAR* PutText(SM_WCHAR* out, const char* text) {
    while (*text) *out++ = SM_WCHAR(*text++);
    return out;
}

int32_t SM_CALL OpenSynthetic(OpenRequest request, ContainerHandle* handle, void*) {
    Container parsed;
    if (!request.ArchivePath || !ParseName(request.ArchivePath, parsed)) return SM_OPEN_NOT_MINE;
    Container* container = new (std::nothrow) Container(parsed);
    if (!container) return 3;
    *handle = container;
    return SM_OPEN_OK;
}

int32_t SM_CALL CloseSynthetic(ContainerHandle handle) {
    delete static_cast<Container*>(handle);
    return 0;
}

int32_t SM_CALL ReadSyntheticEntry(ContainerHandle handle, int32_t index, EntryInfo* entry) {
    const Container& container = *static_cast<Container*>(handle);
    if (index < 0 || index >= container.count) return SM_ENTRY_END;
    const uint32_t number = uint32_t(container.repeated ? index / 2 : index);
    SM_WCHAR* out = PutText(entry->Name, "folder");
    out = PutDigits(out, number % 1000, 3);
    out = PutText(out, "/file");
    out = PutDigits(out, number, 7);
    PutText(out, ".dat");  // the record arrives zeroed: the terminator is there
    entry->UnpackedSize = 1024;
    entry->PackedSize = 1024;
    entry->Attributes = 0x20;
    entry->LastWriteTime.HighDateTime = 0x01D9A000u;
    return SM_ENTRY_OK;
}

// Nothing is stored, so nothing can be written: "any other failure".
int32_t SM_CALL ExtractSynthetic(ContainerHandle, ExtractRequest) { return 4; }

int32_t SM_CALL PrepareSynthetic(ContainerHandle) { return 1; }

}  // namespace

#if defined(_WIN32)
#define SYNTHETIC_EXPORT extern "C"
#else
#define SYNTHETIC_EXPORT extern "C" __attribute__((visibility("default")))
#endif

SYNTHETIC_EXPORT int32_t SM_CALL LoadSubModule(SubModuleInterface* interface) {
    if (!interface) return 0;
    interface->Version = SM_INTERFACE_VERSION;
    interface->OpenProc = OpenSynthetic;
    interface->CloseProc = CloseSynthetic;
    interface->ReadEntryProc = ReadSyntheticEntry;
    interface->ExtractProc = ExtractSynthetic;
    interface->PrepareProc = PrepareSynthetic;
    return 1;
}

SYNTHETIC_EXPORT int32_t SM_CALL UnloadSubModule() { return 1; }
