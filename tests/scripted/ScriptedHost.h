/*
 * The scripted sub-module and the program that loads Morvane with it: what they share.
 *
 * The module takes every answer from a script of bytes that the program supplies (a fuzzer's
 * input), and counts what Morvane did with its containers. Without a script it behaves as a
 * small, well-formed archive whose name decides the case (see ScriptedSubModule.c).
 */
#ifndef MORVANE_SCRIPTED_HOST_H
#define MORVANE_SCRIPTED_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ScriptedHost {
    const uint8_t* script; /* null or empty: the well-formed archive */
    size_t size;
    size_t position;       /* bytes the module has taken so far */
    /* What the module saw; the program resets them as it likes. */
    long loads;            /* LoadSubModule calls that accepted */
    long unloads;          /* UnloadSubModule calls */
    long opens;            /* non-null containers handed out with the answer 1 */
    long closes;           /* containers closed through CloseProc */
    long refusals;         /* containers the module released itself after refusing PrepareProc */
    long badCloses;        /* CloseProc with a handle that is not a live container */
    long strayCalls;       /* ReadEntryProc, ExtractProc or PrepareProc with such a handle */
} ScriptedHost;

/* The program exports this function by name; a module loaded without it keeps a host of its own. */
#if defined(_WIN32)
#define SCRIPTED_HOST_EXPORT __declspec(dllexport)
#else
#define SCRIPTED_HOST_EXPORT __attribute__((visibility("default")))
#endif
typedef ScriptedHost* (*ScriptedHostFunction)(void);
#define SCRIPTED_HOST_FUNCTION "MorvaneScriptedHost"

#ifdef __cplusplus
}
#endif

#endif
