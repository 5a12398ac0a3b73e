/*
 * A sub-module whose every answer comes from a script of bytes (ScriptedHost.h), so that a
 * fuzzer can play any sub-module, well-behaved or not: answers outside the contract, entries
 * with huge sizes, odd times and attributes, names without a terminator or with lone
 * surrogates, null handles, progress calls with foreign contexts. It checks every handle that
 * Morvane gives back and counts its containers, so the program sees leaks and double closes.
 *
 * Without a script it is a small well-formed archive of three entries, and the archive's path
 * picks the case: "refused" (not mine), "protected" (password "secret"), "unprepared"
 * (PrepareProc refuses), anything else opens.
 *
 * Plain C with no C++ runtime: a program that makes C++ allocations fail reaches Morvane alone.
 * Its containers are not guarded by a lock: it serves single-threaded programs only.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ScriptedHost.h"
#include "modules/SubModuleContract.h"

#if defined(_WIN32)
#include <windows.h>
#define SCRIPTED_EXPORT /* exported by name through ScriptedSubModule.def */
#else
#include <dlfcn.h>
#define SCRIPTED_EXPORT __attribute__((visibility("default")))
#endif

#define CONTAINER_MAGIC 0x5C41B7EDu
#define DEFAULT_ENTRIES 3

typedef struct Container {
    uint32_t magic;
    struct Container* next;
} Container;

static ScriptedHost ownHost;
static ScriptedHost* host = &ownHost;
static Container* live; /* every container handed out and not yet released */

/* ---- The script --------------------------------------------------------------------------- */

static int Scripted(void) { return host->script && host->size > 0; }

static uint8_t Byte(void) { return host->position < host->size ? host->script[host->position++] : 0; }

static uint32_t Word(void) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= (uint32_t)Byte() << (8 * i);
    return value;
}

static uint64_t Quad(void) {
    const uint64_t low = Word();
    return low | ((uint64_t)Word() << 32);
}

/* ---- Containers ---------------------------------------------------------------------------- */

static Container* NewContainer(void) {
    Container* container = (Container*)malloc(sizeof(Container));
    if (!container) return NULL;
    container->magic = CONTAINER_MAGIC;
    container->next = live;
    live = container;
    host->opens++;
    return container;
}

/* The live container behind handle, or null: a foreign handle is never dereferenced. */
static Container* Live(ContainerHandle handle) {
    for (Container* container = live; container; container = container->next)
        if (container == handle && container->magic == CONTAINER_MAGIC) return container;
    return NULL;
}

static void Release(Container* container) {
    for (Container** link = &live; *link; link = &(*link)->next) {
        if (*link == container) {
            *link = container->next;
            break;
        }
    }
    container->magic = 0;
    free(container);
}

/* ---- Well-formed behaviour ---------------------------------------------------------------- */

static int PathContains(const SM_WCHAR* path, const char* word) {
    const size_t length = strlen(word);
    for (; path && *path; ++path) {
        size_t i = 0;
        while (i < length && path[i] == (SM_WCHAR)(unsigned char)word[i]) ++i;
        if (i == length) return 1;
    }
    return 0;
}

/* Set by OpenProc for PrepareProc, which sees only the handle. */
static int lastOpenUnprepared;

static int32_t DefaultOpen(const OpenRequest* request, ContainerHandle* handle) {
    if (PathContains(request->ArchivePath, "refused")) return SM_OPEN_NOT_MINE;
    if (PathContains(request->ArchivePath, "protected") &&
        (!request->Password || strcmp(request->Password, "secret") != 0))
        return SM_OPEN_NEED_PASSWORD;
    lastOpenUnprepared = PathContains(request->ArchivePath, "unprepared");
    *handle = NewContainer();
    return *handle ? SM_OPEN_OK : SM_OPEN_NOT_MINE;
}

static void SetName(EntryInfo* entry, const char* name) {
    size_t i = 0;
    for (; name[i] && i < SM_NAME_LENGTH - 1; ++i) entry->Name[i] = (SM_WCHAR)(unsigned char)name[i];
    entry->Name[i] = 0;
}

static int32_t DefaultEntry(int32_t index, EntryInfo* entry) {
    static const char* const names[DEFAULT_ENTRIES] = {"folder", "folder/inner.txt", "outer.txt"};
    if (index < 0 || index >= DEFAULT_ENTRIES) return SM_ENTRY_END;
    SetName(entry, names[index]);
    entry->Attributes = index == 0 ? 0x10 : 0x20;
    entry->UnpackedSize = entry->PackedSize = index == 0 ? 0 : 5 * (uint64_t)index;
    entry->LastWriteTime.HighDateTime = entry->CreationTime.HighDateTime = 0x01D80000u;
    return SM_ENTRY_OK;
}

/* ---- Scripted behaviour ------------------------------------------------------------------- */

static int32_t ScriptedOpen(ContainerHandle* handle) {
    static const int32_t answers[8] = {SM_OPEN_NOT_MINE, SM_OPEN_OK, SM_OPEN_OK, SM_OPEN_NEED_PASSWORD,
                                       SM_OPEN_OK, 7, -1, SM_OPEN_OK};
    const uint8_t choice = Byte();
    const int32_t answer = answers[choice & 7];
    if (answer == SM_OPEN_OK) *handle = (choice & 8) ? NULL : NewContainer();
    else if (choice & 16) *handle = (ContainerHandle)(uintptr_t)0xBAD0; /* to be ignored */
    return answer;
}

