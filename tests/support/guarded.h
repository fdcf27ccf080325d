// Caller memory that catches a library reading or writing where it must not:
// each block ends right against a no-access page, so a read or write one byte
// past it faults at once instead of passing unnoticed.
#ifndef KIV_TEST_GUARDED_H
#define KIV_TEST_GUARDED_H

#include <windows.h>

#include <cstddef>
#include <string>

// A zero-terminated text whose terminator is the last readable byte; the
// text's pages are read-only, so a write into the caller's text faults too.
class GuardedText {
public:
    explicit GuardedText(const std::string &text);
    ~GuardedText();
    GuardedText(const GuardedText &) = delete;
    GuardedText &operator=(const GuardedText &) = delete;
    const char *get() const { return text_; }

private:
    char *base_ = nullptr;
    char *text_ = nullptr;
};

// A writable buffer of `size` bytes whose last byte is the last writable one.
// Every byte of its page in front of the buffer holds a canary that a write
// before the buffer would change.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size, char fill = '\x5a');
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;
    char *get() const { return data_; }
    size_t size() const { return size_; }
    // True while every canary byte in front of the buffer is as written.
    bool canariesIntact() const;

private:
    char *base_ = nullptr;
    char *data_ = nullptr;
    size_t size_ = 0;
};

// The same check the soak and the bad-input rows make after each call.
bool ProcessHeapValid();

#endif
