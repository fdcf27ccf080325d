// clipgen: writes the animation clips that kiv_inst.dll embeds as "AVI"
// resources for the common animation control.
//
//   clipgen OUTDIR                          clip102.avi, clip107.avi, clip109.avi and
//                                           their double-size drawings clip202.avi,
//                                           clip207.avi, clip209.avi
//   clipgen --test-clip W H FRAMES OUTFILE  a plain moving-bar RLE8 clip
//   clipgen --unplayable OUTFILE            a well-formed AVI the control refuses
//
// The pictures come from clipart; the output depends on nothing but the code
// (no clock, no random seeds), so every build embeds byte-identical clips.
// Frame 0 is stored as an RLE8 key frame and the others as delta frames; the
// frames are decoded again in order and compared before a clip is written.
#include "clipart.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

const double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// BI_RLE8. Frame 0 is a key frame that sets every pixel. Every later frame is
// a delta frame: the animation control draws each frame over the one before,
// so it sets only the pixels that differ from the frame before and skips the
// rest with delta and end-of-line escapes.

const int kSkipCost = 4; // bytes of a delta escape

int RunLength(const uint8_t *row, int x, int end)
{
    int n = 1;
    while (x + n < end && n < 255 && row[x + n] == row[x])
        n++;
    return n;
}

// Codes pixels [x, end) of a row as runs and literal stretches.
void EncodeSpan(const uint8_t *row, int x, int end, Bytes *out)
{
    while (x < end) {
        int run = RunLength(row, x, end);
        if (run >= 2) {
            out->push_back((uint8_t)run);
            out->push_back(row[x]);
            x += run;
            continue;
        }
        // Literal stretch up to the next run worth encoding.
        int stop = x;
        while (stop < end) {
            int r = RunLength(row, stop, end);
            if (r >= 3 || stop - x + r > 255)
                break;
            stop += r;
        }
        int len = stop - x;
        if (len >= 3) {
            out->push_back(0);
            out->push_back((uint8_t)len);
            out->insert(out->end(), row + x, row + stop);
            if (len & 1)
                out->push_back(0);
        } else {
            for (int i = x; i < stop; i++) {
                out->push_back(1);
                out->push_back(row[i]);
            }
        }
        x = stop;
    }
}

// Codes a top-down frame of palette indices whole; rows are stored bottom-up,
// each ends with an end-of-line escape and the frame with end-of-bitmap.
void EncodeKeyFrame(const uint8_t *pixels, int w, int h, Bytes *out)
{
    out->clear();
    for (int y = h - 1; y >= 0; y--) {
        EncodeSpan(pixels + (size_t)y * w, 0, w, out);
        out->push_back(0);
        out->push_back(0);
    }
    out->push_back(0);
    out->push_back(1);
}

// Moves the coding position from (*cx, *cy) to (x, y), rows counted from the
// bottom, y >= *cy. Only end-of-line goes back to the left edge.
void MoveTo(int x, int y, int *cx, int *cy, Bytes *out)
{
    if (y > *cy && (x < *cx || x == 0)) {
        out->push_back(0);
        out->push_back(0);
        *cx = 0;
        (*cy)++;
    }
    while (*cx < x || *cy < y) {
        int dx = std::min(x - *cx, 255), dy = std::min(y - *cy, 255);
        out->push_back(0);
        out->push_back(2);
        out->push_back((uint8_t)dx);
        out->push_back((uint8_t)dy);
        *cx += dx;
        *cy += dy;
    }
}

// What coding the unchanged pixels [a, b) along with the changes around them
// adds, in bytes: two for each run it adds between row[a - 1] and row[b].
int GapCost(const uint8_t *row, int a, int b)
{
    int changes = 0;
    for (int i = a; i <= b; i++)
        changes += row[i] != row[i - 1];
    return 2 * (changes - 1);
}

// Codes only what differs from the frame before; a stretch of changes takes
// in an unchanged gap when that is cheaper than skipping it.
void EncodeDeltaFrame(const uint8_t *before, const uint8_t *now, int w, int h, Bytes *out)
{
    out->clear();
    int cx = 0, cy = 0;
    for (int y = 0; y < h; y++) {
        const uint8_t *row = now + (size_t)(h - 1 - y) * w, *old = before + (size_t)(h - 1 - y) * w;
        int x = 0;
        while (x < w) {
            if (row[x] == old[x]) {
                x++;
                continue;
            }
            int end = x + 1;
            for (;;) {
                while (end < w && row[end] != old[end])
                    end++;
                int next = end;
                while (next < w && row[next] == old[next])
                    next++;
                if (next == w || GapCost(row, end, next) >= kSkipCost)
                    break;
                end = next;
            }
            MoveTo(x, y, &cx, &cy, out);
            EncodeSpan(row, x, end, out);
            cx = end;
            x = end;
        }
    }
    out->push_back(0);
    out->push_back(1);
}

