// The bounded copies and formats of strsafe, as the library uses them:
// always terminated, STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut,
// nothing written for a size of 0 or over STRSAFE_MAX_CCH.
#ifndef KIV_FUZZ_SHIM_STRSAFE_H
#define KIV_FUZZ_SHIM_STRSAFE_H

#include <stdarg.h>
#include <stdio.h>

#include "windows.h"

#define S_OK ((HRESULT)0)
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)
#define STRSAFE_MAX_CCH 2147483647
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)

static inline HRESULT StringCchCopyNA(char *dst, size_t cch, const char *src, size_t n)
{
    if (cch == 0 || cch > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    size_t i = 0;
    while (i < n && src[i] != '\0' && i < cch - 1) {
        dst[i] = src[i];
        i++;
    }
    dst[i] = '\0';
    return i < n && src[i] != '\0' ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

static inline HRESULT StringCchCopyA(char *dst, size_t cch, const char *src)
{
    return StringCchCopyNA(dst, cch, src, (size_t)STRSAFE_MAX_CCH);
}

static inline HRESULT StringCchLengthA(const char *s, size_t cchMax, size_t *length)
{
    if (s == NULL || cchMax > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    size_t n = 0;
    while (n < cchMax && s[n] != '\0')
        n++;
    if (n == cchMax)
        return STRSAFE_E_INVALID_PARAMETER;
    if (length != NULL)
        *length = n;
    return S_OK;
}

static inline HRESULT StringCchLengthW(const WCHAR *s, size_t cchMax, size_t *length)
{
    if (s == NULL || cchMax > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    size_t n = 0;
    while (n < cchMax && s[n] != 0)
        n++;
    if (n == cchMax)
        return STRSAFE_E_INVALID_PARAMETER;
    if (length != NULL)
        *length = n;
    return S_OK;
}

static inline HRESULT StringCchPrintfA(char *dst, size_t cch, const char *format, ...)
{
    if (cch == 0 || cch > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dst, cch, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return STRSAFE_E_INVALID_PARAMETER;
    }
    return (size_t)n >= cch ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

static inline HRESULT StringCchCopyNW(WCHAR *dst, size_t cch, const WCHAR *src, size_t n)
{
    if (cch == 0 || cch > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    size_t i = 0;
    while (i < n && src[i] != 0 && i < cch - 1) {
        dst[i] = src[i];
        i++;
    }
    dst[i] = 0;
    return i < n && src[i] != 0 ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

static inline HRESULT StringCchCatW(WCHAR *dst, size_t cch, const WCHAR *src)
{
    size_t used = 0;
    while (used < cch && dst[used] != 0)
        used++;
    if (used == cch)
        return STRSAFE_E_INVALID_PARAMETER;
    return StringCchCopyNW(dst + used, cch - used, src, (size_t)STRSAFE_MAX_CCH);
}

// Only what the library formats wide: %ls, %d and %%.
static inline HRESULT StringCchPrintfW(WCHAR *dst, size_t cch, const WCHAR *format, ...)
{
    if (cch == 0 || cch > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    va_list args;
    va_start(args, format);
    size_t used = 0;
    bool cut = false;
    for (const WCHAR *f = format; *f != 0 && !cut; f++) {
        WCHAR piece[16] = {0};
        const WCHAR *text = piece;
        if (f[0] == L'%' && f[1] == L'l' && f[2] == L's') {
            text = va_arg(args, const WCHAR *);
            f += 2;
        } else if (f[0] == L'%' && f[1] == L'd') {
            char digits[16];
            snprintf(digits, sizeof(digits), "%d", va_arg(args, int));
            for (int i = 0; digits[i] != '\0'; i++)
                piece[i] = (WCHAR)digits[i];
            f += 1;
        } else {
            piece[0] = *f;
            if (f[0] == L'%' && f[1] == L'%')
                f += 1;
        }
        for (; *text != 0; text++) {
            if (used == cch - 1) {
                cut = true;
                break;
            }
            dst[used++] = *text;
        }
    }
    va_end(args);
    dst[used] = 0;
    return cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

#endif
