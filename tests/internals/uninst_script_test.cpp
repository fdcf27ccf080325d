// How the hook reads a command as written, whether a folder's security
// leaves it to trusted accounts, and the ANSI form of a name that its buffer
// must hold terminated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sddl.h>

#include "guarded.h"
#include "uninstall/uninstall.h"

namespace {

// "key=value" lines as the section reader hands them over.
std::wstring Section(const std::vector<std::wstring> &lines)
{
    std::wstring text;
    for (const std::wstring &line : lines)
        text += line + L'\0';
    return text + L'\0';
}

TEST(UninstScript, ValueAsWrittenKeepsItsQuotes)
{
    const std::wstring section = Section({
        L"; Command0=\"C:\\commented.exe\"",
        L"  command0 =  \"C:\\dir x\\prog.exe\"\t",
        L"Command0=second",
        L"Command1=\"C:\\a.exe\" \"arg\"",
        L"Command2=",
        L"no equals sign",
        L"Command10=\"ten\"",
    });
    const struct {
        const wchar_t *key;
        const wchar_t *value; // NULL: no such key
    } rows[] = {
        // Comment lines are skipped, the key matches in any case, blanks
        // around it and around the value go, the first match counts.
        {L"Command0", L"\"C:\\dir x\\prog.exe\""},
        {L"Command1", L"\"C:\\a.exe\" \"arg\""},
        {L"Command2", L""},
        {L"Command1 ", NULL},
        {L"Command3", NULL},
        {L"Command10", L"\"ten\""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "key " << testing::PrintToString(std::wstring(row.key)));
        size_t length = 99;
        const WCHAR *value = FindSectionValue(section.c_str(), row.key, &length);
        if (row.value == NULL) {
            EXPECT_EQ(NULL, value);
            continue;
        }
        ASSERT_NE((const WCHAR *)NULL, value);
        EXPECT_EQ(std::wstring(row.value), std::wstring(value, length));
    }
}

// SIDs by their string form, freed at the end of the test.
class Sids {
public:
    ~Sids()
    {
        for (PSID sid : sids_)
            LocalFree(sid);
    }
    PSID operator()(const char *text)
    {
        PSID sid = NULL;
        EXPECT_TRUE(ConvertStringSidToSidA(text, &sid)) << text;
        sids_.push_back(sid);
        return sid;
    }
private:
    std::vector<PSID> sids_;
};

const char USER[] = "S-1-5-21-1-2-3-1001";
const char OTHER_USER[] = "S-1-5-21-1-2-3-1002";
const char USERS[] = "S-1-5-32-545";
const char EVERYONE[] = "S-1-1-0";
const char ADMINISTRATORS[] = "S-1-5-32-544";
const char SYSTEM[] = "S-1-5-18";
const char TRUSTED_INSTALLER[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct Ace {
    const char *sid;
    ACCESS_MASK mask;
    BYTE flags;
    bool deny;
};

TEST(UninstScript, OnlyTrustedAccountsMayWrite)
{
    const ACCESS_MASK READ_RUN = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    const struct Row {
        const char *what;
        const char *owner;
        bool nullDacl;
        std::vector<Ace> aces;
        HookTrust trust;
    } rows[] = {
        {"as made in Program Files", ADMINISTRATORS, false,
         {{TRUSTED_INSTALLER, FILE_ALL_ACCESS, 0, false}, {SYSTEM, FILE_ALL_ACCESS, 0, false},
          {ADMINISTRATORS, FILE_ALL_ACCESS, 0, false}, {USERS, READ_RUN, 0, false},
          {"S-1-3-0", GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, false}},
         TRUST_KEPT},
        {"made by the running account", USER, false, {{USER, FILE_ALL_ACCESS, 0, false}}, TRUST_KEPT},
        {"no entries", SYSTEM, false, {}, TRUST_KEPT},
        {"users may write", USER, false, {{USERS, FILE_WRITE_DATA, 0, false}}, TRUST_OTHERS_WRITE},
        {"users may add files", USER, false, {{USERS, READ_RUN | FILE_ADD_FILE, 0, false}}, TRUST_OTHERS_WRITE},
        {"users may append", USER, false, {{USERS, FILE_APPEND_DATA, 0, false}}, TRUST_OTHERS_WRITE},
        {"users may delete", USER, false, {{USERS, DELETE, 0, false}}, TRUST_OTHERS_WRITE},
        {"users may change rights", USER, false, {{USERS, WRITE_DAC, 0, false}}, TRUST_OTHERS_WRITE},
        {"users may take it", USER, false, {{USERS, WRITE_OWNER, 0, false}}, TRUST_OTHERS_WRITE},
        {"everyone generic write", USER, false, {{EVERYONE, GENERIC_WRITE, 0, false}}, TRUST_OTHERS_WRITE},
        {"everyone generic all", USER, false, {{EVERYONE, GENERIC_ALL, 0, false}}, TRUST_OTHERS_WRITE},
        {"another account", USER, false, {{OTHER_USER, FILE_ALL_ACCESS, 0, false}}, TRUST_OTHERS_WRITE},
        // An inherited entry applies; one only for what is made inside does not.
        {"inherited write", USER, false, {{USERS, FILE_ADD_SUBDIRECTORY, INHERITED_ACE, false}}, TRUST_OTHERS_WRITE},
        {"inherit-only write", USER, false,
         {{USERS, FILE_ALL_ACCESS, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, false}}, TRUST_KEPT},
        {"users read and run", USER, false, {{USERS, READ_RUN | SYNCHRONIZE, 0, false}}, TRUST_KEPT},
        // A deny entry only takes rights away.
        {"users denied", USER, false, {{USERS, FILE_ALL_ACCESS, 0, true}}, TRUST_KEPT},
        {"null DACL", USER, true, {}, TRUST_OTHERS_WRITE},
        {"owned by users", USERS, false, {{SYSTEM, FILE_ALL_ACCESS, 0, false}}, TRUST_OTHER_OWNER},
        {"owned by another account", OTHER_USER, false, {}, TRUST_OTHER_OWNER},
        {"no owner", NULL, false, {}, TRUST_OTHER_OWNER},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Sids sids;
        std::vector<BYTE> buffer(4096);
        PACL dacl = (PACL)buffer.data();
        ASSERT_TRUE(InitializeAcl(dacl, (DWORD)buffer.size(), ACL_REVISION));
        for (const Ace &ace : row.aces) {
            BOOL added = ace.deny ? AddAccessDeniedAceEx(dacl, ACL_REVISION, ace.flags, ace.mask, sids(ace.sid))
                                  : AddAccessAllowedAceEx(dacl, ACL_REVISION, ace.flags, ace.mask, sids(ace.sid));
            ASSERT_TRUE(added);
        }
        PSID owner = row.owner != NULL ? sids(row.owner) : NULL;
        EXPECT_EQ(row.trust, JudgeSecurity(owner, row.nullDacl ? NULL : dacl, sids(USER)));
    }
}

// The ANSI form of a long name in a double-byte code page is longer than
// the name: it is cut after a whole character and terminated inside the
// buffer, whose next byte is a guard page.
TEST(DoubleByteChild, NarrowNameIsCutWholeAndTerminated)
{
    if (GetEnvironmentVariableA("KIV_DBCS_CHILD", NULL, 0) == 0)
        GTEST_SKIP() << "runs in its own test entry, in code page 932";
    ASSERT_EQ(932u, GetACP());
    std::string east;
    for (int k = 0; k < 255; k++)
        east += "\x93\x8c";
    const struct {
        std::wstring name;
        std::string narrow;
    } rows[] = {
        // 300 characters of two bytes each: 255 of them fill 510 bytes.
        {std::wstring(300, L'\x6771'), east},
        // 255 double-byte and one single-byte character fit 511 bytes whole.
        {std::wstring(255, L'\x6771') + L"a", east + "a"},
        {std::wstring(255, L'\x6771') + L"ab", east + "a"},
        {L"C:\\\x6771\x4eac\\kivuninslog.txt", "C:\\\x93\x8c\x8b\x9e\\kivuninslog.txt"},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        SCOPED_TRACE(i);
        GuardedBuffer buffer(UNINST_TEXT_SIZE);
        ToNarrowName(rows[i].name.c_str(), buffer.get(), UNINST_TEXT_SIZE);
        EXPECT_EQ(rows[i].narrow, std::string(buffer.get()));
        EXPECT_TRUE(buffer.canariesIntact());
    }
}

} // namespace
