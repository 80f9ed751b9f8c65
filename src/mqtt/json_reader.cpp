// Reading and writing JSON text; see json_reader.h.
#include "mqtt/json_reader.h"

#include <charconv>
#include <cstdio>

namespace talvo::mqtt {
namespace {

constexpr int kMaxDepth = 32;

class Reader {
 public:
  explicit Reader(std::string_view t) : t_(t) {}

  bool document(JsonValue& v, std::string& error) {
    blanks();
    if (!value(v, 0)) {
      error = why_ + " at byte " + std::to_string(p_);
      return false;
    }
    blanks();
    if (p_ != t_.size()) {
      error = "text after the value at byte " + std::to_string(p_);
      return false;
    }
    return true;
  }

 private:
  bool fail(const char* why) {
    why_ = why;
    return false;
  }
  void blanks() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r'))
      ++p_;
  }
  bool word(std::string_view w) {
    if (t_.substr(p_, w.size()) != w) return fail("not a JSON value");
    p_ += w.size();
    return true;
  }

  bool value(JsonValue& v, int depth) {
    if (depth > kMaxDepth) return fail("nested too deep");
    if (p_ >= t_.size()) return fail("the text ends where a value should be");
    const char c = t_[p_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      return string(v.string);
    }
    if (c == 't' || c == 'f') {
      v.kind = JsonValue::Kind::kBool;
      v.boolean = c == 't';
      return word(c == 't' ? "true" : "false");
    }
    if (c == 'n') {
      v.kind = JsonValue::Kind::kNull;
      return word("null");
    }
    return number(v);
  }

  bool object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::kObject;
    ++p_;  // {
    blanks();
    if (p_ < t_.size() && t_[p_] == '}') return ++p_, true;
    for (;;) {
      blanks();
      std::string name;
      if (p_ >= t_.size() || t_[p_] != '"') return fail("expected a name in quotes");
      if (!string(name)) return false;
      blanks();
      if (p_ >= t_.size() || t_[p_] != ':') return fail("expected ':' after a name");
      ++p_;
      blanks();
      JsonValue member;
      if (!value(member, depth + 1)) return false;
      v.object[name] = std::move(member);
      blanks();
      if (p_ < t_.size() && t_[p_] == ',') {
        ++p_;
        continue;
      }
      if (p_ < t_.size() && t_[p_] == '}') return ++p_, true;
      return fail("expected ',' or '}' in an object");
    }
  }

  bool array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::kArray;
    ++p_;  // [
    blanks();
    if (p_ < t_.size() && t_[p_] == ']') return ++p_, true;
    for (;;) {
      blanks();
      v.array.emplace_back();
      if (!value(v.array.back(), depth + 1)) return false;
      blanks();
      if (p_ < t_.size() && t_[p_] == ',') {
        ++p_;
        continue;
      }
      if (p_ < t_.size() && t_[p_] == ']') return ++p_, true;
      return fail("expected ',' or ']' in an array");
    }
  }

  bool number(JsonValue& v) {
    // JSON's grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    const std::size_t start = p_;
    auto digits = [&] {
      const std::size_t d = p_;
      while (p_ < t_.size() && t_[p_] >= '0' && t_[p_] <= '9')
        ++p_;
      return p_ > d;
    };
    if (p_ < t_.size() && t_[p_] == '-') ++p_;
    if (p_ < t_.size() && t_[p_] == '0')
      ++p_;
    else if (!digits())
      return fail("not a JSON value");
    if (p_ < t_.size() && t_[p_] == '.' && (++p_, !digits())) return fail("no digit after '.'");
    if (p_ < t_.size() && (t_[p_] == 'e' || t_[p_] == 'E')) {
      ++p_;
      if (p_ < t_.size() && (t_[p_] == '+' || t_[p_] == '-')) ++p_;
      if (!digits()) return fail("no digit in the exponent");
    }
    v.kind = JsonValue::Kind::kNumber;
    // from_chars reads the C locale's way whatever the program's locale.
    const char* first = t_.data() + start;
    if (*first == '-') ++first;
    std::from_chars(first, t_.data() + p_, v.number);
    if (t_[start] == '-') v.number = -v.number;
    return true;
  }

  // Four hex digits after \u.
  bool hex4(unsigned& u) {
    if (p_ + 4 > t_.size()) return fail("a short \\u escape");
    u = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = t_[p_++];
      u <<= 4;
      if (c >= '0' && c <= '9')
        u |= c - '0';
      else if (c >= 'a' && c <= 'f')
        u |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        u |= c - 'A' + 10;
      else
        return fail("a broken \\u escape");
    }
    return true;
  }

  static void utf8(unsigned cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool escape(std::string& out) {
    if (p_ >= t_.size()) return fail("the text ends in an escape");
    const char e = t_[p_++];
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out += e;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return fail("an unknown escape");
    }
    unsigned cp = 0;
    if (!hex4(cp)) return false;
    if (cp >= 0xD800 && cp < 0xDC00) {  // a high surrogate: its low one follows
      unsigned lo = 0;
      if (t_.substr(p_, 2) != "\\u") return fail("a lone surrogate");
      p_ += 2;
      if (!hex4(lo)) return false;
      if (lo < 0xDC00 || lo > 0xDFFF) return fail("a lone surrogate");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return fail("a lone surrogate");
    }
    utf8(cp, out);
    return true;
  }

  bool string(std::string& out) {
    ++p_;  // "
    while (p_ < t_.size()) {
      const char c = t_[p_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
      if (c != '\\')
        out += c;
      else if (!escape(out))
        return false;
    }
    return fail("an unclosed string");
  }

  std::string_view t_;
  std::size_t p_ = 0;
  std::string why_;
};

}  // namespace

bool read_json(std::string_view text, JsonValue& out, std::string& error) {
  out = JsonValue{};
  return Reader(text).document(out, error);
}

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace talvo::mqtt
