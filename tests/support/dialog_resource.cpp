#include "dialog_resource.h"

namespace {

std::string Utf8(const wchar_t *text, int length)
{
    std::string s(length * 3, '\0');
    s.resize(WideCharToMultiByte(CP_UTF8, 0, text, length, &s[0], (int)s.size(), NULL, NULL));
    return s;
}

struct Reader {
    const BYTE *at;
    const BYTE *end;
    bool ok = true;

    WORD Word()
    {
        if (at + 2 > end) {
            ok = false;
            return 0;
        }
        WORD w = (WORD)(at[0] | (at[1] << 8));
        at += 2;
        return w;
    }
    DWORD Dword()
    {
        WORD low = Word();
        return low | ((DWORD)Word() << 16);
    }
    // A zero-terminated UTF-16 text whose first unit is `first`, as UTF-8.
    std::string WideText(WORD first)
    {
        std::wstring w;
        for (WORD c = first; ok && c != 0; c = Word())
            w += (wchar_t)c;
        return Utf8(w.c_str(), (int)w.size());
    }
    std::string WideText() { return WideText(Word()); }
    NameOrOrdinal Field()
    {
        NameOrOrdinal f;
        WORD first = Word();
        if (first == 0xFFFF) {
            f.isOrdinal = true;
            f.ordinal = Word();
        } else {
            f.text = WideText(first);
        }
        return f;
    }
    void AlignDword(const BYTE *base)
    {
        while ((at - base) % 4 != 0)
            at++;
    }
};

} // namespace

DialogResource ReadDialogResource(const std::string &modulePath, WORD id, WORD language)
{
    DialogResource dialog;
    HMODULE module = LoadLibraryExA(modulePath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL)
        return dialog;
    HRSRC resource = FindResourceExA(module, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(id), language);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : NULL;
    const BYTE *base = loaded ? (const BYTE *)LockResource(loaded) : NULL;
    if (base != NULL) {
        Reader r{base, base + SizeofResource(module, resource)};
        dialog.found = true;
        if (r.Word() == 1 && r.Word() == 0xFFFF) {
            dialog.extended = true;
        } else {
            r.at = base;
            dialog.style = r.Dword();
            dialog.exStyle = r.Dword();
            WORD count = r.Word();
            dialog.x = (short)r.Word();
            dialog.y = (short)r.Word();
            dialog.cx = (short)r.Word();
            dialog.cy = (short)r.Word();
            dialog.menu = r.Field();
            dialog.windowClass = r.Field();
            dialog.caption = r.WideText();
            if (dialog.style & DS_SETFONT) {
                dialog.pointSize = r.Word();
                dialog.typeface = r.WideText();
            }
            for (WORD i = 0; i < count && r.ok; i++) {
                r.AlignDword(base);
                DialogItem item;
                item.style = r.Dword();
                item.exStyle = r.Dword();
                item.x = (short)r.Word();
                item.y = (short)r.Word();
                item.cx = (short)r.Word();
                item.cy = (short)r.Word();
                item.id = r.Word();
                item.windowClass = r.Field();
                item.title = r.Field();
                item.extraBytes = r.Word();
                r.at += item.extraBytes;
                dialog.items.push_back(item);
            }
        }
    }
    FreeLibrary(module);
    return dialog;
}

bool ReadStringResource(const std::string &modulePath, WORD id, WORD language, std::string *text)
{
    bool found = false;
    HMODULE module = LoadLibraryExA(modulePath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL)
        return false;
    // Strings are stored sixteen to a block, block n + 1 holding ids 16n to
    // 16n + 15, each as a length and that many UTF-16 units.
    HRSRC resource = FindResourceExW(module, (LPCWSTR)RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : NULL;
    const WCHAR *at = loaded ? (const WCHAR *)LockResource(loaded) : NULL;
    if (at != NULL) {
        const WCHAR *end = at + SizeofResource(module, resource) / sizeof(WCHAR);
        for (WORD i = 0; i < id % 16 && at < end; i++)
            at += 1 + *at;
        if (at < end && at + 1 + *at <= end && *at != 0) {
            *text = Utf8(at + 1, *at);
            found = true;
        }
    }
    FreeLibrary(module);
    return found;
}
