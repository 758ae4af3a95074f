#include "testkit/dbf_fixture.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testkit {

namespace {

void put_le(std::string& out, size_t pos, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out[pos + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put_be(std::string& out, size_t pos, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out[pos + i] = static_cast<char>((v >> (8 * (n - 1 - i))) & 0xFF);
}
uint64_t double_bits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return u;
}

// Julian day number of 1970-01-01.
constexpr int64_t jdn_1970 = 2440588;

bool is_memo_type(char t, uint8_t version) {
    if (t == 'M' || t == 'G' || t == 'P') return true;
    if (t == 'W') return true;
    if (t == 'B') return !dbf_fixture::is_vfp(version);
    return false;
}

struct memo_writer {
    memo_format fmt = memo_format::none;
    uint32_t block_size = 512;
    std::string bytes;

    void start(memo_format f, uint16_t bs) {
        fmt = f;
        if (fmt == memo_format::dbt3)
            block_size = 512;
        else if (bs)
            block_size = bs;
        else
            block_size = (fmt == memo_format::dbt4) ? 512 : 64;
        bytes.assign(512, '\0');
        if (fmt == memo_format::dbt4) put_le(bytes, 20, block_size, 2);
        if (fmt == memo_format::fpt) put_be(bytes, 6, block_size, 2);
        if (fmt == memo_format::smt) put_le(bytes, 4, block_size, 4);
        pad();
    }
    void pad() {
        size_t n = (bytes.size() + block_size - 1) / block_size * block_size;
        bytes.resize(n, '\0');
    }
    // Appends one memo; returns its block number.
    uint32_t add(const std::string& data, bool binary) {
        uint32_t block = static_cast<uint32_t>(bytes.size() / block_size);
        switch (fmt) {
        case memo_format::dbt3:
            bytes += data;
            bytes += "\x1A\x1A";
            break;
        case memo_format::dbt4: {
            std::string h(8, '\0');
            h[0] = '\xFF';
            h[1] = '\xFF';
            h[2] = 0x08;
            h[3] = 0x00;
            put_le(h, 4, data.size() + 8, 4);
            bytes += h + data;
            break;
        }
        case memo_format::fpt: {
            std::string h(8, '\0');
            put_be(h, 0, binary ? 0 : 1, 4);
            put_be(h, 4, data.size(), 4);
            bytes += h + data;
            break;
        }
        case memo_format::smt:
            bytes += data;
            bytes += '\0';
            break;
        default:
            throw std::logic_error("memo without memo file");
        }
        pad();
        return block;
    }
    void finish() {
        uint32_t next = static_cast<uint32_t>(bytes.size() / block_size);
        if (fmt == memo_format::fpt)
            put_be(bytes, 0, next, 4);
        else
            put_le(bytes, 0, next, 4);
    }
};

std::string right_aligned(const std::string& s, size_t width) {
    if (s.size() >= width) return s.substr(0, width);
    return std::string(width - s.size(), ' ') + s;
}
std::string left_aligned(const std::string& s, size_t width, char fill = ' ') {
    if (s.size() >= width) return s.substr(0, width);
    return s + std::string(width - s.size(), fill);
}

}  // namespace

dbf_value dbf_value::str(std::string s) {
    dbf_value v;
    v.k = kind::text;
    v.text = std::move(s);
    return v;
}
dbf_value dbf_value::bin(std::string b) {
    dbf_value v;
    v.k = kind::bytes;
    v.text = std::move(b);
    return v;
}
dbf_value dbf_value::num(std::string l) {
    dbf_value v;
    v.k = kind::number;
    v.text = std::move(l);
    return v;
}
dbf_value dbf_value::i(int64_t x) {
    dbf_value v;
    v.k = kind::integer;
    v.integer = x;
    return v;
}
dbf_value dbf_value::currency(int64_t x) {
    dbf_value v;
    v.k = kind::integer;
    v.integer = x;
    return v;
}
dbf_value dbf_value::dbl(double x) {
    dbf_value v;
    v.k = kind::real;
    v.real = x;
    return v;
}
dbf_value dbf_value::date(int y, int m, int d) {
    dbf_value v;
    v.k = kind::date;
    v.year = y;
    v.month = m;
    v.day = d;
    return v;
}
dbf_value dbf_value::datetime(int y, int m, int d, int h, int mi, int s, int ms) {
    dbf_value v;
    v.k = kind::datetime;
    v.year = y;
    v.month = m;
    v.day = d;
    v.hour = h;
    v.minute = mi;
    v.second = s;
    v.millisecond = ms;
    return v;
}
dbf_value dbf_value::boolean(bool b) {
    dbf_value v;
    v.k = kind::logical;
    v.logical = b;
    return v;
}

uint16_t dbf_fixture::default_length(char type, uint8_t version) {
    switch (type) {
    case 'D':
    case 'T':
    case '@':
    case 'Y':
    case 'O':
        return 8;
    case 'L':
        return 1;
    case 'I':
    case '+':
        return 4;
    case 'B':
        return is_vfp(version) ? 8 : 10;
    case 'M':
    case 'G':
    case 'P':
    case 'W':
        return is_vfp(version) ? 4 : 10;
    case 'N':
        return 10;
    case 'F':
        return 20;
    default:
        return 10;
    }
}

memo_format dbf_fixture::memo_of(const dbf_fixture_table& t) {
    if (t.memo != memo_format::automatic) return t.memo;
    switch (t.version) {
    case 0x83:
        return memo_format::dbt3;
    case 0x7B:
    case 0x8B:
    case 0x8C:
    case 0xCB:
    case 0xEB:
        return memo_format::dbt4;
    case 0xF5:
    case 0x30:
    case 0x31:
    case 0x32:
        return memo_format::fpt;
    case 0xE5:
        return memo_format::smt;
    default:
        return memo_format::none;
    }
}

std::string dbf_fixture::encode(const dbf_fixture_table& t, std::string* memo_out) {
    const uint8_t ver = t.version;
    const bool vfp = is_vfp(ver);
    const bool level7 = ver == 0x04 || ver == 0x8C;
    const bool dbase2 = ver == 0x02;

    // Fields as written, with the null-flags field appended for VFP.
    std::vector<dbf_fixture_field> fields = t.fields;
    for (auto& f : fields)
        if (f.length == 0 && f.type != 'C') f.length = default_length(f.type, ver);
    int null_bits = 0;
    if (vfp) {
        for (const auto& f : fields) {
            if (f.type == 'V' || f.type == 'Q') ++null_bits;
            if (f.flags & fx_nullable) ++null_bits;
        }
        if (null_bits) {
            dbf_fixture_field nf;
            nf.name = "_NullFlags";
            nf.type = '0';
            nf.length = static_cast<uint16_t>((null_bits + 7) / 8);
            nf.flags = fx_system | fx_binary;
            fields.push_back(nf);
        }
    }
    uint32_t rec_size = 1;
    for (const auto& f : fields) rec_size += f.length;

    bool has_memo = false;
    for (const auto& f : t.fields) has_memo |= is_memo_type(f.type, ver);
    memo_format mf = memo_of(t);
    memo_writer memo;
    if (has_memo && mf != memo_format::none) memo.start(mf, t.memo_block_size);

    // Header and descriptors.
    std::string head;
    const size_t n = fields.size();
    if (dbase2) {
        head.assign(521, '\0');
        head[0] = 0x02;
        put_le(head, 1, t.last_rec.value_or(static_cast<int32_t>(t.records.size())), 2);
        head[3] = 1;
        head[4] = 1;
        head[5] = 99;
        put_le(head, 6, t.rec_size.value_or(static_cast<uint16_t>(rec_size)), 2);
        uint32_t off = 1;
        for (size_t i = 0; i < n; ++i) {
            size_t p = 8 + 16 * i;
            std::memcpy(&head[p], fields[i].name.data(), std::min<size_t>(fields[i].name.size(), 11));
            head[p + 11] = fields[i].type;
            head[p + 12] = static_cast<char>(fields[i].length & 0xFF);
            put_le(head, p + 13, off, 2);
            head[p + 15] = static_cast<char>(fields[i].decimals);
            off += fields[i].length;
        }
        if (t.terminator) head[8 + 16 * n] = 0x0D;
        if (t.data_offset) head.resize(*t.data_offset, '\0');
    } else {
        const size_t hdr = level7 ? 68 : 32;
        const size_t dsz = level7 ? 48 : 32;
        size_t data_offset = hdr + dsz * n + (t.terminator ? 1 : 0) + (vfp ? 263 : 0);
        head.assign(data_offset, '\0');
        head[0] = static_cast<char>(ver);
        head[1] = 124;
        head[2] = 5;
        head[3] = 17;
        put_le(head, 4, static_cast<uint32_t>(t.last_rec.value_or(static_cast<int32_t>(t.records.size()))), 4);
        put_le(head, 8, t.data_offset.value_or(static_cast<uint16_t>(data_offset)), 2);
        put_le(head, 10, t.rec_size.value_or(static_cast<uint16_t>(rec_size)), 2);
        uint8_t flags = 0;
        if (vfp && has_memo) flags |= 0x02;
        head[28] = static_cast<char>(t.table_flags.value_or(flags));
        head[29] = static_cast<char>(t.language_driver);
        if (level7) std::memcpy(&head[32], t.ld_name.data(), std::min<size_t>(t.ld_name.size(), 32));
        uint32_t off = 1;
        for (size_t i = 0; i < n; ++i) {
            const auto& f = fields[i];
            size_t p = hdr + dsz * i;
            std::memcpy(&head[p], f.name.data(), std::min<size_t>(f.name.size(), level7 ? 31 : 10));
            size_t tp = level7 ? 32 : 11;
            head[p + tp] = f.type;
            bool numeric = f.type == 'N' || f.type == 'F';
            const size_t lp = level7 ? 33 : 16;
            head[p + lp] = static_cast<char>(f.length & 0xFF);
            head[p + lp + 1] = static_cast<char>(numeric ? f.decimals : ((f.length >> 8) | f.decimals));
            if (vfp) {
                put_le(head, p + 12, off, 4);
                head[p + 18] = static_cast<char>(f.flags);
                if ((f.flags & fx_autoinc) == fx_autoinc) {
                    put_le(head, p + 19, 1, 4);
                    head[p + 23] = 1;
                }
            }
            off += f.length;
        }
        if (t.terminator) head[hdr + dsz * n] = 0x0D;
        if (vfp && t.terminator)
            std::memcpy(&head[hdr + dsz * n + 1], t.backlink.data(), std::min<size_t>(t.backlink.size(), 262));
        if (t.data_offset && *t.data_offset > head.size()) head.resize(*t.data_offset, '\0');
    }

    // Records.
    std::string body;
    for (const auto& r : t.records) {
        std::string rec(rec_size, ' ');
        rec[0] = r.deleted ? '*' : ' ';
        size_t pos = 1;
        uint32_t nulls = 0;
        int bit = 0;
        auto set_bit = [&](bool on) {
            if (on) nulls |= 1u << bit;
            ++bit;
        };
        for (size_t i = 0; i < fields.size(); ++i) {
            const auto& f = fields[i];
            const size_t w = f.length;
            if (f.type == '0') {
                put_le(rec, pos, nulls, static_cast<int>(w));
                pos += w;
                continue;
            }
            const dbf_value v = i < r.values.size() ? r.values[i] : dbf_value::null();
            const bool is_null = v.k == dbf_value::kind::null;
            std::string cell;
            bool varlen_bit = false;
            switch (f.type) {
            case 'C':
                cell = left_aligned(v.text, w);
                break;
            case 'V':
            case 'Q': {
                std::string s = v.text.substr(0, w);
                if (s.size() < w) {
                    varlen_bit = true;
                    cell = left_aligned(s, w, f.type == 'Q' ? '\0' : ' ');
                    cell[w - 1] = static_cast<char>(s.size());
                } else {
                    cell = s;
                }
                break;
            }
            case 'N':
            case 'F':
                cell = is_null ? std::string(w, ' ') : right_aligned(v.text, w);
                break;
            case 'D':
                if (is_null)
                    cell = std::string(w, ' ');
                else {
                    char b[16];
                    std::snprintf(b, sizeof b, "%04d%02d%02d", v.year, v.month, v.day);
                    cell = left_aligned(b, w);
                }
                break;
            case 'T': {
                cell.assign(8, '\0');
                if (!is_null) {
                    int64_t jdn = days_from_civil(v.year, v.month, v.day) + jdn_1970;
                    int64_t ms = ((v.hour * 60 + v.minute) * 60 + v.second) * 1000LL + v.millisecond;
                    put_le(cell, 0, static_cast<uint64_t>(jdn), 4);
                    put_le(cell, 4, static_cast<uint64_t>(ms), 4);
                }
                break;
            }
            case '@': {
                cell.assign(8, '\0');
                if (!is_null && !level7) {
                    // Outside level 7 (Harbour) '@' is written as 'T'.
                    int64_t jdn = days_from_civil(v.year, v.month, v.day) + jdn_1970;
                    int64_t ms = ((v.hour * 60 + v.minute) * 60 + v.second) * 1000LL + v.millisecond;
                    put_le(cell, 0, static_cast<uint64_t>(jdn), 4);
                    put_le(cell, 4, static_cast<uint64_t>(ms), 4);
                } else if (!is_null) {
                    int64_t days = days_from_civil(v.year, v.month, v.day) - days_from_civil(1, 1, 1) + 1;
                    double ms = static_cast<double>(days) * 86400000.0 +
                                (((v.hour * 60 + v.minute) * 60 + v.second) * 1000.0 + v.millisecond);
                    put_be(cell, 0, double_bits(ms), 8);
                }
                break;
            }
            case 'L':
                cell.assign(1, is_null ? '?' : (v.logical ? 'T' : 'F'));
                break;
            case 'I':
            case '+':
                cell.assign(4, '\0');
                // Level 7 writes big-endian with the sign bit inverted, so
                // the bytes sort as the numbers; zeros are no value.
                if (level7 && !is_null)
                    put_be(cell, 0, static_cast<uint32_t>(v.integer) ^ 0x80000000u, 4);
                else if (!level7)
                    put_le(cell, 0, static_cast<uint64_t>(v.integer), 4);
                break;
            case 'Y':
                cell.assign(8, '\0');
                put_le(cell, 0, static_cast<uint64_t>(v.integer), 8);
                break;
            case 'O': {
                // Big-endian; a positive number (sign bit clear) gets the
                // sign bit set, a negative one all its bits inverted; zeros
                // are no value.
                cell.assign(8, '\0');
                if (is_null) break;
                const uint64_t bits = double_bits(v.real);
                put_be(cell, 0, (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63), 8);
                break;
            }
            default:
                if (f.type == 'B' && vfp) {
                    cell.assign(8, '\0');
                    put_le(cell, 0, double_bits(v.real), 8);
                } else if (is_memo_type(f.type, ver)) {
                    uint32_t block = 0;
                    if (!is_null && memo.fmt != memo_format::none)
                        block = memo.add(v.text, v.k == dbf_value::kind::bytes);
                    if (w == 4) {
                        cell.assign(4, '\0');
                        put_le(cell, 0, block, 4);
                    } else if (memo.fmt == memo_format::smt) {
                        cell.assign(w, block ? '\0' : ' ');
                        if (block) {
                            put_le(cell, 2, v.text.size(), 4);
                            put_le(cell, 6, block, 4);
                        }
                    } else {
                        cell = block ? right_aligned(std::to_string(block), w) : std::string(w, ' ');
                    }
                } else {
                    cell = left_aligned(v.text, w);
                }
                break;
            }
            if (vfp && (f.type == 'V' || f.type == 'Q')) set_bit(varlen_bit);
            if (vfp && (f.flags & fx_nullable)) set_bit(is_null);
            std::memcpy(&rec[pos], cell.data(), std::min(cell.size(), w));
            pos += w;
        }
        body += rec;
    }
    (void)null_bits;
    std::string out = head + body;
    if (t.eof_mark) out += '\x1A';
    out += t.trailing;
    if (memo_out) {
        memo_out->clear();
        if (memo.fmt != memo_format::none) {
            memo.finish();
            *memo_out = memo.bytes;
        }
    }
    return out;
}

std::filesystem::path dbf_fixture::write(const std::filesystem::path& path, const dbf_fixture_table& t) {
    std::string memo;
    write_bytes(path, encode(t, &memo));
    if (memo.empty() || !t.write_memo_file) return {};
    std::filesystem::path mp = path;
    if (!t.memo_file_name.empty()) {
        mp = path.parent_path() / t.memo_file_name;
    } else {
        const char* ext = ".dbt";
        switch (memo_of(t)) {
        case memo_format::fpt:
            ext = (t.table_flags.value_or(0) & 0x04) ? ".dct" : ".fpt";
            break;
        case memo_format::smt:
            ext = ".smt";
            break;
        default:
            break;
        }
        mp.replace_extension(ext);
    }
    write_bytes(mp, memo);
    return mp;
}

dbf_fixture_table dbf_fixture::memo_host(uint8_t version) {
    using V = dbf_value;
    dbf_fixture_table t;
    t.version = version;
    t.fields = {{"NAME", 'C', 8}, {"NOTE", 'M'}, {"MORE", 'M'}};
    t.records = {{false, {V::str("one"), V::str("first memo"), V::null()}},
                 {false, {V::str("two"), V::str(std::string(700, 'x')), V::str("third")}},
                 {true, {V::str("three"), V::null(), V::str("last memo\x1A trailing")}},
                 {false, {V::str("four"), V::str("short"), V::str(std::string(70, 'y'))}}};
    return t;
}

std::vector<dbc_object> dbf_fixture::container_objects(const std::vector<dbc_table>& tables) {
    std::vector<dbc_object> out;
    out.push_back({1, 1, "Database", "Database"});
    int id = 2;
    for (const auto& t : tables) {
        int tid = id++;
        out.push_back({tid, 1, "Table", t.name});
        for (const auto& f : t.fields) out.push_back({id++, tid, "Field", f});
    }
    return out;
}

dbf_fixture_table dbf_fixture::container(const std::vector<dbc_object>& objects) {
    dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;
    t.table_flags = 0x07;
    t.fields = {{"OBJECTID", 'I', 4, 0, 0},         {"PARENTID", 'I', 4, 0, 0},
                {"OBJECTTYPE", 'C', 10, 0, 0},      {"OBJECTNAME", 'C', 128, 0, 0},
                {"PROPERTY", 'M', 4, 0, fx_binary}, {"CODE", 'M', 4, 0, fx_binary},
                {"RIINFO", 'C', 6, 0, 0},           {"USER", 'M', 4, 0, 0}};
    for (const auto& o : objects) {
        dbf_fixture_record r;
        r.deleted = o.deleted;
        r.values = {dbf_value::i(o.id),
                    dbf_value::i(o.parent),
                    dbf_value::str(o.type),
                    dbf_value::str(o.name),
                    dbf_value::bin(std::string("\x01\x02\x03", 3)),
                    dbf_value::null(),
                    dbf_value::str(""),
                    dbf_value::null()};
        t.records.push_back(r);
    }
    return t;
}

int64_t dbf_fixture::days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void dbf_fixture::civil_from_days(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

void dbf_fixture::write_bytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path.string());
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string dbf_fixture::read_bytes(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void dbf_fixture::patch(const std::filesystem::path& path, uint64_t offset, const std::string& bytes) {
    std::string all = read_bytes(path);
    if (all.size() < offset + bytes.size()) all.resize(offset + bytes.size(), '\0');
    std::memcpy(&all[offset], bytes.data(), bytes.size());
    write_bytes(path, all);
}

}  // namespace testkit
