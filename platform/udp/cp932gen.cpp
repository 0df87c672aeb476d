// Reads the vendor's code page 932 table (bestfit932.txt) and writes the C++
// lookup tables the converter uses. Runs at build time; plain standard C++ so that
// it builds wherever the program does.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "cp932gen: " << why << '\n';
    std::exit(1);
}

unsigned long parseNumber(const std::string& token)
{
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(token, &used, 0);
    } catch (const std::exception&) {
        fail("not a number: " + token);
    }
    if (used != token.size())
        fail("not a number: " + token);
    return value;
}

// The fields of a line before its comment.
std::vector<std::string> fields(const std::string& line)
{
    std::istringstream in(line.substr(0, line.find(';')));
    std::vector<std::string> out;
    for (std::string f; in >> f;)
        out.push_back(f);
    return out;
}

// Marks a lead byte in the single-byte table; cp932.cpp knows the same value.
constexpr std::uint16_t kNoUnit = 0xFFFF;

struct Tables {
    std::array<std::uint16_t, 65536> encode{};   // code per UTF-16 unit
    std::array<std::uint16_t, 256> single{};     // unit per single byte
    std::array<std::uint16_t, 128 * 256> pair{}; // unit per (lead - 0x80, trail)
    std::uint16_t unitDefault = 0;
    std::uint16_t byteDefault = 0;
};

Tables read(std::istream& in)
{
    Tables t;
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);) {
        auto f = fields(line);
        if (!f.empty())
            lines.push_back(std::move(f));
    }

    std::size_t i = 0;
    auto expect = [&](const char* keyword) -> unsigned long {
        if (i >= lines.size() || lines[i][0] != keyword || lines[i].size() < 2)
            fail(std::string("expected ") + keyword);
        return parseNumber(lines[i++][1]);
    };
    auto pairAt = [&](std::size_t k) {
        if (k >= lines.size() || lines[k].size() != 2)
            fail("expected a pair of numbers");
        return std::pair{parseNumber(lines[k][0]), parseNumber(lines[k][1])};
    };

    if (lines.empty() || lines[0][0] != "CODEPAGE" || lines[0].at(1) != "932")
        fail("not the table of code page 932");
    ++i;
    if (lines[i][0] != "CPINFO" || lines[i].size() != 4)
        fail("expected CPINFO");
    t.byteDefault = static_cast<std::uint16_t>(parseNumber(lines[i][2]));
    t.unitDefault = static_cast<std::uint16_t>(parseNumber(lines[i][3]));
    ++i;

    // Every byte and pair starts unmapped; the table fills in what it knows.
    t.single.fill(t.unitDefault);
    t.pair.fill(t.unitDefault);
    t.encode.fill(t.byteDefault);

    const unsigned long mbCount = expect("MBTABLE");
    for (unsigned long n = 0; n < mbCount; ++n, ++i) {
        auto [byte, unit] = pairAt(i);
        if (byte > 0xFF || unit > 0xFFFF)
            fail("MBTABLE entry out of range");
        t.single[byte] = static_cast<std::uint16_t>(unit);
    }

    const unsigned long ranges = expect("DBCSRANGE");
    for (unsigned long r = 0; r < ranges; ++r) {
        auto [first, last] = pairAt(i++);
        if (first < 0x80 || last > 0xFF || first > last)
            fail("lead byte range out of range");
        for (unsigned long lead = first; lead <= last; ++lead) {
            t.single[lead] = kNoUnit;
            const unsigned long count = expect("DBCSTABLE");
            for (unsigned long n = 0; n < count; ++n, ++i) {
                auto [trail, unit] = pairAt(i);
                if (trail > 0xFF || unit > 0xFFFF)
                    fail("DBCSTABLE entry out of range");
                t.pair[(lead - 0x80) * 256 + trail] = static_cast<std::uint16_t>(unit);
            }
        }
    }

    const unsigned long wcCount = expect("WCTABLE");
    for (unsigned long n = 0; n < wcCount; ++n, ++i) {
        auto [unit, code] = pairAt(i);
        if (unit > 0xFFFF || code > 0xFFFF)
            fail("WCTABLE entry out of range");
        t.encode[unit] = static_cast<std::uint16_t>(code);
    }
    if (i >= lines.size() || lines[i][0] != "ENDCODEPAGE")
        fail("expected ENDCODEPAGE");
    return t;
}

template <std::size_t N>
void writeArray(std::ostream& out, const char* type, const char* name,
                const std::array<std::uint16_t, N>& values)
{
    out << "extern const " << type << ' ' << name << '[' << N << "];\n"
        << "const " << type << ' ' << name << '[' << N << "] = {";
    char buf[16];
    for (std::size_t k = 0; k < N; ++k) {
        std::snprintf(buf, sizeof buf, "0x%04X,", values[k]);
        out << (k % 12 == 0 ? "\n    " : " ") << buf;
    }
    out << "\n};\n\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        fail("usage: cp932gen <bestfit932.txt> <output.cpp>");
    std::ifstream in(argv[1], std::ios::binary);
    if (!in)
        fail(std::string("cannot read ") + argv[1]);
    const Tables t = read(in);

    std::ofstream out(argv[2], std::ios::binary);
    if (!out)
        fail(std::string("cannot write ") + argv[2]);
    out << "// Generated by cp932gen from bestfit932.txt; do not edit.\n"
        << "#include <cstdint>\n\nnamespace vesk::cp932::tables {\n\n";
    writeArray(out, "std::uint16_t", "encode", t.encode);
    writeArray(out, "std::uint16_t", "single", t.single);
    writeArray(out, "std::uint16_t", "pair", t.pair);
    out << "} // namespace vesk::cp932::tables\n";
    if (!out)
        fail(std::string("cannot write ") + argv[2]);
    return 0;
}
