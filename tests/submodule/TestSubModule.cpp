// A scriptable sub-module for Morvane's tests. Its settings text and the container files it is
// offered decide every answer, and every call it receives is appended to a log that tests read.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "ModuleFiles.h"
#include "modules/SubModuleContract.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/Platform.h"
#define TESTMODULE_EXPORT  // exported by name through TestSubModule.def
#else
#include <sys/mman.h>
#define TESTMODULE_EXPORT __attribute__((visibility("default")))
#endif

using namespace testmodule;

namespace {

// ---- What the settings text asks for --------------------------------------------------------

// How a scripted fault faults.
enum class FaultKind { AccessViolation, DivideByZero, IllegalInstruction };

// Fixed-size and trivially destructible on purpose: on Linux the host's shut-down may call
// UnloadSubModule at process exit after this library's static destructors ran, and a library
// unloaded earlier must leave nothing allocated behind.
struct Settings {
    char identity[512];              // UTF-8, the first field of every log line
    Wide::value_type logPath[4096];  // empty: nothing is logged
    char nullProc[32];
    char faultIn[32];    // the operation that faults, in every call (also UnloadSubModule, Progress)
    FaultKind faultKind;
    char closeFile[16];  // "never" or "twice": how a held file is mishandled
    uint32_t version, raiseCode;
    int32_t loadAnswer;
    bool loadFault, loadRaise, loadHandledFault, loadThrows;
    bool openNullHandle;   // OpenProc answers 1 and leaves the handle null
    bool holdFile;         // a container keeps its file open until CloseProc
    bool progressShifted;  // progress calls pass a context one byte past the one given
    bool rereadDiffers;    // every read after a container's first gives a later LastWriteTime
    bool sharedState;      // while two containers are open, extraction changes the last byte
    bool claimEverything;  // OpenProc answers 1 for any file, as an empty container
    bool keepTargetOpen;   // ExtractProc leaves a handle to the extracted file open
};

// A lock without a destructor, for the same reason; it is only ever held for a moment.
class SpinLock {
public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    void unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

Settings settings;  // written by LoadSubModule only, before any other call can arrive
std::atomic<int> openContainers{0};  // for SharedState: the state that a second container disturbs
static_assert(std::is_trivially_destructible<Settings>::value && std::is_trivially_destructible<SpinLock>::value,
              "the module's state must outlive its static destructors");

template <typename Unit, size_t N>
void CopyTo(Unit (&field)[N], const std::basic_string<Unit>& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), length, field);
    field[length] = 0;
}

// ---- Small helpers ---------------------------------------------------------------------------

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Decimal, or hexadecimal after "0x".
uint64_t Unsigned(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return std::strtoull(text.c_str() + 2, nullptr, 16);
    return std::strtoull(text.c_str(), nullptr, 10);
}

int32_t Signed(const std::string& text) {
    if (!text.empty() && text[0] == '-') return int32_t(-std::strtoll(text.c_str() + 1, nullptr, 10));
    return int32_t(Unsigned(text));
}

std::string Hex(uint64_t value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdef"[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + digits;
}

std::string Hex(const void* pointer) { return Hex(uint64_t(reinterpret_cast<uintptr_t>(pointer))); }

std::string Field(const char* key, const std::string& value) { return std::string("\t") + key + "=" + value; }
std::string Field(const char* key, int64_t value) { return Field(key, std::to_string(value)); }

void Log(const char* call, const std::string& fields = std::string()) {
    if (!settings.logPath[0]) return;
    const std::string line = std::string(settings.identity) + "\t" + call + fields + "\n";
    AppendToFile(Wide(settings.logPath), line);
}

#if defined(_WIN32)
// An address the compiler cannot see is null, so the store really happens and faults.
void WriteToAddressZero(void* = nullptr) {
    volatile uintptr_t zero = 0;
    *reinterpret_cast<volatile int*>(zero) = 1;
}
#else
// A page that may not be touched: the sanitized build would stop a null store before it faults.
void WriteToAddressZero(void* = nullptr) {
    static void* const page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}
#endif

