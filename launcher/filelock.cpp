#include "filelock.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef _WIN32

FileLock::FileLock(const std::string &path)
{
    // No sharing: while the handle is open, every other open of the file fails.
    const HANDLE handle = CreateFileW(std::filesystem::u8path(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_status = GetLastError() == ERROR_SHARING_VIOLATION ? HeldElsewhere : Unavailable;
        return;
    }
    m_handle = handle;
    m_status = Held;
}

FileLock::~FileLock()
{
    if (m_handle)
        CloseHandle(m_handle);
}

#else

FileLock::FileLock(const std::string &path)
{
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_status = errno == EWOULDBLOCK ? HeldElsewhere : Unavailable;
        close(m_fd);
        m_fd = -1;
        return;
    }
    m_status = Held;
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        close(m_fd);
}

#endif
