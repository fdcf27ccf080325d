#include "name_fuzz.h"

#include <windows.h>

#include <cstring>

#include "guarded.h"
#include "import_hook.h"
#include "ntlib/kiv_nt.h"

namespace {

const size_t NAME_BYTES = 256;
const char UNTOUCHED = '\x5a';

const char *g_commandLine = nullptr;

LPSTR WINAPI GuardedCommandLine()
{
    return const_cast<LPSTR>(g_commandLine);
}

// A small generator of our own, so a seed gives the same inputs with every
// compiler and library.
uint32_t Next(uint32_t *state)
{
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

bool IsDelimiter(char c)
{
    return c == ' ' || c == '"';
}

} // namespace

std::string RandomCommandLine(uint32_t *state)
{
    static const char ALPHABET[] = {' ', ' ', '"', '"', '\\', '\\', 'k', 'i', 'v', '.', ':', '-', '\xe9', '\x82', '\xa0'};
    uint32_t kind = Next(state) % 8;
    size_t length = kind == 0 ? 256 + Next(state) % 300 : Next(state) % 40;
    std::string text;
    for (size_t i = 0; i < length; i++)
        text += ALPHABET[Next(state) % sizeof(ALPHABET)];
    return text;
}

std::string CheckProcessName(const std::string &commandLine)
{
    GuardedText line(commandLine);
    GuardedBuffer buffer(NAME_BYTES, UNTOUCHED);
    if (line.get() == nullptr || buffer.get() == nullptr)
        return "guarded memory not available";

    g_commandLine = line.get();
    BOOLEAN result;
    {
        ImportHook hook(GetModuleHandleA(NULL), NULL, "GetCommandLineA", (void *)GuardedCommandLine);
        if (!hook.installed())
            return "GetCommandLineA not intercepted";
        result = KIV_NT_GetProcessName(buffer.get());
    }

    if (!buffer.canariesIntact())
        return "wrote in front of the buffer";
    if (!ProcessHeapValid())
        return "process heap damaged";

    bool hasToken = commandLine.find_first_not_of(" \"") != std::string::npos;
    if (result != (hasToken ? 1 : 0))
        return hasToken ? "0 for a line with a token" : "1 for a line without a token";
    if (!result) {
        if (std::string(buffer.get(), NAME_BYTES) != std::string(NAME_BYTES, UNTOUCHED))
            return "buffer written although the result is 0";
        return "";
    }

    const char *name = buffer.get();
    size_t length = strnlen(name, NAME_BYTES);
    if (length == NAME_BYTES)
        return "name without terminator in 256 bytes";
    std::string text(name, length);
    if (text.find('\\') != std::string::npos || text.find('"') != std::string::npos)
        return "name holds a backslash or a quote";

    // The name is a piece of the line that starts after a delimiter or a
    // backslash (or at the line's start) and, unless cut to 255 characters,
    // ends at a delimiter or the line's end. A token that ends in a backslash
    // gives an empty name.
    for (size_t at = 0; at + length <= commandLine.size(); at++) {
        if (commandLine.compare(at, length, text) != 0)
            continue;
        bool startsWell = length == 0 ? at > 0 && commandLine[at - 1] == '\\'
                                      : at == 0 || IsDelimiter(commandLine[at - 1]) || commandLine[at - 1] == '\\';
        size_t after = at + length;
        bool endsWell = length == NAME_BYTES - 1 || after == commandLine.size() || IsDelimiter(commandLine[after]);
        if (startsWell && endsWell)
            return "";
    }
    return "name is no whole piece of the command line: " + text;
}
