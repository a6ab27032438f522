// Parsing and evaluating filter conditions on Access tables.
#include "data/access/access_filter.h"

#include <cctype>
#include <cstdlib>

#include "data/error.h"
#include "data/error_context.h"
#include "data/text_util.h"

namespace vov {

namespace {

[[noreturn]] void bad(const std::string& why) { throw Error("筛选条件有误：" + why); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ------------------------------------------------------------------ tokens

struct Token {
  enum Type { End, Word, Name, Number, String, Date, Symbol } type = End;
  std::string text;  // the word, name, numeral, string content or symbol
  size_t pos = 0;
};

bool wordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

std::vector<Token> tokenize(const std::string& s) {
  std::vector<Token> out;
  size_t i = 0;
  while (true) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    Token t;
    t.pos = i;
    if (i >= s.size()) {
      out.push_back(t);
      return out;
    }
    const char c = s[i];
    const auto next = [&](size_t k) { return i + k < s.size() ? s[i + k] : '\0'; };
    if (c == '\'' || c == '"') {
      t.type = Token::String;
      for (++i;; ++i) {
        if (i >= s.size()) bad("引号 " + std::string(1, c) + " 没有配对");
        if (s[i] == c) {
          if (next(1) == c) {
            t.text += c;
            ++i;
            continue;
          }
          ++i;
          break;
        }
        t.text += s[i];
      }
    } else if (c == '[' || c == '`') {
      const char close = c == '[' ? ']' : '`';
      size_t e = s.find(close, i + 1);
      if (e == std::string::npos) bad("字段名的 " + std::string(1, c) + " 没有配对");
      t.type = Token::Name;
      t.text = s.substr(i + 1, e - i - 1);
      i = e + 1;
    } else if (c == '#') {
      size_t e = s.find('#', i + 1);
      if (e == std::string::npos) bad("日期的 # 没有配对");
      t.type = Token::Date;
      t.text = s.substr(i + 1, e - i - 1);
      i = e + 1;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && std::isdigit(static_cast<unsigned char>(next(1))))) {
      t.type = Token::Number;
      while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) t.text += s[i++];
      if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
          while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
          t.text += s.substr(i, j - i);
          i = j;
        }
      }
      if (i < s.size() && wordByte(static_cast<unsigned char>(s[i])))
        bad("无法理解“" + t.text + s.substr(i, 1) + "…”");
    } else if (wordByte(static_cast<unsigned char>(c))) {
      t.type = Token::Word;
      while (i < s.size() && wordByte(static_cast<unsigned char>(s[i]))) t.text += s[i++];
    } else {
      t.type = Token::Symbol;
      std::string two = s.substr(i, 2);
      if (two == "<>" || two == "<=" || two == ">=" || two == "!=") {
        t.text = two;
        i += 2;
      } else if (std::string("=<>(),-+").find(c) != std::string::npos) {
        t.text = std::string(1, c);
        ++i;
      } else {
        bad("无法理解符号“" + std::string(1, c) + "”（支持 = <> < > <= >= like、is null、between、in、and、or、not 和括号）");
      }
    }
    out.push_back(std::move(t));
  }
}

// ------------------------------------------------------------------ values

// How a value takes part in comparisons.
enum class Class { Null, Number, Text, Date, Bool, Bytes, Any };

Class classOf(FieldType t) {
  switch (t) {
    case ftString: case ftFixedChar: case ftWideString: case ftMemo: case ftGuid:
      return Class::Text;
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint:
    case ftFloat: case ftCurrency: case ftBCD:
      return Class::Number;
    case ftDate: case ftTime: case ftDateTime:
      return Class::Date;
    case ftBoolean:
      return Class::Bool;
    case ftBytes: case ftVarBytes: case ftBlob:
      return Class::Bytes;
    default:
      return Class::Any;
  }
}

Class classOf(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null: return Class::Null;
    case Value::Kind::Bool: return Class::Bool;
    case Value::Kind::Int: case Value::Kind::Real: case Value::Kind::Decimal: return Class::Number;
    case Value::Kind::Text: return Class::Text;
    case Value::Kind::Bytes: return Class::Bytes;
    case Value::Kind::DateTime: return Class::Date;
  }
  return Class::Any;
}

