/*
 * The file manager's packer plug-in interface: records, result codes, operations and callback
 * types, as Morvane exports them and as a host (such as wcxhost) calls them. Plain C.
 */
#ifndef MORVANE_PACKER_INTERFACE_H
#define MORVANE_PACKER_INTERFACE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define PK_CALL __stdcall
#else
#define PK_CALL
#endif

#if defined(_WIN32)
typedef wchar_t PK_WCHAR;
#else
typedef uint16_t PK_WCHAR;
#endif

typedef void* PK_HANDLE;

/* Result codes. */
#define E_END_ARCHIVE 10
#define E_NO_MEMORY 11
#define E_BAD_DATA 12
#define E_BAD_ARCHIVE 13
#define E_UNKNOWN_FORMAT 14
#define E_EOPEN 15
#define E_ECREATE 16
#define E_ECLOSE 17
#define E_EREAD 18
#define E_EWRITE 19
#define E_SMALL_BUF 20
#define E_EABORTED 21
#define E_NO_FILES 22
#define E_TOO_MANY_FILES 23
#define E_NOT_SUPPORTED 24

/* Operations of ProcessFile(W). */
#define PK_SKIP 0
#define PK_TEST 1
#define PK_EXTRACT 2

/* OpenMode. */
#define PK_OM_LIST 0
#define PK_OM_EXTRACT 1

/* Capabilities and background flags. */
#define PK_CAPS_NEW 1
#define PK_CAPS_MODIFY 2
#define PK_CAPS_MULTIPLE 4
#define PK_CAPS_DELETE 8
#define PK_CAPS_OPTIONS 16
#define PK_CAPS_MEMPACK 32
#define PK_CAPS_BY_CONTENT 64
#define PK_CAPS_SEARCHTEXT 128
#define PK_CAPS_HIDE 256
#define PK_CAPS_ENCRYPT 512
#define BACKGROUND_UNPACK 1

#define PK_NAME_ANSI 260
#define PK_NAME_WIDE 1024

/* Hosts on other systems than Windows (Double Commander) declare these records packed, read
   FileTime as a Unix time_t and FileAttr as a Unix st_mode, and separate names with '/'. */
#if !defined(_WIN32)
#define PK_UNIX_HOST 1
#pragma pack(push, 1)
#endif

typedef struct tOpenArchiveData {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tOpenArchiveData;

typedef struct tOpenArchiveDataW {
    PK_WCHAR* ArcName;
    int OpenMode;
    int OpenResult;
    PK_WCHAR* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tOpenArchiveDataW;

typedef struct tHeaderData {
    char ArcName[PK_NAME_ANSI];
    char FileName[PK_NAME_ANSI];
    int Flags;
    int PackSize;
    int UnpSize;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tHeaderData;

typedef struct tHeaderDataExW {
    PK_WCHAR ArcName[PK_NAME_WIDE];
    PK_WCHAR FileName[PK_NAME_WIDE];
    int Flags;
    uint32_t PackSize;
    uint32_t PackSizeHigh;
    uint32_t UnpSize;
    uint32_t UnpSizeHigh;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
    char Reserved[1024];
} tHeaderDataExW;

#if defined(PK_UNIX_HOST)
#pragma pack(pop)
#endif

typedef int(PK_CALL* tProcessDataProc)(char* FileName, int Size);
typedef int(PK_CALL* tProcessDataProcW)(PK_WCHAR* FileName, int Size);
typedef int(PK_CALL* tChangeVolProc)(char* ArcName, int Mode);
typedef int(PK_CALL* tChangeVolProcW)(PK_WCHAR* ArcName, int Mode);

/* Signatures of the exports, for hosts that bind them by name. */
typedef PK_HANDLE(PK_CALL* tOpenArchiveFunction)(tOpenArchiveData* ArchiveData);
typedef PK_HANDLE(PK_CALL* tOpenArchiveWFunction)(tOpenArchiveDataW* ArchiveData);
typedef int(PK_CALL* tReadHeaderFunction)(PK_HANDLE Archive, tHeaderData* HeaderData);
typedef int(PK_CALL* tReadHeaderExWFunction)(PK_HANDLE Archive, tHeaderDataExW* HeaderData);
typedef int(PK_CALL* tProcessFileFunction)(PK_HANDLE Archive, int Operation, char* DestPath, char* DestName);
typedef int(PK_CALL* tProcessFileWFunction)(PK_HANDLE Archive, int Operation, PK_WCHAR* DestPath, PK_WCHAR* DestName);
typedef int(PK_CALL* tCloseArchiveFunction)(PK_HANDLE Archive);
typedef void(PK_CALL* tSetChangeVolProcFunction)(PK_HANDLE Archive, tChangeVolProc Callback);
typedef void(PK_CALL* tSetChangeVolProcWFunction)(PK_HANDLE Archive, tChangeVolProcW Callback);
typedef void(PK_CALL* tSetProcessDataProcFunction)(PK_HANDLE Archive, tProcessDataProc Callback);
typedef void(PK_CALL* tSetProcessDataProcWFunction)(PK_HANDLE Archive, tProcessDataProcW Callback);
typedef int(PK_CALL* tGetPackerCapsFunction)(void);
typedef int(PK_CALL* tCanYouHandleThisFileFunction)(char* FileName);
typedef int(PK_CALL* tCanYouHandleThisFileWFunction)(PK_WCHAR* FileName);
typedef int(PK_CALL* tGetBackgroundFlagsFunction)(void);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus)
#define PK_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define PK_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

PK_STATIC_ASSERT(sizeof(PK_WCHAR) == 2, "WCHAR is one UTF-16 code unit");
PK_STATIC_ASSERT(offsetof(tHeaderData, FileName) == 260, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, Flags) == 520, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, FileAttr) == 552, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, FileName) == 2048, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, Flags) == 4096, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, PackSize) == 4100, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, UnpSizeHigh) == 4112, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, HostOS) == 4116, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, FileAttr) == 4136, "tHeaderDataExW layout");

