#include "sql/scanner.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "connect/connstring.h"
#include "handles/messages.h"
#include "handles/records.h"

namespace kivodbc {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EndsWord(char c) {
  return c == 0 || IsBlank(c) || std::strchr("()*+,-./;<=>?{}", c) != nullptr;
}

bool Starts(const ScanPosition& p, const char* text) {
  const size_t n = std::strlen(text);
  return p.remaining >= n && std::memcmp(p.at, text, n) == 0;
}

void Advance(ScanPosition* p, size_t n) {
  p->at += n;
  p->remaining -= n;
}

void SkipToLineEnd(ScanPosition* p) {
  while (p->remaining > 0 && *p->at != 0 && *p->at != '\n') Advance(p, 1);
}

// Blanks and comments, "--" always taken as a comment (used to look ahead
// for the long escape without recursion).
bool SkipPlain(ScanPosition* p) {
  for (;;) {
    while (p->remaining > 0 && IsBlank(*p->at)) Advance(p, 1);
    if (Starts(*p, "//") || Starts(*p, "--")) {
      SkipToLineEnd(p);
    } else if (Starts(*p, "/*")) {
      const char* end = nullptr;
      for (size_t i = 2; i + 1 < p->remaining && p->at[i] != 0; ++i)
        if (p->at[i] == '*' && p->at[i + 1] == '/') {
          end = p->at + i;
          break;
        }
      if (end == nullptr) return false;
      Advance(p, static_cast<size_t>(end - p->at) + 2);
    } else {
      return true;
    }
  }
}

// The next token for the long-escape look-ahead: a one-character symbol or a word.
std::string PlainToken(ScanPosition* p) {
  if (!SkipPlain(p) || p->remaining == 0 || *p->at == 0) return {};
  if (EndsWord(*p->at)) {
    std::string symbol(1, *p->at);
    Advance(p, 1);
    return symbol;
  }
  std::string word;
  while (p->remaining > 0 && !EndsWord(*p->at)) {
    word += *p->at;
    Advance(p, 1);
  }
  return word;
}

bool OpensLongEscape(ScanPosition p) {
  if (!Starts(p, "--(*")) return false;
  Advance(&p, 4);
  static const char* const kWords[] = {"vendor", "(", "Microsoft", ")", ",", "product", "(", "ODBC", ")"};
  for (const char* expected : kWords)
    if (!EqualsIgnoreCase(PlainToken(&p), expected)) return false;
  return true;
}

void CopyToken(char* token, const char* text, size_t length) {
  const size_t n = length < kTokenSize - 1 ? length : kTokenSize - 1;
  std::memcpy(token, text, n);
  token[n] = 0;
}

}  // namespace

void SetScanArgument(char* argument, const std::string& text) { SetArgumentText(argument, text); }

void AppendScanArgument(char* argument, const std::string& text) {
  SetArgumentText(argument, std::string(argument) + text);
}

uint32_t SkipBlanksAndComments(char* argument, ScanPosition* p) {
  for (;;) {
    while (p->remaining > 0 && IsBlank(*p->at)) Advance(p, 1);
    if (Starts(*p, "//")) {
      SkipToLineEnd(p);
    } else if (Starts(*p, "--")) {
      if (OpensLongEscape(*p)) return 0;
      SkipToLineEnd(p);
    } else if (Starts(*p, "/*")) {
      ScanPosition q = *p;
      Advance(&q, 2);
      while (q.remaining > 0 && *q.at != 0 && !Starts(q, "*/")) Advance(&q, 1);
      if (!Starts(q, "*/")) {
        SetScanArgument(argument, "Cannot find matching */ for comment.");
        return kUnexpectedEnd;
      }
      Advance(&q, 2);
      *p = q;
    } else {
      return 0;
    }
  }
}

int16_t ClassifyWord(const char* word) {
  for (const char* reserved : {"FROM", "SELECT", "SET", "SQL"})
    if (EqualsIgnoreCase(word, reserved)) return kTokenReserved;
  return kTokenIdentifier;
}

