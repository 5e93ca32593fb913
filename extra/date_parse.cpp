#include "extra/date_parse.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace {

struct Name {
    const char *text;  // the first three letters, lower case
    int value;
    const char *full = nullptr;  // the whole name, lower case, for a day or month
};

constexpr Name kDays[] = {{"sun", 0, "sunday"},   {"mon", 1, "monday"}, {"tue", 2, "tuesday"},
                          {"wed", 3, "wednesday"}, {"thu", 4, "thursday"}, {"fri", 5, "friday"},
                          {"sat", 6, "saturday"}};
constexpr Name kMonths[] = {{"jan", 0, "january"}, {"feb", 1, "february"}, {"mar", 2, "march"},
                            {"apr", 3, "april"},   {"may", 4, "may"},      {"jun", 5, "june"},
                            {"jul", 6, "july"},    {"aug", 7, "august"},   {"sep", 8, "september"},
                            {"oct", 9, "october"}, {"nov", 10, "november"}, {"dec", 11, "december"}};
// Zones with their offsets in minutes east of GMT.
constexpr Name kZones[] = {{"pst", -480}, {"pdt", -420}, {"mst", -420}, {"mdt", -360},
                           {"cst", -360}, {"cdt", -300}, {"est", -300}, {"edt", -240},
                           {"ast", -240}, {"nst", -210}, {"gmt", 0},    {"bst", 60},
                           {"met", 60},   {"eet", 120},  {"jst", 540}};
constexpr int kGmt = 10;  // index of "gmt" in kZones
static_assert(kZones[kGmt].value == 0 && kZones[kGmt].text[0] == 'g');
constexpr int kUnset = -1;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_word_end(char c) { return c == '\0' || strchr(" \t,;-+/()[]", c) != nullptr; }
bool is_separator(char c) { return c != '\0' && strchr(" \t,;/()[]", c) != nullptr; }

// The slots of one text, filled as the scan finds them.
struct Fields {
    std::optional<int> weekday;
    std::optional<int> month;  // 0-11
    int zone = kUnset;         // index into kZones; kGmt for "UT" and numeric offsets
    int zone_offset = kUnset;  // minutes east; -1 is also what an offset of -1 gives
    int day = kUnset;
    int year = kUnset;
    int hour = kUnset;
    int minute = kUnset;
    int second = kUnset;
    // Items no rule took whole: words skipped, and items whose slot was
    // already filled. Only scan_time_text reports them.
    std::vector<std::string_view> unread;
};

