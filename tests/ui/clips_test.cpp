// The status window's resources as the built DLL carries them: the three
// clips (form, timing, palette, index, pictures) and dialog template 101.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "avi_parse.h"
#include "process.h"

namespace {

const WORD US_ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct ClipRow {
    int id;
    uint32_t width, height, frames, usPerFrame, colours;
};

const ClipRow CLIPS[] = {
    {107, 235, 92, 30, 200000, 256},
    {102, 260, 40, 17, 100000, 16},
    {109, 80, 48, 29, 166666, 17},
};

// The DLL mapped as data, so its entry point does not run again.
class DllResources {
public:
    DllResources() : dll_(LoadLibraryExA(BinPath("kiv_inst.dll").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DllResources()
    {
        if (dll_)
            FreeLibrary(dll_);
    }
    // The resource's bytes, empty when it is missing in US English.
    std::string Get(const char *type, int id) const
    {
        HRSRC found = FindResourceExA(dll_, type, MAKEINTRESOURCEA(id), US_ENGLISH);
        HGLOBAL loaded = found ? LoadResource(dll_, found) : NULL;
        const char *data = loaded ? (const char *)LockResource(loaded) : nullptr;
        return data ? std::string(data, SizeofResource(dll_, found)) : std::string();
    }

private:
    HMODULE dll_;
};

std::string Clip(const DllResources &res, int id)
{
    return res.Get("AVI", id);
}

const unsigned char *Bytes(const std::string &s)
{
    return (const unsigned char *)s.data();
}

int CountDifferences(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        n += a[i] != b[i];
    return n;
}

TEST(StatusClips, HeadersAndIndexMatchTheClipTable)
{
    DllResources res;
    for (const ClipRow &row : CLIPS) {
        SCOPED_TRACE(row.id);
        std::string clip = Clip(res, row.id);
        ASSERT_FALSE(clip.empty()) << "no AVI resource in language 0x0409";
        AviClipInfo info;
        ASSERT_TRUE(AviParse(Bytes(clip), clip.size(), &info));
        EXPECT_EQ(1u, info.streams);
        EXPECT_STREQ("vids", info.fccType);
        EXPECT_STREQ("RLE ", info.fccHandler);
        EXPECT_FALSE(info.hasAudio);
        EXPECT_EQ(8u, info.bitCount);
        EXPECT_EQ((uint32_t)BI_RLE8, info.compression);
        EXPECT_EQ(row.colours, info.clrUsed);
        EXPECT_EQ(row.width, info.width);
        EXPECT_EQ(row.height, info.height);
        EXPECT_EQ(row.frames, info.totalFrames);
        EXPECT_EQ(row.frames, info.length);
        EXPECT_EQ(row.usPerFrame, info.usPerFrame);
        // The stream's own rate says the same: rate / scale frames a second.
        ASSERT_NE(0u, info.rate);
        EXPECT_NEAR(1e6 / row.usPerFrame, (double)info.rate / info.scale, 1e-6);
        // The control plays a clip only when movi holds exactly the header's
        // frame count.
        EXPECT_EQ(row.frames, info.moviFrames);
        EXPECT_EQ(row.frames, info.idxEntries);
        EXPECT_TRUE(info.idxOffsetsValid);
    }
}

TEST(StatusClips, EveryFrameDecodesMovesAndLoopsWithoutAJump)
{
    DllResources res;
    for (const ClipRow &row : CLIPS) {
        SCOPED_TRACE(row.id);
        std::string clip = Clip(res, row.id);
        ASSERT_FALSE(clip.empty());
        std::vector<std::vector<uint8_t>> frames(row.frames);
        for (uint32_t f = 0; f < row.frames; f++) {
            ASSERT_TRUE(AviDecodeRle8Frame(Bytes(clip), clip.size(), f, &frames[f])) << "frame " << f;
            ASSERT_EQ((size_t)row.width * row.height, frames[f].size());
            for (uint8_t index : frames[f])
                ASSERT_LT(index, row.colours) << "frame " << f << " uses a colour outside the palette";
        }
        int largestStep = 0;
        for (uint32_t f = 0; f + 1 < row.frames; f++) {
            int step = CountDifferences(frames[f], frames[f + 1]);
            EXPECT_GT(step, 0) << "frames " << f << " and " << f + 1 << " are the same picture";
            largestStep = std::max(largestStep, step);
        }
        // The seam from the last frame back to the first is no bigger a
        // change than the clip's own steps.
        int seam = CountDifferences(frames[row.frames - 1], frames[0]);
        EXPECT_GT(seam, 0);
        EXPECT_LE(seam, largestStep);
    }
}

TEST(StatusClips, GeneratorMakesTheEmbeddedBytesAgain)
{
    TempDir dir;
    ChildRun run = RunProcess("\"" + BinPath("clipgen.exe") + "\" \"" + dir.path().substr(0, dir.path().size() - 1) + "\"",
                              120000);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(0u, run.exitCode) << run.output;
    DllResources res;
    for (const ClipRow &row : CLIPS) {
        SCOPED_TRACE(row.id);
        std::string made;
        ASSERT_TRUE(ReadFileBytes(dir.file(("clip" + std::to_string(row.id) + ".avi").c_str()), &made));
        EXPECT_TRUE(made == Clip(res, row.id)) << "a second run of the generator differs from the embedded clip";
    }
}

// ---- dialog template 101 ----------------------------------------------

struct TemplateItem {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::wstring className; // or "#atom"
    std::wstring text;
};

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, className, caption, font;
    WORD pointSize = 0;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const std::string &data) : data_(data) {}
    bool ok() const { return ok_; }
    WORD Word()
    {
        if (at_ + 2 > data_.size()) {
            ok_ = false;
            return 0;
        }
        WORD w = (WORD)((unsigned char)data_[at_] | ((unsigned char)data_[at_ + 1] << 8));
        at_ += 2;
        return w;
    }
    DWORD Dword()
    {
        DWORD lo = Word();
        return lo | ((DWORD)Word() << 16);
    }
    std::wstring String()
    {
        std::wstring s;
        for (WORD c = Word(); ok_ && c != 0; c = Word())
            s += (wchar_t)c;
        return s;
    }
    // A name or an ordinal (0xFFFF then the number, shown as "#n").
    std::wstring NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        if (first == 0)
            return L"";
        std::wstring s(1, (wchar_t)first);
        return s + String();
    }
    void AlignDword() { at_ = (at_ + 3) & ~(size_t)3; }

private:
    const std::string &data_;
    size_t at_ = 0;
    bool ok_ = true;
};

