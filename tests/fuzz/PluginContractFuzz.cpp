// The plug-in's side of the sub-module contract, through its real exports: the plug-in is
// loaded once with three copies of the scripted sub-module, and each input is both the host's
// plan (which export to call, on which handle, with which paths) and the sub-modules' script
// (their answers, EntryInfo bytes, handles and progress calls). Whatever the modules answer,
// every container must be closed exactly once, no foreign handle may reach a module, and the
// records and codes handed to the host must be well formed.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "ScriptedHost.h"
#include "plugin/PackerInterface.h"
#include "text/Utf8.h"

#ifndef PLUGIN_FILE
#error "the build names the plug-in and the scripted sub-module"
#endif

namespace {

ScriptedHost host;

struct Exports {
    tOpenArchiveFunction OpenArchive;
    tOpenArchiveWFunction OpenArchiveW;
    tReadHeaderFunction ReadHeader;
    tReadHeaderExWFunction ReadHeaderExW;
    tProcessFileFunction ProcessFile;
    tProcessFileWFunction ProcessFileW;
    tCloseArchiveFunction CloseArchive;
    tSetProcessDataProcFunction SetProcessDataProc;
    tSetProcessDataProcWFunction SetProcessDataProcW;
    tCanYouHandleThisFileFunction CanYouHandleThisFile;
    tCanYouHandleThisFileWFunction CanYouHandleThisFileW;
} plugin;

std::string folder;  // the plug-in's folder, also the extraction sandbox

template <typename Function>
void Bind(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function) {
        std::fprintf(stderr, "the plug-in does not export %s\n", name);
        std::abort();
    }
}

void Copy(const std::string& from, const std::string& to) {
    FILE* in = std::fopen(from.c_str(), "rb");
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!in || !out) std::abort();
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) std::fwrite(buffer, 1, got, out);
    std::fclose(in);
    std::fclose(out);
}

// The plan: the first byte says how many plan bytes follow; the rest is the modules' script.
class Plan {
public:
    Plan(const uint8_t* data, size_t size) {
        const size_t length = size ? std::min<size_t>(data[0], size - 1) : 0;
        plan_ = data + (size ? 1 : 0);
        size_ = length;
        script_ = plan_ + length;
        scriptSize_ = size - (size ? 1 : 0) - length;
    }
    bool More() const { return position_ < size_; }
    uint8_t Byte() { return position_ < size_ ? plan_[position_++] : 0; }
    const uint8_t* Script() const { return script_; }
    size_t ScriptSize() const { return scriptSize_; }

private:
    const uint8_t* plan_;
    size_t size_, position_ = 0;
    const uint8_t* script_;
    size_t scriptSize_;
};

long progressCalls;
int PK_CALL CountProgress(char* fileName, int) {
    if (fileName) __builtin_trap();  // Morvane passes no name with a progress amount
    ++progressCalls;
    return 0;  // a cancel, which must not reach the module
}
int PK_CALL CountProgressW(PK_WCHAR* fileName, int) {
    if (fileName) __builtin_trap();
    ++progressCalls;
    return 0;
}

bool OneOf(int value, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (value == a) return true;
    return false;
}

void CheckWide(const PK_WCHAR* field, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i)
        if (field[i] == 0) return;
    __builtin_trap();  // no terminator inside the field
}

void CheckAnsi(const char* field, size_t capacity) {
    if (!std::memchr(field, 0, capacity)) __builtin_trap();
}

}  // namespace

