// Text helpers at the boundary between the library's UTF-16 texts and the
// tool's UTF-8 world.
#ifndef TYPERECOVERY_CLI_TEXT_H
#define TYPERECOVERY_CLI_TEXT_H

#include <string>
#include <vector>

namespace trcli {

// Converts up to maxUnits units of a zero-terminated UTF-16 text (or until
// its terminating zero). Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits = static_cast<size_t>(-1));
std::u16string Utf8ToUtf16(const std::string& text);
// For paths handed to the library: like Utf8ToUtf16, but a byte outside a
// valid UTF-8 sequence becomes the lone surrogate U+DC00 + byte, which the
// library's POSIX backend turns back into that byte.
std::u16string PathToUtf16(const std::string& path);

std::string ToLower(std::string text);

// Linux paths are bytes and need not be UTF-8. The length of the valid
// UTF-8 sequence at text[at] (0 when the byte starts none), and the text
// with every byte outside a valid sequence shown as \xHH.
size_t Utf8SequenceLength(const std::string& text, size_t at);
bool IsValidUtf8(const std::string& text);
std::string EscapeInvalidUtf8(const std::string& text);
// Splits on any of the separator characters; empty pieces are dropped and
// spaces around pieces trimmed.
std::vector<std::string> SplitList(const std::string& text, const char* separators);

}  // namespace trcli

#endif