const char* className(Class c) {
  switch (c) {
    case Class::Number: return "数字";
    case Class::Text: return "文本";
    case Class::Date: return "日期";
    case Class::Bool: return "是/否";
    case Class::Bytes: return "二进制数据";
    default: return "值";
  }
}

// A numeral as written: integers that fit stay integers, other plain
// numerals stay exact decimals, exponents make reals.
bool parseNumber(const std::string& text, Value* out) {
  std::string s = text;
  size_t a = s.find_first_not_of(" \t");
  size_t b = s.find_last_not_of(" \t");
  if (a == std::string::npos) return false;
  s = s.substr(a, b - a + 1);
  size_t i = 0;
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') neg = s[i++] == '-';
  size_t digits = 0, dots = 0;
  bool exp = false;
  for (size_t j = i; j < s.size(); ++j) {
    if (std::isdigit(static_cast<unsigned char>(s[j]))) ++digits;
    else if (s[j] == '.' && !exp) ++dots;
    else if ((s[j] == 'e' || s[j] == 'E') && digits && !exp) {
      exp = true;
      if (j + 1 < s.size() && (s[j + 1] == '+' || s[j + 1] == '-')) ++j;
      if (j + 1 >= s.size()) return false;
    } else return false;
  }
  if (!digits || dots > 1) return false;
  std::string body = s.substr(i);
  if (exp) {
    *out = Value::fromReal(std::strtod(s.c_str(), nullptr));
  } else if (!dots && body.size() <= 18) {
    int64_t v = std::strtoll(body.c_str(), nullptr, 10);
    *out = Value::fromInt(neg ? -v : v);
  } else {
    if (body[0] == '.') body.insert(0, "0");
    if (body.back() == '.') body.pop_back();
    *out = Value::fromDecimal(neg ? "-" + body : body);
  }
  return true;
}

bool readNumber(const std::string& s, size_t& i, size_t maxDigits, int* out) {
  size_t start = i;
  int v = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < maxDigits)
    v = v * 10 + (s[i++] - '0');
  *out = v;
  return i > start;
}

// Dates as users write them: 2024-05-01 or 2024/5/1, the American 5/1/2024
// that Jet reads between # signs, each optionally followed by a time
// (13:30, 13:30:15, 1:30 PM); or a time alone, on 1899-12-30.
bool parseDate(const std::string& text, DateTime* out) {
  std::string s = lower(text);
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return false;
  s = s.substr(a, s.find_last_not_of(' ') - a + 1);
  DateTime d;
  size_t i = 0;
  int n1, n2, n3;
  size_t before = i;
  if (!readNumber(s, i, 4, &n1)) return false;
  bool dateGiven = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '/')) {
    const char sep = s[i++];
    const bool yearFirst = i - 1 - before == 4;
    if (!readNumber(s, i, 2, &n2) || i >= s.size() || s[i++] != sep || !readNumber(s, i, 4, &n3))
      return false;
    if (yearFirst) {
      d.year = n1; d.month = n2; d.day = n3;
    } else {
      d.month = n1; d.day = n2; d.year = n3;
    }
    dateGiven = true;
    if (i < s.size() && s[i] != ' ' && s[i] != 't') return false;
    while (i < s.size() && (s[i] == ' ' || s[i] == 't')) ++i;
    if (i < s.size() && !readNumber(s, i, 2, &n1)) return false;
  }
  if (i < s.size() || !dateGiven) {
    // a time: n1 holds the hour
    if (i >= s.size() || s[i] != ':') return false;
    d.hour = n1;
    ++i;
    if (!readNumber(s, i, 2, &d.minute)) return false;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!readNumber(s, i, 2, &d.second)) return false;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    std::string ampm = s.substr(i);
    if (ampm == "am" || ampm == "pm") {
      if (d.hour < 1 || d.hour > 12) return false;
      d.hour = d.hour % 12 + (ampm == "pm" ? 12 : 0);
    } else if (!ampm.empty()) {
      return false;
    }
  }
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > days[d.month - 1] || (d.month == 2 && d.day == 29 && !leap) || d.hour > 23 ||
      d.minute > 59 || d.second > 59)
    return false;
  *out = d;
  return true;
}