// Decodes an RLE8 frame over the picture in *pixels (top-down indices), as
// the animation control does. Returns false on malformed data or writes
// outside the frame.
bool DecodeRle8(const Bytes &in, int w, int h, Bytes *pixels)
{
    size_t i = 0;
    int x = 0, y = 0; // y counts rows from the bottom
    while (i + 1 < in.size()) {
        int a = in[i], b = in[i + 1];
        i += 2;
        if (a > 0) {
            if (y >= h || x + a > w)
                return false;
            memset(&(*pixels)[(size_t)(h - 1 - y) * w + x], b, (size_t)a);
            x += a;
        } else if (b == 0) {
            x = 0;
            y++;
        } else if (b == 1) {
            return i == in.size();
        } else if (b == 2) {
            if (i + 1 >= in.size())
                return false;
            x += in[i];
            y += in[i + 1];
            i += 2;
        } else {
            size_t padded = (size_t)b + (b & 1);
            if (y >= h || x + b > w || i + padded > in.size())
                return false;
            memcpy(&(*pixels)[(size_t)(h - 1 - y) * w + x], &in[i], (size_t)b);
            x += b;
            i += padded;
        }
    }
    return false;
}

// Codes every frame and checks that decoding them in order, as the control
// plays them, gives the pictures back; the key frame must set every pixel,
// whatever was there before.
bool EncodeFrames(const std::vector<Bytes> &pictures, int w, int h, std::vector<Bytes> *frames)
{
    frames->assign(pictures.size(), Bytes());
    Bytes shown((size_t)w * h), inverse((size_t)w * h);
    for (size_t i = 0; i < pictures.size(); i++) {
        if (i == 0) {
            EncodeKeyFrame(pictures[0].data(), w, h, &(*frames)[0]);
            for (size_t p = 0; p < inverse.size(); p++)
                inverse[p] = (uint8_t)~pictures[0][p];
            if (!DecodeRle8((*frames)[0], w, h, &inverse) || inverse != pictures[0])
                return false;
        } else {
            EncodeDeltaFrame(pictures[i - 1].data(), pictures[i].data(), w, h, &(*frames)[i]);
        }
        if (!DecodeRle8((*frames)[i], w, h, &shown) || shown != pictures[i]) {
            fprintf(stderr, "clipgen: frame %u does not decode back\n", (unsigned)i);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// AVI writer

void Put16(Bytes *b, uint32_t v)
{
    b->push_back((uint8_t)(v & 0xFF));
    b->push_back((uint8_t)((v >> 8) & 0xFF));
}

void Put32(Bytes *b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void PutFcc(Bytes *b, const char *fcc)
{
    b->insert(b->end(), fcc, fcc + 4);
}

uint32_t Fcc(const char *fcc)
{
    return (uint32_t)(uint8_t)fcc[0] | ((uint32_t)(uint8_t)fcc[1] << 8) | ((uint32_t)(uint8_t)fcc[2] << 16) |
           ((uint32_t)(uint8_t)fcc[3] << 24);
}

// Starts a chunk; returns where its size goes.
size_t BeginChunk(Bytes *b, const char *id)
{
    PutFcc(b, id);
    size_t at = b->size();
    Put32(b, 0);
    return at;
}

// Fills in the size (which excludes the pad byte) and word-aligns.
void EndChunk(Bytes *b, size_t at)
{
    uint32_t size = (uint32_t)(b->size() - at - 4);
    for (int i = 0; i < 4; i++)
        (*b)[at + i] = (uint8_t)((size >> (8 * i)) & 0xFF);
    if (size & 1)
        b->push_back(0);
}

struct ClipFormat {
    uint32_t width, height, usPerFrame;
    const char *handler;    // strh fccHandler
    uint32_t compression;   // biCompression
    uint32_t bitCount;
    const uint32_t *palette; // 0x00RRGGBB entries, or null
    uint32_t paletteSize;
    bool deltas; // frames after the first depend on the one before
};

void BuildAvi(const ClipFormat &fmt, const std::vector<Bytes> &frames, Bytes *out)
{
    const uint32_t count = (uint32_t)frames.size();
    uint32_t largest = 0;
    for (size_t i = 0; i < frames.size(); i++)
        largest = std::max(largest, (uint32_t)frames[i].size());
    const uint32_t bytesPerSec = (uint32_t)(((uint64_t)largest * 1000000u + fmt.usPerFrame - 1) / fmt.usPerFrame);

    Bytes &b = *out;
    b.clear();
    size_t riff = BeginChunk(&b, "RIFF");
    PutFcc(&b, "AVI ");

    size_t hdrl = BeginChunk(&b, "LIST");
    PutFcc(&b, "hdrl");
    size_t avih = BeginChunk(&b, "avih");
    Put32(&b, fmt.usPerFrame);
    Put32(&b, bytesPerSec);
    Put32(&b, 0);    // padding granularity
    Put32(&b, 0x10); // AVIF_HASINDEX
    Put32(&b, count);
    Put32(&b, 0); // initial frames
    Put32(&b, 1); // streams
    Put32(&b, largest);
    Put32(&b, fmt.width);
    Put32(&b, fmt.height);
    for (int i = 0; i < 4; i++)
        Put32(&b, 0);
    EndChunk(&b, avih);

    size_t strl = BeginChunk(&b, "LIST");
    PutFcc(&b, "strl");
    size_t strh = BeginChunk(&b, "strh");
    PutFcc(&b, "vids");
    PutFcc(&b, fmt.handler);
    Put32(&b, 0); // flags
    Put16(&b, 0); // priority
    Put16(&b, 0); // language
    Put32(&b, 0); // initial frames
    Put32(&b, fmt.usPerFrame); // scale: rate/scale is frames per second
    Put32(&b, 1000000);        // rate
    Put32(&b, 0);              // start
    Put32(&b, count);
    Put32(&b, largest);
    Put32(&b, 0xFFFFFFFFu); // quality: default
    Put32(&b, 0);           // sample size: varies
    Put16(&b, 0);
    Put16(&b, 0);
    Put16(&b, fmt.width);
    Put16(&b, fmt.height);
    EndChunk(&b, strh);

    size_t strf = BeginChunk(&b, "strf");
    Put32(&b, 40);
    Put32(&b, fmt.width);
    Put32(&b, fmt.height); // positive: bottom-up
    Put16(&b, 1);
    Put16(&b, fmt.bitCount);
    Put32(&b, fmt.compression);
    Put32(&b, largest);
    Put32(&b, 0);
    Put32(&b, 0);
    Put32(&b, fmt.paletteSize);
    Put32(&b, fmt.paletteSize);
    for (uint32_t i = 0; i < fmt.paletteSize; i++) {
        b.push_back((uint8_t)(fmt.palette[i] & 0xFF));
        b.push_back((uint8_t)((fmt.palette[i] >> 8) & 0xFF));
        b.push_back((uint8_t)((fmt.palette[i] >> 16) & 0xFF));
        b.push_back(0);
    }
    EndChunk(&b, strf);
    EndChunk(&b, strl);
    EndChunk(&b, hdrl);

    size_t movi = BeginChunk(&b, "LIST");
    const size_t moviType = b.size(); // index offsets count from here
    PutFcc(&b, "movi");
    std::vector<uint32_t> offsets;
    for (size_t i = 0; i < frames.size(); i++) {
        offsets.push_back((uint32_t)(b.size() - moviType));
        size_t chunk = BeginChunk(&b, "00dc");
        b.insert(b.end(), frames[i].begin(), frames[i].end());
        EndChunk(&b, chunk);
    }
    EndChunk(&b, movi);

    size_t idx1 = BeginChunk(&b, "idx1");
    for (size_t i = 0; i < frames.size(); i++) {
        PutFcc(&b, "00dc");
        Put32(&b, i == 0 || !fmt.deltas ? 0x10 : 0); // AVIIF_KEYFRAME
        Put32(&b, offsets[i]);
        Put32(&b, (uint32_t)frames[i].size());
    }
    EndChunk(&b, idx1);
    EndChunk(&b, riff);
}

bool WriteFile(const std::string &path, const Bytes &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "clipgen: cannot create %s\n", path.c_str());
        return false;
    }
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok)
        fprintf(stderr, "clipgen: cannot write %s\n", path.c_str());
    return ok;
}

// Codes, checks and writes a clip; returns its size in bytes, 0 on failure.
size_t WriteRleClip(const std::string &path, int w, int h, uint32_t usPerFrame, const std::vector<Bytes> &pictures,
                    const uint32_t *palette, uint32_t colours)
{
    std::vector<Bytes> frames;
    if (!EncodeFrames(pictures, w, h, &frames)) {
        fprintf(stderr, "clipgen: %s not written\n", path.c_str());
        return 0;
    }
    ClipFormat fmt = {(uint32_t)w, (uint32_t)h, usPerFrame, "RLE ", 1, 8, palette, colours, true};
    Bytes avi;
    BuildAvi(fmt, frames, &avi);
    return WriteFile(path, avi) ? avi.size() : 0;
}

// ---------------------------------------------------------------------------
// Test clips

// What the built-in clips may take together, in bytes.
const size_t kMaxClipsTotal = 192 * 1024;

// Every frame is held in memory while the clip is coded.
const int64_t kMaxTestPixels = (int64_t)1 << 26;

// A bar sweeping across a light background, in a full 256-colour palette.
bool MakeTestClip(const std::string &path, int w, int h, int count)
{
    uint32_t pal[256];
    pal[0] = 0xF0F0F0; // the dialog face, as behind the built-in clips
    for (int i = 1; i < 256; i++) {
        double a = 2 * kPi * i / 255.0;
        pal[i] = 0;
        for (int ch = 0; ch < 3; ch++)
            pal[i] = (pal[i] << 8) | (uint32_t)std::lround(128 + 110 * std::cos(a - 2.094 * ch));
    }
    const int barW = std::max(1, w / 8);
    std::vector<Bytes> pictures((size_t)count, Bytes((size_t)w * h, 0));
    for (int i = 0; i < count; i++) {
        int left = (int)((int64_t)(w - barW) * i / count);
        uint8_t colour = (uint8_t)(1 + (i * 7) % 255);
        for (int y = 0; y < h; y++)
            memset(&pictures[i][(size_t)y * w + left], colour, (size_t)barW);
    }
    return WriteRleClip(path, w, h, 100000, pictures, pal, 256) != 0;
}

// A proper AVI whose video is Motion JPEG, which the animation control does
// not play. The frames are placeholders between JPEG start and end markers.
bool MakeUnplayable(const std::string &path)
{
    std::vector<Bytes> frames(4);
    for (size_t i = 0; i < frames.size(); i++) {
        static const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x0A, 'p', 'l', 'a', 'c', 'e', 'h', 'o', 'l'};
        frames[i].assign(head, head + sizeof(head));
        frames[i].push_back((uint8_t)('0' + i));
        frames[i].push_back(0xFF);
        frames[i].push_back(0xD9);
    }
    ClipFormat fmt = {64, 48, 100000, "MJPG", Fcc("MJPG"), 24, nullptr, 0, false};
    Bytes avi;
    BuildAvi(fmt, frames, &avi);
    return WriteFile(path, avi);
}

