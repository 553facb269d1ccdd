// The two conversions from 8-bit texts to UTF-16 that recognizers use.
// Char2WChar: one UTF-16 unit per byte (for the constant texts of the HTML
// and executable recognizers). Char2Unicode: UTF-8 where the bytes are valid
// UTF-8, otherwise each byte becomes the unit of the same value (for the
// picture-record texts taken from EXIF data). Both write a terminating zero;
// the destination must hold one unit per source byte plus one.
#ifndef TYPERECOVERY_FRAMEWORK_CHARSET_H
#define TYPERECOVERY_FRAMEWORK_CHARSET_H

namespace typerecovery {

int Char2WChar(char16_t* destination, const char* source);
int Char2Unicode(char16_t* destination, const char* source);

}  // namespace typerecovery

#endif
