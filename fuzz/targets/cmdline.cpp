// The uninstall hook's text routines: the option search of
// GetUninstDirectory, SplitAtLastChar and EndsWithChar, each against a slow
// reference written from docs/uninstall.md. The first byte picks the routine,
// the next ones the buffer sizes and the separator.
#include "fuzz_common.h"

#include "uninstall/uninstall.h"

namespace {

bool IsBlank(const std::string &t, const std::vector<size_t> &s, size_t i)
{
    return CharIs(t, s, i, ' ') || CharIs(t, s, i, '\t');
}

// The hook directory as the documentation's rules 1 to 6 give it; *found
// tells whether the option was there.
std::string ReferenceDirectory(const std::string &line, size_t size, int *found)
{
    std::vector<size_t> s = CharStarts(line);
    size_t count = s.size() - 1, i = 0;
    *found = 0;
    // 1. The program name.
    if (count > 0 && CharIs(line, s, 0, '"')) {
        for (i = 1; i < count && !CharIs(line, s, i, '"'); i++) {
        }
        if (i < count)
            i++;
    } else {
        while (i < count && !IsBlank(line, s, i))
            i++;
    }
    // 2. The first "-c" at an argument start, or "-c" quoted whole.
    bool inQuotes = false, atStart = true, quoted = false;
    size_t path = std::string::npos;
    for (; i < count; i++) {
        if (!inQuotes && IsBlank(line, s, i)) {
            atStart = true;
            continue;
        }
        if (atStart && !inQuotes) {
            if (line.compare(s[i], 2, "-c") == 0) {
                path = s[i] + 2;
                break;
            }
            if (line.compare(s[i], 3, "\"-c") == 0) {
                path = s[i] + 3;
                quoted = true;
                break;
            }
        }
        atStart = false;
        if (CharIs(line, s, i, '"'))
            inQuotes = !inQuotes;
    }
    if (path == std::string::npos)
        return "";
    *found = 1;
    // 3. Blanks, then 4. the quoted or unquoted path.
    std::string rest = line.substr(path);
    size_t skip = rest.find_first_not_of(" \t");
    rest = skip == std::string::npos ? "" : rest.substr(skip);
    if (!quoted && !rest.empty() && rest[0] == '"') {
        rest = rest.substr(1);
        quoted = true;
    }
    std::vector<size_t> r = CharStarts(rest);
    size_t n = r.size() - 1;
    if (quoted) {
        for (size_t k = 0; k < n; k++)
            if (CharIs(rest, r, k, '"')) {
                rest = rest.substr(0, r[k]);
                break;
            }
    } else if (n > 0 && CharIs(rest, r, n - 1, '"')) {
        rest = rest.substr(0, r[n - 1]);
    }
    // 5. Up to the last backslash that is a character of its own; 6. none
    // when it does not fit.
    r = CharStarts(rest);
    std::string directory;
    for (size_t k = 0; k + 1 < r.size(); k++)
        if (CharIs(rest, r, k, '\\'))
            directory = rest.substr(0, r[k] + 1);
    return directory.size() < size ? directory : "";
}

size_t SizeFrom(uint8_t b)
{
    return (b & 1) ? 512 : (size_t)(b >> 1) * 5;
}

void CheckDirectory(const std::string &line, size_t size)
{
    char *input = ExactCopy(line);
    char *directory = (char *)malloc(size);
    int found = GetUninstDirectory(input, directory, size);
    int expectedFound;
    std::string expected = ReferenceDirectory(line, size, &expectedFound);
    if (size == 0) {
        FUZZ_CHECK(found == 0, "GetUninstDirectory: 1 for a buffer of size 0");
    } else {
        FUZZ_CHECK(memchr(directory, 0, size) != NULL, "GetUninstDirectory: directory not terminated");
        FUZZ_CHECK(found == expectedFound, "GetUninstDirectory: option found or not, unlike the reference");
        FUZZ_CHECK(expected == directory, "GetUninstDirectory: directory unlike the reference");
    }
    free(directory);
    free(input);
}

void CheckSplit(const std::string &path, size_t directorySize, size_t restSize, char separator, bool withRest)
{
    char *input = ExactCopy(path);
    char *directory = (char *)malloc(directorySize);
    char *rest = withRest ? (char *)malloc(restSize) : NULL;
    SplitAtLastChar(input, directory, directorySize, rest, restSize, separator);

    std::vector<size_t> s = CharStarts(path);
    size_t split = std::string::npos;
    for (size_t k = 0; k + 1 < s.size(); k++)
        if (CharIs(path, s, k, separator))
            split = s[k];
    std::string dir = split == std::string::npos ? "" : path.substr(0, split + 1);
    std::string tail = split == std::string::npos ? path : path.substr(split + 1);
    if (directorySize > 0) {
        FUZZ_CHECK(memchr(directory, 0, directorySize) != NULL, "SplitAtLastChar: directory not terminated");
        // The directory is a prefix ending at the last separator, or empty.
        FUZZ_CHECK((dir.size() < directorySize ? dir : std::string()) == directory,
                   "SplitAtLastChar: directory unlike the reference");
    }
    if (rest != NULL && restSize > 0) {
        FUZZ_CHECK(memchr(rest, 0, restSize) != NULL, "SplitAtLastChar: rest not terminated");
        FUZZ_CHECK(WholeCharPrefix(tail, restSize - 1) == rest,
                   "SplitAtLastChar: rest is not the whole characters behind the separator that fit");
    }
    free(rest);
    free(directory);
    free(input);
}

void CheckEndsWith(const std::string &text, char ch)
{
    char *input = ExactCopy(text);
    std::vector<size_t> s = CharStarts(text);
    size_t count = s.size() - 1;
    int expected = count > 0 && CharIs(text, s, count - 1, ch) ? 1 : 0;
    FUZZ_CHECK(EndsWithChar(input, ch) == expected, "EndsWithChar unlike the reference");
    free(input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SelectCodePageFromEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    std::string text = TextOf(data + 4, size - 4);
    switch (data[0] % 3) {
    case 0:
        CheckDirectory(text, SizeFrom(data[1]));
        break;
    case 1:
        CheckSplit(text, SizeFrom(data[1]), SizeFrom(data[2]), data[3] & 1 ? '\\' : (char)data[3], data[0] & 8);
        break;
    default:
        CheckEndsWith(text, data[3] & 1 ? '"' : (char)data[3]);
        break;
    }
    return 0;
}