uint32_t ScanToken(char* argument, ScanPosition position, char* token, int16_t* kind, ScanPosition* next) {
  token[0] = 0;
  ScanPosition p = position;
  if (uint32_t code = SkipBlanksAndComments(argument, &p)) return code;
  *next = p;
  if (p.remaining == 0 || *p.at == 0) {
    *kind = kTokenEnd;
    return 0;
  }
  const char c = *p.at;
  if (c == '"' || c == '[') {
    const char close = c == '"' ? '"' : ']';
    size_t i = 1;
    while (i < p.remaining && p.at[i] != 0 && p.at[i] != close) ++i;
    const size_t length = i - 1;
    if (length > kMaxTokenLength) {
      CopyToken(token, p.at + 1, length);
      SetScanArgument(argument, token);
      return kTokenTooLarge;
    }
    if (i >= p.remaining || p.at[i] != close) return kUnexpectedEnd;
    CopyToken(token, p.at + 1, length);
    *kind = kTokenIdentifier;
    Advance(&p, i + 1);
    *next = p;
    return 0;
  }
  if (c == '\'') {
    std::string value;
    size_t i = 1;
    for (;;) {
      if (i >= p.remaining || p.at[i] == 0) return kUnexpectedEnd;
      if (p.at[i] == '\'') {
        if (i + 1 < p.remaining && p.at[i + 1] == '\'') {
          value += '\'';
          i += 2;
          continue;
        }
        break;
      }
      value += p.at[i++];
      if (value.size() > kMaxTokenLength) {
        CopyToken(token, value.data(), value.size());
        SetScanArgument(argument, token);
        return kTokenTooLarge;
      }
    }
    CopyToken(token, value.data(), value.size());
    *kind = kTokenString;
    Advance(&p, i + 1);
    *next = p;
    return 0;
  }
  // The first `length` bytes as a token of `tokenKind`.
  auto take = [&](size_t length, int16_t tokenKind) -> uint32_t {
    CopyToken(token, p.at, length);
    if (length > kMaxTokenLength) {
      SetScanArgument(argument, token);
      return kTokenTooLarge;
    }
    *kind = tokenKind;
    Advance(&p, length);
    *next = p;
    return 0;
  };
  auto symbol = [&](size_t length) { return take(length, kTokenSymbol); };
  if (std::strchr("()*+,/;=?{}", c) != nullptr) return symbol(1);
  if (c == '-') return symbol(Starts(p, "--") ? 2 : 1);
  if (c == '<') return symbol(Starts(p, "<=") || Starts(p, "<>") ? 2 : 1);
  if (c == '>') return symbol(Starts(p, ">=") ? 2 : 1);
  const bool digitAfterPoint = c == '.' && p.remaining > 1 && std::isdigit(static_cast<unsigned char>(p.at[1]));
  if (c == '.' && !digitAfterPoint) return symbol(1);
  if (digitAfterPoint || std::isdigit(static_cast<unsigned char>(c))) {
    bool point = false;
    bool exponent = false;
    size_t i = 0;
    for (; i < p.remaining && p.at[i] != 0; ++i) {
      const char d = p.at[i];
      if (std::isdigit(static_cast<unsigned char>(d))) continue;
      if (d == '.') {
        if (point || exponent) {
          CopyToken(token, p.at, i);
          SetScanArgument(argument, token);
          return kMalformedNumber;
        }
        point = true;
        continue;
      }
      if (d == 'E' || d == 'e') {
        if (exponent || i + 1 >= p.remaining || p.at[i + 1] == 0) {
          CopyToken(token, p.at, i + 1);
          SetScanArgument(argument, token);
          return kMalformedNumber;
        }
        exponent = true;
        if (p.at[i + 1] == '+' || p.at[i + 1] == '-') ++i;
        continue;
      }
      break;
    }
    return take(i, kTokenNumber);
  }
  // A word. The driver's character set is single-byte, so each byte is a character.
  size_t i = 0;
  while (i < p.remaining && !EndsWord(p.at[i])) ++i;
  return take(i, kTokenWord);
}

uint32_t ScanNumberLiteral(char* argument, ScanPosition* position, NumberLiteral* out) {
  char token[kTokenSize];
  int16_t kind = 0;
  ScanPosition next{};
  if (uint32_t code = ScanToken(argument, *position, token, &kind, &next)) return code;
  bool negative = false;
  if (kind == kTokenSymbol && (std::strcmp(token, "-") == 0 || std::strcmp(token, "+") == 0)) {
    negative = token[0] == '-';
    if (uint32_t code = ScanToken(argument, next, token, &kind, &next)) return code;
  }
  if (kind == kTokenWord && (EqualsIgnoreCase(token, "true") || EqualsIgnoreCase(token, "false"))) {
    const bool truth = EqualsIgnoreCase(token, "true");
    out->text = truth ? ".T." : ".F.";
    out->value = truth ? 1.0 : 0.0;
    out->sqlType = SQL_INTEGER;
    out->scale = 0;
    *position = next;
    return 0;
  }
  if (kind != kTokenNumber) {
    SetScanArgument(argument, "<number>");
    return kExpectedNotFound;
  }
  const size_t length = std::strlen(token);
  if (length >= kMaxTokenLength) {
    SetScanArgument(argument, token);
    return kMalformedNumber;
  }
  out->sqlType = SQL_INTEGER;
  out->scale = 0;
  const char* point = std::strchr(token, '.');
  const char* exponent = std::strpbrk(token, "Ee");
  if (point != nullptr) {
    int16_t digits = 0;
    for (const char* d = point + 1; std::isdigit(static_cast<unsigned char>(*d)); ++d) ++digits;
    if (digits > 0) {
      out->sqlType = SQL_NUMERIC;
      out->scale = digits;
    }
  }
  if (exponent != nullptr) out->sqlType = SQL_DOUBLE;
  out->value = std::strtod(token, nullptr);
  if (negative) out->value = -out->value;
  out->text = negative ? std::string("-") + token : std::string(token);
  *position = next;
  return 0;
}

}  // namespace kivodbc
