/*
 * The host's extension interface (Double Commander): the record of host functions that it hands
 * to a plug-in's ExtensionInitialize, as far as Morvane reads it, and the dialog functions' types.
 * Texts are UTF-8. Plain C.
 */
#ifndef MORVANE_EXTENSION_INTERFACE_H
#define MORVANE_EXTENSION_INTERFACE_H

#include <stddef.h>
#include <stdint.h>

#include "plugin/PackerInterface.h"

#ifdef __cplusplus
extern "C" {
#endif

#define EXT_MAX_PATH 16384

/* MessageBox: the buttons and the answers. */
#define EXT_MB_OK 0x00000000
#define EXT_ID_OK 1

/* Both answer as the host's BOOL: any non-zero value is true (one host answers -1 for OK). */
typedef int32_t(PK_CALL* tInputBoxProc)(char* Caption, char* Prompt, int32_t MaskInput, char* Value,
                                        int32_t ValueMaxLen);
typedef int32_t(PK_CALL* tMessageBoxProc)(char* Text, char* Caption, int32_t Flags);

#pragma pack(push, 1)
/* The record's leading fields; the host's record goes on with further functions and a reserved
   area, which Morvane neither reads nor writes. */
typedef struct tExtensionStartupInfo {
    uint32_t StructSize;
    char PluginDir[EXT_MAX_PATH];
    char PluginConfDir[EXT_MAX_PATH];
    tInputBoxProc InputBox;
    tMessageBoxProc MessageBox;
} tExtensionStartupInfo;
#pragma pack(pop)

typedef void(PK_CALL* tExtensionInitializeFunction)(tExtensionStartupInfo* StartupInfo);

#ifdef __cplusplus
}
#endif

PK_STATIC_ASSERT(offsetof(tExtensionStartupInfo, PluginDir) == 4, "tExtensionStartupInfo layout");
PK_STATIC_ASSERT(offsetof(tExtensionStartupInfo, PluginConfDir) == 4 + EXT_MAX_PATH, "tExtensionStartupInfo layout");
PK_STATIC_ASSERT(offsetof(tExtensionStartupInfo, InputBox) == 4 + 2 * EXT_MAX_PATH, "tExtensionStartupInfo layout");
PK_STATIC_ASSERT(offsetof(tExtensionStartupInfo, MessageBox) == 4 + 2 * EXT_MAX_PATH + sizeof(void*),
                 "tExtensionStartupInfo layout");

#endif /* MORVANE_EXTENSION_INTERFACE_H */