// Exact comparison of integers and decimal numerals.
int compareDecimal(const std::string& a, const std::string& b) {
  struct Parts {
    bool neg;
    std::string whole, frac;
  };
  auto split = [](const std::string& s) {
    Parts p;
    size_t i = 0;
    p.neg = !s.empty() && s[0] == '-';
    if (p.neg || (!s.empty() && s[0] == '+')) i = 1;
    size_t dot = s.find('.', i);
    p.whole = s.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
    p.frac = dot == std::string::npos ? "" : s.substr(dot + 1);
    p.whole.erase(0, std::min(p.whole.find_first_not_of('0'), p.whole.size()));
    while (!p.frac.empty() && p.frac.back() == '0') p.frac.pop_back();
    if (p.whole.empty() && p.frac.empty()) p.neg = false;
    return p;
  };
  Parts x = split(a), y = split(b);
  if (x.neg != y.neg) return x.neg ? -1 : 1;
  int sign = x.neg ? -1 : 1;
  if (x.whole.size() != y.whole.size()) return x.whole.size() < y.whole.size() ? -sign : sign;
  if (int c = x.whole.compare(y.whole)) return c < 0 ? -sign : sign;
  if (int c = x.frac.compare(y.frac)) return c < 0 ? -sign : sign;
  return 0;
}

double asDouble(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Int: case Value::Kind::Bool: return static_cast<double>(v.asInt());
    case Value::Kind::Real: return v.asReal();
    default: return std::strtod(v.str().c_str(), nullptr);
  }
}

int compareFolded(const std::string& a, const std::string& b) {
  std::u32string x = foldCase(a), y = foldCase(b);
  return x < y ? -1 : (y < x ? 1 : 0);
}

// Both values are non-null; kinds were matched when the filter was built,
// except for fields of unknown type, which compare as text.
int compareValues(const Value& a, const Value& b) {
  Class ca = classOf(a), cb = classOf(b);
  if (ca == Class::Number && cb == Class::Number) {
    if (a.kind() == Value::Kind::Int && b.kind() == Value::Kind::Int)
      return a.asInt() < b.asInt() ? -1 : (b.asInt() < a.asInt() ? 1 : 0);
    if (a.kind() == Value::Kind::Real || b.kind() == Value::Kind::Real) {
      double x = asDouble(a), y = asDouble(b);
      return x < y ? -1 : (y < x ? 1 : 0);
    }
    return compareDecimal(a.toText(), b.toText());
  }
  if (ca == Class::Bool && cb == Class::Bool) return static_cast<int>(a.asInt() - b.asInt());
  if (ca == Class::Date && cb == Class::Date) {
    const DateTime& x = a.asDateTime();
    const DateTime& y = b.asDateTime();
    const int64_t kx[] = {x.year, x.month, x.day, x.hour, x.minute, x.second, x.nanosecond};
    const int64_t ky[] = {y.year, y.month, y.day, y.hour, y.minute, y.second, y.nanosecond};
    for (int i = 0; i < 7; ++i)
      if (kx[i] != ky[i]) return kx[i] < ky[i] ? -1 : 1;
    return 0;
  }
  return compareFolded(a.toText(), b.toText());
}