// The instructions themselves: written in C++, the sanitizers would report them first.
void Fault(FaultKind kind) {
    if (kind == FaultKind::DivideByZero)
        asm volatile("xorl %%ecx, %%ecx\n\tmovl $1, %%eax\n\tcltd\n\tidivl %%ecx" ::: "eax", "ecx", "edx", "cc");
    else if (kind == FaultKind::IllegalInstruction)
        asm volatile("ud2");
    WriteToAddressZero();
}

FaultKind FaultKindNamed(const std::string& name) {
    return name == "divide" ? FaultKind::DivideByZero
           : name == "illegal" ? FaultKind::IllegalInstruction
                               : FaultKind::AccessViolation;
}

// ---- Container files -------------------------------------------------------------------------

struct Entry {
    Wide name;
    uint64_t size = 0, packed = 0, created = 0, modified = 0, repeat = 1;
    uint32_t attributes = 0;
    int32_t answer = SM_ENTRY_OK, extract = SM_EXTRACT_OK, progressSteps = 0;
    bool write = true;  // false: ExtractProc answers 0 and writes nothing
    std::string content;
};

struct OpenRule {
    std::string module;  // an identity, or "*"
    bool fault;
    int32_t answer;
};

// Everything a handle stands for: read-only once parsed, so threads may share a module freely.
struct Container {
    static constexpr uint32_t kLive = 0xC0DE0001u;
    uint32_t magic = kLive;  // cleared when closed, so that a second close is seen
    std::vector<OpenRule> opens;
    bool hasPassword = false;
    std::string password;
    int32_t passwordRefusedAnswer = SM_OPEN_NEED_PASSWORD, prepareAnswer = 1, endAnswer = SM_ENTRY_END;
    std::vector<Entry> entries;
    Container* nextRefused = nullptr;
    intptr_t heldFile = -1;        // with HoldFile: the container file, open from OpenProc on
    mutable bool closedAtEnd = false;
    mutable uint64_t reads = 0;    // ReadEntryProc calls, for RereadDiffers
    // "fault<TAB>operation<TAB>kind[<TAB>n]": the operation faults at its n-th call on this
    // container (every call without n), other containers of the module go on.
    std::string faultIn;
    FaultKind faultKind = FaultKind::AccessViolation;
    uint64_t faultAt = 0;
    mutable uint64_t faultCalls = 0;
};

bool FaultIn(const char* operation) { return std::string(settings.faultIn) == operation; }

// Faults where the settings, or the container, ask for a fault in this operation.
void FaultIfAsked(const char* operation, const Container* container = nullptr) {
    if (FaultIn(operation)) Fault(settings.faultKind);
    if (container && container->faultIn == operation &&
        (++container->faultCalls == container->faultAt || container->faultAt == 0))
        Fault(container->faultKind);
}

// CloseFile=twice closes the held file once the listing has ended, and CloseProc closes it again.
void CloseHeldFileAtEnd(const Container& container) {
    if (container.heldFile == -1 || container.closedAtEnd || std::string(settings.closeFile) != "twice") return;
    CloseHeldFile(container.heldFile);
    container.closedAtEnd = true;
}

void ReleaseHeldFile(const Container& container) {
    if (container.heldFile != -1 && std::string(settings.closeFile) != "never") CloseHeldFile(container.heldFile);
}

// Refused containers are never closed by the host; they wait here for UnloadSubModule.
SpinLock refusedLock;
Container* refused = nullptr;

// What became of the containers, for tests that check each was closed exactly once.
std::atomic<int64_t> containersOpened{0}, containersClosed{0}, containersRefused{0}, badCloses{0};
static_assert(std::is_trivially_destructible<std::atomic<int64_t>>::value, "counters outlive static destructors");

