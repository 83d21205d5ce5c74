#include "text.hpp"

#include <charconv>

namespace orbrix::telegram::text {

namespace {

struct Decoded {
  char32_t code_point;
  std::size_t bytes;
};

// Decodes the character at `pos`; an invalid byte decodes as U+FFFD of one byte.
Decoded decode(std::string_view s, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    return {b0, 1};
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {0xFFFD, 1};
  }
  if (pos + len > s.size()) {
    return {0xFFFD, 1};
  }
  for (std::size_t i = 1; i < len; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      return {0xFFFD, 1};
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return {0xFFFD, 1};
  }
  return {cp, len};
}

std::size_t units_of(char32_t cp) {
  return cp >= 0x10000 ? 2 : 1;
}

// White space as Python's str.split() sees it.
bool is_space(char32_t c) {
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x1F:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

}  // namespace

std::size_t utf16_length(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < s.size();) {
    const Decoded d = decode(s, pos);
    units += units_of(d.code_point);
    pos += d.bytes;
  }
  return units;
}

std::size_t utf16_prefix_bytes(std::string_view s, std::size_t units) {
  std::size_t pos = 0;
  std::size_t seen = 0;
  while (pos < s.size() && seen < units) {
    const Decoded d = decode(s, pos);
    seen += units_of(d.code_point);
    pos += d.bytes;
  }
  return pos;
}

std::vector<std::string> split_words(std::string_view s) {
  std::vector<std::string> words;
  std::size_t start = std::string_view::npos;
  for (std::size_t pos = 0; pos < s.size();) {
    const Decoded d = decode(s, pos);
    if (is_space(d.code_point)) {
      if (start != std::string_view::npos) {
        words.emplace_back(s.substr(start, pos - start));
      }
      start = std::string_view::npos;
    } else if (start == std::string_view::npos) {
      start = pos;
    }
    pos += d.bytes;
  }
  if (start != std::string_view::npos) {
    words.emplace_back(s.substr(start));
  }
  return words;
}

std::vector<std::string> split_message(std::string_view s, std::size_t max_units) {
  if (max_units < 2) {
    max_units = 2;  // room for one surrogate pair
  }
  std::vector<std::string> pieces;
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t pos = begin;
    std::size_t units = 0;
    bool visible = false;                             // a character other than white space
    std::size_t last_break = std::string_view::npos;  // byte just after a '\n' that follows one
    while (pos < s.size()) {
      const Decoded d = decode(s, pos);
      const std::size_t u = units_of(d.code_point);
      if (units + u > max_units) {
        break;
      }
      units += u;
      pos += d.bytes;
      if (!is_space(d.code_point)) {
        visible = true;
      } else if (d.code_point == '\n' && visible) {
        last_break = pos;
      }
    }
    const std::size_t end =
        pos < s.size() && last_break != std::string_view::npos ? last_break : pos;
    // Telegram refuses a blank text after the pieces before it were
    // delivered, so a blank stretch is dropped rather than sent.
    if (visible) {
      pieces.emplace_back(s.substr(begin, end - begin));
    }
    begin = end;
  }
  return pieces;
}

std::optional<std::int64_t> parse_count(std::string_view s) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') {
      return std::nullopt;
    }
  }
  if (s.empty()) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  const char* end = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(s.data(), end, value);
  if (ec != std::errc{} || ptr != end) {
    return std::nullopt;
  }
  return value;
}

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

}  // namespace orbrix::telegram::text