// A "like" pattern: % any run, _ one character, [abc] [a-z] [!abc] sets.
class LikePattern {
 public:
  explicit LikePattern(const std::string& pattern) {
    std::u32string p = foldCase(pattern);
    for (size_t i = 0; i < p.size(); ++i) {
      Item it;
      if (p[i] == U'%') {
        it.kind = Item::Any;
      } else if (p[i] == U'_') {
        it.kind = Item::One;
      } else if (p[i] == U'[') {
        size_t e = p.find(U']', i + 1);
        if (e == std::u32string::npos) bad("like 模式中的 [ 没有配对");
        it.kind = Item::Set;
        size_t j = i + 1;
        if (j < e && (p[j] == U'!' || p[j] == U'^')) {
          it.negate = true;
          ++j;
        }
        for (; j < e; ++j) {
          if (j + 2 < e && p[j + 1] == U'-') {
            it.ranges.push_back({p[j], p[j + 2]});
            j += 2;
          } else {
            it.ranges.push_back({p[j], p[j]});
          }
        }
        i = e;
      } else {
        it.kind = Item::Char;
        it.c = p[i];
      }
      items_.push_back(std::move(it));
    }
  }

  bool matches(const std::string& text) const {
    std::u32string s = foldCase(text);
    size_t si = 0, pi = 0, star = std::string::npos, mark = 0;
    while (si < s.size()) {
      if (pi < items_.size() && items_[pi].kind != Item::Any && items_[pi].accepts(s[si])) {
        ++si;
        ++pi;
      } else if (pi < items_.size() && items_[pi].kind == Item::Any) {
        star = pi++;
        mark = si;
      } else if (star != std::string::npos) {
        pi = star + 1;
        si = ++mark;
      } else {
        return false;
      }
    }
    while (pi < items_.size() && items_[pi].kind == Item::Any) ++pi;
    return pi == items_.size();
  }

 private:
  struct Item {
    enum Kind { Any, One, Char, Set } kind = Char;
    char32_t c = 0;
    bool negate = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
    bool accepts(char32_t x) const {
      if (kind == One) return true;
      if (kind == Char) return x == c;
      bool in = false;
      for (auto& r : ranges) in = in || (x >= r.first && x <= r.second);
      return in != negate;
    }
  };
  std::vector<Item> items_;
};

enum class Truth { False, True, Unknown };

Truth fromBool(bool b) { return b ? Truth::True : Truth::False; }

}  // namespace

// ------------------------------------------------------------------- nodes

struct AccessFilter::Node {
  enum Kind { Literal, Field, Not, And, Or, Compare, Like, IsNull, Test } kind = Literal;
  Value value;      // Literal
  int field = -1;   // Field
  std::string op;   // Compare: = <> < > <= >=
  bool negate = false;  // Like, IsNull
  std::unique_ptr<LikePattern> pattern;  // Like with a literal pattern
  std::vector<std::unique_ptr<Node>> kids;

  bool isValue() const { return kind == Literal || kind == Field; }

  const Value& valueIn(const std::vector<Value>& row) const {
    return kind == Field ? row[static_cast<size_t>(field)] : value;
  }

  Truth eval(const std::vector<Value>& row) const {
    switch (kind) {
      case Not: {
        Truth t = kids[0]->eval(row);
        return t == Truth::Unknown ? t : fromBool(t == Truth::False);
      }
      case And: {
        Truth a = kids[0]->eval(row);
        if (a == Truth::False) return a;
        Truth b = kids[1]->eval(row);
        if (b == Truth::False) return b;
        return a == Truth::True && b == Truth::True ? Truth::True : Truth::Unknown;
      }
      case Or: {
        Truth a = kids[0]->eval(row);
        if (a == Truth::True) return a;
        Truth b = kids[1]->eval(row);
        if (b == Truth::True) return b;
        return a == Truth::False && b == Truth::False ? Truth::False : Truth::Unknown;
      }
      case Compare: {
        const Value& a = kids[0]->valueIn(row);
        const Value& b = kids[1]->valueIn(row);
        if (a.isNull() || b.isNull()) return Truth::Unknown;
        if (op == "=" || op == "<>") {
          bool eq = (classOf(a) == Class::Text && classOf(b) == Class::Text)
                        ? equalsIgnoreCase(a.str(), b.str())
                        : compareValues(a, b) == 0;
          return fromBool(eq == (op == "="));
        }
        int c = compareValues(a, b);
        if (op == "<") return fromBool(c < 0);
        if (op == ">") return fromBool(c > 0);
        if (op == "<=") return fromBool(c <= 0);
        return fromBool(c >= 0);
      }
      case Like: {
        const Value& a = kids[0]->valueIn(row);
        const Value& p = kids[1]->valueIn(row);
        if (a.isNull() || p.isNull()) return Truth::Unknown;
        bool m = pattern ? pattern->matches(a.toText()) : LikePattern(p.toText()).matches(a.toText());
        return fromBool(m != negate);
      }
      case IsNull:
        return fromBool(kids[0]->valueIn(row).isNull() != negate);
      case Test: {
        const Value& v = kids[0]->valueIn(row);
        if (v.isNull()) return Truth::Unknown;
        return fromBool(v.kind() == Value::Kind::Real ? v.asReal() != 0
                                                       : compareDecimal(v.toText(), "0") != 0);
      }
      default:
        return Truth::Unknown;
    }
  }
};

