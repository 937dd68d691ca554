#include "toolkit/source_format.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "tables/loader.h"

namespace tallow::toolkit {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseInteger(std::string_view text, long long* out) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, *out);
  return ec == std::errc() && end == last;
}

bool ParseHexByte(std::string_view text, uint8_t* out) {
  if (text.empty() || text.size() > 2) return false;
  int v = 0;
  for (char c : text) {
    const int h = HexValue(c);
    if (h < 0) return false;
    v = v * 16 + h;
  }
  *out = static_cast<uint8_t>(v);
  return true;
}

std::optional<TableInfo> FindTable(std::string_view nameOrPath) {
  const auto slash = nameOrPath.find_last_of("/\\");
  if (slash != std::string_view::npos) nameOrPath.remove_prefix(slash + 1);
  if (nameOrPath.size() > 4 && nameOrPath.substr(nameOrPath.size() - 4) == ".txt") {
    nameOrPath.remove_suffix(4);
  }
  const FileFormat* format = FindFileFormat(nameOrPath);
  if (format == nullptr) return std::nullopt;
  return TableInfo{format->name, format->kind, format->index};
}

bool IsTextTable(TableKind kind) { return FileFormatOf(kind).text; }

std::size_t BinarySize(const TableInfo& table) { return table.format().size; }

int FixedLines(const TableInfo& table) {
  const FileFormat& f = table.format();
  return f.text ? f.lines : -1;
}

int MaxLineLength(TableKind kind) { return FileFormatOf(kind).maxLineLength; }

int LoaderLines(const std::vector<std::string>& lines, bool crlf, TableKind kind) {
  const auto limit = static_cast<std::size_t>(MaxLineLength(kind)) + 1;
  int count = 0;
  for (const std::string& line : lines) {
    std::size_t length = line.size();
    // The reader drops the CR that stands directly before the line feed.
    if (!crlf && length > 0 && line.back() == '\r') --length;
    count += static_cast<int>(length / limit) + 1;
  }
  return count;
}

Status LineError(const std::string& fileName, int line, std::string_view message) {
  return Status::Error(fmt::format("{} line {}: {}", fileName, line, message));
}

Result<SourceRecords> SplitSource(const std::string& fileName, std::string_view source) {
  SourceRecords records;
  std::vector<SourceLine>& lines = records.lines;
  std::vector<Token>& tokens = records.tokens;
  lines.reserve(static_cast<std::size_t>(std::count(source.begin(), source.end(), '\n')) + 1);
  // A token's text is never longer than the source text it comes from, so
  // the texts never outgrow this and the views into them stay valid.
  std::vector<char>& texts = records.texts;
  texts.reserve(source.size());
  // A token begins where a run of non-blanks begins (more runs than tokens
  // where a quoted text holds blanks or a comment follows), so the tokens
  // never outgrow this count either.
  std::size_t runs = 0;
  bool blank = true;
  for (const char c : source) {
    const bool b = c == ' ' || c == '\t' || c == '\n';
    runs += static_cast<std::size_t>(blank && !b);
    blank = b;
  }
  tokens.reserve(runs);
  // Where each line's tokens start; the spans are made once all are in.
  std::vector<std::size_t> firstToken;
  firstToken.reserve(lines.capacity());
  int number = 0;
  std::size_t pos = 0;
  while (pos < source.size()) {
    std::size_t end = source.find('\n', pos);
    if (end == std::string_view::npos) end = source.size();
    std::string_view text = source.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);

    const std::size_t first = tokens.size();
    std::size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == ' ' || c == '\t') {
        ++i;
        continue;
      }
      if (c == '#') break;
      Token token;
      const std::size_t textStart = texts.size();
      if (c == '"') {
        token.quoted = true;
        ++i;
        bool closed = false;
        while (i < text.size()) {
          const char q = text[i++];
          if (q == '"') {
            closed = true;
            break;
          }
          if (q != '\\') {
            texts.push_back(q);
            continue;
          }
          if (i >= text.size()) break;
          const char e = text[i++];
          switch (e) {
            case '\\': texts.push_back('\\'); break;
            case '"': texts.push_back('"'); break;
            case 'r': texts.push_back('\r'); break;
            case 't': texts.push_back('\t'); break;
            case 'x': {
              const int hi = i < text.size() ? HexValue(text[i]) : -1;
              const int lo = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
              if (hi < 0 || lo < 0) return LineError(fileName, number, "\\x needs two hex digits");
              texts.push_back(static_cast<char>(hi * 16 + lo));
              i += 2;
              break;
            }
            default:
              return LineError(fileName, number, fmt::format("unknown escape \\{}", e));
          }
        }
        if (!closed) return LineError(fileName, number, "quoted text is not closed");
        if (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '#') {
          return LineError(fileName, number, "a quoted text must be followed by a blank");
        }
      } else {
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '#') {
          if (text[i] == '"') return LineError(fileName, number, "a quote inside a field");
          ++i;
        }
        texts.insert(texts.end(), text.data() + start, text.data() + i);
      }
      token.text = std::string_view(texts.data() + textStart, texts.size() - textStart);
      tokens.push_back(token);
    }
    if (tokens.size() > first) {
      lines.push_back(SourceLine{number, {}});
      firstToken.push_back(first);
    }
  }
  const std::span<const Token> all(tokens);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::size_t end = k + 1 < lines.size() ? firstToken[k + 1] : tokens.size();
    lines[k].tokens = all.subspan(firstToken[k], end - firstToken[k]);
  }
  return records;
}

