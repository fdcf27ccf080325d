// Reads the structure of an AVI clip held in memory and decodes its RLE8
// frames, so tests can check the clips the DLL embeds and the files it is
// handed. Every read stays inside the given buffer.
#ifndef KIV_TEST_AVI_PARSE_H
#define KIV_TEST_AVI_PARSE_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct AviClipInfo {
    // Main header ('avih').
    uint32_t usPerFrame, totalFrames, streams, width, height, flags;
    // The first video stream ('strh'), or the first stream when none is video.
    char fccType[5], fccHandler[5]; // NUL-terminated
    uint32_t scale, rate, length;
    // Its format ('strf' BITMAPINFOHEADER); zero when the stream is not video.
    uint32_t bitCount, compression, clrUsed;
    // Frame chunks ('00dc' or '00db') in 'movi', and entries in 'idx1'.
    uint32_t moviFrames, idxEntries;
    // Every idx1 entry, its offset taken from the 'movi' list type, points at a
    // chunk with the id it names and the size it gives; false without entries.
    bool idxOffsetsValid;
    // Entries flagged as key frames (AVIIF_KEYFRAME), and whether the first is.
    uint32_t idxKeyFrames;
    bool idxFirstIsKey;
    bool hasAudio; // some stream header says 'auds'
};

// False on any structural error: bad RIFF header, a chunk running past its
// list, a missing or short 'avih', 'strh' or video 'strf', no 'movi', an
// 'idx1' that is not whole 16-byte entries.
bool AviParse(const unsigned char *data, size_t size, AviClipInfo *out);

// Decodes frame 'frame' (counting frame chunks in 'movi' from zero) of a
// BI_RLE8 clip over the picture in *pixels, width*height palette indices with
// rows bottom-up as stored, as the animation control draws a frame over the
// one before: pixels that the frame skips keep their value. A *pixels of any
// other size starts as all zero. False when the clip does not parse, is not
// 8-bit RLE, the frame does not exist, or its data is malformed or writes
// outside the picture.
bool AviDecodeRle8Frame(const unsigned char *data, size_t size, uint32_t frame, std::vector<uint8_t> *pixels);

// The video stream's palette, clrUsed entries as 0x00RRGGBB; false when the
// clip does not parse or its format is too short to hold them.
bool AviPalette(const unsigned char *data, size_t size, std::vector<uint32_t> *palette);

#endif