namespace {

using Node = AccessFilter::Node;
using NodePtr = std::unique_ptr<Node>;

NodePtr make(Node::Kind k) {
  auto n = std::make_unique<Node>();
  n->kind = k;
  return n;
}

class Parser {
 public:
  Parser(const std::string& text, const std::vector<FieldInfo>& fields)
      : text_(text), tokens_(tokenize(text)), fields_(fields) {}

  NodePtr parse() {
    if (at().type == Token::End) bad("where 后面缺少条件");
    NodePtr n = orExpr();
    if (at().type != Token::End) unexpected();
    return n;
  }

 private:
  const Token& at() const { return tokens_[pos_]; }
  bool isWord(const char* w) const { return at().type == Token::Word && lower(at().text) == w; }
  bool isSymbol(const char* s) const { return at().type == Token::Symbol && at().text == s; }
  void take() { if (at().type != Token::End) ++pos_; }
  bool takeWord(const char* w) {
    if (!isWord(w)) return false;
    take();
    return true;
  }

  [[noreturn]] void unexpected() const {
    if (at().type == Token::End) bad("条件不完整：“" + echo(text_) + "”");
    std::string rest = text_.substr(at().pos, 30);
    bad("无法理解“" + rest + (text_.size() - at().pos > 30 ? "…" : "") + "”");
  }

  void enter() {
    if (++depth_ > 100) bad("括号嵌套太深");
  }

  NodePtr orExpr() {
    enter();
    NodePtr left = andExpr();
    while (takeWord("or")) {
      NodePtr n = make(Node::Or);
      n->kids.push_back(std::move(left));
      n->kids.push_back(andExpr());
      left = std::move(n);
    }
    --depth_;
    return left;
  }

  NodePtr andExpr() {
    NodePtr left = notExpr();
    while (takeWord("and")) {
      NodePtr n = make(Node::And);
      n->kids.push_back(std::move(left));
      n->kids.push_back(notExpr());
      left = std::move(n);
    }
    return left;
  }

  NodePtr notExpr() {
    if (takeWord("not")) {
      enter();
      NodePtr n = make(Node::Not);
      n->kids.push_back(notExpr());
      --depth_;
      return n;
    }
    return predicate();
  }

