// Header text: the RFC 2047 encoder and decoder ("=?utf-8?B?" words) and
// the Content-ID percent-escape.
#pragma once

#include <cstddef>

enum {
    RFC2047_WORD_MAX = 75,   // longest encoded word
    // Bytes of text in a full encoded word: "=?utf-8?B?" + 60 base64
    // characters + "?=" is 72, so a word with the blank before it stays
    // within the 76 columns of a header line that holds encoded words.
    HDR_WORD_BYTES = 45,
};

// Header-text encoder: a copy of text when it is only printable ASCII and
// TAB, else hdr_encode_words of the whole text. NULL for NULL or no memory.
char *hdr_encode_text(const char *text);

// The one RFC 2047 encoder: len bytes of text (any bytes, NUL included) as
// "=?utf-8?B?" base64 "?=" words separated by single spaces, so header
// writers can fold at those spaces. Words are cut only between UTF-8
// characters (a byte that starts no well-formed sequence counts as one);
// the first word carries at most first_bytes bytes, every other at most
// HDR_WORD_BYTES (72 characters), and each at least one character. An
// empty text gives an empty text. A heap text, NULL when memory ran out.
char *hdr_encode_words(const char *text, size_t len, size_t first_bytes);

// The decoder of what hdr_encode_words makes: when text is only
// "=?utf-8?B?" base64 "?=" words (each at most RFC2047_WORD_MAX characters
// of whole base64 quads) separated by single spaces, *out gets a heap copy
// of the bytes they carry (NUL-terminated, *len bytes without it) and the
// result is 1. 0 (*out NULL) for any other text, -1 when memory ran out.
int hdr_decode_words(const char *text, char **out, size_t *len);

// Content-ID escape into out of size bytes: letters, digits, space and
// !$'()*+,-.;_ are kept, every other byte is "%" and two lower-case hex
// digits; an escape that would not fit is left out. Returns out.
char *mime_percent_escape(const char *text, char *out, size_t size);
