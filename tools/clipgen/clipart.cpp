// The pictures of the status window clips. Scenes are rendered in RGB with
// supersampling and reduced to one palette per clip. Each is drawn for
// run-length coding with delta frames: what stays put is drawn once in flat
// colours, and from frame to frame only what moves changes, so a frame costs
// little more than the pixels it changes. The output depends on nothing but
// this file (no clock, no random seeds).
#include "clipart.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

typedef std::vector<uint8_t> Bytes;

const double kPi = 3.14159265358979323846;
const int kSs = 4; // samples per pixel edge: 16 samples a pixel

// ---------------------------------------------------------------------------
// Colour and geometry helpers

struct Rgb {
    double r, g, b;
};

struct Vec {
    double x, y;
};

Rgb MakeRgb(double r, double g, double b)
{
    Rgb c = {r, g, b};
    return c;
}

Rgb Mix(Rgb a, Rgb b, double t)
{
    return MakeRgb(a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t);
}

Rgb Shade(Rgb a, double k)
{
    return MakeRgb(a.r * k, a.g * k, a.b * k);
}

double Clamp(double v, double lo, double hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

double SmoothStep(double e0, double e1, double x)
{
    double t = Clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Colour along a gradient of evenly spaced stops, t in [0,1].
Rgb Gradient(const Rgb *stops, int count, double t)
{
    double pos = Clamp(t, 0.0, 1.0) * (count - 1);
    int i = (int)pos;
    if (i >= count - 1)
        return stops[count - 1];
    return Mix(stops[i], stops[i + 1], pos - i);
}

// How far (x,y) lies inside a convex polygon: negative outside, otherwise
// the distance to the nearest edge line. Either winding works.
double ConvexDepth(const Vec *v, int n, double x, double y)
{
    double area = 0.0;
    for (int i = 0; i < n; i++) {
        const Vec &a = v[i], &b = v[(i + 1) % n];
        area += a.x * b.y - b.x * a.y;
    }
    double sign = area > 0.0 ? 1.0 : -1.0;
    double depth = 1e30;
    for (int i = 0; i < n; i++) {
        const Vec &a = v[i], &b = v[(i + 1) % n];
        double ex = b.x - a.x, ey = b.y - a.y;
        double len = std::sqrt(ex * ex + ey * ey);
        if (len <= 0.0)
            continue;
        double d = sign * (ex * (y - a.y) - ey * (x - a.x)) / len;
        depth = std::min(depth, d);
    }
    return depth;
}

double SegmentDistance(Vec a, Vec b, double x, double y)
{
    double ex = b.x - a.x, ey = b.y - a.y;
    double t = Clamp(((x - a.x) * ex + (y - a.y) * ey) / (ex * ex + ey * ey), 0.0, 1.0);
    double dx = x - (a.x + ex * t), dy = y - (a.y + ey * t);
    return std::sqrt(dx * dx + dy * dy);
}

// Paints a convex polygon with an outline of the given width. Returns whether
// the point was covered.
bool PaintPolygon(const Vec *v, int n, double x, double y, Rgb fill, Rgb line, double lineWidth, Rgb *c)
{
    double d = ConvexDepth(v, n, x, y);
    if (d < 0.0)
        return false;
    *c = d < lineWidth ? line : fill;
    return true;
}

// ---------------------------------------------------------------------------
// Rendering and palette reduction

typedef void (*ShadeFn)(const void *scene, double x, double y, Rgb *out);

// Renders one frame of a w*h scene, drawn 'scale' times as large, into 8-bit
// RGB triples appended to *rgb. Pixel (x,y) covers the scene's [x,x+1) by
// [y,y+1) divided by the scale, y growing downwards: a larger drawing is the
// same scene sampled finer, not a smaller one's pixels repeated.
void Render(int w, int h, int scale, ShadeFn shade, const void *scene, Bytes *rgb)
{
    const double inv = 1.0 / (kSs * kSs), step = 1.0 / scale;
    for (int y = 0; y < h * scale; y++) {
        for (int x = 0; x < w * scale; x++) {
            double r = 0.0, g = 0.0, b = 0.0;
            for (int sy = 0; sy < kSs; sy++) {
                for (int sx = 0; sx < kSs; sx++) {
                    Rgb c;
                    shade(scene, (x + (sx + 0.5) / kSs) * step, (y + (sy + 0.5) / kSs) * step, &c);
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            }
            rgb->push_back((uint8_t)std::lround(Clamp(r * inv, 0.0, 255.0)));
            rgb->push_back((uint8_t)std::lround(Clamp(g * inv, 0.0, 255.0)));
            rgb->push_back((uint8_t)std::lround(Clamp(b * inv, 0.0, 255.0)));
        }
    }
}

uint32_t Pack(Rgb c)
{
    uint32_t r = (uint32_t)std::lround(Clamp(c.r, 0.0, 255.0));
    uint32_t g = (uint32_t)std::lround(Clamp(c.g, 0.0, 255.0));
    uint32_t b = (uint32_t)std::lround(Clamp(c.b, 0.0, 255.0));
    return (r << 16) | (g << 8) | b;
}

int Channel(uint32_t rgb, int ch)
{
    return (int)((rgb >> (16 - 8 * ch)) & 0xFF);
}

// Colour distance weighted roughly by how much the eye cares.
int ColourDistance(uint32_t a, uint32_t b)
{
    int dr = Channel(a, 0) - Channel(b, 0);
    int dg = Channel(a, 1) - Channel(b, 1);
    int db = Channel(a, 2) - Channel(b, 2);
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

int Nearest(const uint32_t *pal, int count, uint32_t rgb)
{
    int best = 0, bestDist = ColourDistance(pal[0], rgb);
    for (int i = 1; i < count && bestDist > 0; i++) {
        int d = ColourDistance(pal[i], rgb);
        if (d < bestDist) {
            best = i;
            bestDist = d;
        }
    }
    return best;
}

struct ColourCount {
    uint32_t rgb;
    uint32_t count;
};

// Distinct colours of a buffer of RGB triples, sorted, with their counts.
std::vector<ColourCount> Histogram(const Bytes &rgb)
{
    std::vector<uint32_t> all;
    all.reserve(rgb.size() / 3);
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        all.push_back(((uint32_t)rgb[i] << 16) | ((uint32_t)rgb[i + 1] << 8) | rgb[i + 2]);
    std::sort(all.begin(), all.end());
    std::vector<ColourCount> hist;
    for (size_t i = 0; i < all.size(); i++) {
        if (hist.empty() || hist.back().rgb != all[i]) {
            ColourCount cc = {all[i], 0};
            hist.push_back(cc);
        }
        hist.back().count++;
    }
    return hist;
}

struct BoxStats {
    uint64_t weight;
    uint64_t sum[3];
    uint64_t sse[3]; // weighted squared error per channel
};

BoxStats StatsOf(const ColourCount *c, size_t n)
{
    BoxStats s = {};
    uint64_t sq[3] = {0, 0, 0};
    for (size_t i = 0; i < n; i++) {
        s.weight += c[i].count;
        for (int ch = 0; ch < 3; ch++) {
            uint64_t v = (uint64_t)Channel(c[i].rgb, ch);
            s.sum[ch] += v * c[i].count;
            sq[ch] += v * v * c[i].count;
        }
    }
    for (int ch = 0; ch < 3; ch++)
        s.sse[ch] = s.weight ? sq[ch] - s.sum[ch] * s.sum[ch] / s.weight : 0;
    return s;
}

// Picks a palette of 'total' colours: the 'forced' colours first, exactly and
// in order (index 0 is the background), the rest by median cut over the other
// colours, refined by a few rounds of k-means. Integer arithmetic and total
// orders throughout, so the result is the same on every compiler.
void BuildPalette(const Bytes &rgb, const uint32_t *forced, int forcedCount, int total, uint32_t *pal)
{
    std::vector<ColourCount> hist = Histogram(rgb);
    for (int i = 0; i < forcedCount; i++)
        pal[i] = forced[i];

    std::vector<ColourCount> rest;
    for (size_t i = 0; i < hist.size(); i++) {
        bool isForced = false;
        for (int f = 0; f < forcedCount; f++)
            isForced = isForced || hist[i].rgb == forced[f];
        if (!isForced)
            rest.push_back(hist[i]);
    }

    // Median cut: split the box with the largest error at its weighted median.
    struct Box {
        size_t begin, end;
    };
    std::vector<Box> boxes;
    int wanted = total - forcedCount;
    if (!rest.empty() && wanted > 0) {
        Box all = {0, rest.size()};
        boxes.push_back(all);
    }
    while ((int)boxes.size() < wanted) {
        int pick = -1, channel = 0;
        uint64_t worst = 0;
        for (size_t b = 0; b < boxes.size(); b++) {
            if (boxes[b].end - boxes[b].begin < 2)
                continue;
            BoxStats s = StatsOf(&rest[boxes[b].begin], boxes[b].end - boxes[b].begin);
            uint64_t e = s.sse[0] + s.sse[1] + s.sse[2];
            if (pick < 0 || e > worst) {
                pick = (int)b;
                worst = e;
                channel = 0;
                for (int ch = 1; ch < 3; ch++)
                    if (s.sse[ch] > s.sse[channel])
                        channel = ch;
            }
        }
        if (pick < 0)
            break;
        Box box = boxes[pick];
        const int ch = channel;
        std::sort(rest.begin() + box.begin, rest.begin() + box.end, [ch](const ColourCount &a, const ColourCount &b) {
            int va = Channel(a.rgb, ch), vb = Channel(b.rgb, ch);
            return va != vb ? va < vb : a.rgb < b.rgb;
        });
        uint64_t half = StatsOf(&rest[box.begin], box.end - box.begin).weight / 2, acc = 0;
        size_t split = box.begin;
        while (split < box.end - 1 && acc + rest[split].count <= half)
            acc += rest[split++].count;
        if (split == box.begin)
            split++;
        boxes[pick].end = split;
        Box upper = {split, box.end};
        boxes.push_back(upper);
    }

    int count = forcedCount;
    for (size_t b = 0; b < boxes.size(); b++) {
        BoxStats s = StatsOf(&rest[boxes[b].begin], boxes[b].end - boxes[b].begin);
        uint32_t c = 0;
        for (int ch = 0; ch < 3; ch++)
            c |= (uint32_t)((s.sum[ch] + s.weight / 2) / s.weight) << (16 - 8 * ch);
        pal[count++] = c;
    }
    while (count < total) // fewer distinct colours than slots: repeat the background
        pal[count++] = pal[0];

    // k-means over every colour, moving only the chosen entries.
    std::vector<uint64_t> sums((size_t)total * 4);
    for (int round = 0; round < 8; round++) {
        std::fill(sums.begin(), sums.end(), 0);
        for (size_t i = 0; i < hist.size(); i++) {
            int k = Nearest(pal, total, hist[i].rgb);
            for (int ch = 0; ch < 3; ch++)
                sums[(size_t)k * 4 + ch] += (uint64_t)Channel(hist[i].rgb, ch) * hist[i].count;
            sums[(size_t)k * 4 + 3] += hist[i].count;
        }
        for (int k = forcedCount; k < total; k++) {
            uint64_t n = sums[(size_t)k * 4 + 3];
            if (n == 0)
                continue;
            uint32_t c = 0;
            for (int ch = 0; ch < 3; ch++)
                c |= (uint32_t)((sums[(size_t)k * 4 + ch] + n / 2) / n) << (16 - 8 * ch);
            pal[k] = c;
        }
    }
}

// Maps RGB triples to palette indices.
void MapToPalette(const Bytes &rgb, const uint32_t *pal, int count, Bytes *indices)
{
    std::vector<ColourCount> hist = Histogram(rgb);
    std::vector<uint8_t> index(hist.size());
    for (size_t i = 0; i < hist.size(); i++)
        index[i] = (uint8_t)Nearest(pal, count, hist[i].rgb);
    indices->resize(rgb.size() / 3);
    for (size_t i = 0; i < indices->size(); i++) {
        uint32_t c = ((uint32_t)rgb[3 * i] << 16) | ((uint32_t)rgb[3 * i + 1] << 8) | rgb[3 * i + 2];
        ColourCount key = {c, 0};
        size_t at = std::lower_bound(hist.begin(), hist.end(), key, [](const ColourCount &a, const ColourCount &b) {
                        return a.rgb < b.rgb;
                    }) - hist.begin();
        (*indices)[i] = index[at];
    }
}

// Picks one palette from all the frames of a clip and maps every frame to it.
void Reduce(int w, int h, uint32_t usPerFrame, const std::vector<Bytes> &rgbFrames, const uint32_t *forced,
            int forcedCount, int colours, ClipPictures *out)
{
    Bytes all;
    for (size_t i = 0; i < rgbFrames.size(); i++)
        all.insert(all.end(), rgbFrames[i].begin(), rgbFrames[i].end());
    out->width = w;
    out->height = h; // of the drawing, the scale included
    out->usPerFrame = usPerFrame;
    out->palette.assign((size_t)colours, 0);
    BuildPalette(all, forced, forcedCount, colours, out->palette.data());
    out->frames.assign(rgbFrames.size(), Bytes());
    for (size_t i = 0; i < rgbFrames.size(); i++)
        MapToPalette(rgbFrames[i], out->palette.data(), colours, &out->frames[i]);
}

const Rgb kDialog = {240, 240, 240}; // the dialog face of current Windows: the clips sit on dialogs

// ---------------------------------------------------------------------------
// Clip 107: the product mark, "Kivelstrand" over a twisted ribbon that a light
// runs along.

// Glyphs of a small bold font, ten rows high: three ascender rows above a
// seven-row x-height. Strokes are two cells wide.
struct Glyph {
    char ch;
    int width;
    const char *rows[10];
};

const Glyph kFont[] = {
    {'K', 8, {"##...###", "##..###.", "##.###..", "#####...", "####....",
              "####....", "#####...", "##.###..", "##..###.", "##...###"}},
    {'i', 2, {"##", "##", "..", "##", "##", "##", "##", "##", "##", "##"}},
    {'v', 8, {"........", "........", "........", "##....##", "##....##",
              ".##..##.", ".##..##.", "..####..", "..####..", "...##..."}},
    {'e', 7, {".......", ".......", ".......", ".#####.", "##...##",
              "##...##", "#######", "##.....", "##...##", ".#####."}},
    {'l', 2, {"##", "##", "##", "##", "##", "##", "##", "##", "##", "##"}},
    {'s', 7, {".......", ".......", ".......", ".######", "##.....",
              "##.....", ".#####.", ".....##", ".....##", "######."}},
    {'t', 6, {"......", ".##...", ".##...", "#####.", ".##...",
              ".##...", ".##...", ".##...", ".##...", "..####"}},
    {'r', 6, {"......", "......", "......", "##.###", "####..",
              "##....", "##....", "##....", "##....", "##...."}},
    {'a', 7, {".......", ".......", ".......", ".#####.", ".....##",
              ".....##", ".######", "##...##", "##...##", ".######"}},
    {'n', 7, {".......", ".......", ".......", "##.###.", "###..##",
              "##...##", "##...##", "##...##", "##...##", "##...##"}},
    {'d', 7, {".....##", ".....##", ".....##", ".######", "##...##",
              "##...##", "##...##", "##...##", "##...##", ".######"}},
};

const Glyph *FindGlyph(char ch)
{
    for (size_t i = 0; i < sizeof(kFont) / sizeof(kFont[0]); i++)
        if (kFont[i].ch == ch)
            return &kFont[i];
    return nullptr;
}

const int kMarkW = 235, kMarkH = 92, kMarkFrames = 30;
const char kMarkWord[] = "Kivelstrand";
const double kFontScale = 2.6;   // pixels per font cell
const double kLetterGap = 1.5;   // cells between letters
const double kFontBlur = 0.55;   // cells; rounds the cell corners into smooth strokes
const Rgb kWordTop = {18, 34, 84};  // the letters shade from deep navy...
const Rgb kWordBottom = {44, 78, 156}; // ...to a lighter blue at the baseline
const Rgb kWordShadow = {178, 174, 166};
const Rgb kThread = {200, 150, 30};

struct MarkScene {
    int scale;                    // drawing pixels per scene pixel
    int sw, sh;                   // sample grid size
    Bytes text, halo, shadow;     // masks on the sample grid
    double textTop, textBottom;   // for the fill gradient
    double light; // centre of the light running along the ribbon
};

// Coverage of the word at a point in pixels: the font cells blurred by a
// small Gaussian and cut at one half, which keeps straight edges where the
// cells put them but turns the stair-steps into clean diagonals and curves.
bool InWord(double x, double y, double originX, double originY)
{
    double u = (x - originX) / kFontScale, v = (y - originY) / kFontScale;
    if (v < -2.0 || v > 12.0)
        return false;
    double gx = 0.0;
    for (const char *p = kMarkWord; *p; p++) {
        const Glyph *g = FindGlyph(*p);
        double lu = u - gx;
        gx += g->width + kLetterGap;
        if (lu < -2.0 || lu > g->width + 2.0)
            continue;
        double field = 0.0;
        for (int row = 0; row < 10; row++) {
            double dv = v - (row + 0.5);
            if (std::fabs(dv) > 3.0)
                continue;
            double wv = std::exp(-dv * dv / (2 * kFontBlur * kFontBlur));
            for (int col = 0; col < g->width; col++) {
                if (g->rows[row][col] != '#')
                    continue;
                double du = lu - (col + 0.5);
                if (std::fabs(du) > 3.0)
                    continue;
                field += wv * std::exp(-du * du / (2 * kFontBlur * kFontBlur));
            }
        }
        if (field / (2 * kPi * kFontBlur * kFontBlur) >= 0.5)
            return true;
    }
    return false;
}

double WordWidthCells()
{
    double w = 0.0;
    for (const char *p = kMarkWord; *p; p++)
        w += FindGlyph(*p)->width + (p[1] ? kLetterGap : 0.0);
    return w;
}

void SetUpMark(MarkScene *s, int scale)
{
    const int grid = kSs * scale; // samples per scene pixel
    s->scale = scale;
    s->sw = kMarkW * grid;
    s->sh = kMarkH * grid;
    double originX = (kMarkW - WordWidthCells() * kFontScale) / 2.0;
    double originY = 15.0; // upper part: the ribbon sweeps below and through it
    s->textTop = originY;
    s->textBottom = originY + 10 * kFontScale;
    s->text.assign((size_t)s->sw * s->sh, 0);
    for (int j = 0; j < s->sh; j++)
        for (int i = 0; i < s->sw; i++)
            s->text[(size_t)j * s->sw + i] = InWord((i + 0.5) / grid, (j + 0.5) / grid, originX, originY);

    // A clear margin round the letters keeps them readable over the ribbon,
    // and an offset copy gives them a little lift off the page.
    const int r = (int)(1.6 * grid), off = (int)(1.25 * grid);
    s->halo.assign(s->text.size(), 0);
    s->shadow.assign(s->text.size(), 0);
    for (int j = 0; j < s->sh; j++) {
        for (int i = 0; i < s->sw; i++) {
            if (!s->text[(size_t)j * s->sw + i])
                continue;
            for (int dj = -r; dj <= r; dj++)
                for (int di = -r; di <= r; di++) {
                    int x = i + di, y = j + dj;
                    if (di * di + dj * dj <= r * r && x >= 0 && y >= 0 && x < s->sw && y < s->sh)
                        s->halo[(size_t)y * s->sw + x] = 1;
                }
            if (i + off < s->sw && j + off < s->sh)
                s->shadow[(size_t)(j + off) * s->sw + i + off] = 1;
        }
    }
}

// The ribbon holds still in one pose of its twist, and a light runs
// along it once a loop. Each half turn between two pinches is one flat colour,
// a darker one where the band turns edge-on, so a frame changes only where the
// light arrives and where it leaves.
const double kTwistLength = 117.5, kRibbonY = 57.0, kRibbonHalf = 12.0, kRibbonWave = 12.0;
const double kLightFrom = 8.0, kLightTo = 227.0, kLightCore = 3.5, kLightFringe = 6.5;

double RibbonEnvelope(double x)
{
    return SmoothStep(2.0, 46.0, x) * SmoothStep(2.0, 46.0, kMarkW - x);
}

double RibbonCentre(double x)
{
    return kRibbonY + kRibbonWave * std::sin(2 * kPi * x / kMarkW + 0.9);
}

double Twist(double x)
{
    return 2 * kPi * x / kTwistLength;
}

// Paints the ribbon; returns whether it covers the point.
bool RibbonAt(double x, double y, double light, Rgb *c)
{
    double envelope = RibbonEnvelope(x);
    double theta = Twist(x);
    double facing = std::sin(theta);
    double half = std::max(std::fabs(facing) * kRibbonHalf, 0.7) * envelope;
    if (envelope <= 0.0 || std::fabs(y - RibbonCentre(x)) > half)
        return false;
    static const Rgb faceA[] = {{0, 160, 170}, {24, 112, 214}, {120, 72, 204}};
    static const Rgb faceB[] = {{236, 150, 40}, {226, 92, 70}, {196, 60, 120}};
    double middle = (std::floor(theta / kPi) + 0.5) * kTwistLength / 2.0; // of this half turn
    Rgb base = facing >= 0.0 ? Gradient(faceA, 3, middle / kMarkW) : Gradient(faceB, 3, middle / kMarkW);
    if (std::fabs(facing) < 0.45)
        base = Shade(base, 0.78);
    double d = std::fabs(x - light);
    if (d < kLightCore)
        base = Mix(base, MakeRgb(255, 255, 255), 0.55);
    else if (d < kLightFringe)
        base = Mix(base, MakeRgb(255, 255, 255), 0.25);
    *c = base;
    return true;
}

// A thin thread wound round the ribbon a quarter turn out of step with it;
// the ribbon hides it while it runs behind.
void ThreadAt(double x, double y, bool behindRibbon, Rgb *c)
{
    const double radius = kRibbonHalf + 3.0, halfWidth = 0.8, dx = 0.5;
    double theta = Twist(x);
    if (behindRibbon && std::sin(theta) > 0.0)
        return;
    double ty = RibbonCentre(x) + radius * RibbonEnvelope(x) * std::cos(theta);
    double ty2 = RibbonCentre(x + dx) + radius * RibbonEnvelope(x + dx) * std::cos(Twist(x + dx));
    double slope = (ty2 - ty) / dx;
    if (RibbonEnvelope(x) > 0.05 && std::fabs(y - ty) / std::sqrt(1.0 + slope * slope) <= halfWidth)
        *c = kThread;
}

void ShadeMark(const void *scene, double x, double y, Rgb *out)
{
    const MarkScene *s = (const MarkScene *)scene;
    const int grid = kSs * s->scale;
    size_t at = (size_t)(int)(y * grid) * s->sw + (size_t)(int)(x * grid);
    if (s->text[at]) {
        double t = Clamp((y - s->textTop) / (s->textBottom - s->textTop), 0.0, 1.0);
        *out = Mix(kWordTop, kWordBottom, t);
        return;
    }
    if (s->halo[at]) {
        *out = s->shadow[at] ? kWordShadow : kDialog;
        return;
    }
    *out = kDialog;
    bool covered = RibbonAt(x, y, s->light, out);
    ThreadAt(x, y, covered, out);
    if (s->shadow[at]) // the shadow's outer edge reaches past the margin
        *out = Shade(*out, 0.84);
}

void DrawMark(int scale, ClipPictures *out)
{
    MarkScene scene;
    SetUpMark(&scene, scale);
    std::vector<Bytes> frames(kMarkFrames);
    for (int i = 0; i < kMarkFrames; i++) {
        // From end to end once a loop; at both ends the ribbon is thin, so the
        // jump back is no bigger a change than a step.
        scene.light = kLightFrom + (i + 0.5) * (kLightTo - kLightFrom) / kMarkFrames;
        Render(kMarkW, kMarkH, scale, ShadeMark, &scene, &frames[i]);
    }
    const uint32_t forced[] = {Pack(kDialog), Pack(kWordTop), Pack(kWordBottom), Pack(kWordShadow)};
    Reduce(kMarkW * scale, kMarkH * scale, 200000, frames, forced, 4, 256, out);
}

// ---------------------------------------------------------------------------
// Clip 102: a sheet of paper flying from one folder to another.

const int kCopyW = 260, kCopyH = 40, kCopyFrames = 17;
const double kFolderLeft[2] = {8.0, 214.0}; // left edges of the two folders
const double kFolderBottom = 37.0;

const Rgb kFolderLine = {136, 96, 24};
const Rgb kFolderBack = {228, 178, 60};
const Rgb kFolderFront = {252, 218, 116};
const Rgb kPaper = {255, 255, 255};
const Rgb kPaperLine = {112, 112, 116};
const Rgb kPaperFold = {208, 208, 212};
const Rgb kInk = {80, 104, 168};
const Rgb kGroundShadow = {184, 180, 172};

struct CopyScene {
    double px, py, angle; // flying sheet centre and tilt
};

// Back panel with its tab and the sheets kept inside.
void PaintFolderBack(double left, double x, double y, Rgb *c)
{
    const double b = kFolderBottom;
    const Vec tab[] = {{left, b - 24}, {left + 1.5, b - 27}, {left + 11, b - 27}, {left + 13.5, b - 24}};
    const Vec back[] = {{left, b - 25}, {left + 34, b - 25}, {left + 34, b}, {left, b}};
    const Vec sheets[] = {{left + 5, b - 21}, {left + 29, b - 21}, {left + 29, b}, {left + 5, b}};
    PaintPolygon(tab, 4, x, y, kFolderBack, kFolderLine, 1.0, c);
    PaintPolygon(back, 4, x, y, kFolderBack, kFolderLine, 1.0, c);
    PaintPolygon(sheets, 4, x, y, kPaper, kPaperLine, 1.0, c);
}

// Front flap, leaning forward as an open folder's does.
void PaintFolderFront(double left, double x, double y, Rgb *c)
{
    const double b = kFolderBottom;
    const Vec flap[] = {{left + 5, b - 17}, {left + 39, b - 17}, {left + 34, b}, {left, b}};
    PaintPolygon(flap, 4, x, y, kFolderFront, kFolderLine, 1.0, c);
}

// The sheet in its own coordinates: 12 by 15 with a folded top-right corner
// and three lines of writing.
void PaintSheet(const CopyScene *s, double x, double y, bool shadowOnly, Rgb *c)
{
    const double hw = 6.0, hh = 7.5, fold = 4.0;
    double dx = x - s->px, dy = y - s->py;
    if (shadowOnly) {
        dx -= 1.5;
        dy -= 2.0;
    }
    double cs = std::cos(s->angle), sn = std::sin(s->angle);
    double u = dx * cs + dy * sn, v = -dx * sn + dy * cs;
    const Vec outline[] = {{-hw, -hh}, {hw - fold, -hh}, {hw, -hh + fold}, {hw, hh}, {-hw, hh}};
    if (shadowOnly) {
        if (ConvexDepth(outline, 5, u, v) >= 0.0)
            *c = Shade(*c, 0.86);
        return;
    }
    if (!PaintPolygon(outline, 5, u, v, kPaper, kPaperLine, 0.9, c))
        return;
    const Vec flap[] = {{hw - fold, -hh}, {hw, -hh + fold}, {hw - fold, -hh + fold}};
    PaintPolygon(flap, 3, u, v, kPaperFold, kPaperLine, 0.8, c);
    static const double lineEnd[] = {0.5, 3.5, 1.5};
    for (int i = 0; i < 3; i++) {
        double ly = -hh + 5.5 + 3.0 * i;
        if (std::fabs(v - ly) <= 0.6 && u >= -hw + 2.5 && u <= lineEnd[i])
            *c = kInk;
    }
}

void ShadeCopy(const void *scene, double x, double y, Rgb *out)
{
    const CopyScene *s = (const CopyScene *)scene;
    Rgb c = kDialog;
    for (int f = 0; f < 2; f++) {
        double cx = kFolderLeft[f] + 19.0, rx = (x - cx) / 22.0, ry = (y - kFolderBottom) / 2.2;
        if (rx * rx + ry * ry <= 1.0)
            c = kGroundShadow;
    }
    PaintSheet(s, x, y, true, &c);
    for (int f = 0; f < 2; f++)
        PaintFolderBack(kFolderLeft[f], x, y, &c);
    PaintSheet(s, x, y, false, &c);
    for (int f = 0; f < 2; f++)
        PaintFolderFront(kFolderLeft[f], x, y, &c);
    *out = c;
}

void DrawCopy(int scale, ClipPictures *out)
{
    std::vector<Bytes> frames(kCopyFrames);
    const double x0 = kFolderLeft[0] + 19.0, x1 = kFolderLeft[1] + 19.0;
    const double y0 = 24.0, peak = 14.5;
    // One flight per loop: the last frame has the sheet sinking into the right
    // folder and the first has the next one rising out of the left.
    for (int i = 0; i < kCopyFrames; i++) {
        // Eased so the sheet lifts off and settles instead of jumping.
        double t = (double)i / kCopyFrames;
        double e = t - std::sin(2 * kPi * t) / (2 * kPi) * 0.6;
        CopyScene s;
        s.px = x0 + (x1 - x0) * e;
        s.py = y0 - peak * 4.0 * e * (1.0 - e);
        double slope = -peak * 4.0 * (1.0 - 2.0 * e) / (x1 - x0);
        s.angle = std::atan(slope) * 1.2 + 0.08 * std::sin(4 * kPi * e);
        Render(kCopyW, kCopyH, scale, ShadeCopy, &s, &frames[i]);
    }
    const uint32_t forced[] = {Pack(kDialog), Pack(kFolderLine), Pack(kFolderBack), Pack(kFolderFront),
                               Pack(kPaper), Pack(kPaperLine), Pack(kInk), Pack(kGroundShadow)};
    Reduce(kCopyW * scale, kCopyH * scale, 100000, frames, forced, 8, 16, out);
}

// ---------------------------------------------------------------------------
// Clip 109: a magnifying glass sweeping over a page of text.

const int kFindW = 80, kFindH = 48, kFindFrames = 29;
const double kPageL = 12, kPageT = 3, kPageR = 50, kPageB = 46, kPageFold = 6;
const double kLensR = 9.5, kMagnify = 1.7;

const Rgb kPageEdge = {128, 128, 132};
const Rgb kText = {88, 90, 100};
const Rgb kTitle = {40, 84, 168};
const Rgb kRim = {56, 60, 70};
const Rgb kHandle = {70, 44, 30};
const Rgb kPageShadow = {168, 164, 156};

struct FindScene {
    double cx, cy; // lens centre
};

// Word lengths in pixels for each line, two pixels apart; zero ends a line.
const int kWords[7][6] = {
    {6, 4, 9, 5, 0, 0}, {3, 8, 5, 7, 0, 0}, {7, 5, 4, 6, 0, 0}, {5, 9, 3, 0, 0, 0},
    {8, 4, 6, 5, 0, 0}, {4, 6, 8, 3, 0, 0}, {9, 5, 0, 0, 0, 0},
};

// The page on its own, without the glass.
Rgb PageAt(double x, double y)
{
    const Vec page[] = {{kPageL, kPageT}, {kPageR - kPageFold, kPageT}, {kPageR, kPageT + kPageFold}, {kPageR, kPageB},
                        {kPageL, kPageB}};
    Rgb c = kDialog;
    const Vec shadow[] = {{kPageL + 2, kPageT + 2}, {kPageR + 2 - kPageFold, kPageT + 2}, {kPageR + 2, kPageT + 2 + kPageFold},
                          {kPageR + 2, kPageB + 2}, {kPageL + 2, kPageB + 2}};
    if (ConvexDepth(shadow, 5, x, y) >= 0.0)
        c = kPageShadow;
    if (!PaintPolygon(page, 5, x, y, kPaper, kPageEdge, 1.0, &c))
        return c;
    const Vec fold[] = {{kPageR - kPageFold, kPageT}, {kPageR, kPageT + kPageFold}, {kPageR - kPageFold, kPageT + kPageFold}};
    if (PaintPolygon(fold, 3, x, y, kPaperFold, kPageEdge, 1.0, &c))
        return c;
    if (y >= kPageT + 4 && y < kPageT + 6 && x >= kPageL + 4 && x < kPageL + 20)
        return kTitle;
    for (int line = 0; line < 7; line++) {
        double top = kPageT + 10 + 4 * line;
        if (y < top || y >= top + 2)
            continue;
        double wx = kPageL + 4;
        for (int w = 0; w < 6 && kWords[line][w]; w++) {
            if (x >= wx && x < wx + kWords[line][w])
                return kText;
            wx += kWords[line][w] + 2;
        }
    }
    return c;
}

void ShadeFind(const void *scene, double x, double y, Rgb *out)
{
    const FindScene *s = (const FindScene *)scene;
    const double dir = std::sqrt(0.5); // handle points down and right
    Vec grip0 = {s->cx + dir * (kLensR + 1.0), s->cy + dir * (kLensR + 1.0)};
    Vec grip1 = {s->cx + dir * (kLensR + 11.0), s->cy + dir * (kLensR + 11.0)};
    double dx = x - s->cx, dy = y - s->cy, r = std::sqrt(dx * dx + dy * dy);

    Rgb c = PageAt(x, y);
    // Shadow of the glass, cast down and to the right.
    double sdx = dx - 2.0, sdy = dy - 2.5;
    Vec sg0 = {grip0.x + 2.0, grip0.y + 2.5}, sg1 = {grip1.x + 2.0, grip1.y + 2.5};
    if (std::sqrt(sdx * sdx + sdy * sdy) <= kLensR + 2.0 || SegmentDistance(sg0, sg1, x, y) <= 2.2)
        c = Shade(c, 0.82);

    // Handle: a metal collar by the rim, then the grip with a lit edge.
    double hd = SegmentDistance(grip0, grip1, x, y);
    if (hd <= 2.2) {
        double along = ((x - grip0.x) * dir + (y - grip0.y) * dir);
        double side = (x - grip0.x) * dir - (y - grip0.y) * dir; // < 0: upper right side
        if (along < 3.0)
            c = MakeRgb(150, 154, 164);
        else
            c = side < -0.6 ? MakeRgb(138, 94, 64) : kHandle;
    }

    if (r <= kLensR) {
        // Through the glass: the page enlarged about the lens centre, tinted.
        Rgb seen = PageAt(s->cx + dx / kMagnify, s->cy + dy / kMagnify);
        c = Mix(seen, MakeRgb(190, 220, 255), 0.14);
        // A crescent of reflected light at the upper left.
        double gx = dx + 2.2, gy = dy + 2.2;
        if (r >= kLensR * 0.62 && std::sqrt(gx * gx + gy * gy) >= kLensR * 0.75 && dx < 0.0 && dy < 0.0)
            c = Mix(c, MakeRgb(255, 255, 255), 0.8);
    } else if (r <= kLensR + 2.0) {
        // Rim, lit from the upper left.
        double lit = std::max(0.0, -(dx + dy) / (r * std::sqrt(2.0)));
        c = Mix(kRim, MakeRgb(176, 180, 190), lit * lit);
    }
    *out = c;
}

void DrawFind(int scale, ClipPictures *out)
{
    std::vector<Bytes> frames(kFindFrames);
    for (int i = 0; i < kFindFrames; i++) {
        double a = 2 * kPi * i / kFindFrames; // one turn of an ellipse per loop
        FindScene s = {31.0 - 9.0 * std::cos(a), 22.0 - 7.0 * std::sin(a)};
        Render(kFindW, kFindH, scale, ShadeFind, &s, &frames[i]);
    }
    const uint32_t forced[] = {Pack(kDialog), Pack(kPaper), Pack(kPageEdge), Pack(kText), Pack(kTitle),
                               Pack(kRim),    Pack(kHandle), Pack(kPageShadow)};
    Reduce(kFindW * scale, kFindH * scale, 166666, frames, forced, 8, 17, out);
}

} // namespace

bool DrawClip(int resourceId, ClipPictures *out)
{
    // The double-size drawings carry the id of their clip plus 100.
    const int scale = resourceId > 200 ? 2 : 1;
    switch (resourceId - 100 * (scale - 1)) {
    case 102:
        DrawCopy(scale, out);
        return true;
    case 107:
        DrawMark(scale, out);
        return true;
    case 109:
        DrawFind(scale, out);
        return true;
    }
    return false;
}
