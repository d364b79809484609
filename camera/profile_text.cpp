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

namespace {

// The lines of a file as UTF-8, whatever it was written in: UTF-8 (a mark
// allowed, or none), or UTF-16 little- or big-endian behind its mark (as
// Notepad's "Unicode" and PowerShell 5's Out-File write it), turned into
// UTF-8 a line at a time.
class Lines {
public:
    Lines(const char *text, size_t size)
        : m_p(reinterpret_cast<const unsigned char *>(text)), m_end(m_p + size)
    {
        if (size >= 3 && memcmp(m_p, "\xEF\xBB\xBF", 3) == 0) {
            m_p += 3;
        } else if (size >= 2 &&
                   ((m_p[0] == 0xFF && m_p[1] == 0xFE) || (m_p[0] == 0xFE && m_p[1] == 0xFF))) {
            m_wide = true;
            m_big = m_p[0] == 0xFE;
            m_p += 2;
        }
    }
    bool More() const { return m_p < m_end; }
    // The next line, without its LF or CRLF; false with the message when it
    // cannot be one.
    bool Next(Span *line, Message &message)
    {
        bool ended = false;
        if (m_wide) {
            if (!NextWide(line, &ended, message))
                return false;
        } else {
            const char *begin = reinterpret_cast<const char *>(m_p);
            const void *lf = memchr(m_p, '\n', static_cast<size_t>(m_end - m_p));
            *line = {begin,
                     lf ? static_cast<const char *>(lf) : reinterpret_cast<const char *>(m_end)};
            m_p = lf ? static_cast<const unsigned char *>(lf) + 1 : m_end;
            ended = lf != nullptr;
        }
        if (ended && line->end > line->begin && line->end[-1] == '\r')
            --line->end;  // CRLF
        if (line->Size() > kLineLimit) {
            message << "the line is over 1 KiB";
            return false;
        }
        return true;
    }

private:
    // One UTF-16 code unit; false at the end, or with half of one left.
    bool Unit(uint32_t *unit)
    {
        if (m_end - m_p < 2)
            return false;
        *unit = m_big ? (m_p[0] << 8 | m_p[1]) : (m_p[1] << 8 | m_p[0]);
        m_p += 2;
        return true;
    }
    bool NextWide(Span *line, bool *ended, Message &message)
    {
        size_t size = 0;
        uint32_t code = 0;
        const char *problem = nullptr;
        while (!problem && Unit(&code) && code != '\n') {
            uint32_t low = 0;
            if (code >= 0xD800 && code <= 0xDBFF && Unit(&low) && low >= 0xDC00 && low <= 0xDFFF)
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            else if (code >= 0xD800 && code <= 0xDFFF)
                problem = "not UTF-16 text (a lone surrogate)";
            else if (code == 0)
                problem = "a NUL character";
            // Past the limit only the length counts (a CR may still end it).
            size += Encode(code, m_line + (size <= kLineLimit ? size : kLineLimit + 1));
        }
        *ended = !problem && code == '\n';
        if (!problem && !*ended && m_p < m_end)
            problem = "not UTF-16 text (an odd number of bytes)";
        else if (!problem && size > kLineLimit + 1)
            problem = "the line is over 1 KiB";
        if (problem) {
            message << problem;
            return false;
        }
        *line = {m_line, m_line + size};
        return true;
    }
    // Writes code as UTF-8 at out (4 bytes free) and returns its length.
    static size_t Encode(uint32_t code, char *out)
    {
        unsigned char *o = reinterpret_cast<unsigned char *>(out);
        if (code < 0x80)
            return o[0] = static_cast<unsigned char>(code), 1;
        if (code < 0x800) {
            o[0] = static_cast<unsigned char>(0xC0 | code >> 6);
            o[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            return 2;
        }
        if (code < 0x10000) {
            o[0] = static_cast<unsigned char>(0xE0 | code >> 12);
            o[1] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
            o[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            return 3;
        }
        o[0] = static_cast<unsigned char>(0xF0 | code >> 18);
        o[1] = static_cast<unsigned char>(0x80 | (code >> 12 & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
        o[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 4;
    }

    const unsigned char *m_p, *m_end;
    bool m_wide = false, m_big = false;
    char m_line[kLineLimit + 1 + 4];  // a line of UTF-8; past the limit, only its length counts
};

// A line's bytes are text: no NUL, UTF-8 throughout.
bool IsText(Span all, Message &message)
{
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
    return true;
}

// The device= and id= lines seen so far.
struct Names {
    bool device = false, id = false;
};

// A name line (device= or id=) into the profile.
bool TakeName(Span key, Span value, Names *seen, Profile *out, Message &message)
{
    const bool device = key.Is("device");
    bool &had = device ? seen->device : seen->id;
    if (had) {
        message << (device ? "a second device line" : "a second id line");
        return false;
    }
    if (!ParseName(value, device ? out->device : out->id, device ? kDeviceLimit : kIdLimit)) {
        message << (device ? "an empty device name" : "an empty id");
        return false;
    }
    had = true;
    return true;
}

// A control's line (NAME=VALUE) into the profile.
bool TakeControl(Span key, Span value, Profile *out, Problem *problem, Message &message)
{
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
    return true;
}

// One line that is neither blank nor a comment.
bool TakeLine(Span trimmed, Names *seen, Profile *out, Problem *problem, Message &message)
{
    const char *equals = static_cast<const char *>(memchr(trimmed.begin, '=', trimmed.Size()));
    if (!equals || equals == trimmed.begin) {
        message << "not NAME=VALUE";
        return false;
    }
    const Span key = Span{trimmed.begin, equals}.Trimmed();
    const Span value = Span{equals + 1, trimmed.end}.Trimmed();
    if (key.Is("device") || key.Is("id"))
        return TakeName(key, value, seen, out, message);
    return TakeControl(key, value, out, problem, message);
}

}  // namespace

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
    Lines lines(text, size);
    Names seen;
    for (unsigned line = 1; lines.More(); ++line) {
        problem->line = line;
        Span all = {nullptr, nullptr};
        if (!lines.Next(&all, message) || !IsText(all, message))
            return false;
        const Span trimmed = all.Trimmed();
        if (trimmed.Size() == 0 || trimmed.begin[0] == '#')
            continue;
        if (!TakeLine(trimmed, &seen, out, problem, message))
            return false;
    }
    problem->line = 0;
    if (!seen.device && !seen.id) {
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
