#include "avi_parse.h"

#include <cstring>

namespace {

uint32_t Le32(const unsigned char *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

bool IsId(const unsigned char *p, const char *id)
{
    return memcmp(p, id, 4) == 0;
}

struct Chunk {
    size_t pos;  // header
    size_t data; // first byte after the header
    uint32_t size;
};

// Reads the chunk at *pos within [*pos, end) and moves *pos past it and its
// pad byte. Returns 1 for a chunk, 0 at the end, -1 when it does not fit. A
// missing pad byte after the last chunk of a list is tolerated.
int NextChunk(const unsigned char *data, size_t *pos, size_t end, Chunk *c)
{
    if (*pos >= end)
        return 0;
    if (end - *pos < 8)
        return -1;
    uint32_t size = Le32(data + *pos + 4);
    if (size > end - *pos - 8)
        return -1;
    c->pos = *pos;
    c->data = *pos + 8;
    c->size = size;
    *pos = c->data + size;
    if ((size & 1) && *pos < end)
        (*pos)++;
    return 1;
}

bool IsList(const unsigned char *data, const Chunk &c, const char *type)
{
    return IsId(data + c.pos, "LIST") && c.size >= 4 && IsId(data + c.data, type);
}

struct Layout {
    size_t moviType, moviEnd; // the 'movi' list type field, end of the list
    size_t strfData;          // the chosen stream's format, 0 if none
    uint32_t strfSize;
    char frameId[3];          // stream number of the chosen stream, "00".."99"
};

// Walks 'movi' (and 'rec ' lists in it) counting the chosen stream's frame
// chunks. With want < count so far reached, stores that chunk and returns 1.
// Returns 0 when the walk ends, -1 on a structural error.
int WalkFrames(const unsigned char *data, size_t begin, size_t end, const char *frameId, uint32_t want,
               uint32_t *count, Chunk *found)
{
    size_t pos = begin;
    Chunk c;
    int r;
    while ((r = NextChunk(data, &pos, end, &c)) == 1) {
        if (IsList(data, c, "rec ")) {
            int inner = WalkFrames(data, c.data + 4, c.data + c.size, frameId, want, count, found);
            if (inner != 0)
                return inner;
            continue;
        }
        const unsigned char *id = data + c.pos;
        bool frame = id[0] == frameId[0] && id[1] == frameId[1] && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
        if (!frame)
            continue;
        if (*count == want) {
            *found = c;
            return 1;
        }
        (*count)++;
    }
    return r;
}

// Reads one 'strl' list; returns false when its 'strh' is missing or short.
bool ReadStream(const unsigned char *data, const Chunk &strl, char *type, Chunk *strh, Chunk *strf)
{
    size_t pos = strl.data + 4;
    Chunk c;
    bool haveStrh = false;
    strf->size = 0;
    strf->data = 0;
    int r;
    while ((r = NextChunk(data, &pos, strl.data + strl.size, &c)) == 1) {
        if (IsId(data + c.pos, "strh") && !haveStrh) {
            if (c.size < 48)
                return false;
            *strh = c;
            haveStrh = true;
            memcpy(type, data + c.data, 4);
            type[4] = '\0';
        } else if (IsId(data + c.pos, "strf") && strf->data == 0) {
            *strf = c;
        }
    }
    return r == 0 && haveStrh;
}

bool ReadHeaders(const unsigned char *data, const Chunk &hdrl, AviClipInfo *info, Layout *lay)
{
    size_t pos = hdrl.data + 4;
    Chunk c, strh = {}, strf = {};
    bool haveAvih = false, chosenIsVideo = false;
    int streamIndex = 0, chosen = -1;
    int r;
    while ((r = NextChunk(data, &pos, hdrl.data + hdrl.size, &c)) == 1) {
        if (IsId(data + c.pos, "avih") && !haveAvih) {
            if (c.size < 56)
                return false;
            const unsigned char *p = data + c.data;
            info->usPerFrame = Le32(p);
            info->flags = Le32(p + 12);
            info->totalFrames = Le32(p + 16);
            info->streams = Le32(p + 24);
            info->width = Le32(p + 32);
            info->height = Le32(p + 36);
            haveAvih = true;
        } else if (IsList(data, c, "strl")) {
            char type[5];
            Chunk h = {}, f = {};
            if (!ReadStream(data, c, type, &h, &f))
                return false;
            bool video = strcmp(type, "vids") == 0;
            if (strcmp(type, "auds") == 0)
                info->hasAudio = true;
            if (chosen < 0 || (video && !chosenIsVideo)) {
                chosen = streamIndex;
                chosenIsVideo = video;
                strh = h;
                strf = f;
            }
            streamIndex++;
        }
    }
    if (r != 0 || !haveAvih || chosen < 0 || chosen > 99)
        return false;

    const unsigned char *h = data + strh.data;
    memcpy(info->fccType, h, 4);
    memcpy(info->fccHandler, h + 4, 4);
    info->fccType[4] = info->fccHandler[4] = '\0';
    info->scale = Le32(h + 20);
    info->rate = Le32(h + 24);
    info->length = Le32(h + 32);
    lay->frameId[0] = (char)('0' + chosen / 10);
    lay->frameId[1] = (char)('0' + chosen % 10);
    lay->frameId[2] = '\0';
    lay->strfData = 0;
    lay->strfSize = 0;
    if (chosenIsVideo) {
        if (strf.data == 0 || strf.size < 40)
            return false;
        const unsigned char *f = data + strf.data;
        info->bitCount = (uint32_t)f[14] | ((uint32_t)f[15] << 8);
        info->compression = Le32(f + 16);
        info->clrUsed = Le32(f + 32);
        lay->strfData = strf.data;
        lay->strfSize = strf.size;
    }
    return true;
}

bool CheckIndex(const unsigned char *data, const Chunk &idx1, const Layout &lay)
{
    if (idx1.size == 0)
        return false;
    for (uint32_t i = 0; i < idx1.size / 16; i++) {
        const unsigned char *e = data + idx1.data + 16 * (size_t)i;
        uint32_t offset = Le32(e + 8), length = Le32(e + 12);
        if (offset < 4 || offset > lay.moviEnd - lay.moviType || lay.moviEnd - lay.moviType - offset < 8)
            return false;
        size_t at = lay.moviType + offset;
        if (!IsId(data + at, (const char *)e) || Le32(data + at + 4) != length || length > lay.moviEnd - at - 8)
            return false;
    }
    return true;
}

bool ParseLayout(const unsigned char *data, size_t size, AviClipInfo *info, Layout *lay)
{
    memset(info, 0, sizeof(*info));
    if (!data || size < 12 || !IsId(data, "RIFF") || !IsId(data + 8, "AVI "))
        return false;
    uint32_t riffSize = Le32(data + 4);
    if (riffSize < 4 || riffSize > size - 8)
        return false;
    const size_t end = 8 + (size_t)riffSize;

    size_t pos = 12;
    Chunk c, idx1 = {};
    bool haveHdrl = false, haveMovi = false, haveIdx = false;
    int r;
    while ((r = NextChunk(data, &pos, end, &c)) == 1) {
        if (IsList(data, c, "hdrl") && !haveHdrl) {
            if (!ReadHeaders(data, c, info, lay))
                return false;
            haveHdrl = true;
        } else if (IsList(data, c, "movi") && !haveMovi) {
            lay->moviType = c.data;
            lay->moviEnd = c.data + c.size;
            haveMovi = true;
        } else if (IsId(data + c.pos, "idx1") && !haveIdx) {
            if (c.size % 16 != 0)
                return false;
            idx1 = c;
            haveIdx = true;
        }
    }
    if (r != 0 || !haveHdrl || !haveMovi)
        return false;

    Chunk unused;
    if (WalkFrames(data, lay->moviType + 4, lay->moviEnd, lay->frameId, UINT32_MAX, &info->moviFrames, &unused) < 0)
        return false;
    if (haveIdx) {
        info->idxEntries = idx1.size / 16;
        info->idxOffsetsValid = CheckIndex(data, idx1, *lay);
        for (uint32_t i = 0; i < info->idxEntries; i++) {
            bool key = (Le32(data + idx1.data + 16 * (size_t)i + 4) & 0x10) != 0; // AVIIF_KEYFRAME
            info->idxKeyFrames += key;
            info->idxFirstIsKey = info->idxFirstIsKey || (i == 0 && key);
        }
    }
    return true;
}

int32_t Signed32(const unsigned char *p)
{
    uint32_t v = Le32(p);
    return v <= 0x7FFFFFFFu ? (int32_t)v : -(int32_t)(0xFFFFFFFFu - v) - 1;
}

} // namespace

bool AviParse(const unsigned char *data, size_t size, AviClipInfo *out)
{
    Layout lay;
    return ParseLayout(data, size, out, &lay);
}

bool AviDecodeRle8Frame(const unsigned char *data, size_t size, uint32_t frame, std::vector<uint8_t> *pixels)
{
    AviClipInfo info;
    Layout lay;
    if (!ParseLayout(data, size, &info, &lay) || lay.strfData == 0)
        return false;
    if (info.compression != 1 || info.bitCount != 8)
        return false;
    // RLE pictures are bottom-up, so the height must be positive.
    int32_t width = Signed32(data + lay.strfData + 4), height = Signed32(data + lay.strfData + 8);
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return false;

    uint32_t count = 0;
    Chunk c;
    if (WalkFrames(data, lay.moviType + 4, lay.moviEnd, lay.frameId, frame, &count, &c) != 1)
        return false;

    const size_t w = (size_t)width, h = (size_t)height;
    if (pixels->size() != w * h)
        pixels->assign(w * h, 0);
    const unsigned char *p = data + c.data;
    const size_t n = c.size;
    size_t i = 0, x = 0, y = 0; // y counts rows from the bottom
    while (n - i >= 2) {
        unsigned a = p[i], b = p[i + 1];
        i += 2;
        if (a != 0) { // encoded run
            if (y >= h || a > w - x)
                return false;
            memset(&(*pixels)[y * w + x], (int)b, a);
            x += a;
        } else if (b == 0) { // end of line
            if (y >= h)
                return false;
            x = 0;
            y++;
        } else if (b == 1) { // end of bitmap
            return true;
        } else if (b == 2) { // delta
            if (n - i < 2)
                return false;
            x += p[i];
            y += p[i + 1];
            i += 2;
            if (x > w || y > h)
                return false;
        } else { // absolute run, padded to a word
            size_t padded = b + (b & 1);
            if (y >= h || b > w - x || n - i < padded)
                return false;
            memcpy(&(*pixels)[y * w + x], p + i, b);
            x += b;
            i += padded;
        }
    }
    return false; // no end of bitmap
}

bool AviPalette(const unsigned char *data, size_t size, std::vector<uint32_t> *palette)
{
    AviClipInfo info;
    Layout lay;
    if (!ParseLayout(data, size, &info, &lay) || lay.strfData == 0)
        return false;
    uint32_t header = Le32(data + lay.strfData);
    if (header < 40 || header > lay.strfSize || info.clrUsed > (lay.strfSize - header) / 4)
        return false;
    palette->clear();
    for (uint32_t i = 0; i < info.clrUsed; i++)
        palette->push_back(Le32(data + lay.strfData + header + 4 * (size_t)i) & 0xFFFFFF);
    return true;
}
