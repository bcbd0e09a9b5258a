// HTTP time texts without strftime/strptime, whose names follow LC_TIME.
#include "http/response_time.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace hx {

namespace {

const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

// A day or month name, short (three letters) or full; its index, or -1.
int match_name(const char*& p, const char* end, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        const size_t full = std::strlen(names[i]);
        if (static_cast<size_t>(end - p) >= full && strncasecmp(p, names[i], full) == 0) {
            p += full;
            return i;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (end - p >= 3 && strncasecmp(p, names[i], 3) == 0) {
            p += 3;
            return i;
        }
    }
    return -1;
}

void skip_spaces(const char*& p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) {
        ++p;
    }
}

// Up to `digits` decimal digits within [low, high], after optional spaces.
bool read_number(const char*& p, const char* end, int digits, int low, int high, int* out) {
    skip_spaces(p, end);
    int value = 0;
    int count = 0;
    while (p < end && count < digits && *p >= '0' && *p <= '9') {
        value = value * 10 + (*p - '0');
        ++p;
        ++count;
    }
    if (count == 0 || value < low || value > high) {
        return false;
    }
    *out = value;
    return true;
}

bool expect(const char*& p, const char* end, char c) {
    if (p < end && *p == c) {
        ++p;
        return true;
    }
    return false;
}

}  // namespace

void http_time_format(buffer* out, std::time_t t) {
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) {
        std::time_t epoch = 0;
        gmtime_r(&epoch, &tm);
    }
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.3s, %02d %.3s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                                     tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                                     tm.tm_sec);
    buffer_copy_string_len(out, text, static_cast<size_t>(length));
}

bool http_time_parse(const char* text, size_t length, std::time_t* out) {
    const char* p = text;
    const char* end = text + length;
    std::tm tm{};
    skip_spaces(p, end);
    if (match_name(p, end, kDays, 7) < 0 || !expect(p, end, ',')) {
        return false;
    }
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!read_number(p, end, 2, 1, 31, &day)) {
        return false;
    }
    skip_spaces(p, end);
    const int month = match_name(p, end, kMonths, 12);
    if (month < 0 || !read_number(p, end, 4, 0, 9999, &year) || !read_number(p, end, 2, 0, 23, &hour) ||
        !expect(p, end, ':') || !read_number(p, end, 2, 0, 59, &minute) || !expect(p, end, ':') ||
        !read_number(p, end, 2, 0, 61, &second)) {
        return false;
    }
    skip_spaces(p, end);
    if (end - p < 3 || p[0] != 'G' || p[1] != 'M' || p[2] != 'T') {
        return false;
    }
    tm.tm_mday = day;
    tm.tm_mon = month;
    tm.tm_year = year - 1900;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = 0;
    *out = timegm(&tm);
    return true;
}

}  // namespace hx