bool ReadTemplate(const std::string &data, DialogTemplate *t)
{
    TemplateReader r(data);
    t->style = r.Dword();
    if (t->style == 0xFFFF0001)
        return false; // the extended form is not what the resource file declares
    t->exStyle = r.Dword();
    WORD count = r.Word();
    t->x = (short)r.Word();
    t->y = (short)r.Word();
    t->cx = (short)r.Word();
    t->cy = (short)r.Word();
    t->menu = r.NameOrOrdinal();
    t->className = r.NameOrOrdinal();
    t->caption = r.String();
    if (t->style & DS_SETFONT) {
        t->pointSize = r.Word();
        t->font = r.String();
    }
    for (WORD i = 0; i < count && r.ok(); i++) {
        r.AlignDword();
        TemplateItem item;
        item.style = r.Dword();
        item.exStyle = r.Dword();
        item.x = (short)r.Word();
        item.y = (short)r.Word();
        item.cx = (short)r.Word();
        item.cy = (short)r.Word();
        item.id = r.Word();
        item.className = r.NameOrOrdinal();
        item.text = r.NameOrOrdinal();
        WORD extra = r.Word();
        for (WORD b = 0; b < (extra + 1) / 2; b++)
            r.Word();
        t->items.push_back(item);
    }
    return r.ok();
}

TEST(StatusDialogTemplate, HiddenCaptionlessWindowWithTextAndAnimation)
{
    DllResources res;
    std::string data = res.Get((const char *)RT_DIALOG, 101);
    ASSERT_FALSE(data.empty()) << "no dialog 101 in language 0x0409";
    DialogTemplate t;
    ASSERT_TRUE(ReadTemplate(data, &t));
    EXPECT_EQ(0x80C000C0u, t.style) << "WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, nothing else";
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(341, t.cx);
    EXPECT_EQ(71, t.cy);
    EXPECT_EQ(L"", t.menu);
    EXPECT_EQ(L"", t.className);
    EXPECT_EQ(L"", t.caption);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ(L"MS Sans Serif", t.font);

    ASSERT_EQ(2u, t.items.size());
    const TemplateItem &text = t.items[0];
    EXPECT_EQ(1000, text.id);
    EXPECT_EQ(L"#130", text.className) << "the predefined static class";
    EXPECT_EQ(L"Installing...", text.text);
    EXPECT_EQ(0x50020200u, text.style);
    EXPECT_EQ(183, text.x);
    EXPECT_EQ(27, text.y);
    EXPECT_EQ(140, text.cx);
    EXPECT_EQ(14, text.cy);

    const TemplateItem &anim = t.items[1];
    EXPECT_EQ(102, anim.id);
    EXPECT_EQ(L"SysAnimate32", anim.className) << "the class name in its own case";
    EXPECT_EQ(L"Animate1", anim.text);
    EXPECT_EQ(0x50000000u, anim.style) << "no ACS_ flag: no centring, transparency or autoplay";
    EXPECT_EQ(16, anim.x);
    EXPECT_EQ(20, anim.y);
    EXPECT_EQ(157, anim.cx);
    EXPECT_EQ(26, anim.cy);
}

} // namespace
