/*
 * Morvane sub-module contract.
 *
 * A sub-module is a dynamic library that exports LoadSubModule and UnloadSubModule by name.
 * Morvane loads it, hands it its settings text and receives five operations in a
 * SubModuleInterface. Everything that crosses between Morvane and a sub-module is declared here.
 *
 * Plain C, self-contained. Build the sub-module for the word size of the Morvane build that
 * loads it: Morvane.wcx64 loads 64-bit libraries, Morvane.wcx 32-bit ones.
 *
 * Rules of the boundary:
 *  - every function, in both directions, uses SM_CALL (stdcall in the 32-bit Windows build);
 *  - records passed by value are the callee's private copy;
 *  - every pointer Morvane passes is valid only during the call; the records are Morvane's;
 *  - wide text is UTF-16, narrow text is the system's ANSI code page, both zero-terminated.
 */
#ifndef MORVANE_SUBMODULE_CONTRACT_H
#define MORVANE_SUBMODULE_CONTRACT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define SM_CALL __stdcall
#else
#define SM_CALL
#endif

#if defined(_WIN32)
typedef wchar_t SM_WCHAR; /* UTF-16 code unit */
#else
typedef uint16_t SM_WCHAR; /* UTF-16 code unit */
#endif

/* The interface version a sub-module must report in SubModuleInterface.Version. */
#define SM_INTERFACE_VERSION 4

/* Answers of OpenProc. Any other value makes the open fail at once. */
#define SM_OPEN_NOT_MINE 0
#define SM_OPEN_OK 1
#define SM_OPEN_NEED_PASSWORD 2

/* Answers of ReadEntryProc. */
#define SM_ENTRY_ERROR 0
#define SM_ENTRY_OK 1
#define SM_ENTRY_END 2

/* Answers of ExtractProc; any other non-zero value is "some other failure". */
#define SM_EXTRACT_OK 0
#define SM_EXTRACT_WRITE_ERROR 1
#define SM_EXTRACT_READ_ERROR 2
#define SM_EXTRACT_BAD_DATA 3

#define SM_NAME_LENGTH 1024

/* Opaque per-container value of the sub-module; null means "nothing open". */
typedef void* ContainerHandle;

/* Two 32-bit halves, low first: 100-ns intervals since 1601-01-01 UTC. */
typedef struct SM_FILETIME {
    uint32_t LowDateTime;
    uint32_t HighDateTime;
} SM_FILETIME;

/* What OpenProc is asked to open. Passed by value. */
typedef struct OpenRequest {
    const SM_WCHAR* ArchivePath; /* never null */
    const char* Password;        /* null on the first offer; at most 99 bytes before its zero */
    uintptr_t Reserved1;         /* always zero */
    uintptr_t Reserved2;         /* always zero */
} OpenRequest;

/* One entry of a container, filled by ReadEntryProc. Morvane zero-fills it before each call. */
typedef struct EntryInfo {
    uint64_t UnpackedSize;
    uint64_t PackedSize;
    uint32_t Attributes;        /* the platform's file-attribute bits, passed on unchanged */
    SM_FILETIME CreationTime;   /* UTC */
    SM_FILETIME LastWriteTime;  /* UTC; zero means "no time" */
    uint16_t Reserved;
    SM_WCHAR Name[SM_NAME_LENGTH]; /* path inside the container, zero-terminated when shorter */
} EntryInfo;

/* Progress function handed to ExtractProc. Pass ProgressContext first and a byte count second;
 * the third argument is ignored. Answers 1 (0 only for an invalid context). */
typedef int32_t(SM_CALL* SubModuleProgressProc)(void* ProgressContext, int32_t Amount, int32_t Unused);

/* What ExtractProc is asked to extract. Passed by value. */
typedef struct ExtractRequest {
    int32_t EntryIndex;          /* the index last passed to ReadEntryProc while listing */
    int32_t Reserved;            /* always zero */
    const SM_WCHAR* TargetPath;  /* the file to write; its parent directories were attempted */
    void* ProgressContext;       /* pass back as the first argument of ProgressProc */
    SubModuleProgressProc ProgressProc; /* never null */
} ExtractRequest;

/* 0 not mine, 1 opened (*Handle set, non-null), 2 needs a password, other: fail the open. */
typedef int32_t(SM_CALL* SubModuleOpenProc)(OpenRequest Request, ContainerHandle* Handle, void* Owner);
/* Releases a container; the answer is not looked at. */
typedef int32_t(SM_CALL* SubModuleCloseProc)(ContainerHandle Handle);
/* 1 filled, 2 no entry at this index, 0 error. */
typedef int32_t(SM_CALL* SubModuleReadEntryProc)(ContainerHandle Handle, int32_t EntryIndex, EntryInfo* Entry);
/* 0 extracted (file written and closed), 1 write error, 2 read error, 3 bad data, other: failure. */
typedef int32_t(SM_CALL* SubModuleExtractProc)(ContainerHandle Handle, ExtractRequest Request);
/* Called once after a successful open for listing or extraction; zero refuses the open. */
typedef int32_t(SM_CALL* SubModulePrepareProc)(ContainerHandle Handle);