std::string Quote(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u > 0x7E) {
      out += fmt::format("\\x{:02X}", u);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

bool IsBare(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u > 0x7E || c == '"' || c == '#') return false;
  }
  return true;
}

std::string TokenText(std::string_view text) {
  return IsBare(text) ? std::string(text) : Quote(text);
}

Status FieldReader::Arity(std::size_t min, std::size_t max, std::string_view form) const {
  if (Size() < min || Size() > max) return Fail(fmt::format("expected {}", form));
  return Status::Ok();
}

Status FieldReader::Number(std::size_t i, std::string_view what, long long min, long long max,
                           long long* out) const {
  const Token& t = At(i);
  long long v = 0;
  if (t.quoted || !ParseInteger(t.text, &v)) {
    return Fail(fmt::format("{} \"{}\" is not a number", what, t.text));
  }
  if (v < min || v > max) return Fail(fmt::format("{} {} outside {}..{}", what, v, min, max));
  *out = v;
  return Status::Ok();
}

Status FieldReader::Code(std::size_t i, std::string_view what, char out[5]) const {
  const Token& t = At(i);
  if ((t.text.empty() && !t.quoted) || t.text.size() > 5) {
    return Fail(fmt::format("{} \"{}\" is not one to five characters", what, t.text));
  }
  std::memset(out, ' ', 5);
  std::memcpy(out, t.text.data(), t.text.size());
  return Status::Ok();
}

Status FieldReader::IndexedCode(std::size_t i, bool strictTail, DecodedCode* out) const {
  char code[5];
  TALLOW_TRY(Code(i, "code", code));
  if (!DecodeCode(code, strictTail, out)) {
    return Fail(fmt::format("\"{}\" is not a valid {} code", At(i).text,
                            strictTail ? "diagnosis" : "procedure"));
  }
  return Status::Ok();
}

Status FieldReader::Char(std::size_t i, std::string_view what, char* out) const {
  const Token& t = At(i);
  if (t.text.size() != 1) return Fail(fmt::format("{} \"{}\" is not one character", what, t.text));
  *out = t.text[0];
  return Status::Ok();
}

Status FieldReader::DenseHex(std::size_t i, std::string_view what, uint8_t* out, int n) const {
  const Token& t = At(i);
  if (t.quoted || t.text.size() != static_cast<std::size_t>(2 * n)) {
    return Fail(fmt::format("{} \"{}\" is not {} hex digits", what, t.text, 2 * n));
  }
  for (int k = 0; k < n; ++k) {
    if (!ParseHexByte(std::string_view(t.text).substr(2 * k, 2), &out[k])) {
      return Fail(fmt::format("{} \"{}\" is not {} hex digits", what, t.text, 2 * n));
    }
  }
  return Status::Ok();
}

Status FieldReader::SparseBytes(std::size_t i, std::string_view what, int firstIndex, int n,
                                uint8_t* out) const {
  const Token& t = At(i);
  std::memset(out, 0, static_cast<std::size_t>(n));
  if (!t.quoted && t.text == "-") return Status::Ok();
  std::vector<bool> seen(static_cast<std::size_t>(n), false);
  std::string_view rest = t.text;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::size_t colon = item.find(':');
    long long index = 0;
    uint8_t value = 0;
    if (t.quoted || colon == std::string_view::npos ||
        !ParseInteger(item.substr(0, colon), &index) ||
        !ParseHexByte(item.substr(colon + 1), &value)) {
      return Fail(fmt::format("{}: \"{}\" is not INDEX:HH", what, item));
    }
    if (index < firstIndex || index >= firstIndex + n) {
      return Fail(fmt::format("{}: byte {} outside {}..{}", what, index, firstIndex,
                              firstIndex + n - 1));
    }
    const auto slot = static_cast<std::size_t>(index - firstIndex);
    if (seen[slot]) return Fail(fmt::format("{}: byte {} given twice", what, index));
    seen[slot] = true;
    out[slot] = value;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return Status::Ok();
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(uint8_t byte, std::string* out) {
  out->push_back(kHexDigits[byte >> 4]);
  out->push_back(kHexDigits[byte & 0xF]);
}

}  // namespace

std::string DenseHexText(const uint8_t* bytes, int n) {
  std::string out;
  out.reserve(static_cast<std::size_t>(2 * std::max(n, 0)));
  for (int k = 0; k < n; ++k) AppendHexByte(bytes[k], &out);
  return out;
}

std::string SparseBytesText(const uint8_t* bytes, int n, int firstIndex) {
  std::string out;
  for (int k = 0; k < n; ++k) {
    if (bytes[k] == 0) continue;
    if (!out.empty()) out.push_back(',');
    out += std::to_string(k + firstIndex);
    out.push_back(':');
    AppendHexByte(bytes[k], &out);
  }
  return out.empty() ? "-" : out;
}

std::string CodeToken(const char* code) {
  std::string_view text(code, 5);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return IsBare(text) ? std::string(text) : Quote(text);
}

std::string CategoryText(int category) { return CodeText(category, 255).substr(0, 3); }

std::string RefinedCcLine(std::string_view code, char sex, char status, int drg, int row) {
  return fmt::format("{}{} {} {:04} {:03}", code, sex, status, drg, row);
}

std::string RefinedDrgLine(int drg, int refined, char age, int column, char type) {
  std::string s = fmt::format("{:04} {:04}{}{:02}", drg, refined, age, column);
  if (type != ' ') s += fmt::format("    {}", type);
  return s;
}

std::string DrgText(int number, int digit) {
  if (digit <= 9) return fmt::format("{}", number * 10 + digit);
  return fmt::format("{}/{}", number, digit);
}

}  // namespace tallow::toolkit
