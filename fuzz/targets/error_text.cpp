// The error text's conversions and cuts: KIV_NT_ErrorToText (the whole
// system text in the code page, or nothing when it does not fit) and the
// diagnostic log's entries of KIV_NT_LogText and KIV_NT_LogError (narrow text
// cut at its limit; " error! " and the first line of the system text, cut at
// 511 characters, or "(null)" when there is none; the entry cut at 1,024
// characters still ending its line), each against a reference written from
// docs/reporting.md. Byte 0 picks the call, bytes 1 and 2 a size or limit;
// then the narrow text up to a NUL and the system text as UTF-16.
#include "fuzz_common.h"

#include "ntlib/kiv_nt.h"

namespace {

// char16_t, not WCHAR: the C++ library's wide-character traits call the C
// library's 32-bit functions.
typedef std::u16string Wide;

const size_t ERROR_TEXT_CHARS = 1024;
const size_t SYSTEM_LINE_CHARS = 511;
const size_t ENTRY_CHARS = 1024;
const char UNTOUCHED = 0x5a;

Wide ToWide(const std::string &narrow)
{
    int n = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, NULL, 0);
    Wide wide((size_t)n, 0);
    MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, (WCHAR *)&wide[0], n);
    wide.resize((size_t)n - 1);
    return wide;
}

std::string ToNarrow(const Wide &wide)
{
    const WCHAR *text = (const WCHAR *)wide.c_str();
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    std::string narrow((size_t)n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], n, NULL, NULL);
    narrow.resize((size_t)n - 1);
    return narrow;
}

// Cut to at most max characters, never keeping the first half of a pair.
Wide Cut(const Wide &text, size_t max)
{
    if (text.size() <= max)
        return text;
    Wide cut = text.substr(0, max);
    if (!cut.empty() && IS_HIGH_SURROGATE(cut.back()))
        cut.pop_back();
    return cut;
}

Wide FromLiteral(const char *text)
{
    return Wide(text, text + strlen(text));
}

std::string ReferenceEntry(const std::string *text, int limit, const Wide *system)
{
    Wide entry = text != NULL ? Cut(ToWide(*text), (size_t)limit) : FromLiteral("(null)");
    entry += FromLiteral(" error! ");
    if (system == NULL || system->empty()) {
        entry += FromLiteral("(null)");
    } else {
        size_t first = system->find_first_not_of(FromLiteral("\r\n"));
        Wide line = first == Wide::npos ? Wide() : system->substr(first);
        line = line.substr(0, line.find_first_of(FromLiteral("\r\n")));
        entry += Cut(line, SYSTEM_LINE_CHARS);
    }
    entry += FromLiteral("\n");
    if (entry.size() > ENTRY_CHARS)
        entry = Cut(entry, ENTRY_CHARS - 1) + FromLiteral("\n");
    return ToNarrow(entry);
}

std::string Logged()
{
    size_t length = 0;
    const char *bytes = ShimLogBytes(&length);
    return std::string(bytes, length);
}

void CheckErrorToText(DWORD code, size_t size, const Wide *system)
{
    char *buffer = (char *)malloc(size ? size : 1);
    memset(buffer, UNTOUCHED, size ? size : 1);
    BOOLEAN result = KIV_NT_ErrorToText(code, size ? buffer : NULL, (DWORD)size);
    bool fits = code != 0 && size <= ERROR_TEXT_CHARS && system != NULL && !system->empty() &&
                system->size() < ERROR_TEXT_CHARS;
    std::string narrow = fits ? ToNarrow(*system) : std::string();
    fits = fits && narrow.size() < size;
    FUZZ_CHECK(result == (fits ? 1 : 0), "ErrorToText: result unlike the reference");
    if (size > 0) {
        FUZZ_CHECK(memchr(buffer, 0, size) != NULL || (!result && buffer[0] == UNTOUCHED),
                   "ErrorToText: text not terminated in its buffer");
        if (result)
            FUZZ_CHECK(narrow == buffer, "ErrorToText: text unlike the whole system text");
        else
            FUZZ_CHECK(buffer[0] == '\0' || buffer[0] == UNTOUCHED, "ErrorToText: text written with result 0");
    }
    free(buffer);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SelectCodePageFromEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    std::string text = TextOf(data + 3, size - 3);
    size_t after = 3 + text.size() + 1;
    Wide system;
    for (size_t at = after; at + 1 < size; at += 2)
        system += (char16_t)(data[at] | (data[at + 1] << 8));
    // A NUL in the system text ends it, as it would end the system's.
    system = system.substr(0, system.find(u'\0'));
    // Long texts are rare from the fuzzer's small inputs: bit 4 repeats it.
    if ((data[0] & 0x10) && !system.empty())
        while (system.size() < 600)
            system += system;
    bool hasSystem = (data[0] & 0x20) == 0;
    ShimSetSystemText(hasSystem ? (const WCHAR *)system.c_str() : NULL);
    size_t number = (size_t)data[1] | ((size_t)(data[2] & 7) << 8);

    switch (data[0] % 3) {
    case 0:
        CheckErrorToText(data[0] & 0x40 ? 0 : 5, number, hasSystem ? &system : NULL);
        break;
    case 1: {
        ShimClearLog();
        int limit = data[0] & 0x40 ? 1024 : (int)number;
        bool withText = (data[0] & 0x80) == 0;
        KIV_NT_LogError(withText ? text.c_str() : NULL, 5, limit);
        std::string logged = Logged();
        FUZZ_CHECK(logged == ReferenceEntry(withText ? &text : NULL, limit, hasSystem ? &system : NULL),
                   "LogError: entry unlike the reference");
        break;
    }
    default: {
        ShimClearLog();
        KIV_NT_LogText(text.c_str(), (int)number);
        std::string logged = Logged();
        FUZZ_CHECK(logged == ToNarrow(Cut(ToWide(text), number)), "LogText: entry unlike the reference");
        break;
    }
    }
    ShimSetSystemText(NULL);
    return 0;
}
