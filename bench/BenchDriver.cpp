// morvane_bench: the in-process measurements of scripts/bench.sh.
//   list plugin PLUGIN ARCHIVE         one listing through the plug-in's exports
//   list direct MODULE ARCHIVE         one listing straight from the sub-module (the floor)
//   list guarded MODULE ARCHIVE        the same, each call into the module under Morvane's fault guard
//   rounds PLUGIN MODULE ARCHIVE N     both listings alternated N times, wall time of each
//   memory PLUGIN ARCHIVE              peak memory that one listing adds (Linux)
//   startup PLUGIN N MODULE...         loading the plug-in against loading its modules bare
// Every line of output is "key value...", for the script to pick up.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "BenchLibrary.h"
#include "modules/GuardedCall.h"
#include "modules/SubModuleContract.h"
#include "plugin/PackerInterface.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::u16string Widen(const char* text) {
    std::u16string wide;
    for (; *text; ++text) wide += char16_t(static_cast<unsigned char>(*text));
    return wide;
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "morvane_bench: %s\n", why.c_str());
    std::exit(3);
}

// What every listing folds its headers into, so that no loop can be optimised away and both
// sides can be checked to have seen the same entries.
struct Tally {
    uint64_t entries = 0;
    uint64_t sum = 0;
    void Add(const tHeaderDataExW& header) {
        ++entries;
        sum += header.UnpSize + uint16_t(header.FileName[10]) + uint16_t(header.ArcName[0]);
    }
};

struct Plugin {
    bench::Library library;
    tOpenArchiveWFunction open = nullptr;
    tReadHeaderExWFunction read = nullptr;
    tCloseArchiveFunction close = nullptr;

    explicit Plugin(const char* path) : library(path) {
        if (!library.Loaded()) Fail(std::string("cannot load the plug-in ") + path + ": " + library.Error());
        open = reinterpret_cast<tOpenArchiveWFunction>(library.Symbol("OpenArchiveW"));
        read = reinterpret_cast<tReadHeaderExWFunction>(library.Symbol("ReadHeaderExW"));
        close = reinterpret_cast<tCloseArchiveFunction>(library.Symbol("CloseArchive"));
        if (!open || !read || !close) Fail("the plug-in lacks OpenArchiveW, ReadHeaderExW or CloseArchive");
    }

    Tally List(const std::u16string& archive) const {
        std::u16string path = archive;
        tOpenArchiveDataW data{};
        data.ArcName = reinterpret_cast<PK_WCHAR*>(&path[0]);
        data.OpenMode = PK_OM_LIST;
        const PK_HANDLE handle = open(&data);
        if (!handle) Fail("the plug-in does not open the archive (OpenResult " + std::to_string(data.OpenResult) + ")");
        Tally tally;
        static tHeaderDataExW header;
        int result = 0;
        while ((result = read(handle, &header)) == 0) tally.Add(header);
        close(handle);
        if (result != E_END_ARCHIVE) Fail("ReadHeaderExW answered " + std::to_string(result));
        return tally;
    }
};

struct Module {
    bench::Library library;
    SubModuleInterface api{};

    explicit Module(const char* path) : library(path) {
        if (!library.Loaded()) Fail(std::string("cannot load the module ") + path + ": " + library.Error());
        const auto load = reinterpret_cast<LoadSubModuleFunction>(library.Symbol("LoadSubModule"));
        static const SM_WCHAR noSettings[2] = {0, 0};
        api.SettingsText = noSettings;
        if (!load || !load(&api) || api.Version != SM_INTERFACE_VERSION) Fail(std::string("the module refuses: ") + path);
    }
    ~Module() {
        const auto unload = reinterpret_cast<UnloadSubModuleFunction>(library.Symbol("UnloadSubModule"));
        if (unload) unload();
    }

    // The floor of a listing: the module's own reading, the zeroed record it is handed and the
    // host's header filled as any host needs it (names copied, its time and mode in the host's
    // terms, its reserved bytes zeroed). Every name goes to seen when given. Guarded: every
    // entry is read under the fault guard that the plug-in puts around each call, held for the
    // listing as the plug-in holds it while an archive is open.
    Tally List(const std::u16string& archive, std::unordered_set<std::u16string>* seen = nullptr,
               bool guarded = false) const {
        OpenRequest request{};
        request.ArchivePath = reinterpret_cast<const SM_WCHAR*>(archive.c_str());
        ContainerHandle container = nullptr;
        if (api.OpenProc(request, &container, nullptr) != SM_OPEN_OK) Fail("the module does not open the archive");
        if (api.PrepareProc && !api.PrepareProc(container)) Fail("the module refuses to prepare the archive");
        Tally tally;
        static EntryInfo entry;
        static tHeaderDataExW header;
        const size_t pathLength = std::min<size_t>(archive.size(), PK_NAME_WIDE - 1);
        if (guarded) platform::HoldFaultGuard();
        for (int32_t index = 0;; ++index) {
            std::memset(&entry, 0, sizeof entry);
            int32_t answer = 0;
            if (guarded) {
                auto read = [&] { answer = api.ReadEntryProc(container, index, &entry); };
                platform::GuardedCall state;
                if (!RunGuarded(read, state)) Fail("the module faulted");
            } else {
                answer = api.ReadEntryProc(container, index, &entry);
            }
            if (answer == SM_ENTRY_END) break;
            if (answer != SM_ENTRY_OK) Fail("the module answered " + std::to_string(answer));
            const SM_WCHAR* name = entry.Name;
            const size_t length = std::min<size_t>(size_t(std::find(name, name + SM_NAME_LENGTH, 0) - name), PK_NAME_WIDE - 1);
            std::memcpy(header.ArcName, archive.data(), pathLength * 2);
            header.ArcName[pathLength] = 0;
            std::memcpy(header.FileName, name, length * 2);
            header.FileName[length] = 0;
            header.PackSize = uint32_t(entry.PackedSize);
            header.PackSizeHigh = uint32_t(entry.PackedSize >> 32);
            header.UnpSize = uint32_t(entry.UnpackedSize);
            header.UnpSizeHigh = uint32_t(entry.UnpackedSize >> 32);
            std::memset(header.Reserved, 0, sizeof header.Reserved);
            header.FileTime = bench::HostFileTime(entry.LastWriteTime.LowDateTime, entry.LastWriteTime.HighDateTime);
            header.FileAttr = bench::HostFileAttributes(entry.Attributes);
            tally.Add(header);
            if (seen) seen->emplace(reinterpret_cast<const char16_t*>(name), length);
        }
        if (guarded) platform::ReleaseFaultGuard();
        api.CloseProc(container);
        return tally;
    }
};

