// Reads a dialog template (the classic DLGTEMPLATE form) and string table
// entries out of a module's resources, so a test can compare them field by
// field. Texts come out as UTF-8.
#ifndef KIV_TEST_DIALOG_RESOURCE_H
#define KIV_TEST_DIALOG_RESOURCE_H

#include <windows.h>

#include <string>
#include <vector>

// A name-or-ordinal field: an ordinal when isOrdinal, else the text.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::string text;
};

struct DialogItem {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    WORD extraBytes = 0;
};

struct DialogResource {
    bool found = false;
    bool extended = false; // DLGTEMPLATEEX, which this reader does not parse
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu, windowClass;
    std::string caption;
    WORD pointSize = 0;
    std::string typeface;
    std::vector<DialogItem> items;
};

// The template `id` in language `language` of the module, loaded as data.
DialogResource ReadDialogResource(const std::string &modulePath, WORD id, WORD language);

// String `id` in language `language` exactly (no fallback to another
// language); false when the module has no such non-empty string.
bool ReadStringResource(const std::string &modulePath, WORD id, WORD language, std::string *text);

#endif
