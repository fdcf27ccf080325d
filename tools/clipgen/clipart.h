// clipart: the pictures of the three status window clips, drawn from code.
// clipgen codes them into AVI files; the clip tests compare what the embedded
// clips decode to with these same pictures.
#ifndef KIV_CLIPART_H
#define KIV_CLIPART_H

#include <cstdint>
#include <vector>

struct ClipPictures {
    int width, height;
    uint32_t usPerFrame;
    std::vector<uint32_t> palette;             // 0x00RRGGBB, as many entries as the clip declares
    std::vector<std::vector<uint8_t>> frames;  // palette indices, top row first
};

// The clip of resource 102, 107 or 109, or the same scene drawn at twice the
// scale for resource 202, 207 or 209 (for screens of twice the pixel density);
// false for any other id.
bool DrawClip(int resourceId, ClipPictures *out);

#endif
