// The one holder of texts that may hold a secret: the program's arguments
// (a -host: password), the text of a configuration file, decoded passwords,
// every SASL response and its base64 form. Its bytes are overwritten, every
// one of them (mem_wipe over the whole length), before the memory goes back
// to the heap; str_free_secret cannot do that for these texts, since they
// may hold NUL bytes (line ends the configuration reader cuts, parts the
// option dispatcher cuts off a word, the separators of AUTH PLAIN).
//
// One rule for memory: the holder never throws. A text that cannot be made
// leaves it empty (ok() false, resize() NULL); the caller turns that into
// its layer's out-of-memory signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/str.h"

// A heap text with its length and a NUL after it, wiped whole when it goes.
class SecretText {
public:
    SecretText() = default;
    // A copy of len bytes of text; empty when memory ran out.
    SecretText(const char *text, size_t len)
    {
        if (char *p = resize(len))
            memcpy(p, text, len);
    }
    explicit SecretText(const char *text) : SecretText(text, strlen(text)) {}
    // Takes over a malloc'd text of len bytes plus its NUL (NULL: empty).
    static SecretText adopt(char *text, size_t len)
    {
        SecretText s;
        s.data_ = text;
        s.size_ = text ? len : 0;
        return s;
    }
    SecretText(SecretText &&other) noexcept : data_(other.data_), size_(other.size_)
    {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    SecretText &operator=(SecretText &&other) noexcept
    {
        if (this != &other) {
            clear();
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText() { clear(); }

    // Wipes the old text and makes room for n bytes and a NUL, all zero.
    // The room, or NULL (the holder then empty) when memory ran out.
    char *resize(size_t n)
    {
        clear();
        data_ = n < SIZE_MAX ? static_cast<char *>(calloc(n + 1, 1)) : nullptr;
        if (data_)
            size_ = n;
        return data_;
    }
    // Wipes the text and frees it; the holder is empty afterwards.
    void clear()
    {
        if (data_) {
            mem_wipe(data_, size_ + 1);
            free(data_);
        }
        data_ = nullptr;
        size_ = 0;
    }

    bool ok() const { return data_ != nullptr; }
    char *data() { return data_; }
    const char *data() const { return data_; }
    size_t size() const { return size_; }

private:
    char *data_ = nullptr;
    size_t size_ = 0;
};