#if defined(PK_UNIX_HOST) && UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, OpenResult) == 12, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtBuf) == 16, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtState) == 32, "tOpenArchiveData layout");
PK_STATIC_ASSERT(sizeof(tOpenArchiveData) == 36, "tOpenArchiveData layout");
PK_STATIC_ASSERT(sizeof(tOpenArchiveDataW) == 36, "tOpenArchiveDataW layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtBuf) == 556, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtState) == 572, "tHeaderData layout");
PK_STATIC_ASSERT(sizeof(tHeaderData) == 576, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtBuf) == 4140, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtBufSize) == 4148, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtState) == 4156, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, Reserved) == 4160, "tHeaderDataExW layout");
PK_STATIC_ASSERT(sizeof(tHeaderDataExW) == 5184, "tHeaderDataExW layout");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, OpenMode) == 8, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, OpenResult) == 12, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtBuf) == 16, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtBufSize) == 24, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtState) == 32, "tOpenArchiveData layout");
PK_STATIC_ASSERT(sizeof(tOpenArchiveData) == 40, "tOpenArchiveData layout");
PK_STATIC_ASSERT(sizeof(tOpenArchiveDataW) == 40, "tOpenArchiveDataW layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveDataW, CmtBuf) == 16, "tOpenArchiveDataW layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtBuf) == 560, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtBufSize) == 568, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtState) == 576, "tHeaderData layout");
PK_STATIC_ASSERT(sizeof(tHeaderData) == 584, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtBuf) == 4144, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtBufSize) == 4152, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtState) == 4160, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, Reserved) == 4164, "tHeaderDataExW layout");
PK_STATIC_ASSERT(sizeof(tHeaderDataExW) == 5192, "tHeaderDataExW layout");
#elif UINTPTR_MAX == 0xFFFFFFFFu
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, OpenMode) == 4, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, OpenResult) == 8, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtBuf) == 12, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtBufSize) == 16, "tOpenArchiveData layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveData, CmtState) == 24, "tOpenArchiveData layout");
PK_STATIC_ASSERT(sizeof(tOpenArchiveData) == 28, "tOpenArchiveData layout");
PK_STATIC_ASSERT(sizeof(tOpenArchiveDataW) == 28, "tOpenArchiveDataW layout");
PK_STATIC_ASSERT(offsetof(tOpenArchiveDataW, CmtBuf) == 12, "tOpenArchiveDataW layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtBuf) == 556, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtBufSize) == 560, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderData, CmtState) == 568, "tHeaderData layout");
PK_STATIC_ASSERT(sizeof(tHeaderData) == 572, "tHeaderData layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtBuf) == 4140, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtBufSize) == 4144, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, CmtState) == 4152, "tHeaderDataExW layout");
PK_STATIC_ASSERT(offsetof(tHeaderDataExW, Reserved) == 4156, "tHeaderDataExW layout");
PK_STATIC_ASSERT(sizeof(tHeaderDataExW) == 5180, "tHeaderDataExW layout");
#endif

#endif /* MORVANE_PACKER_INTERFACE_H */
