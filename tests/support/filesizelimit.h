#pragma once

#include <sys/resource.h>

#include <csignal>
#include <optional>

// Limits the size of files this process may write, as a filling disk would, for as long as it
// lives. It binds root too, where a read-only folder would not stop a write. Writes past the
// limit fail instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_ok = getrlimit(RLIMIT_FSIZE, &m_saved) == 0;
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        m_ok = m_ok && setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return m_ok; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_ok = false;
};

// Whether write() reported success with files limited to bytes; none when no limit could be set.
template <typename Write> std::optional<bool> writtenUnder(rlim_t bytes, Write write)
{
    const FileSizeLimit limit(bytes);
    return limit.active() ? std::optional<bool>(write()) : std::nullopt;
}
