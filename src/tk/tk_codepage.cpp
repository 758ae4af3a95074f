// The code pages of tk_text.h: which code pages there are and how text
// goes to and from them.
//
// Each code page is looked up once per process and kept for its life: a
// single-byte one as a 256-entry table both ways (built from iconv, or from
// the built-in charts of tk_codepage_tables.cpp), a multi-byte one as the
// iconv name its descriptors open, which each thread caches for itself.
// UTF-8 goes to the codec of tk_text.cpp.
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tk/tk_exception.h"
#include "tk/tk_text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kMissing = '?';

const char kToUnicodePrefix[] = "Cannot convert to UNICODE string: ";
const char kToAnsiPrefix[] = "Cannot convert to ANSI string: ";

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

// The errno of a failed iconv_open: glibc says EINVAL also when the code
// page's module could not be loaded for want of a descriptor, so an EINVAL
// is checked by opening a file. EINVAL alone means an unknown code page.
int iconv_open_error() {
    const int error = errno;
    if (error != EINVAL) return error;
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == EACCES ? EINVAL : errno;
    ::close(fd);
    return EINVAL;
}

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

// 0, or the errno of an iconv_open that failed for another reason than an
// unknown code page (no descriptor left, no memory): the entry stays
// unsupported then, but must not be kept.
int build_entry(int codepage, cp_entry& entry) {
    if (const char32_t* upper = tk_builtin_codepage_upper_half(codepage)) {
        auto t = std::make_unique<byte_table>();
        for (int b = 0; b < 128; ++b) t->to_wide[b] = static_cast<wchar_t>(b);
        for (int b = 0; b < 128; ++b) t->to_wide[128 + b] = static_cast<wchar_t>(upper[b]);
        t->build_reverse();
        entry.table = std::move(t);
        entry.kind = cp_kind::table;
        return 0;
    }
    std::string name = iconv_name_of(codepage);
    iconv_t cd = iconv_open("WCHAR_T", name.c_str());
    if (cd == kBadIconv) {
        const int error = iconv_open_error();
        return error == EINVAL ? 0 : error;  // EINVAL: unsupported
    }
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
    return 0;
}

int normalize(int codepage) {
    if (codepage == 0) return 1252;                     // the DBF default
    if (codepage == -1 || codepage == 3) return 65001;  // the ANSI code page is UTF-8
    return codepage;
}

[[noreturn]] void throw_unsupported(const char* prefix, int codepage) {
    tk_exception_ex e(prefix, 0, EINVAL);
    e.message = std::string(prefix) + "code page " + std::to_string(codepage) + " is not supported";
    throw e;
}

// An iconv descriptor that could not be opened: an unknown code page, or the
// system's reason (EMFILE, ENOMEM) after `prefix`.
[[noreturn]] void throw_open_failure(const char* prefix, int codepage, int error) {
    if (error == EINVAL) throw_unsupported(prefix, codepage);
    throw tk_exception_ex(prefix, 0, error);
}

// Entries are built once per process and never freed, so the pointers stay
// valid; each thread remembers its last lookup to skip the lock. Only a code
// page iconv does not know is kept as unsupported: a failure of the system
// (`prefix` and its reason) is thrown and tried again at the next lookup.
const cp_entry& lookup(int codepage, const char* prefix) {
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
            auto entry = std::make_unique<cp_entry>();
            if (cp == 65001)
                entry->kind = cp_kind::utf8;
            else if (const int error = build_entry(cp, *entry)) {
                entries->erase(cp);
                throw_open_failure(prefix, codepage, error);
            }
            slot = std::move(entry);
        }
        found = slot.get();
    }
    last_codepage = codepage;
    last_entry = found;
    return *found;
}

// iconv descriptors of one thread, one per code page and direction, opened
// on first use and closed when the thread ends.
class thread_iconv_cache {
public:
    ~thread_iconv_cache() {
        for (auto& h : handles_) iconv_close(h.cd);
    }

    // A descriptor in its initial state, or kBadIconv with errno set.
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
    if (cd == kBadIconv) throw_open_failure(kToUnicodePrefix, codepage, iconv_open_error());
    run_iconv(cd, text.data(), text.size(), out, [](std::wstring& o, size_t& used) {
        o[used++] = static_cast<wchar_t>(kReplacement);
        return size_t{1};
    });
}

void iconv_from_wide(const cp_entry& entry, int codepage, std::wstring_view text, std::string& out) {
    iconv_t cd = iconv_cache().get(entry, false);
    if (cd == kBadIconv) throw_open_failure(kToAnsiPrefix, codepage, iconv_open_error());
    run_iconv(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t), out,
              [](std::string& o, size_t& used) {
                  o[used++] = kMissing;
                  return sizeof(wchar_t);
              });
}
}  // namespace

void tk_codepage_to_unicode(std::string_view text, int codepage, std::wstring& out) {
    text = tk_cut_at_zero(text);
    const cp_entry& entry = lookup(codepage, kToUnicodePrefix);
    switch (entry.kind) {
    case cp_kind::utf8:
        tk_utf8_to_unicode(text, out);
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

void tk_unicode_to_codepage(std::wstring_view text, int codepage, std::string& out) {
    text = tk_cut_at_zero(text);
    const cp_entry& entry = lookup(codepage, kToAnsiPrefix);
    switch (entry.kind) {
    case cp_kind::utf8:
        tk_unicode_to_utf8(text, out);
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

bool tk_is_codepage_supported(int codepage) {
    return lookup(codepage, kToUnicodePrefix).kind != cp_kind::unsupported;
}

bool tk_codepage_leaves_undefined(int codepage) {
    const cp_entry& entry = lookup(codepage, kToUnicodePrefix);
    if (entry.kind != cp_kind::table) return entry.kind != cp_kind::unsupported;
    const wchar_t* map = entry.table->to_wide;
    return std::find(map, map + 256, static_cast<wchar_t>(kReplacement)) != map + 256;
}

const wchar_t* tk_codepage_byte_table(int codepage) {
    const cp_entry& entry = lookup(codepage, kToUnicodePrefix);
    return entry.kind == cp_kind::table ? entry.table->to_wide : nullptr;
}

size_t tk_codepage_lacks(std::wstring_view text, int codepage, std::wstring* out) {
    const cp_entry& entry = lookup(codepage, kToAnsiPrefix);
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