// One left-to-right scan. Reads go through at(), which gives NUL past the
// end, so no rule can read beyond the text whatever lengths it looks ahead.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    Fields scan() {
        size_t pos = 0;
        // An item at a separator is none; skipping them first changes no slot.
        while (is_separator(at(pos))) ++pos;
        while (at(pos) != '\0') {
            const size_t start = pos;
            used_ = false;
            pos = item(pos);
            const bool whole = used_ && is_word_end(at(pos));
            while (!is_word_end(at(pos))) ++pos;
            if (!whole) f_.unread.push_back(text_.substr(start, pos - start));
            for (;;) {
                while (is_separator(at(pos))) ++pos;
                // A '-' after the year, before a digit, starts an offset.
                if (at(pos) != '-' || (f_.year != kUnset && is_digit(at(pos + 1)))) break;
                ++pos;
            }
        }
        return f_;
    }

  private:
    char at(size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }

    size_t digits_at(size_t pos) const {
        size_t n = 0;
        while (is_digit(at(pos + n))) ++n;
        return n;
    }

    // The value of n (at most 4) digits at pos.
    int number(size_t pos, size_t n) const {
        int value = 0;
        for (size_t i = 0; i < n; ++i) value = value * 10 + (at(pos + i) - '0');
        return value;
    }

    // Handles the item at pos; returns the position after what it consumed,
    // pos itself when the item is left for the word skipping. used_ tells
    // whether it filled a slot.
    size_t item(size_t pos) {
        char c = at(pos);
        if (is_alpha(c)) return name(pos);
        if (is_digit(c)) return digits(pos);
        if (c == '+' || c == '-') return offset(pos);
        return pos;
    }

    bool matches(size_t pos, const char *name) const {
        for (size_t i = 0; i < 3; ++i) {
            if (lower(at(pos + i)) != name[i]) return false;
        }
        return true;
    }

    template <size_t N>
    int lookup(size_t pos, const Name (&names)[N]) const {
        for (size_t i = 0; i < N; ++i) {
            if (matches(pos, names[i].text)) return static_cast<int>(i);
        }
        return kUnset;
    }

    // Whether the letters at pos are name's three or its whole name.
    bool is_name_word(size_t pos, const Name &name) const {
        size_t n = 0;
        while (is_alpha(at(pos + n))) ++n;
        if (n == 3) return true;
        if (name.full == nullptr || n != std::strlen(name.full)) return false;
        for (size_t i = 0; i < n; ++i) {
            if (lower(at(pos + i)) != name.full[i]) return false;
        }
        return true;
    }

    // A name is matched by its first three letters; used_ only for the
    // abbreviation or the whole name. Returns past the name when used.
    size_t name(size_t pos) {
        size_t length = 3;
        if (int i = lookup(pos, kDays); i != kUnset) {
            used_ = !f_.weekday && is_name_word(pos, kDays[i]);
            if (!f_.weekday) f_.weekday = kDays[i].value;
        } else if (int m = lookup(pos, kMonths); m != kUnset) {
            used_ = !f_.month && is_name_word(pos, kMonths[m]);
            if (!f_.month) f_.month = kMonths[m].value;
        } else if (f_.zone == kUnset) {
            if (int z = lookup(pos, kZones); z != kUnset) {
                f_.zone = z;
                used_ = !is_alpha(at(pos + 3));
            } else if (lower(at(pos)) == 'u' && lower(at(pos + 1)) == 't' &&
                       !is_alpha(at(pos + 2))) {
                f_.zone = kGmt;
                used_ = true;
                length = 2;
            }
        }
        if (!used_) return pos;
        while (is_alpha(at(pos + length))) ++length;
        return pos + length;
    }

    // A sign and the hhmm, hh or h after it. The sign is always consumed;
    // the digits are left to the word skipping.
    size_t offset(size_t pos) {
        int sign = at(pos) == '+' ? 1 : -1;
        size_t start = pos + 1;
        if (f_.zone_offset >= 0 || (f_.zone != kUnset && f_.zone != kGmt)) return start;
        size_t n = digits_at(start);
        int minutes;
        if (n == 4) {
            minutes = number(start, 2) * 60 + number(start + 2, 2);
        } else if (n == 2 || n == 1) {
            minutes = number(start, n) * 60;
        } else {
            return start;
        }
        // A second offset replaces a negative first one (whose value reads
        // as unset), and hours past 23 or minutes past 59 are taken as they
        // come: neither is a whole item.
        used_ = f_.zone_offset == kUnset && number(start, n == 4 ? 2 : n) <= 23 &&
                (n != 4 || number(start + 2, 2) <= 59);
        f_.zone_offset = sign * minutes;
        f_.zone = kGmt;
        return start + n;
    }

    size_t digits(size_t pos) {
        size_t n = digits_at(pos);
        char after = at(pos + n);
        if (after == ':') return clock(pos, n);
        if ((after == '/' || after == '-') && is_digit(at(pos + n + 1))) return date(pos, n);
        lone_number(pos, n, after);
        return used_ ? pos + n : pos;
    }

    // h:mm or h:mm:ss with an optional am/pm after blanks.
    size_t clock(size_t pos, size_t n) {
        if (f_.hour > 0 && f_.minute > 0) return pos;
        const bool first = f_.hour == kUnset;
        if (n > 2) return pos;
        int hour = number(pos, n);
        size_t end = pos + n + 1;
        size_t mn = digits_at(end);
        if (mn == 0 || mn > 2) return pos;
        int minute = number(end, mn);
        end += mn;
        int second = kUnset;
        if (at(end) == ':') {
            size_t sn = digits_at(end + 1);
            if (sn > 2) return pos;
            if (sn > 0) {
                second = number(end + 1, sn);
                end += 1 + sn;
            }
        }
        size_t after = end;
        if (hour <= 12) {
            size_t marker = end;
            while (is_blank(at(marker))) ++marker;
            char a = lower(at(marker));
            if (lower(at(marker + 1)) == 'm') {
                if (a == 'p' && hour != 12) hour += 12;
                if (a == 'a' && hour == 12) hour = 0;
                // A marker that is a word of its own is part of the clock.
                if ((a == 'a' || a == 'p') && !is_alpha(at(marker + 2))) after = marker + 2;
            }
        }
        f_.hour = hour;
        f_.minute = minute;
        if (second != kUnset) f_.second = second;
        used_ = first;
        return after;
    }

    // Each fills its slot once; used_ only when it did.
    void set_day(int day) {
        used_ = f_.day == kUnset;
        if (f_.day == kUnset) f_.day = day;
    }
    void set_year(int year) {
        used_ = f_.year == kUnset;
        if (f_.year == kUnset) f_.year = year;
    }

    // x/y/z with '/' or '-' between the fields; a text that does not have
    // that form leaves its first number to the word skipping.
    size_t date(size_t pos, size_t n) {
        if (f_.month) return pos;
        if (n > 2) return pos;
        size_t ypos = pos + n + 1;
        size_t yn = digits_at(ypos);
        if (yn == 0 || yn > 2) return pos;
        char sep = at(ypos + yn);
        if (sep != '/' && sep != '-') return pos;
        size_t zpos = ypos + yn + 1;
        size_t zn = digits_at(zpos);
        if (zn == 0 || zn > 4 || is_alpha(at(zpos + zn))) return pos;
        size_t end = zpos + zn;
        int x = number(pos, n), y = number(ypos, yn), z = number(zpos, zn);
        if (x > 70) {
            if (y > 12 || z > 31) return pos;
            set_year(x + 1900);
            const bool year_set = used_;
            f_.month = y - 1;
            set_day(z);
            used_ = used_ && year_set;
            return end;
        }
        if ((z >= 31 && z <= 69) || (x > 12 && y > 12)) return end;
        set_year(z < 29 ? 2000 + z : z < 1900 ? 1900 + z : z);
        const bool year_set = used_;
        if (x > 12) {
            set_day(x);
            f_.month = y - 1;
        } else {
            f_.month = x - 1;
            set_day(y);
        }
        used_ = used_ && year_set;
        return end;
    }

    void lone_number(size_t pos, size_t n, char after) {
        if (is_alpha(after)) return;
        if (n == 4) {
            set_year(number(pos, n));
        } else if (n == 2) {
            int value = number(pos, n);
            if (f_.day == kUnset && value < 32) {
                set_day(value);
            } else {
                set_year(value < 70 ? 2000 + value : 1900 + value);
            }
        } else if (n == 1) {
            set_day(number(pos, n));
        }
    }

    std::string_view text_;
    Fields f_;
    bool used_ = false;
};

}  // namespace

