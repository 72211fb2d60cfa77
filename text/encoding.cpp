#include "text/encoding.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tovani {
namespace {

constexpr char32_t replacement_char = 0xFFFD;
constexpr char32_t byte_order_mark = 0xFEFF;

// GB18030 two-byte area: lead 0x81..0xFE, trail 0x40..0xFE (0x7F is never a trail).
constexpr int trail_span = 0xFF - 0x40;
constexpr int two_byte_slots = (0xFE - 0x81 + 1) * trail_span;
// GB18030 four-byte sequences 81 30 81 30 .. 84 31 A4 39 cover the rest of the BMP.
constexpr std::uint32_t four_byte_bmp_slots = 39420;
// Linear index of 90 30 81 30, the four-byte sequence of U+10000.
constexpr std::uint32_t four_byte_supplementary_base = 189000;

// One iconv descriptor, closed on every path.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void reset() const { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

    // Converts one short sequence completely; false when iconv rejects any of it.
    bool convert_all(const char* in, std::size_t in_size, char* out, std::size_t& out_size) const {
        char* src = const_cast<char*>(in);
        char* dst = out;
        std::size_t in_left = in_size;
        std::size_t out_left = out_size;
        const std::size_t rc = iconv(cd_, &src, &in_left, &dst, &out_left);
        if (rc == static_cast<std::size_t>(-1) || in_left != 0) {
            reset();
            return false;
        }
        out_size -= out_left;
        return true;
    }

private:
    iconv_t cd_;
};

char32_t read_utf32le(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<char32_t>(u[0]) | static_cast<char32_t>(u[1]) << 8 |
           static_cast<char32_t>(u[2]) << 16 | static_cast<char32_t>(u[3]) << 24;
}

// GB18030 decoding (a superset of GBK and GB2312) plus CP936 encoding, both built once from
// glibc's converters and then used without locks by any thread.
// A two-byte character's UTF-8 form, stored so that one four-byte copy writes it: the bytes,
// then their count in the last byte (0 when the pair is unassigned).
struct Utf8Form {
    char bytes[4];
};

struct GbkTables {
    std::vector<char32_t> two_byte;       // (lead, trail) -> code point, 0 when unassigned
    std::vector<Utf8Form> two_byte_utf8;  // (lead, trail) -> UTF-8 form of two_byte
    std::vector<std::uint16_t> four_byte; // linear index -> BMP code point, 0 when unassigned
    std::vector<std::uint16_t> encode;    // BMP code point -> GBK code (1 or 2 bytes), 0 = none
    std::vector<std::pair<char32_t, std::uint16_t>> encode_supplementary; // sorted
};

void build_decoder(GbkTables& t) {
    t.two_byte.assign(two_byte_slots, 0);
    t.four_byte.assign(four_byte_bmp_slots, 0);
    const Iconv cd("UTF-32LE", "GB18030");
    if (!cd.ok())
        return;
    char out[8];
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            std::size_t n = sizeof out;
            if (cd.convert_all(in, 2, out, n) && n == 4)
                t.two_byte[(lead - 0x81) * trail_span + (trail - 0x40)] = read_utf32le(out);
        }
    }
    // Every two-byte character is in the BMP: three UTF-8 bytes at most.
    t.two_byte_utf8.assign(two_byte_slots, Utf8Form{});
    for (int slot = 0; slot < two_byte_slots; ++slot) {
        const char32_t cp = t.two_byte[slot];
        Utf8Form& form = t.two_byte_utf8[slot];
        if (cp == 0 || cp > 0xFFFF) {
            continue; // left to the general decoder
        }
        if (cp < 0x800) {
            form.bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
            form.bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
            form.bytes[3] = 2;
        } else {
            form.bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
            form.bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            form.bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
            form.bytes[3] = 3;
        }
    }
    for (std::uint32_t linear = 0; linear < four_byte_bmp_slots; ++linear) {
        const char in[4] = {
            static_cast<char>(0x81 + linear / 12600), static_cast<char>(0x30 + linear / 1260 % 10),
            static_cast<char>(0x81 + linear / 10 % 126), static_cast<char>(0x30 + linear % 10)};
        std::size_t n = sizeof out;
        if (cd.convert_all(in, 4, out, n) && n == 4) {
            const char32_t cp = read_utf32le(out);
            if (cp <= 0xFFFF)
                t.four_byte[linear] = static_cast<std::uint16_t>(cp);
        }
    }
}