Entry ParseEntry(const std::vector<std::string>& fields) {
    Entry entry;
    for (size_t i = 1; i < fields.size(); ++i) {
        const size_t equals = fields[i].find('=');
        if (equals == std::string::npos) continue;
        const std::string key = fields[i].substr(0, equals), value = fields[i].substr(equals + 1);
        if (key == "name") entry.name = FromUtf8(value);
        else if (key == "name-fill") {
            const size_t colon = value.find(':');
            const size_t count = size_t(std::min<uint64_t>(Unsigned(value.substr(0, colon)), 1u << 20));
            if (colon != std::string::npos && colon + 1 < value.size())
                entry.name.assign(count, Wide::value_type(value[colon + 1]));
        } else if (key == "size") entry.size = Unsigned(value);
        else if (key == "packed") entry.packed = Unsigned(value);
        else if (key == "attr") entry.attributes = uint32_t(Unsigned(value));
        else if (key == "ctime") entry.created = Unsigned(value);
        else if (key == "mtime") entry.modified = Unsigned(value);
        else if (key == "answer") entry.answer = Signed(value);
        else if (key == "content") entry.content = value;
        else if (key == "content-repeat") entry.repeat = Unsigned(value);
        else if (key == "extract") entry.extract = Signed(value);
        else if (key == "progress") entry.progressSteps = Signed(value);
        else if (key == "write") entry.write = value != "0";
    }
    return entry;
}

// False when the file cannot be read or is no test container.
bool LoadContainer(const Wide& path, Container& container) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return false;
    std::vector<std::string> lines = Split(bytes, '\n');
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lines[0] != "MORVANE-TEST-CONTAINER") return false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Split(lines[i], '\t');
        const std::string& kind = fields[0];
        if (kind == "entry") container.entries.push_back(ParseEntry(fields));
        else if (fields.size() < 2) continue;
        else if (kind == "open" && fields.size() >= 3)
            container.opens.push_back({fields[1], fields[2] == "fault", Signed(fields[2])});
        else if (kind == "password") {
            container.hasPassword = true;
            container.password = fields[1];
        } else if (kind == "password-refused-answer") container.passwordRefusedAnswer = Signed(fields[1]);
        else if (kind == "prepare") container.prepareAnswer = Signed(fields[1]);
        else if (kind == "end-answer") container.endAnswer = Signed(fields[1]);
        else if (kind == "fault") {
            container.faultIn = fields[1];
            if (fields.size() >= 3) container.faultKind = FaultKindNamed(fields[2]);
            if (fields.size() >= 4) container.faultAt = Unsigned(fields[3]);
        }
    }
    return true;
}

const Entry* FindEntry(const Container* container, int32_t index) {
    if (!container || index < 0 || size_t(index) >= container->entries.size()) return nullptr;
    return &container->entries[size_t(index)];
}

// ---- The five operations ---------------------------------------------------------------------

int32_t SM_CALL OpenProc(OpenRequest request, ContainerHandle* handle, void* owner) {
    auto container = std::make_unique<Container>();
    const Wide path = WideFrom(request.ArchivePath);
    bool fault = false;
    int32_t answer = SM_OPEN_NOT_MINE;
    if (LoadContainer(path, *container)) {
        for (const OpenRule& rule : container->opens) {
            if (rule.module != "*" && rule.module != settings.identity) continue;
            fault = rule.fault;
            answer = fault ? SM_OPEN_NOT_MINE : rule.answer;
            break;
        }
        if (answer == SM_OPEN_OK && container->hasPassword) {
            if (!request.Password) answer = SM_OPEN_NEED_PASSWORD;
            else if (container->password != request.Password) answer = container->passwordRefusedAnswer;
        }
    } else if (settings.claimEverything) {
        container = std::make_unique<Container>();
        answer = SM_OPEN_OK;
    }
    Log("OpenProc", Field("path", Utf8(path)) + Field("password", request.Password ? request.Password : "(null)") +
                        Field("reserved", std::to_string(request.Reserved1) + "," + std::to_string(request.Reserved2)) +
                        Field("owner", Hex(owner)) + Field("answer", fault ? std::string("fault") : std::to_string(answer)));
    if (fault) WriteToAddressZero();
    FaultIfAsked("OpenProc", container.get());
    if (answer == SM_OPEN_OK && handle && !settings.openNullHandle) {
        if (settings.holdFile) container->heldFile = OpenHeldFile(path);
        *handle = container.release();
        ++openContainers;
        ++containersOpened;
    }
    return answer;
}

