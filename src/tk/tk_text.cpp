#include "tk/tk_text.h"

#include <iconv.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kMissing = '?';

const char kToUnicodePrefix[] = "Cannot convert to UNICODE string: ";
const char kToAnsiPrefix[] = "Cannot convert to ANSI string: ";

// ---- UTF-8 ---------------------------------------------------------------------

// In path mode U+DC80..U+DCFF stand for the raw bytes 0x80..0xFF.
inline bool is_escaped_byte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

template <bool PathMode>
size_t utf8_length(const wchar_t* s, size_t n) {
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        total += (c < 0x80 || (PathMode && is_escaped_byte(c))) ? 1 : tk_utf8_length(s[i]);
    }
    return total;
}

template <bool PathMode>
char* encode_utf8(const wchar_t* s, size_t n, char* p) {
    for (size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
        } else if (PathMode && is_escaped_byte(c)) {
            *p++ = static_cast<char>(c - 0xDC00);
        } else {
            p += tk_utf8_encode(s[i], p);
        }
    }
    return p;
}

// The lead byte of a UTF-8 sequence: how many continuation bytes follow,
// the code point bits it carries, and the range the first continuation
// byte must lie in (narrowed to refuse overlong forms, surrogates and
// anything above U+10FFFF). False for a byte that cannot start a sequence.
inline bool read_lead_byte(unsigned b, size_t& need, char32_t& cp, unsigned& lo, unsigned& hi) {
    lo = 0x80;
    hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // no overlong forms
        if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;  // no overlong forms
        if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return false;
    }
    return true;
}