void build_encoder(GbkTables& t) {
    t.encode.assign(0x10000, 0);
    for (char32_t cp = 0; cp < 0x80; ++cp)
        t.encode[cp] = static_cast<std::uint16_t>(cp);
    const Iconv cd("CP936", "UTF-32LE");
    if (cd.ok()) {
        char out[8];
        for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            const char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8 & 0xFF), 0,
                                0};
            std::size_t n = sizeof out;
            if (!cd.convert_all(in, 4, out, n))
                continue;
            const auto* u = reinterpret_cast<const unsigned char*>(out);
            if (n == 1)
                t.encode[cp] = u[0];
            else if (n == 2)
                t.encode[cp] = static_cast<std::uint16_t>(u[0] << 8 | u[1]);
        }
    }
    // Characters that GB18030 decodes differently from CP936 (user-defined area, a few
    // re-assigned codes) go back to their own two-byte code, so GBK text survives a round trip.
    for (int slot = 0; slot < two_byte_slots; ++slot) {
        const char32_t cp = t.two_byte[slot];
        if (cp == 0)
            continue;
        const auto code = static_cast<std::uint16_t>((0x81 + slot / trail_span) << 8 |
                                                     (0x40 + slot % trail_span));
        if (cp <= 0xFFFF) {
            if (t.encode[cp] == 0)
                t.encode[cp] = code;
        } else {
            t.encode_supplementary.emplace_back(cp, code);
        }
    }
    std::sort(t.encode_supplementary.begin(), t.encode_supplementary.end());
}

GbkTables& table_storage() {
    static GbkTables tables;
    return tables;
}

// Decoding needs only the first half; the encoder is built from the decoder's tables.
const GbkTables& gbk_decode_tables() {
    static std::once_flag once;
    std::call_once(once, [] { build_decoder(table_storage()); });
    return table_storage();
}

const GbkTables& gbk_tables() {
    gbk_decode_tables();
    static std::once_flag once;
    std::call_once(once, [] { build_encoder(table_storage()); });
    return table_storage();
}

// ---- decoders: call sink(code point) for every character; invalid input gives U+FFFD ----

// Consumes one GBK/GB18030 character at p (n >= 1 bytes available); returns its length.
inline std::size_t decode_gbk_char(const GbkTables& t, const unsigned char* p, std::size_t n,
                                   char32_t& cp) {
    const unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    if (b == 0x80) { // CP936 single-byte euro sign
        cp = 0x20AC;
        return 1;
    }
    if (b == 0xFF || n < 2) {
        cp = replacement_char;
        return 1;
    }
    const unsigned char t1 = p[1];
    if (t1 >= 0x40 && t1 != 0x7F && t1 != 0xFF) {
        const char32_t v = t.two_byte[(b - 0x81) * trail_span + (t1 - 0x40)];
        cp = v ? v : replacement_char;
        return 2;
    }
    if (t1 >= 0x30 && t1 <= 0x39 && n >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 &&
        p[3] <= 0x39) {
        const std::uint32_t linear =
            (((b - 0x81) * 10u + (t1 - 0x30)) * 126u + (p[2] - 0x81)) * 10u + (p[3] - 0x30);
        cp = replacement_char;
        if (linear < four_byte_bmp_slots) {
            if (t.four_byte[linear])
                cp = t.four_byte[linear];
        } else if (linear >= four_byte_supplementary_base &&
                   linear - four_byte_supplementary_base < 0x100000) {
            cp = 0x10000 + (linear - four_byte_supplementary_base);
        }
        return 4;
    }
    // A lead byte without a valid trail: only the lead is lost, the next byte is read afresh.
    cp = replacement_char;
    return 1;
}

template <class Sink> void decode_gbk(std::string_view in, Sink&& sink) {
    const GbkTables& t = gbk_decode_tables();
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        char32_t cp;
        p += decode_gbk_char(t, p, static_cast<std::size_t>(end - p), cp);
        sink(cp);
    }
}