bool ParseCount(const char *text, int lo, int hi, int *out)
{
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi)
        return false;
    *out = (int)v;
    return true;
}

int Usage()
{
    fprintf(stderr,
            "usage: clipgen OUTDIR\n"
            "       clipgen --test-clip WIDTH HEIGHT FRAMES OUTFILE\n"
            "       clipgen --unplayable OUTFILE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && argv[1][0] != '-') {
        static const int ids[] = {102, 107, 109, 202, 207, 209};
        size_t total = 0;
        for (int id : ids) {
            ClipPictures clip;
            std::string path = std::string(argv[1]) + "/clip" + std::to_string(id) + ".avi";
            if (!DrawClip(id, &clip))
                return 1;
            size_t size = WriteRleClip(path, clip.width, clip.height, clip.usPerFrame, clip.frames, clip.palette.data(),
                                       (uint32_t)clip.palette.size());
            if (size == 0)
                return 1;
            printf("clip%d.avi: %u bytes\n", id, (unsigned)size);
            total += size;
        }
        printf("clips together: %u bytes\n", (unsigned)total);
        // They ship inside the library, which every host maps whole.
        if (total > kMaxClipsTotal) {
            fprintf(stderr, "clipgen: the clips together exceed %u bytes\n", (unsigned)kMaxClipsTotal);
            return 1;
        }
        return 0;
    }
    if (argc == 6 && strcmp(argv[1], "--test-clip") == 0) {
        int w, h, count;
        if (!ParseCount(argv[2], 1, 4096, &w) || !ParseCount(argv[3], 1, 4096, &h) ||
            !ParseCount(argv[4], 1, 10000, &count) || (int64_t)w * h * count > kMaxTestPixels) {
            fprintf(stderr, "clipgen: width and height must be 1..4096, frames 1..10000, all frames at most "
                            "64 Mi pixels\n");
            return 2;
        }
        return MakeTestClip(argv[5], w, h, count) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "--unplayable") == 0)
        return MakeUnplayable(argv[2]) ? 0 : 1;
    return Usage();
}