int32_t SM_CALL PrepareProc(ContainerHandle handle) {
    Container* container = static_cast<Container*>(handle);
    const int32_t answer = container ? container->prepareAnswer : 0;
    Log("PrepareProc", Field("handle", Hex(handle)) + Field("answer", answer));
    FaultIfAsked("PrepareProc", container);
    if (answer == 0 && container) {
        ++containersRefused;
        std::lock_guard<SpinLock> guard(refusedLock);
        container->nextRefused = refused;
        refused = container;
    }
    return answer;
}

int32_t SM_CALL CloseProc(ContainerHandle handle) {
    Log("CloseProc", Field("handle", Hex(handle)));
    Container* container = static_cast<Container*>(handle);
    FaultIfAsked("CloseProc", container && container->magic == Container::kLive ? container : nullptr);
    if (container && container->magic != Container::kLive) {
        ++badCloses;  // closed before: freeing it again would corrupt the heap
        return 0;
    }
    if (container) {
        container->magic = 0;
        ReleaseHeldFile(*container);
        --openContainers;
        ++containersClosed;
    }
    delete container;
    return 1;
}

int32_t SM_CALL ReadEntryProc(ContainerHandle handle, int32_t index, EntryInfo* info) {
    const Container* container = static_cast<const Container*>(handle);
    const Entry* entry = FindEntry(container, index);
    const int32_t answer = entry ? entry->answer : container ? container->endAnswer : SM_ENTRY_ERROR;
    Log("ReadEntryProc", Field("handle", Hex(handle)) + Field("index", index) + Field("answer", answer));
    FaultIfAsked("ReadEntryProc", container);
    if (container && !entry && answer == SM_ENTRY_END) CloseHeldFileAtEnd(*container);
    const uint64_t reads = container ? ++container->reads : 0;
    if (entry && info) {
        info->UnpackedSize = entry->size;
        info->PackedSize = entry->packed;
        info->Attributes = entry->attributes;
        info->CreationTime = {uint32_t(entry->created), uint32_t(entry->created >> 32)};
        const uint64_t modified = entry->modified + (settings.rereadDiffers && reads > 1 ? reads : 0);
        info->LastWriteTime = {uint32_t(modified), uint32_t(modified >> 32)};
        // A name of the field's full length is left without a terminator on purpose.
        const size_t length = std::min<size_t>(entry->name.size(), SM_NAME_LENGTH);
        for (size_t i = 0; i < length; ++i) info->Name[i] = SM_WCHAR(entry->name[i]);
        if (length < SM_NAME_LENGTH) info->Name[length] = 0;
    }
    return answer;
}

// Writes content x repeat in progressSteps steps (one when none), reporting each step's bytes;
// `disturbed` flips the last byte.
bool WriteContent(const Container& container, const Entry& entry, OutputFile& file, const ExtractRequest& request,
                  bool disturbed) {
    const uint64_t total = entry.content.size() * entry.repeat;
    const uint64_t steps = entry.progressSteps > 0 ? uint64_t(entry.progressSteps) : 1;
    std::string chunk;
    for (uint64_t step = 0; step < steps; ++step) {
        const uint64_t begin = total / steps * step + total % steps * step / steps;
        const uint64_t end = total / steps * (step + 1) + total % steps * (step + 1) / steps;
        for (uint64_t at = begin; at < end; at += chunk.size()) {
            chunk.resize(size_t(std::min<uint64_t>(end - at, 65536)));
            for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = entry.content[size_t((at + i) % entry.content.size())];
            if (disturbed && at + chunk.size() == total) chunk.back() = char(chunk.back() ^ 1);
            if (!file.Write(chunk.data(), chunk.size())) return false;
        }
        if (entry.progressSteps > 0 && request.ProgressProc) {
            const int32_t amount = int32_t(end - begin);
            void* context = settings.progressShifted ? static_cast<char*>(request.ProgressContext) + 1 : request.ProgressContext;
            const int32_t answer = request.ProgressProc(context, amount, 0);
            Log("Progress", Field("amount", amount) + Field("answer", answer));
            FaultIfAsked("Progress", &container);  // the file half written, and still open
        }
    }
    return true;
}