// Decodes n bytes into out (room for n units) and returns the units
// written. Outside path mode each maximal ill-formed subsequence becomes one
// U+FFFD; in path mode each byte that does not start a valid sequence becomes
// U+DC00 + byte, so the bytes can be restored exactly.
template <bool PathMode>
size_t decode_utf8(const unsigned char* s, size_t n, wchar_t* out) {
    size_t i = 0;
    size_t o = 0;
    while (i < n) {
        unsigned b = s[i];
        if (b < 0x80) {
            out[o++] = static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        size_t need;
        char32_t cp;
        unsigned lo;
        unsigned hi;
        if (!read_lead_byte(b, need, cp, lo, hi)) {
            out[o++] = static_cast<wchar_t>(PathMode ? 0xDC00 + b : kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        size_t got = 0;
        for (; got < need && j < n; ++got, ++j) {
            unsigned c = s[j];
            if (c < lo || c > hi) break;
            lo = 0x80;
            hi = 0xBF;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (got == need) {
            out[o++] = static_cast<wchar_t>(cp);
            i = j;
        } else if (PathMode) {
            out[o++] = static_cast<wchar_t>(0xDC00 + b);
            ++i;
        } else {
            out[o++] = static_cast<wchar_t>(kReplacement);
            i = j;
        }
    }
    return o;
}

template <bool PathMode>
void utf8_to_wide(std::string_view text, std::wstring& out) {
    out.resize(text.size());
    size_t n = decode_utf8<PathMode>(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data());
    out.resize(n);
}

template <bool PathMode>
void wide_to_utf8(std::wstring_view text, std::string& out) {
    out.resize(utf8_length<PathMode>(text.data(), text.size()));
    encode_utf8<PathMode>(text.data(), text.size(), out.data());
}

// Conversions stop at an embedded zero unit.
inline std::string_view cut_at_zero(std::string_view s) {
    const void* z = std::memchr(s.data(), 0, s.size());
    return z ? s.substr(0, static_cast<const char*>(z) - s.data()) : s;
}

inline std::wstring_view cut_at_zero(std::wstring_view s) {
    const wchar_t* z = s.empty() ? nullptr : std::wmemchr(s.data(), L'\0', s.size());
    return z ? s.substr(0, static_cast<size_t>(z - s.data())) : s;
}

// ---- code pages ------------------------------------------------------------------

// A single-byte code page: one wide character per byte, and the reverse
// mapping for every character the code page holds.
struct byte_table {
    wchar_t to_wide[256];
    int16_t low_to_byte[256];                              // characters below U+0100
    std::vector<std::pair<char32_t, unsigned char>> high;  // the rest, sorted

    void build_reverse() {
        std::fill(std::begin(low_to_byte), std::end(low_to_byte), int16_t{-1});
        high.clear();
        for (int b = 0; b < 256; ++b) {
            char32_t c = static_cast<char32_t>(to_wide[b]);
            if (c == kReplacement) continue;  // undefined byte
            if (c < 0x100) {
                if (low_to_byte[c] < 0) low_to_byte[c] = static_cast<int16_t>(b);
            } else {
                high.emplace_back(c, static_cast<unsigned char>(b));
            }
        }
        // Stable: for a character listed twice the lower byte wins.
        std::stable_sort(high.begin(), high.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }

    char to_byte(wchar_t w) const {
        char32_t c = static_cast<char32_t>(w);
        if (c < 0x100) {
            int16_t b = low_to_byte[c];
            return b < 0 ? kMissing : static_cast<char>(b);
        }
        auto it = std::lower_bound(high.begin(), high.end(), c, [](const auto& e, char32_t v) { return e.first < v; });
        return (it != high.end() && it->first == c) ? static_cast<char>(it->second) : kMissing;
    }
};

enum class cp_kind { unsupported, utf8, table, iconv };

struct cp_entry {
    cp_kind kind = cp_kind::unsupported;
    std::unique_ptr<byte_table> table;
    std::string iconv_name;
};

std::string iconv_name_of(int codepage) {
    switch (codepage) {
    case 10000:
        return "MACINTOSH";
    case 10029:
        return "MAC-CENTRALEUROPE";
    case 20127:
        return "ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 20936:
        return "GB2312";
    case 51932:
        return "EUC-JP";
    case 51949:
        return "EUC-KR";
    case 28603:
        return "ISO-8859-13";
    case 28605:
        return "ISO-8859-15";
    default:
        if (codepage >= 28591 && codepage <= 28599) return "ISO-8859-" + std::to_string(codepage - 28590);
        return "CP" + std::to_string(codepage);
    }
}

const iconv_t kBadIconv = reinterpret_cast<iconv_t>(-1);

// Decodes one byte with a fresh state. Returns 1 and sets *out for a single
// character, 0 for a byte the code page does not define, -1 when the byte
// does not stand alone (a lead byte, or output other than one character).
int probe_byte(iconv_t cd, unsigned char byte, wchar_t* out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in_byte = static_cast<char>(byte);
    char* in = &in_byte;
    size_t in_left = 1;
    wchar_t buf[4];
    char* op = reinterpret_cast<char*>(buf);
    size_t out_left = sizeof buf;
    if (iconv(cd, &in, &in_left, &op, &out_left) == static_cast<size_t>(-1)) {
        return errno == EILSEQ ? 0 : -1;
    }
    if (iconv(cd, nullptr, nullptr, &op, &out_left) == static_cast<size_t>(-1)) return -1;
    size_t produced = (sizeof buf - out_left) / sizeof(wchar_t);
    if (produced != 1) return -1;
    *out = buf[0];
    return 1;
}

void build_entry(int codepage, cp_entry& entry) {
    if (const char32_t* upper = tk_builtin_codepage_upper_half(codepage)) {
        auto t = std::make_unique<byte_table>();
        for (int b = 0; b < 128; ++b) t->to_wide[b] = static_cast<wchar_t>(b);
        for (int b = 0; b < 128; ++b) t->to_wide[128 + b] = static_cast<wchar_t>(upper[b]);
        t->build_reverse();
        entry.table = std::move(t);
        entry.kind = cp_kind::table;
        return;
    }
    std::string name = iconv_name_of(codepage);
    iconv_t cd = iconv_open("WCHAR_T", name.c_str());
    if (cd == kBadIconv) return;  // unsupported
    auto t = std::make_unique<byte_table>();
    bool single_byte = true;
    for (int b = 0; b < 256 && single_byte; ++b) {
        wchar_t w = 0;
        switch (probe_byte(cd, static_cast<unsigned char>(b), &w)) {
        case 1:
            t->to_wide[b] = w;
            break;
        case 0:
            // Windows maps the five bytes that cp1252 leaves undefined to
            // the C1 controls of the same value; iconv refuses them.
            t->to_wide[b] = (codepage == 1252 && b >= 0x80 && b <= 0x9F) ? static_cast<wchar_t>(b)
                                                                         : static_cast<wchar_t>(kReplacement);
            break;
        default:
            single_byte = false;
            break;
        }
    }
    iconv_close(cd);
    entry.iconv_name = name;
    if (single_byte) {
        t->build_reverse();
        entry.table = std::move(t);
        entry.kind = cp_kind::table;
    } else {
        entry.kind = cp_kind::iconv;
    }
}

int normalize(int codepage) {
    if (codepage == 0) return 1252;                     // the DBF default
    if (codepage == -1 || codepage == 3) return 65001;  // the ANSI code page is UTF-8
    return codepage;
}

// Entries are built once per process and never freed, so the pointers stay
// valid; each thread remembers its last lookup to skip the lock.
const cp_entry& lookup(int codepage) {
    thread_local int last_codepage = INT_MIN;
    thread_local const cp_entry* last_entry = nullptr;
    if (codepage == last_codepage) return *last_entry;

    // Never destroyed, so a conversion made during static destruction still
    // finds its table.
    static std::mutex* mutex = new std::mutex;
    static auto* entries = new std::unordered_map<int, std::unique_ptr<cp_entry>>;

    int cp = normalize(codepage);
    const cp_entry* found;
    {
        std::lock_guard<std::mutex> lock(*mutex);
        auto& slot = (*entries)[cp];
        if (!slot) {
            slot = std::make_unique<cp_entry>();
            if (cp == 65001)
                slot->kind = cp_kind::utf8;
            else
                build_entry(cp, *slot);
        }
        found = slot.get();
    }
    last_codepage = codepage;
    last_entry = found;
    return *found;
}

[[noreturn]] void throw_unsupported(const char* prefix, int codepage) {
    tk_exception_ex e(prefix, 0, EINVAL);
    e.message = std::string(prefix) + "code page " + std::to_string(codepage) + " is not supported";
    throw e;
}

// iconv descriptors of one thread, one per code page and direction, opened
// on first use and closed when the thread ends.
class thread_iconv_cache {
public:
    ~thread_iconv_cache() {
        for (auto& h : handles_) iconv_close(h.cd);
    }

    // A descriptor in its initial state, or kBadIconv.
    iconv_t get(const cp_entry& entry, bool to_wide) {
        iconv_t cd = kBadIconv;
        for (auto& h : handles_) {
            if (h.entry == &entry && h.to_wide == to_wide) {
                cd = h.cd;
                break;
            }
        }
        if (cd == kBadIconv) {
            const char* name = entry.iconv_name.c_str();
            cd = to_wide ? iconv_open("WCHAR_T", name) : iconv_open(name, "WCHAR_T");
            if (cd == kBadIconv) return cd;
            handles_.push_back({&entry, to_wide, cd});
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
        return cd;
    }

private:
    struct handle {
        const cp_entry* entry;
        bool to_wide;
        iconv_t cd;
    };
    std::vector<handle> handles_;
};

thread_iconv_cache& iconv_cache() {
    thread_local thread_iconv_cache cache;
    return cache;
}

// Runs iconv over the whole input into out, growing it as needed, then
// flushes any pending state. For an input unit that cannot be converted,
// on_error writes one replacement unit and returns how many input bytes to
// skip; a sequence cut short at the end is replaced the same way.
template <typename Out, typename OnError>
void run_iconv(iconv_t cd, const char* data, size_t size, Out& out, OnError on_error) {
    using unit = typename Out::value_type;
    out.resize(size + 16);
    size_t used = 0;  // units written
    char* in = const_cast<char*>(data);
    size_t in_left = size;
    for (;;) {
        char* op = reinterpret_cast<char*>(out.data() + used);
        size_t out_left = (out.size() - used) * sizeof(unit);
        bool flushing = in_left == 0;
        size_t r = flushing ? iconv(cd, nullptr, nullptr, &op, &out_left) : iconv(cd, &in, &in_left, &op, &out_left);
        int err = errno;
        used = static_cast<size_t>(reinterpret_cast<unit*>(op) - out.data());
        if (r != static_cast<size_t>(-1)) {
            if (flushing) break;
            continue;
        }
        if (err == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        if (flushing) break;
        if (used == out.size()) out.resize(out.size() * 2 + 16);
        size_t skip = on_error(out, used);
        if (err != EILSEQ || skip > in_left) skip = in_left;
        in += skip;
        in_left -= skip;
    }
    out.resize(used);
}

void iconv_to_wide(const cp_entry& entry, int codepage, std::string_view text, std::wstring& out) {
    iconv_t cd = iconv_cache().get(entry, true);
    if (cd == kBadIconv) throw_unsupported(kToUnicodePrefix, codepage);
    run_iconv(cd, text.data(), text.size(), out, [](std::wstring& o, size_t& used) {
        o[used++] = static_cast<wchar_t>(kReplacement);
        return size_t{1};
    });
}

void iconv_from_wide(const cp_entry& entry, int codepage, std::wstring_view text, std::string& out) {
    iconv_t cd = iconv_cache().get(entry, false);
    if (cd == kBadIconv) throw_unsupported(kToAnsiPrefix, codepage);
    run_iconv(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t), out,
              [](std::string& o, size_t& used) {
                  o[used++] = kMissing;
                  return sizeof(wchar_t);
              });
}

// ---- case ----------------------------------------------------------------------------

// A UTF-8 locale object for the wide case functions; the process locale is
// never consulted. Kept for the life of the process.
locale_t case_locale() {
    static locale_t loc = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (l) return l;
        }
        return newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

inline bool is_ascii(wchar_t c) { return c >= 0 && c < 0x80; }

}  // namespace

// ---- throwing conversions ------------------------------------------------------------

void tk_codepage_to_unicode(std::string_view text, int codepage, std::wstring& out) {
    text = cut_at_zero(text);
    const cp_entry& entry = lookup(codepage);
    switch (entry.kind) {
    case cp_kind::utf8:
        utf8_to_wide<false>(text, out);
        return;
    case cp_kind::table: {
        out.resize(text.size());
        const wchar_t* map = entry.table->to_wide;
        const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
        wchar_t* d = out.data();
        for (size_t i = 0, n = text.size(); i < n; ++i) d[i] = map[s[i]];
        return;
    }
    case cp_kind::iconv:
        iconv_to_wide(entry, codepage, text, out);
        return;
    case cp_kind::unsupported:
        break;
    }
    throw_unsupported(kToUnicodePrefix, codepage);
}

std::wstring tk_codepage_to_unicode(std::string_view text, int codepage) {
    std::wstring out;
    tk_codepage_to_unicode(text, codepage, out);
    return out;
}

void tk_utf8_to_unicode(std::string_view text, std::wstring& out) { utf8_to_wide<false>(cut_at_zero(text), out); }

std::wstring tk_utf8_to_unicode(std::string_view text) {
    std::wstring out;
    tk_utf8_to_unicode(text, out);
    return out;
}

void tk_unicode_to_codepage(std::wstring_view text, int codepage, std::string& out) {
    text = cut_at_zero(text);
    const cp_entry& entry = lookup(codepage);
    switch (entry.kind) {
    case cp_kind::utf8:
        wide_to_utf8<false>(text, out);
        return;
    case cp_kind::table: {
        out.resize(text.size());
        const byte_table& t = *entry.table;
        char* d = out.data();
        for (size_t i = 0, n = text.size(); i < n; ++i) d[i] = t.to_byte(text[i]);
        return;
    }
    case cp_kind::iconv:
        iconv_from_wide(entry, codepage, text, out);
        return;
    case cp_kind::unsupported:
        break;
    }
    throw_unsupported(kToAnsiPrefix, codepage);
}

std::string tk_unicode_to_codepage(std::wstring_view text, int codepage) {
    std::string out;
    tk_unicode_to_codepage(text, codepage, out);
    return out;
}

void tk_unicode_to_utf8(std::wstring_view text, std::string& out) { wide_to_utf8<false>(cut_at_zero(text), out); }

std::string tk_unicode_to_utf8(std::wstring_view text) {
    std::string out;
    tk_unicode_to_utf8(text, out);
    return out;
}

bool tk_is_valid_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned b = s[i++];
        if (b < 0x80) continue;
        size_t need;
        char32_t cp;
        unsigned lo;
        unsigned hi;
        if (!read_lead_byte(b, need, cp, lo, hi) || need > n - i) return false;
        for (size_t k = 0; k < need; ++k, ++i) {
            if (s[i] < lo || s[i] > hi) return false;
            lo = 0x80;
            hi = 0xBF;
        }
    }
    return true;
}

bool tk_is_codepage_supported(int codepage) { return lookup(codepage).kind != cp_kind::unsupported; }

size_t tk_codepage_lacks(std::wstring_view text, int codepage, std::wstring* out) {
    const cp_entry& entry = lookup(codepage);
    if (entry.kind == cp_kind::utf8) return 0;
    if (entry.kind == cp_kind::unsupported) throw_unsupported(kToAnsiPrefix, codepage);
    // Every code page here holds ASCII, the zero unit included; the rest is
    // looked up one character at a time, so that a zero unit ends nothing.
    std::string bytes;
    auto lacks = [&](wchar_t c) {
        if (c >= 0 && c < 0x80) return false;
        if (entry.kind == cp_kind::table) return entry.table->to_byte(c) == kMissing;
        iconv_from_wide(entry, codepage, std::wstring_view(&c, 1), bytes);
        return bytes.size() == 1 && bytes[0] == kMissing;
    };
    size_t count = 0;
    for (wchar_t c : text) count += lacks(c) ? 1 : 0;
    if (count != 0 && out != nullptr) {
        out->assign(text);
        for (wchar_t& c : *out)
            if (lacks(c)) c = static_cast<wchar_t>(kMissing);
    }
    return count;
}

// ---- non-throwing ANSI conversions --------------------------------------------------

bool tk_unicode_to_ansi1(const wchar_t* text, char* buffer) {
    tk_log(1, "tk_unicode_to_ansi1");
    if (text == nullptr || buffer == nullptr) return false;
    size_t n = std::wcslen(text);
    size_t capacity = 2 * (n + 1);
    size_t needed = utf8_length<false>(text, n) + 1;
    if (needed > capacity) {
        // The caller's buffer is sized for two bytes a character; text of
        // three- and four-byte characters may not fit, and is refused whole.
        buffer[0] = '\0';
        tk_log(1, "n_ansi=%d, n_unicode=%d", 0, static_cast<int>(n + 1));
        return false;
    }
    *encode_utf8<false>(text, n, buffer) = '\0';
    tk_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(needed), static_cast<int>(n + 1));
    return true;
}

bool tk_unicode_to_ansi2(const wchar_t* text, char** buffer) {
    tk_log(1, "tk_unicode_to_ansi2");
    if (text == nullptr || buffer == nullptr) return false;
    size_t n = std::wcslen(text);
    size_t needed = utf8_length<false>(text, n) + 1;  // sized for the text, not a guess
    char* fresh = new char[needed];
    *encode_utf8<false>(text, n, fresh) = '\0';
    delete[] * buffer;
    *buffer = fresh;
    tk_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(needed), static_cast<int>(n + 1));
    return true;
}

bool tk_unicode_to_ansi3(const wchar_t* text, std::string& result) {
    tk_log(1, "tk_unicode_to_ansi3");
    if (text == nullptr) {
        tk_log(1, "tk_unicode_to_ansi3 - return false");
        return false;
    }
    wide_to_utf8<false>(std::wstring_view(text), result);
    tk_log(1, "tk_unicode_to_ansi3 - return true");
    return true;
}

bool tk_ansi_to_unicode_buffer(const char* text, wchar_t** buffer) {
    if (text == nullptr || buffer == nullptr) return false;
    size_t n = std::strlen(text);
    wchar_t* fresh = new wchar_t[n + 1];
    size_t used = decode_utf8<false>(reinterpret_cast<const unsigned char*>(text), n, fresh);
    fresh[used] = L'\0';
    delete[] * buffer;
    *buffer = fresh;
    return true;
}

// ---- file names --------------------------------------------------------------------------

std::wstring tk_path_to_unicode(std::string_view path) {
    std::wstring out;
    utf8_to_wide<true>(cut_at_zero(path), out);
    return out;
}

std::string tk_unicode_to_path(std::wstring_view path) {
    std::string out;
    wide_to_utf8<true>(cut_at_zero(path), out);
    return out;
}

// ---- case-insensitive text -------------------------------------------------------------

wchar_t tk_to_lower(wchar_t c) {
    if (is_ascii(c)) return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
    if (c < 0) return c;
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), case_locale()));
}

