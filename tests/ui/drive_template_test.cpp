// Dialog template 112 as the module carries it: every field the drive
// chooser's users and its third-party host may rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "dialog_resource.h"
#include "process.h"
#include "resource.h"

namespace {

const WORD US_ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Predefined control classes, as the template stores them.
const WORD BUTTON = 0x0080, EDIT = 0x0081, STATIC = 0x0082, LISTBOX = 0x0083;

TEST(DriveTemplate, DialogHeader)
{
    DialogResource dialog = ReadDialogResource(BinPath("kiv_inst.dll"), 112, US_ENGLISH);
    ASSERT_TRUE(dialog.found) << "no template 112 in language 0x0409";
    ASSERT_FALSE(dialog.extended);
    EXPECT_EQ(0x80C000C0u, dialog.style) << "popup, caption, modal frame, font; no system menu";
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ("Choose Destination Location", dialog.caption);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ("MS Sans Serif", dialog.typeface);
    EXPECT_EQ(0, dialog.x);
    EXPECT_EQ(0, dialog.y);
    EXPECT_EQ(232, dialog.cx);
    EXPECT_EQ(175, dialog.cy);
    EXPECT_FALSE(dialog.menu.isOrdinal);
    EXPECT_EQ("", dialog.menu.text);
    EXPECT_FALSE(dialog.windowClass.isOrdinal);
    EXPECT_EQ("", dialog.windowClass.text);
}

TEST(DriveTemplate, TenControlsInTabOrder)
{
    struct Row {
        WORD id;
        WORD windowClass;
        const char *text;
        DWORD style;
        short x, y, cx, cy;
    } rows[] = {
        {1011, LISTBOX, "", 0x50A10103, 28, 81, 40, 49},
        {1017, BUTTON, "< &Back", 0x50010001, 7, 154, 50, 14},
        {3, BUTTON, "&Next >", 0x50010001, 71, 154, 50, 14},
        {1018, BUTTON, "&Cancel", 0x50010000, 175, 154, 50, 14},
        {1015, EDIT, "", 0x50000804, 17, 14, 198, 40},
        {1013, STATIC, "", 0x50020000, 157, 111, 49, 12},
        {1016, BUTTON, "Selection", 0x50000007, 18, 66, 196, 72},
        {1019, STATIC, "Free space:", 0x50020000, 88, 111, 49, 13},
        {1020, STATIC, "Minimum Required:", 0x50020000, 88, 87, 61, 11},
        {1014, STATIC, "", 0x50020000, 157, 87, 49, 12},
    };
    DialogResource dialog = ReadDialogResource(BinPath("kiv_inst.dll"), 112, US_ENGLISH);
    ASSERT_TRUE(dialog.found);
    ASSERT_EQ(sizeof(rows) / sizeof(rows[0]), dialog.items.size());
    for (size_t i = 0; i < dialog.items.size(); i++) {
        SCOPED_TRACE(i);
        const Row &row = rows[i];
        const DialogItem &item = dialog.items[i];
        EXPECT_EQ(row.id, item.id);
        EXPECT_TRUE(item.windowClass.isOrdinal) << item.windowClass.text;
        EXPECT_EQ(row.windowClass, item.windowClass.ordinal);
        EXPECT_FALSE(item.title.isOrdinal);
        EXPECT_EQ(row.text, item.title.text);
        EXPECT_EQ(row.style, item.style);
        EXPECT_EQ(0u, item.exStyle);
        EXPECT_EQ(row.x, item.x);
        EXPECT_EQ(row.y, item.y);
        EXPECT_EQ(row.cx, item.cx);
        EXPECT_EQ(row.cy, item.cy);
        EXPECT_EQ(0, item.extraBytes);
    }
}

// Every language the module carries besides English; Hebrew and Arabic read
// right to left.
const struct Language {
    WORD id;
    bool rtl;
} LANGUAGES[] = {
    {0x0401, true},  {0x0402, false}, {0x0403, false}, {0x0404, false}, {0x0405, false}, {0x0406, false},
    {0x0407, false}, {0x040A, false}, {0x040B, false}, {0x040C, false}, {0x040D, true},  {0x040E, false},
    {0x040F, false}, {0x0410, false}, {0x0411, false}, {0x0412, false}, {0x0413, false}, {0x0414, false},
    {0x0415, false}, {0x0416, false}, {0x0419, false}, {0x041B, false}, {0x041F, false}, {0x0422, false},
    {0x0424, false}, {0x042B, false}, {0x0483, false}, {0x0804, false}, {0x0816, false},
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found)
{
    ((std::set<WORD> *)found)->insert(language);
    return TRUE;
}

// The languages in which the module holds resource `name` of `type`.
std::set<WORD> LanguagesOf(LPCWSTR type, WORD name)
{
    std::set<WORD> found;
    HMODULE dll = LoadLibraryExA(BinPath("kiv_inst.dll").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (dll != NULL) {
        EnumResourceLanguagesW(dll, type, MAKEINTRESOURCEW(name), CollectLanguage, (LONG_PTR)&found);
        FreeLibrary(dll);
    }
    return found;
}

// The mnemonic characters of a control text, upper-cased; "&&" stands for a
// plain ampersand.
std::wstring Mnemonics(const std::string &text)
{
    wchar_t wide[256] = {0};
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 255);
    std::wstring found;
    for (const wchar_t *at = wide; *at != 0; at++) {
        if (*at != L'&' || *++at == 0)
            continue;
        if (*at != L'&')
            found += (wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)*at);
    }
    return found;
}

