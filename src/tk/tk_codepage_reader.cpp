#include "tk/tk_codepage_reader.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tk/tk_text.h"

tk_codepage_reader::tk_codepage_reader(int codepage)
    : codepage_(codepage),
      table_(tk_codepage_byte_table(codepage)),
      leaves_undefined_(tk_codepage_leaves_undefined(codepage)) {
    if (table_ == nullptr) return;
    has_undefined_ = std::find(table_, table_ + 256, replacement) != table_ + 256;
    ascii_ = true;
    for (int b = 0; b < 0x80; ++b) ascii_ = ascii_ && table_[b] == static_cast<wchar_t>(b);
}

namespace {

// Bytes through a table, counting those it reads as U+FFFD when `count`.
template <bool count>
std::size_t look_up(const wchar_t* table, const unsigned char* s, wchar_t* d, std::size_t n) {
    std::size_t undefined = 0;
    for (std::size_t i = 0; i < n; ++i) {
        d[i] = table[s[i]];
        if (count) undefined += d[i] == static_cast<wchar_t>(0xFFFD);
    }
    return undefined;
}

}  // namespace

std::size_t tk_codepage_reader::read_table(std::string_view text, std::wstring& out) const {
    out.resize(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    wchar_t* d = out.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    std::size_t undefined = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: a block of ASCII (most of a Latin text, the
    // whole of many) is widened at once, any other one looked up.
    static_assert(sizeof(wchar_t) == 4, "a wide character is four bytes");
    if (ascii_) {
        const __m128i zero = _mm_setzero_si128();
        for (; n - i >= 16; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            if (_mm_movemask_epi8(v) != 0) {
                undefined += has_undefined_ ? look_up<true>(table_, s + i, d + i, 16)
                                            : look_up<false>(table_, s + i, d + i, 16);
                continue;
            }
            const __m128i lo = _mm_unpacklo_epi8(v, zero);
            const __m128i hi = _mm_unpackhi_epi8(v, zero);
            auto* o = reinterpret_cast<__m128i*>(d + i);
            _mm_storeu_si128(o, _mm_unpacklo_epi16(lo, zero));
            _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(lo, zero));
            _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(hi, zero));
            _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(hi, zero));
        }
    }
#endif
    undefined += has_undefined_ ? look_up<true>(table_, s + i, d + i, n - i) : look_up<false>(table_, s + i, d + i, n - i);
    return undefined;
}

std::size_t tk_codepage_reader::read_other(std::string_view text, std::wstring& out) const {
    tk_codepage_to_unicode(text, codepage_, out);
    if (!leaves_undefined_) return 0;
    return static_cast<std::size_t>(std::count(out.begin(), out.end(), replacement));
}
