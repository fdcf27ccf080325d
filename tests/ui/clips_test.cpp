// The status window's resources as the built DLL carries them: the three
// clips (form, timing, palette, index, pictures) and dialog template 101.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "avi_parse.h"
#include "dialog_resource.h"
#include "process.h"
#include "status_hooks.h"

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
    // The same scenes drawn at twice the scale for dense screens: size
    // doubled, timing and palette size kept.
    {207, 470, 184, 30, 200000, 256},
    {202, 520, 80, 17, 100000, 16},
    {209, 160, 96, 29, 166666, 17},
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
    size_t total = 0;
    for (const ClipRow &row : CLIPS)
        total += Clip(res, row.id).size();
    EXPECT_LE(total, 192u * 1024) << "every host maps the clips with the library";
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

// The drawn pictures in the clip's row order: bottom row first.
std::vector<uint8_t> BottomUp(const std::vector<uint8_t> &topDown, int width, int height)
{
    std::vector<uint8_t> out;
    for (int y = height - 1; y >= 0; y--)
        out.insert(out.end(), topDown.begin() + (size_t)y * width, topDown.begin() + (size_t)(y + 1) * width);
    return out;
}

TEST(StatusClips, FramesPlayedInOrderShowThePicturesDrawnForThem)
{
    DllResources res;
    for (const ClipRow &row : CLIPS) {
        SCOPED_TRACE(row.id);
        std::string clip = Clip(res, row.id);
        ASSERT_FALSE(clip.empty());
        const ClipPictures &drawn = DrawnClip(row.id);
        ASSERT_EQ(row.frames, drawn.frames.size());
        std::vector<uint32_t> palette;
        ASSERT_TRUE(AviPalette(Bytes(clip), clip.size(), &palette));
        EXPECT_EQ(drawn.palette, palette);

        // Each delta frame is drawn over the one before, and after the last
        // the key frame starts the loop again over whatever was shown.
        AviClipInfo info;
        ASSERT_TRUE(AviParse(Bytes(clip), clip.size(), &info));
        EXPECT_TRUE(info.idxFirstIsKey);
        EXPECT_EQ(1u, info.idxKeyFrames) << "every frame after the first is a delta frame";
        std::vector<uint8_t> shown;
        std::vector<std::vector<uint8_t>> frames;
        for (uint32_t f = 0; f <= row.frames; f++) {
            uint32_t frame = f % row.frames;
            ASSERT_TRUE(AviDecodeRle8Frame(Bytes(clip), clip.size(), frame, &shown)) << "frame " << frame;
            ASSERT_TRUE(shown == BottomUp(drawn.frames[frame], drawn.width, drawn.height)) << "frame " << frame;
            frames.push_back(shown);
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
                              300000);
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

TEST(StatusDialogTemplate, HiddenCaptionlessWindowWithTextAndAnimation)
{
    DialogResource t = ReadDialogResource(BinPath("kiv_inst.dll"), 101, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_TRUE(t.found) << "no dialog 101 in language 0x0409";
    ASSERT_FALSE(t.extended) << "the classic template form";
    EXPECT_EQ(0x80C000C0u, t.style) << "WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, nothing else";
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(341, t.cx);
    EXPECT_EQ(71, t.cy);
    EXPECT_FALSE(t.menu.isOrdinal);
    EXPECT_EQ("", t.menu.text);
    EXPECT_FALSE(t.windowClass.isOrdinal);
    EXPECT_EQ("", t.windowClass.text);
    EXPECT_EQ("", t.caption);
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ("MS Sans Serif", t.typeface);

    ASSERT_EQ(2u, t.items.size());
    const DialogItem &text = t.items[0];
    EXPECT_EQ(1000, text.id);
    EXPECT_TRUE(text.windowClass.isOrdinal);
    EXPECT_EQ(0x82, text.windowClass.ordinal) << "the predefined static class";
    EXPECT_EQ("Installing...", text.title.text);
    EXPECT_EQ(0x50020200u, text.style);
    EXPECT_EQ(183, text.x);
    EXPECT_EQ(27, text.y);
    EXPECT_EQ(140, text.cx);
    EXPECT_EQ(14, text.cy);

    const DialogItem &anim = t.items[1];
    EXPECT_EQ(102, anim.id);
    EXPECT_FALSE(anim.windowClass.isOrdinal);
    EXPECT_EQ("SysAnimate32", anim.windowClass.text) << "the class name in its own case";
    EXPECT_EQ("Animate1", anim.title.text);
    EXPECT_EQ(0x50000000u, anim.style) << "no ACS_ flag: no centring, transparency or autoplay";
    EXPECT_EQ(16, anim.x);
    EXPECT_EQ(20, anim.y);
    EXPECT_EQ(157, anim.cx);
    EXPECT_EQ(26, anim.cy);
}

} // namespace