// The letters beyond ASCII that a language's own keyboard gives on a key of
// its own, without Shift or a dead key, in lower case. Latin-script languages
// keep their mnemonics to ASCII letters: each word has one.
const struct BaseLayout {
    WORD language;
    const wchar_t *letters;
} BASE_LAYOUTS[] = {
    {0x0401, L"ضصثقفغعهخحجدذشسيبلاتنمكطئءؤرىةوزظ"},
    {0x0402, L"абвгдежзийклмнопрстуфхцчшщъьюя"},
    {0x040D, L"אבגדהוזחטיכךלמםנןסעפףצץקרשת"},
    {0x0419, L"абвгдеёжзийклмнопрстуфхцчшщъыьэюя"},
    {0x0422, L"абвгдеєжзиіїйклмнопрстуфхцчшщьюя"},
    {0x042B, L"աբգդեզէըթժիլխծկհձղճմյնշոչպջռսվտրցւփքօֆ"},
};

// Whether a mnemonic can be typed as it is matched: the key gives the
// letter's lower case, which must upper-case back to the mnemonic (a Turkish
// dotted capital I does not: its key gives "i", which Windows upper-cases to
// "I"), and must be an ASCII letter or one of the language's own keys.
bool TypedWithoutShiftOrDeadKey(WORD language, wchar_t mnemonic)
{
    wchar_t lower = (wchar_t)(ULONG_PTR)CharLowerW((LPWSTR)(ULONG_PTR)mnemonic);
    if ((wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)lower) != mnemonic)
        return false;
    if (lower >= L'a' && lower <= L'z')
        return true;
    for (const BaseLayout &layout : BASE_LAYOUTS)
        if (layout.language == language)
            return wcschr(layout.letters, lower) != NULL;
    return false;
}

// A forgotten script, or one under the wrong LANGUAGE, shows here first.
TEST(DriveTemplate, ExactlyTheShippedLanguages)
{
    std::set<WORD> expected = {US_ENGLISH};
    for (const Language &language : LANGUAGES)
        expected.insert(language.id);
    EXPECT_EQ(expected, LanguagesOf((LPCWSTR)RT_DIALOG, 112));
    EXPECT_EQ(expected, LanguagesOf((LPCWSTR)RT_STRING, IDS_DRIVE_UNIT / 16 + 1));
}