wchar_t tk_to_upper(wchar_t c) {
    if (is_ascii(c)) return (c >= L'a' && c <= L'z') ? c - (L'a' - L'A') : c;
    if (c < 0) return c;
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), case_locale()));
}

std::wstring tk_to_lower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = tk_to_lower(c);
    return out;
}

std::wstring tk_to_upper(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = tk_to_upper(c);
    return out;
}

wchar_t tk_fold_case(wchar_t c) {
    if (is_ascii(c)) return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
    return tk_to_lower(tk_to_upper(c));
}

int tk_compare_no_case(std::wstring_view a, std::wstring_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        wchar_t x = tk_fold_case(a[i]);
        wchar_t y = tk_fold_case(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool tk_equal_no_case(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && tk_compare_no_case(a, b) == 0;
}

int tk_compare_no_case(std::string_view a, std::string_view b) {
    return tk_compare_no_case(std::wstring_view(tk_utf8_to_unicode(a)), std::wstring_view(tk_utf8_to_unicode(b)));
}

bool tk_equal_no_case(std::string_view a, std::string_view b) { return tk_compare_no_case(a, b) == 0; }

std::size_t tk_find_no_case(std::wstring_view text, std::size_t start, std::wstring_view pattern) {
    if (start > text.size()) return std::wstring_view::npos;
    if (pattern.empty()) return start;
    if (pattern.size() > text.size() - start) return std::wstring_view::npos;
    wchar_t first = tk_fold_case(pattern[0]);
    size_t last = text.size() - pattern.size();
    for (size_t i = start; i <= last; ++i) {
        if (tk_fold_case(text[i]) != first) continue;
        if (tk_compare_no_case(text.substr(i + 1, pattern.size() - 1), pattern.substr(1)) == 0) return i;
    }
    return std::wstring_view::npos;
}

bool tk_starts_with_no_case(std::wstring_view text, std::wstring_view prefix) {
    return prefix.size() <= text.size() && tk_compare_no_case(text.substr(0, prefix.size()), prefix) == 0;
}

bool tk_ends_with_no_case(std::wstring_view text, std::wstring_view suffix) {
    return suffix.size() <= text.size() && tk_compare_no_case(text.substr(text.size() - suffix.size()), suffix) == 0;
}