extern "C" SCRIPTED_HOST_EXPORT ScriptedHost* MorvaneScriptedHost() { return &host; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/morvane-contract-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    folder = pattern;
    const std::string module = SCRIPTEDMODULE_FILE;
    const std::string suffix = module.substr(module.rfind('.'));
    for (const char* name : {"m1", "m2", "m3"}) Copy(module, folder + "/" + name + suffix);
    FILE* ini = std::fopen((folder + "/morvane64.ini").c_str(), "wb");
    std::fprintf(ini, "[General]\nVerboseModuleLoad=1\n[Modules]\nm1=m1%s\nm2=m2%s\nm3=m3%s\n[Filters]\nm1=*.one;*.both\nm3=*.both\n",
                 suffix.c_str(), suffix.c_str(), suffix.c_str());
    std::fclose(ini);
    const std::string pluginCopy = folder + "/Morvane.so";
    Copy(PLUGIN_FILE, pluginCopy);
    void* library = dlopen(pluginCopy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library || host.loads != 3) {
        std::fprintf(stderr, "the plug-in or its modules did not load\n");
        std::abort();
    }
    Bind(library, plugin.OpenArchive, "OpenArchive");
    Bind(library, plugin.OpenArchiveW, "OpenArchiveW");
    Bind(library, plugin.ReadHeader, "ReadHeader");
    Bind(library, plugin.ReadHeaderExW, "ReadHeaderExW");
    Bind(library, plugin.ProcessFile, "ProcessFile");
    Bind(library, plugin.ProcessFileW, "ProcessFileW");
    Bind(library, plugin.CloseArchive, "CloseArchive");
    Bind(library, plugin.SetProcessDataProc, "SetProcessDataProc");
    Bind(library, plugin.SetProcessDataProcW, "SetProcessDataProcW");
    Bind(library, plugin.CanYouHandleThisFile, "CanYouHandleThisFile");
    Bind(library, plugin.CanYouHandleThisFileW, "CanYouHandleThisFileW");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Plan plan(data, size);
    host.script = plan.Script();
    host.size = plan.ScriptSize();
    host.position = 0;
    host.opens = host.closes = host.refusals = host.badCloses = host.strayCalls = 0;
    progressCalls = 0;

    // Archive names for the masks of m1 (*.one), m3 (*.both) and none; destinations in the sandbox.
    static const char* const archives[] = {"a.one", "b.both", "c.none", "C.ONE"};
    static const char* const names[] = {"f", "d\\f", "d/e/f", "g\\", "", "h\\\\i"};
    constexpr int kSlots = 4;
    PK_HANDLE handles[kSlots] = {};
    const PK_HANDLE invalid = reinterpret_cast<PK_HANDLE>(UINTPTR_MAX);

    for (int step = 0; step < 64 && plan.More(); ++step) {
        const uint8_t op = plan.Byte();
        const uint8_t argument = plan.Byte();
        const int slot = argument % kSlots;
        // Now and then the host passes a handle that is no archive, as the interface allows.
        PK_HANDLE handle = (argument & 0xC0) == 0xC0 ? ((argument & 0x20) ? invalid : nullptr) : handles[slot];
        std::string archive = folder + "/" + archives[(argument >> 2) % 4];
        std::u16string wideArchive = text::FromUtf8(archive);
        switch (op % 9) {
            case 0:
            case 1: {
                if (handles[slot]) break;
                int result = -1;
                if (op % 9 == 0) {
                    tOpenArchiveDataW open{};
                    open.ArcName = reinterpret_cast<PK_WCHAR*>(&wideArchive[0]);
                    handles[slot] = plugin.OpenArchiveW(&open);
                    result = open.OpenResult;
                } else {
                    tOpenArchiveData open{};
                    open.ArcName = &archive[0];
                    handles[slot] = plugin.OpenArchive(&open);
                    result = open.OpenResult;
                }
                if (result != (handles[slot] ? 0 : E_NOT_SUPPORTED)) __builtin_trap();
                break;
            }
            case 2: {
                const int answer = (op & 0x10) ? plugin.CanYouHandleThisFile(&archive[0])
                                               : plugin.CanYouHandleThisFileW(reinterpret_cast<PK_WCHAR*>(&wideArchive[0]));
                if (!OneOf(answer, {0, 1})) __builtin_trap();
                break;
            }
            case 3: {
                tHeaderDataExW header;
                std::memset(&header, 0x5A, sizeof header);
                const int result = plugin.ReadHeaderExW(handle, &header);
                if (!OneOf(result, {0, E_END_ARCHIVE, E_NO_MEMORY, E_BAD_ARCHIVE, E_EOPEN})) __builtin_trap();
                if (result == 0) {
                    CheckWide(header.FileName, PK_NAME_WIDE);
                    CheckWide(header.ArcName, PK_NAME_WIDE);
                }
                break;
            }
            case 4: {
                tHeaderData header;
                std::memset(&header, 0x5A, sizeof header);
                const int result = plugin.ReadHeader(handle, &header);
                if (!OneOf(result, {0, E_END_ARCHIVE, E_NO_MEMORY, E_BAD_ARCHIVE, E_EOPEN})) __builtin_trap();
                if (result == 0) {
                    CheckAnsi(header.FileName, PK_NAME_ANSI);
                    CheckAnsi(header.ArcName, PK_NAME_ANSI);
                }
                break;
            }
            case 5:
            case 6: {
                const uint8_t choice = plan.Byte();
                static const int operations[] = {PK_SKIP, PK_TEST, PK_EXTRACT, PK_EXTRACT, 7, -1};
                const int operation = operations[choice % 6];
                std::string path = folder, name = names[(choice >> 3) % 6];
                const bool noPath = choice & 0x40, noName = (choice & 0xC0) == 0xC0;
                if (noPath) name = folder + "/" + name;
                std::u16string widePath = text::FromUtf8(path), wideName = text::FromUtf8(name);
                const int result =
                    op % 9 == 5 ? plugin.ProcessFileW(handle, operation,
                                                      noPath ? nullptr : reinterpret_cast<PK_WCHAR*>(&widePath[0]),
                                                      noName ? nullptr : reinterpret_cast<PK_WCHAR*>(&wideName[0]))
                                : plugin.ProcessFile(handle, operation, noPath ? nullptr : &path[0],
                                                     noName ? nullptr : &name[0]);
                if (!OneOf(result, {0, E_NO_MEMORY, E_BAD_DATA, E_EOPEN, E_ECREATE, E_EREAD, E_EWRITE})) __builtin_trap();
                break;
            }
            case 7:
                if (argument & 1) plugin.SetProcessDataProcW(handle, (argument & 2) ? CountProgressW : nullptr);
                else plugin.SetProcessDataProc(handle, (argument & 2) ? CountProgress : nullptr);
                break;
            default:
                if (plugin.CloseArchive(handle) != 0) __builtin_trap();
                if (handle == handles[slot]) handles[slot] = nullptr;
                break;
        }
    }
    for (PK_HANDLE& handle : handles) {
        plugin.CloseArchive(handle);
        handle = nullptr;
    }
    if (host.opens != host.closes + host.refusals || host.badCloses || host.strayCalls) {
        std::fprintf(stderr, "containers: %ld opened, %ld closed, %ld refused, %ld bad closes, %ld stray calls\n",
                     host.opens, host.closes, host.refusals, host.badCloses, host.strayCalls);
        __builtin_trap();
    }
    return 0;
}