// Consumes one UTF-8 character; an invalid sequence yields U+FFFD for its longest valid prefix
// (at least one byte), so the bytes after it are read afresh.
inline std::size_t decode_utf8_char(const unsigned char* p, std::size_t n, char32_t& cp) {
    const unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    std::size_t len;
    char32_t v;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        v = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        v = b & 0x0F;
        if (b == 0xE0)
            lo = 0xA0; // no overlong forms
        else if (b == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        v = b & 0x07;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        cp = replacement_char;
        return 1;
    }
    for (std::size_t i = 1; i < len; ++i) {
        const unsigned char c = i < n ? p[i] : 0;
        const bool good = i == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
        if (i >= n || !good) {
            cp = replacement_char;
            return i;
        }
        v = v << 6 | (c & 0x3F);
    }
    cp = v;
    return len;
}

template <class Sink> void decode_utf8(std::string_view in, Sink&& sink) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        char32_t cp;
        p += decode_utf8_char(p, static_cast<std::size_t>(end - p), cp);
        sink(cp);
    }
}

template <class Sink> void decode_utf16le(std::string_view in, Sink&& sink) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t units = in.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t u = p[2 * i] | p[2 * i + 1] << 8;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char32_t low = p[2 * i + 2] | p[2 * i + 3] << 8;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                sink(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        sink(u >= 0xD800 && u <= 0xDFFF ? replacement_char : u);
    }
    if (in.size() % 2)
        sink(replacement_char);
}

// ---- encoders: append one code point ----

