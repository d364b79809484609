// profile_text.cpp - reading and writing a profile's text (profile_text.h).
#include "profile_text.h"

#include <string.h>

namespace profiletext {

const char *const kControlNames[kControlCount] = {
    "A_GAIN",        "A_AUTOGAIN",   "D_GAIN",  "EXPOSURE", "AEC",
    "EXPOSURE2CTRL", "EXPOSURE2VAL", "FLIP",    "MIRROR",   "LEDCTRL",
    "STROBECTRL",    "STROBEINVERT", "VGA_FPS", "QVGA_FPS", "PRIVACY"};
const uint32_t kControlIds[kControlCount] = {300, 301, 302, 12,  13,  303, 304, 16,
                                             17,  29,  305, 306, 307, 308, 18};

namespace {

const char kHeader[] = "# vireoctl profile\n";
const size_t kQuoteLimit = 64;  // bytes of a file's text quoted in a message

// The length of the UTF-8 sequence at s (n bytes available) and its code
// point; 0 when it is not one: a stray or missing continuation byte, an
// overlong form, a surrogate, beyond U+10FFFF.
size_t Decode(const unsigned char *s, size_t n, uint32_t *code)
{
    const unsigned char c = s[0];
    size_t length;
    uint32_t value, least;
    if (c < 0x80) {
        *code = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        length = 2, value = c & 0x1Fu, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, value = c & 0x0Fu, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, value = c & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (n < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (s[i] & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return length;
}

bool IsControl(uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A piece of a line: [begin, end).
struct Span {
    const char *begin;
    const char *end;
    size_t Size() const { return static_cast<size_t>(end - begin); }
    Span Trimmed() const
    {
        Span s = *this;
        while (s.begin < s.end && IsBlank(*s.begin))
            ++s.begin;
        while (s.end > s.begin && IsBlank(s.end[-1]))
            --s.end;
        return s;
    }
    bool Is(const char *word) const  // case-insensitive
    {
        const size_t n = strlen(word);
        if (Size() != n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (Lower(begin[i]) != Lower(word[i]))
                return false;
        return true;
    }
};

// The message, built piece by piece, cut to its buffer at a character's end.
class Message {
public:
    explicit Message(Problem *problem) : m_text(problem->message), m_size(0) { m_text[0] = '\0'; }
    Message &operator<<(const char *text) { return Add(text, strlen(text), false); }
    // Text of the file: control characters shown as "?", cut to a few
    // dozen bytes.
    Message &Quote(Span s)
    {
        const bool cut = s.Size() > kQuoteLimit;
        Add(s.begin, cut ? kQuoteLimit : s.Size(), true);
        return cut ? *this << "..." : *this;
    }

private:
    Message &Add(const char *text, size_t n, bool quoted)
    {
        const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
        for (size_t i = 0; i < n;) {
            uint32_t code = 0;
            size_t length = Decode(s + i, n - i, &code);
            if (length == 0)  // a cut sequence at the quote's end
                break;
            if (m_size + length >= kMessageCapacity)
                break;
            if (quoted && IsControl(code)) {
                m_text[m_size++] = '?';
            } else {
                memcpy(m_text + m_size, s + i, length);
                m_size += length;
            }
            i += length;
        }
        m_text[m_size] = '\0';
        return *this;
    }

    char *m_text;
    size_t m_size;
};

// A decimal 32-bit integer: an optional sign, then digits only.
bool ParseValue(Span s, int32_t *value)
{
    const char *p = s.begin;
    const bool negative = p < s.end && *p == '-';
    if (p < s.end && (*p == '-' || *p == '+'))
        ++p;
    if (p == s.end)
        return false;
    int64_t v = 0;
    for (; p < s.end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

int ControlIndex(Span key)
{
    for (int i = 0; i < kControlCount; ++i)
        if (key.Is(kControlNames[i]))
            return i;
    return -1;
}

// The value of a device= or id= line as the profile holds it.
bool ParseName(Span value, char *name, size_t limit)
{
    char text[kLineLimit + 1];
    memcpy(text, value.begin, value.Size());
    text[value.Size()] = '\0';
    Writable(text, name, limit);
    return name[0] != '\0';
}

size_t AppendNumber(char *out, int32_t value)
{
    char digits[12];
    size_t n = 0;
    int64_t v = value;
    const bool negative = v < 0;
    if (negative)
        v = -v;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    size_t size = 0;
    if (negative)
        out[size++] = '-';
    while (n)
        out[size++] = digits[--n];
    return size;
}

size_t Append(char *out, const char *text)
{
    const size_t n = strlen(text);
    memcpy(out, text, n);
    return n;
}

}  // namespace

void Writable(const char *in, char *out, size_t limit)
{
    // Never longer than what it replaces, so out stays behind in.
    const unsigned char *s = reinterpret_cast<const unsigned char *>(in);
    const size_t n = strlen(in);
    size_t size = 0;
    for (size_t i = 0; i < n;) {
        uint32_t code = 0;
        const size_t length = Decode(s + i, n - i, &code);
        const size_t step = length ? length : 1;
        char replacement = 0;  // 0: the character itself
        if (length == 0)
            replacement = '?';
        else if (IsControl(code))
            replacement = ' ';
        const size_t written = replacement ? 1 : length;
        const bool space = replacement == ' ' || (!replacement && code == ' ');
        if (size == 0 && space) {  // leading spaces go
            i += step;
            continue;
        }
        if (size + written > limit)
            break;
        if (replacement)
            out[size] = replacement;
        else
            memmove(out + size, s + i, length);
        size += written;
        i += step;
    }
    while (size > 0 && out[size - 1] == ' ')
        --size;
    out[size] = '\0';
}

bool Parse(const char *text, size_t size, Profile *out, Problem *problem)
{
    memset(out, 0, sizeof(*out));
    Message message(problem);
    problem->line = 0;
    problem->control = -1;
    if (size > kFileLimit) {
        message << "the file is over 64 KiB";
        return false;
    }
    const char *p = text, *const end = text + size;
    if (size >= 3 && memcmp(p, "\xEF\xBB\xBF", 3) == 0)
        p += 3;
    bool haveDevice = false, haveId = false;
    for (unsigned line = 1; p < end; ++line) {
        const char *lineEnd =
            static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        Span all = {p, lineEnd ? lineEnd : end};
        p = lineEnd ? lineEnd + 1 : end;
        if (lineEnd && all.end > all.begin && all.end[-1] == '\r')
            --all.end;  // CRLF
        problem->line = line;
        if (all.Size() > kLineLimit) {
            message << "the line is over 1 KiB";
            return false;
        }
        if (memchr(all.begin, '\0', all.Size())) {
            message << "a NUL byte";
            return false;
        }
        const unsigned char *u = reinterpret_cast<const unsigned char *>(all.begin);
        for (size_t i = 0, n = all.Size(); i < n;) {
            uint32_t code = 0;
            const size_t length = Decode(u + i, n - i, &code);
            if (length == 0) {
                message << "not UTF-8 text";
                return false;
            }
            i += length;
        }
        const Span trimmed = all.Trimmed();
        if (trimmed.Size() == 0 || trimmed.begin[0] == '#')
            continue;
        const char *equals = static_cast<const char *>(memchr(trimmed.begin, '=', trimmed.Size()));
        if (!equals || equals == trimmed.begin) {
            message << "not NAME=VALUE";
            return false;
        }
        const Span key = Span{trimmed.begin, equals}.Trimmed();
        const Span value = Span{equals + 1, trimmed.end}.Trimmed();
        if (key.Is("device") || key.Is("id")) {
            const bool device = key.Is("device");
            bool &seen = device ? haveDevice : haveId;
            if (seen) {
                message << (device ? "a second device line" : "a second id line");
                return false;
            }
            if (!ParseName(value, device ? out->device : out->id,
                           device ? kDeviceLimit : kIdLimit)) {
                message << (device ? "an empty device name" : "an empty id");
                return false;
            }
            seen = true;
            continue;
        }
        const int index = ControlIndex(key);
        if (index < 0) {
            message << "unknown control ";
            message.Quote(key);
            return false;
        }
        problem->control = index;
        if (out->present & (1u << index)) {
            message << kControlNames[index] << " a second time";
            return false;
        }
        if (!ParseValue(value, &out->values[index])) {
            message << "not a 32-bit decimal value: ";
            message.Quote(value);
            return false;
        }
        out->present |= 1u << index;
        problem->control = -1;
    }
    problem->line = 0;
    if (!haveDevice && !haveId) {
        message << "the profile names no camera (no device= or id= line)";
        return false;
    }
    return true;
}

size_t Format(const Profile &profile, char *out, size_t capacity)
{
    if (capacity < kFormatCapacity)
        return 0;
    size_t size = Append(out, kHeader);
    const struct {
        const char *key;
        const char *name;
        size_t limit;
    } names[] = {{"device=", profile.device, kDeviceLimit}, {"id=", profile.id, kIdLimit}};
    bool named = false;
    for (const auto &n : names) {
        const size_t start = size;
        size += Append(out + size, n.key);
        Writable(n.name, out + size, n.limit);
        if (out[size] == '\0') {
            size = start;
            continue;
        }
        size += strlen(out + size);
        out[size++] = '\n';
        named = true;
    }
    if (!named) {
        out[0] = '\0';
        return 0;
    }
    for (int i = 0; i < kControlCount; ++i) {
        if (!(profile.present & (1u << i)))
            continue;
        size += Append(out + size, kControlNames[i]);
        out[size++] = '=';
        size += AppendNumber(out + size, profile.values[i]);
        out[size++] = '\n';
    }
    out[size] = '\0';
    return size;
}

}  // namespace profiletext
