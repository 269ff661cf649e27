// Small helpers: month and weekday names, the UTC calendar of a time value,
// UUID text to bytes, character-set tests, numbers in any base, a
// one-millisecond sleep, and a set of library helpers the program itself
// does not call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/hex.h"

const char *time_month_abbr(int month);     // 1..12, else ""
const char *time_weekday_abbr(int weekday); // 0..7 (0 and 7 Sunday), else ""
const char *time_month_name(int month);
const char *time_weekday_name(int weekday);
const char *time_weekday_short(int weekday);

struct tm;
// Broken-down UTC time of t into out; NULL when it has none.
struct tm *time_utc_calendar(int64_t t, struct tm *out);

// 1 and 16 bytes in text order, or 0 (out untouched) for a malformed text.
int str_parse_uuid(const char *text, unsigned char out[16]);

// 1 when each of the first n characters is in set (NULL: letters and
// digits); a text shorter than n fails; NULL text gives 0.
int str_all_in_set_n(const char *text, const char *set, long n);
int str_all_in_set(const char *text, const char *set);

enum { STR_U64_DIGITS_MAX = 65 }; // base 2 digits plus NUL

// Digits of value in base 2..36 (lower-case letters) into out.
char *str_u64_to_base(uint64_t value, int base, char *out);
char *str_u64_to_base_right(uint64_t value, int base, char *buf, size_t size);
char *str_i64_to_base_right(int64_t value, int base, char *buf, size_t size);

void sleep_1ms(void);

const char *num_ordinal_suffix(long n);
// date is YYYYMMDD (0 to 99999999); 0 and prev/next untouched outside that.
int date_neighbours(long date, char unit, long *prev, long *next);
char *str_random(char *buf, const char *set, long n);
char *str_unescape(char *text);
char *str_from_double(double v, char *buf, size_t size);
int int_pow(int base, int exponent);
int int_in_list(int value, ...);
int str_list_index(const char *text, const char *const *list);
char *str_html_escape(const char *text);
char *str_rot13(char *text);
uint16_t bswap16_at(const void *p);
uint32_t bswap32_at(const void *p);
uint64_t bswap64_at(const void *p);
void *bswap16_to(void *dst, uint16_t v);
void *bswap32_to(void *dst, uint32_t v);
void *bswap64_to(void *dst, uint64_t v);
void *lib_load(const char *name);
void *lib_symbol(void *lib, const char *name);
int lib_free(void *lib);
void mem_free(void *p);