/* Filled by LoadSubModule. Every byte after SettingsText is zero when it is called. */
typedef struct SubModuleInterface {
    /* The module's own INI section: "key=value\0" items ended by one more "\0".
     * Valid only during LoadSubModule. */
    const SM_WCHAR* SettingsText;
    uint32_t ModuleData; /* the sub-module's own; unused by Morvane */
    uint32_t Version;    /* must be SM_INTERFACE_VERSION */
    SubModuleOpenProc OpenProc;
    SubModuleCloseProc CloseProc;
    SubModuleReadEntryProc ReadEntryProc;
    SubModuleExtractProc ExtractProc;
    SubModulePrepareProc PrepareProc;
} SubModuleInterface;

/* The two exports, by these exact names. LoadSubModule answers non-zero to accept. */
typedef int32_t(SM_CALL* LoadSubModuleFunction)(SubModuleInterface* Interface);
typedef int32_t(SM_CALL* UnloadSubModuleFunction)(void);

#ifdef __cplusplus
}
#endif

/* The layout is fixed for both word sizes. */
#if defined(__cplusplus)
#define SM_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define SM_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

SM_STATIC_ASSERT(sizeof(SM_WCHAR) == 2, "SM_WCHAR is one UTF-16 code unit");
SM_STATIC_ASSERT(sizeof(SM_FILETIME) == 8, "FILETIME layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, UnpackedSize) == 0, "EntryInfo layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, PackedSize) == 8, "EntryInfo layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, Attributes) == 16, "EntryInfo layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, CreationTime) == 20, "EntryInfo layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, LastWriteTime) == 28, "EntryInfo layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, Reserved) == 36, "EntryInfo layout");
SM_STATIC_ASSERT(offsetof(EntryInfo, Name) == 38, "EntryInfo layout");
SM_STATIC_ASSERT(sizeof(EntryInfo) == 2088, "EntryInfo layout");

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
SM_STATIC_ASSERT(sizeof(void*) == 8, "64-bit layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, SettingsText) == 0, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, ModuleData) == 8, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, Version) == 12, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, OpenProc) == 16, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, CloseProc) == 24, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, ReadEntryProc) == 32, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, ExtractProc) == 40, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, PrepareProc) == 48, "SubModuleInterface layout");
SM_STATIC_ASSERT(sizeof(SubModuleInterface) == 56, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, ArchivePath) == 0, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, Password) == 8, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, Reserved1) == 16, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, Reserved2) == 24, "OpenRequest layout");
SM_STATIC_ASSERT(sizeof(OpenRequest) == 32, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, EntryIndex) == 0, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, Reserved) == 4, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, TargetPath) == 8, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, ProgressContext) == 16, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, ProgressProc) == 24, "ExtractRequest layout");
SM_STATIC_ASSERT(sizeof(ExtractRequest) == 32, "ExtractRequest layout");
#elif UINTPTR_MAX == 0xFFFFFFFFu
SM_STATIC_ASSERT(sizeof(void*) == 4, "32-bit layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, SettingsText) == 0, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, ModuleData) == 4, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, Version) == 8, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, OpenProc) == 12, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, CloseProc) == 16, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, ReadEntryProc) == 20, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, ExtractProc) == 24, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(SubModuleInterface, PrepareProc) == 28, "SubModuleInterface layout");
SM_STATIC_ASSERT(sizeof(SubModuleInterface) == 32, "SubModuleInterface layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, ArchivePath) == 0, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, Password) == 4, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, Reserved1) == 8, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(OpenRequest, Reserved2) == 12, "OpenRequest layout");
SM_STATIC_ASSERT(sizeof(OpenRequest) == 16, "OpenRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, EntryIndex) == 0, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, Reserved) == 4, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, TargetPath) == 8, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, ProgressContext) == 12, "ExtractRequest layout");
SM_STATIC_ASSERT(offsetof(ExtractRequest, ProgressProc) == 16, "ExtractRequest layout");
SM_STATIC_ASSERT(sizeof(ExtractRequest) == 20, "ExtractRequest layout");
#else
#error "Morvane sub-modules are built for 32-bit or 64-bit targets only"
#endif

#endif /* MORVANE_SUBMODULE_CONTRACT_H */