static void ScriptedEntry(EntryInfo* entry, uint8_t choice) {
    if (choice & 8) { /* the record's raw bytes */
        uint8_t* bytes = (uint8_t*)entry;
        for (size_t i = 0; i < sizeof(EntryInfo) && host->position < host->size; ++i) bytes[i] = Byte();
        return;
    }
    const uint8_t fields = Byte();
    entry->UnpackedSize = (fields & 1) ? Quad() : Byte();
    entry->PackedSize = (fields & 2) ? Quad() : Byte();
    entry->Attributes = (fields & 4) ? Word() : ((Byte() & 1) ? 0x10u : 0x20u);
    if (fields & 8) {
        entry->CreationTime.LowDateTime = Word();
        entry->CreationTime.HighDateTime = Word();
        entry->LastWriteTime.LowDateTime = Word();
        entry->LastWriteTime.HighDateTime = Word();
    }
    if (fields & 16) { /* the whole field, no terminator */
        const SM_WCHAR unit = (SM_WCHAR)(Word() & 0xFFFF);
        for (size_t i = 0; i < SM_NAME_LENGTH; ++i) entry->Name[i] = unit;
    } else {
        const size_t length = Byte();
        for (size_t i = 0; i < length; ++i) {
            const SM_WCHAR low = Byte();
            entry->Name[i] = (SM_WCHAR)(low | (Byte() << 8));
        }
        entry->Name[length] = 0;
    }
}

static int32_t ScriptedExtract(const ExtractRequest* request) {
    static const int32_t answers[8] = {SM_EXTRACT_OK, SM_EXTRACT_OK, SM_EXTRACT_OK, SM_EXTRACT_WRITE_ERROR,
                                       SM_EXTRACT_READ_ERROR, SM_EXTRACT_BAD_DATA, 4, -1};
    const uint8_t choice = Byte();
    for (int call = 0; call < (choice & 3); ++call) {
        const uint8_t which = Byte() & 3;
        void* context = which == 1 ? NULL : which == 2 ? (void*)(uintptr_t)-1 : request->ProgressContext;
        request->ProgressProc(context, (int32_t)Word(), 0);
    }
    return answers[(choice >> 2) & 7];
}

/* ---- The five operations ------------------------------------------------------------------ */

static int32_t SM_CALL OpenProc(OpenRequest request, ContainerHandle* handle, void* owner) {
    (void)owner;
    if (!handle) return SM_OPEN_NOT_MINE;
    return Scripted() ? ScriptedOpen(handle) : DefaultOpen(&request, handle);
}

static int32_t SM_CALL PrepareProc(ContainerHandle handle) {
    Container* container = Live(handle);
    if (!container) {
        if (handle) host->strayCalls++;
        return 0;
    }
    const int accept = Scripted() ? (Byte() % 4 != 3) : !lastOpenUnprepared;
    if (!accept) { /* never handed back by Morvane: released here */
        Release(container);
        host->refusals++;
    }
    return accept;
}

static int32_t SM_CALL CloseProc(ContainerHandle handle) {
    Container* container = Live(handle);
    if (!container) {
        host->badCloses++;
        return 0;
    }
    Release(container);
    host->closes++;
    return 1;
}

static int32_t SM_CALL ReadEntryProc(ContainerHandle handle, int32_t index, EntryInfo* entry) {
    if (!Live(handle) || !entry) {
        host->strayCalls++;
        return SM_ENTRY_ERROR;
    }
    if (!Scripted()) return DefaultEntry(index, entry);
    static const int32_t answers[8] = {SM_ENTRY_OK, SM_ENTRY_OK, SM_ENTRY_OK, SM_ENTRY_END,
                                       SM_ENTRY_ERROR, SM_ENTRY_OK, 3, -1};
    const uint8_t choice = Byte();
    ScriptedEntry(entry, choice);
    return answers[choice & 7];
}

static int32_t SM_CALL ExtractProc(ContainerHandle handle, ExtractRequest request) {
    if (!Live(handle) || !request.ProgressProc || !request.TargetPath) {
        host->strayCalls++;
        return 4;
    }
    if (Scripted()) return ScriptedExtract(&request);
    request.ProgressProc(request.ProgressContext, 5, 0);
    return SM_EXTRACT_OK;
}

/* ---- The two exports ---------------------------------------------------------------------- */

static ScriptedHost* FindHost(void) {
#if defined(_WIN32)
    ScriptedHostFunction function =
        (ScriptedHostFunction)(void (*)(void))GetProcAddress(GetModuleHandleW(NULL), SCRIPTED_HOST_FUNCTION);
#else
    ScriptedHostFunction function = (ScriptedHostFunction)dlsym(RTLD_DEFAULT, SCRIPTED_HOST_FUNCTION);
#endif
    ScriptedHost* found = function ? function() : NULL;
    return found ? found : &ownHost;
}

SCRIPTED_EXPORT int32_t SM_CALL LoadSubModule(SubModuleInterface* module) {
    if (!module) return 0;
    host = FindHost();
    module->Version = SM_INTERFACE_VERSION;
    module->OpenProc = OpenProc;
    module->CloseProc = CloseProc;
    module->ReadEntryProc = ReadEntryProc;
    module->ExtractProc = ExtractProc;
    module->PrepareProc = PrepareProc;
    host->loads++;
    return 1;
}

SCRIPTED_EXPORT int32_t SM_CALL UnloadSubModule(void) {
    host->unloads++;
    return 1;
}

/* The exports must have exactly the contract's types. */
SM_STATIC_ASSERT(__builtin_types_compatible_p(__typeof__(&LoadSubModule), LoadSubModuleFunction) &&
                     __builtin_types_compatible_p(__typeof__(&UnloadSubModule), UnloadSubModuleFunction),
                 "exports of the contract's types");
