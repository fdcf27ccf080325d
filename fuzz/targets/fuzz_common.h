// What the fuzz targets share: the code page from KIV_FUZZ_CP, a check that
// stops the run with the broken property, and the characters of a narrow
// text as the documentation counts them.
#ifndef KIV_FUZZ_COMMON_H
#define KIV_FUZZ_COMMON_H

// The C++ library first: the shim renames the C library's wide functions.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "shim_control.h"

#define FUZZ_CHECK(condition, what)                                                                        \
    do {                                                                                                   \
        if (!(condition)) {                                                                                \
            fprintf(stderr, "property broken (code page %u): %s\n", GetACP(), what);                      \
            abort();                                                                                       \
        }                                                                                                  \
    } while (0)

// The code page of the run: 932 when KIV_FUZZ_CP says so, else 1252.
inline void SelectCodePageFromEnvironment()
{
    const char *cp = getenv("KIV_FUZZ_CP");
    ShimSetCodePage(cp != NULL && atoi(cp) == 932 ? 932 : 1252);
}

// Start offsets of the characters of text, and its length as the last
// entry: a lead byte with a byte behind it is one character of two bytes.
inline std::vector<size_t> CharStarts(const std::string &text)
{
    std::vector<size_t> starts;
    size_t at = 0;
    while (at < text.size()) {
        starts.push_back(at);
        at += ShimIsLead((BYTE)text[at]) && at + 1 < text.size() ? 2 : 1;
    }
    starts.push_back(text.size());
    return starts;
}

// Whether character i of text is the single byte c. A lead byte is never a
// character of its own, not even alone at the end.
inline bool CharIs(const std::string &text, const std::vector<size_t> &starts, size_t i, char c)
{
    return starts[i + 1] - starts[i] == 1 && text[starts[i]] == c && !ShimIsLead((BYTE)c);
}

// The longest prefix of whole characters of text with at most max bytes.
inline std::string WholeCharPrefix(const std::string &text, size_t max)
{
    std::vector<size_t> starts = CharStarts(text);
    size_t kept = 0;
    for (size_t i = 1; i < starts.size() && starts[i] <= max; i++)
        kept = starts[i];
    return text.substr(0, kept);
}

// A NUL-terminated copy of the bytes in a block of exactly that size, so
// that a read past the terminator is caught.
inline char *ExactCopy(const std::string &text)
{
    char *copy = (char *)malloc(text.size() + 1);
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// The fuzzer's bytes up to the first NUL.
inline std::string TextOf(const uint8_t *data, size_t size)
{
    size_t n = 0;
    while (n < size && data[n] != 0)
        n++;
    return std::string((const char *)data, n);
}

#endif