time_t ZEZ_ParseTimeString(const char *text, int default_to_gmt) {
    assert(text != nullptr);
    Fields f = Scanner(text).scan();
    if (f.zone != kUnset && f.zone_offset == kUnset) f.zone_offset = kZones[f.zone].value;
    if (!f.month || f.day == kUnset || f.year == kUnset) return 0;

    struct tm tm;
    memset(&tm, 0, sizeof tm);
    if (f.second != kUnset) tm.tm_sec = f.second;
    if (f.minute != kUnset) tm.tm_min = f.minute;
    if (f.hour != kUnset) tm.tm_hour = f.hour;
    tm.tm_mday = f.day;
    tm.tm_mon = *f.month;
    tm.tm_year = f.year - 1900;
    if (f.weekday) tm.tm_wday = *f.weekday;
    tm.tm_isdst = -1;

    // Fields read as local time are the only ones that depend on the local
    // zone, and mktime alone knows its summer time and past offsets.
    if (f.zone == kUnset && default_to_gmt == 0) {
        time_t local = mktime(&tm);
        return local == static_cast<time_t>(-1) ? 0 : local;
    }
    // A zone or an offset names one instant: the fields read as GMT, less
    // the offset. timegm normalises fields out of range as mktime would.
    const int offset = f.zone == kUnset ? 0 : f.zone_offset;
    time_t gmt = timegm(&tm);
    if (gmt == static_cast<time_t>(-1)) return 0;
    return gmt - static_cast<time_t>(offset) * 60;
}

void vel_str2time(const char *text, time_t *result) { *result = ZEZ_ParseTimeString(text, 1); }

TimeTextFields scan_time_text(std::string_view text) {
    const Fields f = Scanner(text).scan();
    TimeTextFields out;
    out.year = f.year;
    out.month = f.month ? *f.month + 1 : kUnset;
    out.day = f.day;
    out.hour = f.hour;
    out.minute = f.minute;
    out.second = f.second;
    out.weekday = f.weekday.value_or(kUnset);
    out.zone = f.zone != kUnset;
    if (out.zone) out.offset_minutes = f.zone_offset != kUnset ? f.zone_offset : kZones[f.zone].value;
    out.unread = f.unread;
    return out;
}
