// The byte-to-UTF-16 conversions of recognizer texts: one unit per byte,
// and UTF-8 with a fallback for invalid bytes.
#include "framework/Charset.h"

#include <cstdint>

namespace typerecovery {
namespace {

// Length of the valid UTF-8 sequence at p, or 0 when it is not valid.
int Utf8SequenceLength(const unsigned char* p, uint32_t* codePoint) {
  const unsigned char c = p[0];
  int length;
  uint32_t value;
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    value = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    value = c & 0x07;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating zero
    value = (value << 6) | (p[i] & 0x3F);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *codePoint = value;
  return length;
}

}  // namespace

int Char2WChar(char16_t* destination, const char* source) {
  int n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source); *p != 0; ++p) {
    destination[n++] = static_cast<char16_t>(*p);
  }
  destination[n] = 0;
  return n;
}

int Char2Unicode(char16_t* destination, const char* source) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
  bool valid = true;
  for (const unsigned char* q = p; *q != 0;) {
    uint32_t cp;
    int length = Utf8SequenceLength(q, &cp);
    if (length == 0) {
      valid = false;
      break;
    }
    q += length;
  }
  if (!valid) return Char2WChar(destination, source);
  // Valid UTF-8 never needs more units than it has bytes.
  int n = 0;
  while (*p != 0) {
    uint32_t cp = 0;
    p += Utf8SequenceLength(p, &cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      destination[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      destination[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      destination[n++] = static_cast<char16_t>(cp);
    }
  }
  destination[n] = 0;
  return n;
}

}  // namespace typerecovery
