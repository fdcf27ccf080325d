#include "guarded.h"

#include <cstring>

namespace {

const char CANARY = '\xa5';

size_t PageSize()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// Pages enough for `bytes`, plus one more that is left without access.
char *AllocateAgainstGuard(size_t bytes, size_t *dataPages)
{
    size_t page = PageSize();
    *dataPages = (bytes + page - 1) / page;
    if (*dataPages == 0)
        *dataPages = 1;
    char *base = static_cast<char *>(
        VirtualAlloc(NULL, (*dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == NULL)
        return NULL;
    DWORD old = 0;
    VirtualProtect(base + *dataPages * page, page, PAGE_NOACCESS, &old);
    return base;
}

} // namespace

GuardedText::GuardedText(const std::string &text)
{
    size_t pages = 0;
    size_t bytes = text.size() + 1;
    base_ = AllocateAgainstGuard(bytes, &pages);
    if (base_ == NULL)
        return;
    text_ = base_ + pages * PageSize() - bytes;
    memcpy(text_, text.c_str(), bytes);
    DWORD old = 0;
    VirtualProtect(base_, pages * PageSize(), PAGE_READONLY, &old);
}

GuardedText::~GuardedText()
{
    if (base_ != NULL)
        VirtualFree(base_, 0, MEM_RELEASE);
}

GuardedBuffer::GuardedBuffer(size_t size, char fill) : size_(size)
{
    size_t pages = 0;
    base_ = AllocateAgainstGuard(size, &pages);
    if (base_ == NULL)
        return;
    data_ = base_ + pages * PageSize() - size;
    memset(base_, CANARY, data_ - base_);
    memset(data_, fill, size);
}

GuardedBuffer::~GuardedBuffer()
{
    if (base_ != NULL)
        VirtualFree(base_, 0, MEM_RELEASE);
}

bool GuardedBuffer::canariesIntact() const
{
    for (const char *p = base_; p < data_; p++)
        if (*p != CANARY)
            return false;
    return true;
}

bool ProcessHeapValid()
{
    return HeapValidate(GetProcessHeap(), 0, NULL) != FALSE;
}
