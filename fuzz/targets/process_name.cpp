// The process-name token of the event records against a slow reference
// written from docs/reporting.md: the first token (a quoted one to its
// closing quote, else to the first blank or quote), the part after its last
// backslash, at most 255 bytes of whole characters.
#include "fuzz_common.h"

#include "ntlib/kiv_nt.h"

namespace {

const size_t NAME_BYTES = 256;
const char UNTOUCHED = 0x5a;

bool IsBlank(const std::string &t, const std::vector<size_t> &s, size_t i)
{
    return CharIs(t, s, i, ' ') || CharIs(t, s, i, '\t');
}

bool ReferenceName(const std::string &line, std::string *name)
{
    std::vector<size_t> s = CharStarts(line);
    size_t count = s.size() - 1, i = 0;
    bool quoted = false;
    while (i < count && (IsBlank(line, s, i) || CharIs(line, s, i, '"'))) {
        quoted = CharIs(line, s, i, '"');
        i++;
    }
    size_t first = i, nameStart = i;
    while (i < count && !CharIs(line, s, i, '"') && (quoted || !IsBlank(line, s, i))) {
        if (CharIs(line, s, i, '\\'))
            nameStart = i + 1;
        i++;
    }
    if (i == first)
        return false;
    *name = WholeCharPrefix(line.substr(s[nameStart], s[i] - s[nameStart]), NAME_BYTES - 1);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SelectCodePageFromEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string line = TextOf(data, size);
    char *input = ExactCopy(line);
    char *buffer = (char *)malloc(NAME_BYTES);
    memset(buffer, UNTOUCHED, NAME_BYTES);

    BOOLEAN result = KIV_NT_ProcessNameFromLine(input, buffer);
    std::string expected;
    bool expectedResult = ReferenceName(line, &expected);
    FUZZ_CHECK(result == (expectedResult ? 1 : 0), "result unlike the reference");
    if (result) {
        FUZZ_CHECK(memchr(buffer, 0, NAME_BYTES) != NULL, "name not terminated in 256 bytes");
        FUZZ_CHECK(expected == buffer, "name unlike the reference");
        FUZZ_CHECK(strstr(input, buffer) != NULL, "name is not a piece of the line");
    } else {
        FUZZ_CHECK(buffer[0] == UNTOUCHED, "buffer written although the result is 0");
    }
    free(buffer);
    free(input);
    return 0;
}
