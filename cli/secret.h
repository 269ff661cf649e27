// Copies of texts that may hold a secret: the program's arguments (a -host:
// password), the text of a configuration file, decoded passwords. Their
// bytes are overwritten, every one of them (mem_wipe over the whole length),
// before the memory goes back to the heap; str_free_secret cannot do that
// here, since these texts may hold NUL bytes (line ends the configuration
// reader cuts, parts the dispatcher cuts off a word).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "support/str.h"

// Overwrites size bytes with zeros (the one wiper of the support library).
inline void cli_wipe(void *data, size_t size) { mem_wipe(data, size); }

// A heap text with its length (a NUL after it), wiped whole when it goes.
// Made with malloc, so a copy that cannot be made is an empty holder
// (ok() false) and never an exception.
class CliSecret {
public:
    CliSecret() = default;
    // A copy of len bytes of text.
    CliSecret(const char *text, size_t len) : data_(static_cast<char *>(malloc(len + 1))), size_(len)
    {
        if (data_) {
            memcpy(data_, text, len);
            data_[len] = 0;
        } else {
            size_ = 0;
        }
    }
    explicit CliSecret(const char *text) : CliSecret(text, strlen(text)) {}
    // Takes over a malloc'd text of len bytes plus its NUL (NULL: empty).
    static CliSecret adopt(char *text, size_t len)
    {
        CliSecret s;
        s.data_ = text;
        s.size_ = text ? len : 0;
        return s;
    }
    CliSecret(CliSecret &&other) noexcept : data_(other.data_), size_(other.size_)
    {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    CliSecret &operator=(CliSecret &&other) noexcept
    {
        if (this != &other) {
            release();
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    CliSecret(const CliSecret &) = delete;
    CliSecret &operator=(const CliSecret &) = delete;
    ~CliSecret() { release(); }

    bool ok() const { return data_ != nullptr; }
    char *data() { return data_; }
    const char *data() const { return data_; }
    size_t size() const { return size_; }

private:
    void release()
    {
        if (data_) {
            cli_wipe(data_, size_ + 1);
            free(data_);
        }
        data_ = nullptr;
        size_ = 0;
    }
    char *data_ = nullptr;
    size_t size_ = 0;
};
