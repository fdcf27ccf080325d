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

#ifdef __cplusplus
}
#endif

#endif /* KIV_INST_H */
