#pragma once

#include <sys/resource.h>

// While it lives, every write of this process fails past `bytes`, the way a
// full disk makes it fail.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();

    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved {};
    void (*m_previousHandler)(int) = nullptr;
};