int32_t SM_CALL ExtractProc(ContainerHandle handle, ExtractRequest request) {
    const Container* container = static_cast<const Container*>(handle);
    const Entry* entry = FindEntry(container, request.EntryIndex);
    const Wide target = WideFrom(request.TargetPath);
    OutputFile file;
    int32_t answer = !entry                              ? SM_EXTRACT_READ_ERROR
                     : entry->extract != SM_EXTRACT_OK ? entry->extract
                     : !entry->write                   ? SM_EXTRACT_OK
                     : file.Create(target)             ? SM_EXTRACT_OK
                                                       : SM_EXTRACT_WRITE_ERROR;
    Log("ExtractProc", Field("handle", Hex(handle)) + Field("index", request.EntryIndex) +
                           Field("target", Utf8(target)) + Field("context", Hex(request.ProgressContext)) +
                           Field("reserved", request.Reserved) + Field("answer", answer));
    FaultIfAsked("ExtractProc", container);
    const bool disturbed = settings.sharedState && openContainers.load() > 1;
    if (answer == SM_EXTRACT_OK && entry->write &&
        !(WriteContent(*container, *entry, file, request, disturbed) && file.Close()))
        answer = SM_EXTRACT_WRITE_ERROR;
    if (answer == SM_EXTRACT_OK && settings.keepTargetOpen) OpenHeldFile(target);  // and forgets it
    return answer;
}

// ---- Loading ---------------------------------------------------------------------------------

// The items of a settings text, read up to its final NUL and never beyond it.
std::vector<Wide> SettingsItems(const SM_WCHAR* text) {
    std::vector<Wide> items;
    if (!text || !text[0]) return items;
    for (;;) {
        items.push_back(WideFrom(text));
        text += items.back().size() + 1;
        if (!text[0]) return items;
    }
}

std::string FileStem(const Wide& path) {
    const size_t slash = path.find_last_of(Wide(1, Wide::value_type('/')) + Wide::value_type('\\'));
    Wide name = slash == Wide::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(Wide::value_type('.'));
    if (dot != Wide::npos) name.resize(dot);
    return Utf8(name);
}

void ApplySettings(const std::vector<Wide>& items) {
    settings = Settings();
    settings.version = SM_INTERFACE_VERSION;
    settings.loadAnswer = 1;
    std::string identity, nullProc, faultIn, closeFile;
    Wide logPath;
    bool logGiven = false;
    for (const Wide& item : items) {
        const size_t equals = item.find(Wide::value_type('='));
        if (equals == Wide::npos) continue;
        const std::string key = Utf8(item.substr(0, equals)), value = Utf8(item.substr(equals + 1));
        if (key == "Log") {
            logGiven = true;
            logPath = item.substr(equals + 1);
        } else if (key == "Name") identity = value;
        else if (key == "Version") settings.version = uint32_t(Signed(value));
        else if (key == "LoadAnswer") settings.loadAnswer = Signed(value);
        else if (key == "NullProc") nullProc = value;
        else if (key == "LoadFault") settings.loadFault = value == "1";
        else if (key == "LoadRaise") {
            settings.loadRaise = true;
            settings.raiseCode = uint32_t(std::strtoul(value.c_str(), nullptr, 16));
        } else if (key == "LoadHandledFault") settings.loadHandledFault = value == "1";
        else if (key == "LoadThrows") settings.loadThrows = value == "1";
        else if (key == "OpenNullHandle") settings.openNullHandle = value == "1";
        else if (key == "HoldFile") settings.holdFile = value == "1";
        else if (key == "CloseFile") {
            closeFile = value;
            settings.holdFile = true;
        } else if (key == "FaultIn") faultIn = value;
        else if (key == "FaultKind") settings.faultKind = FaultKindNamed(value);
        else if (key == "ProgressContext") settings.progressShifted = value == "shifted";
        else if (key == "RereadDiffers") settings.rereadDiffers = value == "1";
        else if (key == "SharedState") settings.sharedState = value == "1";
        else if (key == "ClaimEverything") settings.claimEverything = value == "1";
        else if (key == "KeepTargetOpen") settings.keepTargetOpen = value == "1";
    }
    if (identity.empty()) identity = FileStem(OwnLibraryPath());
    // A module without a section of its own still logs where the tests point it.
    if (!logGiven) logPath = EnvironmentValue("MORVANE_TESTMODULE_LOG");
    CopyTo(settings.identity, identity);
    CopyTo(settings.nullProc, nullProc);
    CopyTo(settings.faultIn, faultIn);
    CopyTo(settings.closeFile, closeFile);
    CopyTo(settings.logPath, logPath);
}

