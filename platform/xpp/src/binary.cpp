// Text and binary forms of values.
#include <cstring>

#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/object.h"

namespace xpp {

namespace {
constexpr int kMaxDepth = 256;

std::string TextForm(const Value& v, int depth) {
    switch (v.Type()) {
        case 'C': return v.Str();
        case 'N': return LTrim(Str(v));
        case 'D': return DToC(v.Dat());
        case 'L': return v.Log() ? ".T." : ".F.";
        case 'A': {
            if (depth >= kMaxDepth) return "{...}";  // an array that holds itself
            std::string out = "{";
            std::vector<Value> items = v.Arr().Items();
            for (size_t i = 0; i < items.size(); ++i) {
                if (i) out += ", ";
                out += TextForm(items[i], depth + 1);
            }
            return out + "}";
        }
        case 'B': return "{||...}";
        case 'O': return v.Obj()->className();
        default: return "NIL";
    }
}
}  // namespace

std::string Var2Char(const Value& v) { return TextForm(v, 0); }

namespace {

constexpr char kMagic[] = "XPV1";

void PutRaw(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint64_t GetRaw(std::string_view b, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes && static_cast<size_t>(i) < b.size(); ++i)
        v |= static_cast<uint64_t>(static_cast<unsigned char>(b[static_cast<size_t>(i)])) << (8 * i);
    return v;
}

bool Encode(std::string& out, const Value& v, int depth) {
    if (depth > kMaxDepth) return false;
    switch (v.Type()) {
        case 'U': out += 'U'; return true;
        case 'C':
            out += 'C';
            PutRaw(out, v.Str().size(), 8);
            out += v.Str();
            return true;
        case 'N': {
            Number n = v.Num();
            if (n.IsInteger()) {
                out += 'I';
                PutRaw(out, static_cast<uint64_t>(n.AsInt()), 8);
            } else if (n.IsExact()) {
                out += 'X';  // an exact decimal: its units and places
                PutRaw(out, static_cast<uint64_t>(n.Units()), 8);
                out += static_cast<char>(n.Decimals());
            } else {
                out += 'F';
                double d = n.AsDouble();
                uint64_t bits;
                std::memcpy(&bits, &d, 8);
                PutRaw(out, bits, 8);
                out += static_cast<char>(n.Decimals());
            }
            return true;
        }
        case 'D':
            out += 'D';
            PutRaw(out, static_cast<uint32_t>(v.Dat().Julian()), 4);
            return true;
        case 'L': out += v.Log() ? 'T' : 'L'; return true;
        case 'A': {
            std::vector<Value> items = v.Arr().Items();
            out += 'A';
            PutRaw(out, items.size(), 8);
            for (const Value& e : items)
                if (!Encode(out, e, depth + 1)) return false;
            return true;
        }
        default: return false;
    }
}

struct Reader {
    std::string_view in;
    size_t pos = 0;
    bool Take(size_t n, std::string_view& part) {
        if (in.size() - pos < n) return false;
        part = in.substr(pos, n);
        pos += n;
        return true;
    }
};

bool Decode(Reader& r, Value& out, int depth) {
    std::string_view tag, raw;
    if (depth > kMaxDepth || !r.Take(1, tag)) return false;
    switch (tag[0]) {
        case 'U': out = Value(); return true;
        case 'T': out = true; return true;
        case 'L': out = false; return true;
        case 'C': {
            if (!r.Take(8, raw)) return false;
            uint64_t n = GetRaw(raw, 8);
            if (n > r.in.size() - r.pos || !r.Take(static_cast<size_t>(n), raw)) return false;
            out = std::string(raw);
            return true;
        }
        case 'I':
            if (!r.Take(8, raw)) return false;
            out = static_cast<int64_t>(GetRaw(raw, 8));
            return true;
        case 'F': {
            std::string_view dec;
            if (!r.Take(8, raw) || !r.Take(1, dec)) return false;
            uint64_t bits = GetRaw(raw, 8);
            double d;
            std::memcpy(&d, &bits, 8);
            out = Number::Double(d, static_cast<unsigned char>(dec[0]));
            return true;
        }
        case 'X': {
            std::string_view dec;
            if (!r.Take(8, raw) || !r.Take(1, dec)) return false;
            int places = static_cast<unsigned char>(dec[0]);
            if (places < 1 || places > Number::kMaxDecimals) return false;
            out = Number::Decimal(static_cast<int64_t>(GetRaw(raw, 8)), places);
            return true;
        }
        case 'D':
            if (!r.Take(4, raw)) return false;
            out = Date::FromJulian(static_cast<int32_t>(GetRaw(raw, 4)));
            return true;
        case 'A': {
            if (!r.Take(8, raw)) return false;
            uint64_t n = GetRaw(raw, 8);
            if (n > r.in.size() - r.pos) return false;  // each element takes one byte at least
            std::vector<Value> items(static_cast<size_t>(n));
            for (auto& e : items)
                if (!Decode(r, e, depth + 1)) return false;
            out = Array(std::move(items));
            return true;
        }
        default: return false;
    }
}

}  // namespace

std::string Var2Bin(const Value& v) {
    std::string out = kMagic;
    if (!Encode(out, v, 0)) {
        RuntimeError(EG_ARG, 1001, "VAR2BIN", Array{v});
        return "";
    }
    return out;
}

Value Bin2Var(std::string_view bin) {
    if (bin.substr(0, 4) != kMagic) return Value();
    Reader r{bin, 4};
    Value out;
    if (!Decode(r, out, 0) || r.pos != bin.size()) return Value();
    return out;
}

int64_t Bin2I(std::string_view b) { return static_cast<int16_t>(GetRaw(b, 2)); }
int64_t Bin2W(std::string_view b) { return static_cast<int64_t>(GetRaw(b, 2)); }
int64_t Bin2L(std::string_view b) { return static_cast<int32_t>(GetRaw(b, 4)); }
int64_t Bin2U(std::string_view b) { return static_cast<int64_t>(GetRaw(b, 4)); }
double Bin2F(std::string_view b) {
    uint64_t bits = GetRaw(b, 8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

std::string I2Bin(int64_t n) {
    std::string out;
    PutRaw(out, static_cast<uint64_t>(n), 2);
    return out;
}
std::string W2Bin(int64_t n) { return I2Bin(n); }
std::string L2Bin(int64_t n) {
    std::string out;
    PutRaw(out, static_cast<uint64_t>(n), 4);
    return out;
}
std::string U2Bin(int64_t n) { return L2Bin(n); }
std::string F2Bin(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    std::string out;
    PutRaw(out, bits, 8);
    return out;
}

int64_t BAnd(int64_t a, int64_t b) { return a & b; }
int64_t BOr(int64_t a, int64_t b) { return a | b; }

}  // namespace xpp
