#pragma once

#include <string>

// An exclusive lock on a file, taken once without waiting and held until the
// object goes; the system gives it up when its holder ends, even by a crash,
// so a lock is never left behind. Child processes do not inherit it.
class FileLock
{
public:
    enum Status {
        Held,
        HeldElsewhere,
        Unavailable // the file cannot be opened or locked at all
    };

    explicit FileLock(const std::string &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    Status status() const { return m_status; }

private:
    Status m_status = Unavailable;
#ifdef _WIN32
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