  NodePtr predicate() {
    NodePtr left = operand();
    static const char* const ops[] = {"=", "<>", "!=", "<=", ">=", "<", ">"};
    for (const char* op : ops) {
      if (isSymbol(op)) {
        take();
        return compare(std::move(left), op[0] == '!' ? "<>" : op, operand());
      }
    }
    if (takeWord("is")) {
      NodePtr n = make(Node::IsNull);
      n->negate = takeWord("not");
      if (!takeWord("null")) unexpected();
      n->kids.push_back(asValue(std::move(left)));
      return n;
    }
    bool negate = takeWord("not");
    if (takeWord("like")) return like(std::move(left), operand(), negate);
    if (takeWord("between")) {
      NodePtr lowBound = operand();
      if (!takeWord("and")) unexpected();
      NodePtr highBound = operand();
      // between a and b: both bounds included
      NodePtr copy = cloneValue(*left);
      NodePtr n = make(Node::And);
      n->kids.push_back(compare(std::move(left), ">=", std::move(lowBound)));
      n->kids.push_back(compare(std::move(copy), "<=", std::move(highBound)));
      return negate ? wrapNot(std::move(n)) : std::move(n);
    }
    if (takeWord("in")) {
      if (!isSymbol("(")) unexpected();
      take();
      NodePtr any;
      do {
        NodePtr eq = compare(cloneValue(*left), "=", operand());
        if (!any) {
          any = std::move(eq);
        } else {
          NodePtr n = make(Node::Or);
          n->kids.push_back(std::move(any));
          n->kids.push_back(std::move(eq));
          any = std::move(n);
        }
        if (!isSymbol(",")) break;
        take();
      } while (true);
      if (!isSymbol(")")) unexpected();
      take();
      return negate ? wrapNot(std::move(any)) : std::move(any);
    }
    if (negate) unexpected();
    if (!left->isValue()) return left;
    // A field or value alone: true when it is Yes or a non-zero number.
    Class c = classOf(*left);
    if (c != Class::Bool && c != Class::Number && c != Class::Any && c != Class::Null)
      bad(describe(*left) + "不是条件，缺少比较（例如 = 或 like）");
    NodePtr n = make(Node::Test);
    n->kids.push_back(std::move(left));
    return n;
  }

  NodePtr wrapNot(NodePtr inner) {
    NodePtr n = make(Node::Not);
    n->kids.push_back(std::move(inner));
    return n;
  }

  NodePtr operand() {
    const Token& t = at();
    if (isSymbol("(")) {
      take();
      NodePtr n = orExpr();
      if (!isSymbol(")")) unexpected();
      take();
      return n;
    }
    if (isSymbol("-") || isSymbol("+")) {
      const bool neg = at().text == "-";
      take();
      if (at().type != Token::Number) bad("符号 " + std::string(neg ? "-" : "+") + " 后面应是数字（不支持计算）");
      return number((neg ? "-" : "") + at().text);
    }
    switch (t.type) {
      case Token::Number:
        return number(t.text);
      case Token::String: {
        NodePtr n = make(Node::Literal);
        n->value = Value::fromText(t.text);
        take();
        return n;
      }
      case Token::Date: {
        DateTime d;
        if (!parseDate(t.text, &d)) bad("无法识别日期 #" + t.text + "#（可写作 #2024-05-01# 或 #2024-05-01 13:30:00#）");
        NodePtr n = make(Node::Literal);
        n->value = Value::fromDateTime(d);
        take();
        return n;
      }
      case Token::Name:
        take();
        return field(t.text);
      case Token::Word: {
        std::string w = lower(t.text);
        if (w == "null") {
          take();
          return make(Node::Literal);
        }
        if (w == "true" || w == "yes" || w == "false" || w == "no") {
          NodePtr n = make(Node::Literal);
          n->value = Value::fromBool(w == "true" || w == "yes");
          take();
          return n;
        }
        static const char* const reserved[] = {"and", "or", "not", "like", "is", "between", "in", "where"};
        for (const char* r : reserved)
          if (w == r) unexpected();
        std::string name = t.text;
        take();
        if (isSymbol("(")) bad("不支持函数“" + echo(name) + "(…)”");
        return field(name);
      }
      default:
        unexpected();
    }
  }

  NodePtr number(const std::string& text) {
    NodePtr n = make(Node::Literal);
    if (!parseNumber(text, &n->value)) bad("无法识别数字“" + echo(text) + "”");
    take();
    return n;
  }

  NodePtr field(const std::string& name) {
    int found = -1;
    for (size_t i = 0; i < fields_.size() && found < 0; ++i)
      if (fields_[i].name == name) found = static_cast<int>(i);
    for (size_t i = 0; i < fields_.size() && found < 0; ++i)
      if (equalsIgnoreCase(fields_[i].name, name)) found = static_cast<int>(i);
    if (found < 0) bad("表中没有字段“" + echo(name) + "”（文本值要用引号括起来）");
    NodePtr n = make(Node::Field);
    n->field = found;
    return n;
  }