// Each language is the English dialog with other words: same controls, ids,
// classes, styles and places; its own caption and labels; one mnemonic per
// button, none shared; mirrored exactly when it reads right to left; the
// unit string but not the English-only error string.
TEST(DriveTemplate, EveryLanguageIsTheEnglishLayout)
{
    const std::string dll = BinPath("kiv_inst.dll");
    DialogResource english = ReadDialogResource(dll, 112, US_ENGLISH);
    ASSERT_EQ(10u, english.items.size());
    for (const Language &language : LANGUAGES) {
        SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << language.id);
        DialogResource dialog = ReadDialogResource(dll, 112, language.id);
        ASSERT_TRUE(dialog.found);
        ASSERT_FALSE(dialog.extended);
        EXPECT_EQ(english.style, dialog.style);
        EXPECT_EQ(language.rtl ? (DWORD)WS_EX_LAYOUTRTL : 0u, dialog.exStyle);
        EXPECT_EQ(std::vector<short>({english.x, english.y, english.cx, english.cy}),
                  std::vector<short>({dialog.x, dialog.y, dialog.cx, dialog.cy}));
        EXPECT_EQ(8, dialog.pointSize);
        EXPECT_EQ("MS Shell Dlg", dialog.typeface);
        EXPECT_FALSE(dialog.caption.empty());
        EXPECT_NE(english.caption, dialog.caption);
        ASSERT_EQ(english.items.size(), dialog.items.size());
        std::wstring mnemonics;
        for (size_t i = 0; i < english.items.size(); i++) {
            SCOPED_TRACE(i);
            const DialogItem &want = english.items[i], &item = dialog.items[i];
            EXPECT_EQ(want.id, item.id);
            EXPECT_EQ(want.windowClass.ordinal, item.windowClass.ordinal);
            EXPECT_TRUE(item.windowClass.isOrdinal);
            EXPECT_EQ(want.style, item.style);
            EXPECT_EQ(want.exStyle, item.exStyle);
            EXPECT_EQ(std::vector<short>({want.x, want.y, want.cx, want.cy}),
                      std::vector<short>({item.x, item.y, item.cx, item.cy}));
            EXPECT_EQ(want.extraBytes, item.extraBytes);
            EXPECT_EQ(want.title.text.empty(), item.title.text.empty()) << item.title.text;
            if (!want.title.text.empty()) {
                EXPECT_NE(want.title.text, item.title.text);
            }
            std::wstring own = Mnemonics(item.title.text);
            bool button = item.id == 1017 || item.id == 3 || item.id == 1018;
            EXPECT_EQ(button ? 1u : 0u, own.size()) << item.title.text;
            if (button && own.size() == 1) {
                EXPECT_TRUE(IsCharAlphaW(own[0])) << item.title.text;
                EXPECT_TRUE(TypedWithoutShiftOrDeadKey(language.id, own[0]))
                    << item.title.text << ": the mnemonic needs Shift or a dead key";
            }
            mnemonics += own;
        }
        EXPECT_EQ(mnemonics.size(), std::set<wchar_t>(mnemonics.begin(), mnemonics.end()).size())
            << "a mnemonic is shared";
        std::string unit, error;
        EXPECT_TRUE(ReadStringResource(dll, IDS_DRIVE_UNIT, language.id, &unit));
        EXPECT_FALSE(ReadStringResource(dll, IDS_DLL_ERROR, language.id, &error)) << error;
    }
}