// Faults and handles the fault itself, as a module with its own exception handling would.
std::string HandledFault() {
#if defined(_WIN32)
    uint32_t code = 0;
    return platform::CallGuarded(WriteToAddressZero, nullptr, code) ? std::string("none") : Hex(code);
#else
    return "skipped";  // Linux has no structured exceptions to handle
#endif
}

}  // namespace

extern "C" TESTMODULE_EXPORT int32_t SM_CALL LoadSubModule(SubModuleInterface* module) {
    if (!module) return 0;
    const std::vector<Wide> items = SettingsItems(module->SettingsText);
    ApplySettings(items);
    std::string rendered;
    for (const Wide& item : items) rendered += Utf8(item) + "\\0";
    std::string fields = Field("settings", rendered + "\\0");
    if (settings.loadHandledFault) fields += Field("handled", HandledFault());
    Log("LoadSubModule", fields);

    if (settings.loadThrows) {
        // A C++ exception thrown and caught inside the module, as any C++ module may do.
        try {
            throw std::runtime_error("caught at once");
        } catch (const std::runtime_error&) {
        }
    }
    if (settings.loadFault) WriteToAddressZero();
#if defined(_WIN32)
    if (settings.loadRaise) RaiseException(settings.raiseCode, 0, 0, nullptr);
#endif
    const std::string none = settings.nullProc;
    module->Version = settings.version;
    module->OpenProc = none == "OpenProc" ? nullptr : OpenProc;
    module->CloseProc = none == "CloseProc" ? nullptr : CloseProc;
    module->ReadEntryProc = none == "ReadEntryProc" ? nullptr : ReadEntryProc;
    module->ExtractProc = none == "ExtractProc" ? nullptr : ExtractProc;
    module->PrepareProc = none == "PrepareProc" ? nullptr : PrepareProc;
    return settings.loadAnswer;
}

#if !defined(TESTMODULE_WITHOUT_UNLOAD)
extern "C" TESTMODULE_EXPORT int32_t SM_CALL UnloadSubModule(void) {
    Log("UnloadSubModule");
    FaultIfAsked("UnloadSubModule");
    std::lock_guard<SpinLock> guard(refusedLock);
    while (Container* container = refused) {
        refused = container->nextRefused;
        ReleaseHeldFile(*container);
        delete container;
    }
    return 1;
}
#endif

// Containers opened (OpenProc answered 1), closed, released after PrepareProc refused them, and
// closes of a handle that was no live container, since the module was loaded.
extern "C" TESTMODULE_EXPORT void TestModuleContainers(int64_t* counts) {
    counts[0] = containersOpened;
    counts[1] = containersClosed;
    counts[2] = containersRefused;
    counts[3] = badCloses;
}

// Throws and catches rounds times, each catch looking at its exception again through
// std::current_exception; answers how many rounds saw another exception than their own. Run
// from several threads at once, it shows whether each thread keeps its own exception state.
extern "C" TESTMODULE_EXPORT int32_t TestModuleThrowAndCatch(int32_t rounds) {
    const uintptr_t own = reinterpret_cast<uintptr_t>(&rounds);  // differs from thread to thread
    int32_t wrong = 0;
    for (int32_t round = 0; round < rounds; ++round) {
        try {
            throw own + uintptr_t(round);
        } catch (uintptr_t thrown) {
            std::this_thread::yield();  // let other threads throw while this exception is caught
            try {
                std::rethrow_exception(std::current_exception());
            } catch (uintptr_t again) {
                if (thrown != own + uintptr_t(round) || again != thrown) ++wrong;
            }
        }
    }
    return wrong;
}

// The exports must have exactly the contract's types.
[[maybe_unused]] static const LoadSubModuleFunction kLoadSubModuleType = LoadSubModule;
#if !defined(TESTMODULE_WITHOUT_UNLOAD)
[[maybe_unused]] static const UnloadSubModuleFunction kUnloadSubModuleType = UnloadSubModule;
#endif
