// UTF-8 and UTF-16 conversions (with byte-preserving paths), escapes for
// display, and list splitting.
#include "Text.h"

#include <cctype>

namespace trcli {

std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < maxUnits && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    size_t extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else { out += u'\uFFFD'; ++i; continue; }
    bool valid = true;
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (!valid) { out += u'\uFFFD'; ++i; continue; }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

size_t Utf8SequenceLength(const std::string& text, size_t at) {
  unsigned char c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) return 1;
  size_t extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
  if (extra == 0 || at + extra >= text.size()) return 0;
  char32_t cp = c & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    unsigned char next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return extra + 1;
}

bool IsValidUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string EscapeInvalidUtf8(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t length = Utf8SequenceLength(text, at);
    if (length != 0) {
      out.append(text, at, length);
      at += length;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[at++]);
    out += "\\x";
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::u16string PathToUtf16(const std::string& path) {
  std::u16string out;
  for (size_t at = 0; at < path.size();) {
    size_t length = Utf8SequenceLength(path, at);
    if (length == 0) {
      out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(path[at++]));
      continue;
    }
    out += Utf8ToUtf16(path.substr(at, length));
    at += length;
  }
  return out;
}

std::string ToLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> SplitList(const std::string& text, const char* separators) {
  std::vector<std::string> pieces;
  std::string current;
  auto flush = [&] {
    size_t b = current.find_first_not_of(" \t");
    size_t e = current.find_last_not_of(" \t");
    if (b != std::string::npos) pieces.push_back(current.substr(b, e - b + 1));
    current.clear();
  };
  for (char c : text) {
    if (std::string(separators).find(c) != std::string::npos) flush();
    else current += c;
  }
  flush();
  return pieces;
}

}  // namespace trcli