// A few languages word for word, in scripts the code page of the build
// machine could garble: caption, Back, Next, Cancel, group, the two labels,
// the unit.
TEST(DriveTemplate, TextsWordForWord)
{
    const struct Row {
        WORD language;
        const char *texts[8];
    } rows[] = {
        {US_ENGLISH,
         {"Choose Destination Location", "< &Back", "&Next >", "&Cancel", "Selection", "Free space:",
          "Minimum Required:", "MB"}},
        {0x0407, {u8"Zielpfad wählen", u8"< &Zurück", "&Weiter >", "&Abbrechen", "Auswahl", u8"Verfügbar:",
                  "Mindestbedarf:", "MB"}},
        {0x0415, {u8"Wybierz lokalizację docelową", "< &Wstecz", "&Dalej >", "&Anuluj", u8"Wybór",
                  "Wolne miejsce:", "Wymagane:", "MB"}},
        {0x0411, {u8"インストール先の選択", u8"< 戻る(&B)", u8"次へ(&N) >", u8"キャンセル(&C)", u8"選択",
                  u8"空き容量:", u8"必要な容量:", "MB"}},
        {0x040D, {u8"בחירת מיקום יעד", u8"< ה&קודם", u8"&הבא >", u8"&ביטול", u8"בחירה", u8"שטח פנוי:",
                  u8"מינימום נדרש:", "MB"}},
        {0x0401, {u8"اختيار موقع الوجهة", u8"< ال&سابق", u8"ال&تالي >", u8"إل&غاء", u8"التحديد",
                  u8"المساحة الحرة:", u8"الحد الأدنى المطلوب:", "MB"}},
        {0x042B, {u8"Ընտրեք տեղադրման վայրը", u8"< &Հետ", u8"Հ&աջորդը >", u8"&Չեղարկել", u8"Ընտրություն",
                  u8"Ազատ տեղ:", u8"Պահանջվում է:", u8"ՄԲ"}},
        {0x040F, {u8"Veldu uppsetningarstað", "< &Til baka", u8"Á&fram >", u8"&Hætta við", "Val", u8"Laust pláss:",
                  u8"Lágmarksþörf:", "MB"}},
        {0x041B, {u8"Vyberte cieľové umiestnenie", u8"< &Späť", u8"Ď&alej >", u8"&Zrušiť", u8"Výber",
                  u8"Voľné miesto:", u8"Potrebné miesto:", "MB"}},
        {0x041F, {u8"Hedef Konumu Seçin", "< &Geri", u8"İ&leri >", u8"İ&ptal", u8"Seçim", u8"Boş alan:",
                  "Gereken alan:", "MB"}},
        {0x0414, {u8"Velg målplassering", "< &Tilbake", "&Neste >", "&Avbryt", "Valg", "Ledig plass:",
                  "Plass som trengs:", "MB"}},
        {0x0406, {u8"Vælg destinationsplacering", "< &Tilbage", u8"&Næste >", "&Annuller", "Valg",
                  "Ledig plads:", u8"Nødvendig plads:", "MB"}},
        {0x0416, {"Escolher o local de destino", "< &Voltar", u8"&Avançar >", "&Cancelar", u8"Seleção",
                  u8"Espaço livre:", u8"Espaço necessário:", "MB"}},
        {0x0816, {u8"Escolher a localização de destino", "< &Anterior", "&Seguinte >", "&Cancelar", u8"Seleção",
                  u8"Espaço livre:", u8"Espaço necessário:", "MB"}},
    };
    const WORD ids[] = {1017, 3, 1018, 1016, 1019, 1020};
    const std::string dll = BinPath("kiv_inst.dll");
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << row.language);
        DialogResource dialog = ReadDialogResource(dll, 112, row.language);
        ASSERT_TRUE(dialog.found);
        EXPECT_EQ(row.texts[0], dialog.caption);
        for (size_t i = 0; i < sizeof(ids) / sizeof(ids[0]); i++) {
            SCOPED_TRACE(ids[i]);
            auto item = std::find_if(dialog.items.begin(), dialog.items.end(),
                                     [&](const DialogItem &d) { return d.id == ids[i]; });
            ASSERT_NE(dialog.items.end(), item);
            EXPECT_EQ(row.texts[1 + i], item->title.text);
        }
        std::string unit;
        EXPECT_TRUE(ReadStringResource(dll, IDS_DRIVE_UNIT, row.language, &unit));
        EXPECT_EQ(row.texts[7], unit);
    }
}

} // namespace
