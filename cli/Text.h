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

std::string ToLower(std::string text);
// Splits on any of the separator characters; empty pieces are dropped and
// spaces around pieces trimmed.
std::vector<std::string> SplitList(const std::string& text, const char* separators);

}  // namespace trcli

#endif