  static NodePtr cloneValue(const Node& n) {
    if (!n.isValue()) bad("between 和 in 的左边应是字段或值");
    NodePtr c = make(n.kind);
    c->value = n.value;
    c->field = n.field;
    return c;
  }

  NodePtr asValue(NodePtr n) {
    if (!n->isValue()) bad("比较的两边应是字段或值，不能是条件");
    return n;
  }

  Class classOf(const Node& n) const {
    return n.kind == Node::Field ? vov::classOf(fields_[static_cast<size_t>(n.field)].type)
                                 : vov::classOf(n.value);
  }

  std::string describe(const Node& n) const {
    if (n.kind == Node::Field) return "字段“" + fields_[static_cast<size_t>(n.field)].name + "”";
    return "“" + n.value.toText() + "”";
  }

  // Brings a literal to the class of the field it is compared with, or
  // refuses the pair.
  void reconcile(Node& a, Node& b) {
    Class ca = classOf(a), cb = classOf(b);
    if (ca == cb || ca == Class::Null || cb == Class::Null || ca == Class::Any || cb == Class::Any)
      return;
    if (ca == Class::Bytes || cb == Class::Bytes) bad("二进制数据不能比较");
    if (b.kind == Node::Literal && convert(b, ca)) return;
    if (a.kind == Node::Literal && convert(a, cb)) return;
    std::string hint;
    if (ca == Class::Text && cb == Class::Number && b.kind == Node::Literal)
      hint = "（文本值要用引号括起来，例如 \"" + b.value.toText() + "\"）";
    bad(describe(a) + "是" + className(ca) + "，" + describe(b) + "是" + className(cb) +
        "，类型不匹配" + hint);
  }

  static bool convert(Node& lit, Class to) {
    const Value& v = lit.value;
    if (to == Class::Number && v.kind() == Value::Kind::Text) return parseNumber(v.str(), &lit.value);
    if (to == Class::Date && v.kind() == Value::Kind::Text) {
      DateTime d;
      if (!parseDate(v.str(), &d)) return false;
      lit.value = Value::fromDateTime(d);
      return true;
    }
    if (to == Class::Bool) {
      if (classOf(v) == Class::Number) {
        lit.value = Value::fromBool(compareDecimal(v.toText(), "0") != 0);
        return true;
      }
      if (v.kind() == Value::Kind::Text) {
        std::string w = lower(v.str());
        if (w == "true" || w == "yes" || w == "-1" || w == "1") lit.value = Value::fromBool(true);
        else if (w == "false" || w == "no" || w == "0") lit.value = Value::fromBool(false);
        else return false;
        return true;
      }
    }
    return false;
  }

  static Class classOf(const Value& v) { return vov::classOf(v); }

  NodePtr compare(NodePtr a, const std::string& op, NodePtr b) {
    a = asValue(std::move(a));
    b = asValue(std::move(b));
    reconcile(*a, *b);
    NodePtr n = make(Node::Compare);
    n->op = op;
    n->kids.push_back(std::move(a));
    n->kids.push_back(std::move(b));
    return n;
  }

  NodePtr like(NodePtr a, NodePtr p, bool negate) {
    a = asValue(std::move(a));
    p = asValue(std::move(p));
    if (classOf(*a) == Class::Bytes || classOf(*p) == Class::Bytes) bad("二进制数据不能用 like 比较");
    NodePtr n = make(Node::Like);
    n->negate = negate;
    if (p->kind == Node::Literal && !p->value.isNull())
      n->pattern = std::make_unique<LikePattern>(p->value.toText());
    n->kids.push_back(std::move(a));
    n->kids.push_back(std::move(p));
    return n;
  }

  const std::string& text_;
  std::vector<Token> tokens_;
  const std::vector<FieldInfo>& fields_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

AccessFilter::AccessFilter(const std::string& condition, const std::vector<FieldInfo>& fields)
    : root_(Parser(condition, fields).parse()) {}

AccessFilter::~AccessFilter() = default;

bool AccessFilter::matches(const std::vector<Value>& row) const {
  return root_->eval(row) == Truth::True;
}

}  // namespace vov