// Writes the UTF-8 bytes of cp at dst; returns the count.
inline std::size_t put_utf8(char32_t cp, char* dst) {
    if (cp < 0x80) {
        dst[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        dst[0] = static_cast<char>(0xC0 | cp >> 6);
        dst[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        dst[0] = static_cast<char>(0xE0 | cp >> 12);
        dst[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        dst[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    dst[0] = static_cast<char>(0xF0 | cp >> 18);
    dst[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    dst[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    dst[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

inline std::uint16_t gbk_code(const GbkTables& t, char32_t cp) {
    if (cp < 0x80)
        return static_cast<std::uint16_t>(cp);
    if (cp <= 0xFFFF)
        return t.encode[cp];
    const auto it = std::lower_bound(t.encode_supplementary.begin(), t.encode_supplementary.end(),
                                     std::pair<char32_t, std::uint16_t>(cp, 0));
    return it != t.encode_supplementary.end() && it->first == cp ? it->second : 0;
}

// Writes the GBK bytes of cp at dst ("?" when GBK has no such character); returns the count.
inline std::size_t put_gbk(const GbkTables& t, char32_t cp, char* dst) {
    if (cp < 0x80) {
        dst[0] = static_cast<char>(cp);
        return 1;
    }
    const std::uint16_t code = gbk_code(t, cp);
    if (code == 0) {
        dst[0] = '?';
        return 1;
    }
    if (code < 0x100) {
        dst[0] = static_cast<char>(code);
        return 1;
    }
    dst[0] = static_cast<char>(code >> 8);
    dst[1] = static_cast<char>(code & 0xFF);
    return 2;
}

inline void append_gbk(const GbkTables& t, std::string& out, char32_t cp) {
    char s[2];
    out.append(s, put_gbk(t, cp, s));
}

inline void append_utf16le(std::string& out, char32_t cp) {
    auto unit = [&out](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8 & 0xFF);
    };
    if (cp < 0x10000) {
        unit(cp);
    } else {
        unit(0xD800 + ((cp - 0x10000) >> 10));
        unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}

// ---- charsets ----

enum class Charset { utf8, gbk, utf16le, other };

struct CharsetName {
    Charset kind = Charset::other;
    std::string iconv_name; // for Charset::other
};

std::string normalise_name(std::string_view name) {
    while (!name.empty() && (name.front() == ' ' || name.front() == '"' || name.front() == '\'' ||
                             name.front() == '\t'))
        name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '"' || name.back() == '\'' ||
                             name.back() == '\t' || name.back() == ';'))
        name.remove_suffix(1);
    std::string s(name);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool is_gbk_name(const std::string& n) {
    static constexpr std::array<std::string_view, 11> names = {
        "gbk",    "gb2312",   "cp936",    "ms936",      "windows-936", "x-gbk",
        "euc-cn", "x-euc-cn", "csgb2312", "gb_2312-80", "936"};
    return std::find(names.begin(), names.end(), n) != names.end();
}

bool is_big5_name(const std::string& n) {
    return n == "big5" || n == "big-5" || n == "cn-big5" || n == "x-x-big5" || n == "csbig5";
}

// Source charsets: everything in the GBK family, GB18030 included, goes through the GB18030
// decoder; big5 is read as Big5-HKSCS, a superset.
CharsetName source_charset(std::string_view name) {
    const std::string n = normalise_name(name);
    if (n.empty() || n == "utf-8" || n == "utf8")
        return {Charset::utf8, {}};
    if (is_gbk_name(n) || n == "gb18030")
        return {Charset::gbk, {}};
    if (n == "utf-16le" || n == "unicode")
        return {Charset::utf16le, {}};
    if (is_big5_name(n))
        return {Charset::other, "BIG5-HKSCS"};
    return {Charset::other, n};
}

// Target charsets: the GBK family is written with the CP936 mapping; gb18030 proper goes to iconv.
CharsetName target_charset(std::string_view name) {
    const std::string n = normalise_name(name);
    if (n.empty() || is_gbk_name(n))
        return {Charset::gbk, {}};
    if (n == "utf-8" || n == "utf8")
        return {Charset::utf8, {}};
    if (n == "utf-16le" || n == "unicode")
        return {Charset::utf16le, {}};
    if (is_big5_name(n))
        return {Charset::other, "BIG5"};
    return {Charset::other, n};
}

// Runs cd over in into out, growing out as needed, then flushes a stateful converter's closing
// bytes. On a sequence iconv cannot convert, bad(src, in_left) steps past it and returns what to
// write in its place, or nullopt to stop there.
template <class OnBad>
void iconv_all(const Iconv& cd, std::string_view in, std::string& out, OnBad bad) {
    out.assign(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t in_left = in.size();
    std::size_t written = 0;
    bool flushing = false;
    for (;;) {
        char* dst = out.data() + written;
        std::size_t out_left = out.size() - written;
        const std::size_t rc = flushing ? iconv(cd.get(), nullptr, nullptr, &dst, &out_left)
                                        : iconv(cd.get(), &src, &in_left, &dst, &out_left);
        written = out.size() - out_left;
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (flushing)
            break;
        const std::optional<std::string_view> put = bad(src, in_left);
        if (!put)
            break;
        if (written + put->size() > out.size())
            out.resize(out.size() * 2 + put->size());
        out.replace(written, put->size(), put->data(), put->size());
        written += put->size();
    }
    out.resize(written);
}

// Any charset iconv knows, to UTF-8; an undecodable byte becomes U+FFFD and decoding goes on.
bool iconv_to_utf8(std::string_view in, const std::string& from, std::string& out) {
    const Iconv cd("UTF-8", from.c_str());
    if (!cd.ok())
        return false;
    iconv_all(cd, in, out,
              [&cd](char*& src, std::size_t& in_left) -> std::optional<std::string_view> {
                  // A stateful decoder may take a shift byte and then report EILSEQ with no
                  // input left: there is nothing to step over then.
                  if (errno == EILSEQ && in_left > 0) {
                      ++src;
                      --in_left;
                      cd.reset();
                  } else {
                      in_left = 0; // incomplete sequence at the end, or nothing left
                  }
                  return std::string_view("\xEF\xBF\xBD", 3); // U+FFFD
              });
    return true;
}

// Valid UTF-8 to any charset iconv knows; a character the target cannot hold becomes "?".
bool iconv_from_utf8(std::string_view in, const std::string& to, std::string& out) {
    const Iconv cd(to.c_str(), "UTF-8");
    if (!cd.ok())
        return false;
    std::string question;
    {
        const Iconv q(to.c_str(), "UTF-8");
        char buf[16];
        std::size_t n = sizeof buf;
        if (q.convert_all("?", 1, buf, n))
            question.assign(buf, n);
    }
    iconv_all(cd, in, out,
              [&question](char*& src, std::size_t& in_left) -> std::optional<std::string_view> {
                  if (errno != EILSEQ || in_left == 0)
                      return std::nullopt;
                  char32_t cp;
                  const std::size_t skip =
                      decode_utf8_char(reinterpret_cast<const unsigned char*>(src), in_left, cp);
                  src += skip;
                  in_left -= skip;
                  return question;
              });
    return true;
}

// Converts in into dst, which must have room for the longest output: ASCII runs are copied
// eight bytes at a time; at any other character step(p, end, dst) converts one character and
// moves both pointers past it. Returns the end of the written output.
template <class Step> inline char* convert_ascii_fast(std::string_view in, char* dst, Step step) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            std::memcpy(dst, p, 8);
            p += 8;
            dst += 8;
        }
        if (p == end)
            break;
        if (*p < 0x80) {
            *dst++ = static_cast<char>(*p++);
            continue;
        }
        step(p, end, dst);
    }
    return dst;
}

// The hot path of every fetched page: UTF-8 to GBK.
std::string utf8_to_gbk(std::string_view in) {
    const GbkTables& t = gbk_tables();
    if (in.size() >= 3 && in.substr(0, 3) == "\xEF\xBB\xBF")
        in.remove_prefix(3);
    std::string out(in.size(), '\0'); // a GBK character is never longer than its UTF-8 form
    const char* written = convert_ascii_fast(
        in, out.data(), [&t](const unsigned char*& p, const unsigned char* end, char*& dst) {
            char32_t cp;
            p += decode_utf8_char(p, static_cast<std::size_t>(end - p), cp);
            dst += put_gbk(t, cp, dst);
        });
    out.resize(static_cast<std::size_t>(written - out.data()));
    return out;
}

// Fetched GBK pages on their way to the regex engine, and chapter texts into UTF-8 books. They
// are mostly two-byte characters: those are copied from their ready UTF-8 form, the rest goes
// through the general decoder.
std::string gbk_to_utf8(std::string_view in) {
    const GbkTables& t = gbk_decode_tables();
    // No GBK character needs more than 3 bytes per byte; one more for the last four-byte copy.
    std::string out(in.size() * 3 + 1, '\0');
    const char* written = convert_ascii_fast(
        in, out.data(), [&t](const unsigned char*& p, const unsigned char* end, char*& dst) {
            const unsigned char b = *p;
            if (b >= 0x81 && b <= 0xFE && end - p >= 2 && p[1] >= 0x40 && p[1] <= 0xFE &&
                p[1] != 0x7F) {
                const Utf8Form& form = t.two_byte_utf8[(b - 0x81) * trail_span + (p[1] - 0x40)];
                if (form.bytes[3] != 0) {
                    std::memcpy(dst, form.bytes, 4);
                    dst += form.bytes[3];
                    p += 2;
                    return;
                }
            }
            char32_t cp;
            p += decode_gbk_char(t, p, static_cast<std::size_t>(end - p), cp);
            dst += put_utf8(cp, dst);
        });
    out.resize(static_cast<std::size_t>(written - out.data()));
    return out;
}

template <class Sink> void decode_as(Charset kind, std::string_view in, Sink&& sink) {
    bool first = true;
    auto drop_bom = [&](char32_t cp) {
        if (first) {
            first = false;
            if (cp == byte_order_mark)
                return;
        }
        sink(cp);
    };
    switch (kind) {
    case Charset::utf8:
        decode_utf8(in, drop_bom);
        break;
    case Charset::gbk:
        decode_gbk(in, sink);
        break;
    case Charset::utf16le:
        decode_utf16le(in, drop_bom);
        break;
    case Charset::other:
        break;
    }
}

std::string encode_from(Charset from, std::string_view in, Charset to) {
    std::string out;
    out.reserve(in.size() + in.size() / 2);
    switch (to) {
    case Charset::gbk: {
        const GbkTables& t = gbk_tables();
        decode_as(from, in, [&](char32_t cp) { append_gbk(t, out, cp); });
        break;
    }
    case Charset::utf8:
        decode_as(from, in, [&](char32_t cp) { append_utf8(out, cp); });
        break;
    case Charset::utf16le:
        decode_as(from, in, [&](char32_t cp) { append_utf16le(out, cp); });
        break;
    case Charset::other:
        break;
    }
    return out;
}

std::string_view cut_at_zero(std::string_view s) {
    const std::size_t z = s.find('\0');
    return z == std::string_view::npos ? s : s.substr(0, z);
}

std::string_view cut_at_zero_unit(std::string_view s) {
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        if (s[i] == '\0' && s[i + 1] == '\0')
            return s.substr(0, i);
    return s.substr(0, s.size() & ~std::size_t{1});
}

} // namespace

std::string code_page_to_utf16(std::string_view bytes, int code_page) {
    bytes = cut_at_zero(bytes);
    if (bytes.empty())
        return {};
    std::string out;
    out.reserve(bytes.size() * 2 + 2);
    if (code_page == code_page_gbk)
        decode_gbk(bytes, [&out](char32_t cp) { append_utf16le(out, cp); });
    else if (code_page == code_page_utf8)
        decode_utf8(bytes, [&out](char32_t cp) { append_utf16le(out, cp); });
    else
        return {};
    out.append(2, '\0');
    return out;
}

std::string utf16_to_code_page(std::string_view utf16, int code_page) {
    utf16 = cut_at_zero_unit(utf16);
    if (utf16.empty())
        return {};
    std::string out;
    out.reserve(utf16.size());
    if (code_page == code_page_gbk) {
        const GbkTables& t = gbk_tables();
        decode_utf16le(utf16, [&](char32_t cp) { append_gbk(t, out, cp); });
    } else if (code_page == code_page_utf8) {
        decode_utf16le(utf16, [&](char32_t cp) { append_utf8(out, cp); });
    }
    return out;
}

std::string to_utf16(std::string_view text) {
    return code_page_to_utf16(text, code_page_gbk);
}

std::size_t read_utf8_char(std::string_view utf8, std::size_t at, char32_t& cp) {
    return decode_utf8_char(reinterpret_cast<const unsigned char*>(utf8.data()) + at,
                            utf8.size() - at, cp);
}

void append_utf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, put_utf8(cp, bytes));
}

std::string to_utf8(std::string_view text) {
    return gbk_to_utf8(cut_at_zero(text));
}

std::string to_utf8_with_offsets(std::string_view gbk_bytes, std::vector<std::size_t>& offsets) {
    const GbkTables& t = gbk_decode_tables();
    std::string out;
    out.reserve(gbk_bytes.size() + gbk_bytes.size() / 2);
    offsets.clear();
    offsets.reserve(out.capacity() + 1);
    const auto* begin = reinterpret_cast<const unsigned char*>(gbk_bytes.data());
    const auto* end = begin + gbk_bytes.size();
    for (const auto* p = begin; p < end;) {
        const auto at = static_cast<std::size_t>(p - begin);
        char32_t cp;
        p += decode_gbk_char(t, p, static_cast<std::size_t>(end - p), cp);
        char s[4];
        const std::size_t n = put_utf8(cp, s);
        out.append(s, n);
        offsets.insert(offsets.end(), n, at);
    }
    offsets.push_back(gbk_bytes.size());
    return out;
}

std::string utf16_to_text(std::string_view utf16) {
    return utf16_to_code_page(utf16, code_page_gbk);
}

std::string utf8_to_text(std::string_view utf8) {
    return utf8_to_gbk(cut_at_zero(utf8));
}

std::string url_encode(std::string_view text, bool keep_unreserved, bool utf8) {
    text = cut_at_zero(text);
    const std::string source = utf8 ? to_utf8(text) : std::string(text);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(source.size() * 3);
    for (const char ch : source) {
        const auto b = static_cast<unsigned char>(ch);
        const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                                (b >= '0' && b <= '9') || (b >= 0x27 && b <= 0x2A) || b == '-' ||
                                b == '.' || b == '_';
        if (keep_unreserved && unreserved) {
            out += ch;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

std::string convert_charset(std::string_view bytes, std::string_view from_charset,
                            std::string_view to_charset, std::optional<std::size_t> start_offset) {
    const CharsetName from = source_charset(from_charset);
    const CharsetName to = target_charset(to_charset);

    std::string out;
    if (from.kind == Charset::utf8 && to.kind == Charset::gbk) {
        out = utf8_to_gbk(bytes);
    } else if (from.kind == Charset::gbk && to.kind == Charset::utf8) {
        out = gbk_to_utf8(bytes);
    } else if (from.kind != Charset::other && to.kind != Charset::other) {
        out = encode_from(from.kind, bytes, to.kind);
    } else {
        // At least one side needs iconv: meet in the middle as UTF-8.
        std::string middle;
        if (from.kind == Charset::other) {
            if (!iconv_to_utf8(bytes, from.iconv_name, middle))
                return {};
        } else {
            middle = encode_from(from.kind, bytes, Charset::utf8);
        }
        if (to.kind == Charset::other) {
            if (!iconv_from_utf8(middle, to.iconv_name, out))
                return {};
        } else {
            out = encode_from(Charset::utf8, middle, to.kind);
        }
    }

    const std::size_t offset = start_offset.value_or(0);
    if (offset >= out.size())
        return {};
    if (offset > 0)
        out.erase(0, offset);
    return out;
}

} // namespace tovani