void PrintListing(const char* side, const Tally& tally, double seconds) {
    std::printf("%s entries %llu sum %llu seconds %.6f\n", side, static_cast<unsigned long long>(tally.entries),
                static_cast<unsigned long long>(tally.sum), seconds);
}

int ListOnce(const std::string& side, const char* library, const char* archive) {
    const std::u16string path = Widen(archive);
    if (side == "plugin") {
        Plugin plugin(library);
        const auto started = Clock::now();
        const Tally tally = plugin.List(path);
        PrintListing("plugin", tally, Seconds(started));
    } else if (side == "direct" || side == "guarded") {
        Module module(library);
        const auto started = Clock::now();
        const Tally tally = module.List(path, nullptr, side == "guarded");
        PrintListing(side.c_str(), tally, Seconds(started));
    } else {
        Fail("list takes plugin, direct or guarded, not " + side);
    }
    return 0;
}

int Rounds(const char* pluginPath, const char* modulePath, const char* archive, int rounds) {
    const std::u16string path = Widen(archive);
    Plugin plugin(pluginPath);
    Module module(modulePath);
    // One listing of each first: page faults and caches warm up outside the measurement.
    const Tally first = plugin.List(path);
    if (module.List(path).sum != first.sum) Fail("the plug-in and the module list different entries");
    for (int round = 0; round < rounds; ++round) {
        auto started = Clock::now();
        const Tally viaPlugin = plugin.List(path);
        PrintListing("plugin", viaPlugin, Seconds(started));
        started = Clock::now();
        const Tally direct = module.List(path);
        PrintListing("direct", direct, Seconds(started));
    }
    return 0;
}

int Memory(const char* pluginPath, const char* modulePath, const char* archive) {
    const std::u16string path = Widen(archive);
    Plugin plugin(pluginPath);
    const uint64_t before = bench::ResidentBytes();
    const Tally tally = plugin.List(path);
    const uint64_t peak = bench::PeakResidentBytes();
    // Measured after the peak: the names the map has to keep, each distinct name once.
    std::unordered_set<std::u16string> names;
    {
        Module module(modulePath);
        module.List(path, &names);
    }
    uint64_t nameBytes = 0;
    for (const auto& name : names) nameBytes += name.size() * sizeof(char16_t);
    std::printf("memory entries %llu distinct %llu name_bytes %llu added_bytes %llu\n",
                static_cast<unsigned long long>(tally.entries), static_cast<unsigned long long>(names.size()),
                static_cast<unsigned long long>(nameBytes), static_cast<unsigned long long>(peak - std::min(peak, before)));
    return 0;
}

int Startup(const char* pluginPath, int rounds, const std::vector<const char*>& modules) {
    auto loadPlugin = [&] {
        bench::Library plugin(pluginPath);
        if (!plugin.Loaded()) Fail(std::string("cannot load the plug-in: ") + plugin.Error());
    };
    auto loadModules = [&] {
        std::vector<Module*> loaded;
        for (const char* path : modules) loaded.push_back(new Module(path));
        for (Module* module : loaded) delete module;
    };
    loadPlugin();
    loadModules();
    // A library left loaded would make every later load free: the plug-in must have let go.
    if (bench::Library::IsLoaded(modules.front())) Fail("a sub-module stayed loaded after the plug-in was freed");
    for (int round = 0; round < rounds; ++round) {
        auto started = Clock::now();
        loadPlugin();
        std::printf("plugin seconds %.6f\n", Seconds(started));
        started = Clock::now();
        loadModules();
        std::printf("bare seconds %.6f\n", Seconds(started));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "list" && argc == 5) return ListOnce(argv[2], argv[3], argv[4]);
    if (command == "rounds" && argc == 6) return Rounds(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    if (command == "memory" && argc == 5) return Memory(argv[2], argv[3], argv[4]);
    if (command == "startup" && argc >= 5)
        return Startup(argv[2], std::atoi(argv[3]), std::vector<const char*>(argv + 4, argv + argc));
    std::fprintf(stderr,
                 "usage: morvane_bench list plugin|direct|guarded LIBRARY ARCHIVE\n"
                 "       morvane_bench rounds PLUGIN MODULE ARCHIVE ROUNDS\n"
                 "       morvane_bench memory PLUGIN MODULE ARCHIVE\n"
                 "       morvane_bench startup PLUGIN ROUNDS MODULE...\n");
    return 2;
}
