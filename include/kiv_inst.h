/*
 * kiv_inst.dll: installation support for the Kivelstrand animation system.
 *
 * Every export below uses the plain C calling convention (the caller removes
 * the arguments) and an undecorated name. Texts are narrow, zero-terminated
 * strings in the system's ANSI code page. Call from one thread at a time.
 *
 * The DLL's entry point DllMain is exported too (ordinal 1) with the system's
 * entry-point signature; hosts never call it, so it is not declared here.
 */
#ifndef KIV_INST_H
#define KIV_INST_H

#include <windows.h>

#define KIV_API __cdecl

#ifdef __cplusplus
extern "C" {
#endif

/* Status window. FakeStatusOpen shows a modeless wait window with a looping
 * clip, the caption title and the line text (creating the window when none is
 * open); the host must have registered the common controls' animation class
 * and must dispatch messages afterwards. FakeStatusSetAvi selects the clip:
 * NULL, "" or ":BKW" (the default), ":FILECOPY", ":SEARCH", or the path of an
 * RLE8 AVI file. FakeStatusClose stops the clip and posts the window's close.
 * Each returns 1, or 0 when the animation control refused a step. */
int KIV_API FakeStatusOpen(const char *text, const char *title);
int KIV_API FakeStatusClose(void);
int KIV_API FakeStatusSetAvi(const char *name);

#ifdef __cplusplus
}
#endif

#endif /* KIV_INST_H */
