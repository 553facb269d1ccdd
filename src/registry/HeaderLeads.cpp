// The header leads of the recognizer classes. Each row must admit every
// strip at which the class's header test can answer non-zero: a byte value
// missing here would hide files of that class. Most tests begin with a
// fixed signature at the strip's first byte; the ISO-media family, the IFF
// and brush forms, the colour profile and the few formats whose signature
// follows a length or version field are led by a later byte. Tar headers
// begin with a file name, but the name field ends in a zero byte; transport
// streams (sync bytes at 0 or after a 4-byte prefix) have no lead.
#include "registry/HeaderLeads.h"

#include <cstring>

namespace typerecovery {
namespace {

#define LEAD(className, offset, bytes) {className, offset, bytes, sizeof(bytes) - 1}

const HeaderLead kLeads[] = {
    LEAD("CTypeRecoveryJPG", 0, "\xFF"),
    LEAD("CTypeRecoveryGJD", 0, "F"),
    LEAD("CTypeRecoveryPCB", 0, "P"),
    LEAD("CTypeRecoveryBMP", 0, "B"),
    LEAD("CTypeRecoveryTPF", 0, "T"),
    LEAD("CTypeRecoveryAPE", 0, "M"),
    LEAD("CTypeRecoveryOLE2", 0, "\xD0"),
    LEAD("CTypeRecoveryMP4", 4, "f"),      // "ftyp" after the box size
    LEAD("CTypeRecoveryMOV", 4, "fm"),     // "ftyp" or "mdat"
    LEAD("CTypeRecovery3GP", 4, "f"),
    LEAD("CTypeRecoveryRMVB", 0, "."),
    LEAD("CTypeRecoveryAI", 0, "%"),
    LEAD("CTypeRecoveryRAR", 0, "R"),
    LEAD("CTypeRecoveryZIP", 0, "P"),
    LEAD("CTypeRecoveryDWG", 0, "A"),
    LEAD("CTypeRecoveryCDR", 0, "R"),
    LEAD("CTypeRecoveryPNG", 0, "\x89"),
    LEAD("CTypeRecoveryPSD", 0, "8"),
    LEAD("CTypeRecoveryTIFF", 0, "IM"),
    LEAD("CTypeRecoveryCHM", 0, "I"),
    LEAD("CTypeRecoveryMHT", 0, "F"),
    LEAD("CTypeRecoveryRTF", 0, "{"),
    // White space or "<", or a UTF-16 or UTF-8 byte-order mark.
    LEAD("CTypeRecoveryHTML", 0, " \t\r\n<\xFF\xFE\xEF"),
    LEAD("CTypeRecoveryWMV", 0, "\x30"),
    LEAD("CTypeRecoveryGHO", 0, "\xFE"),
    LEAD("CTypeRecoveryGIF", 0, "G"),
    LEAD("CTypeRecoveryMP3", 0, "I\xFF"),  // "ID3" or a frame sync
    LEAD("CTypeRecoveryCRW", 0, "I"),
    LEAD("CTypeRecoveryEXB", 0, "\x10"),
    LEAD("CTypeRecoveryMAX_PP", 0, "V"),
    LEAD("CTypeRecoverySWF", 0, "FC"),
    LEAD("CTypeRecoveryMID", 0, "M"),
    LEAD("CTypeRecoveryICO", 0, "\0"),
    LEAD("CTypeRecoveryMPG", 0, "\0"),
    LEAD("CTypeRecoveryAMR", 0, "#"),
    LEAD("CTypeRecovery7Z", 0, "7"),
    LEAD("CTypeRecoveryCAB", 0, "M"),
    LEAD("CTypeRecoveryHLP", 0, "\x3F"),
    LEAD("CTypeRecoveryURL", 0, "["),
    LEAD("CTypeRecoveryONE", 0, "\xE4"),
    LEAD("CTypeRecoveryVCF", 0, "B"),
    LEAD("CTypeRecoveryDBX", 0, "\xCF"),
    LEAD("CTypeRecoveryPST", 0, "!"),
    LEAD("CTypeRecoveryMXF", 0, "\x06"),
    LEAD("CTypeRecoveryXPT", 0, "X"),
    LEAD("CTypeRecoveryWTV", 0, "\xB7"),
    LEAD("CTypeRecoveryISO", 0, "\x01"),
    LEAD("CTypeRecoveryWPD", 0, "\xFF"),
    LEAD("CTypeRecoveryEXE", 0, "M"),
    LEAD("CTypeRecoveryOGG", 0, "O"),
    LEAD("CTypeRecoveryDXF", 0, "9 "),
    LEAD("CTypeRecoveryLNK", 0, "L"),
    LEAD("CTypeRecoveryQXP", 0, "\0"),
    LEAD("CTypeRecoveryQCD", 2, "Q"),      // "QCAD" after a length word
    LEAD("CTypeRecoveryMB", 8, "mM"),      // the form type, either case
    LEAD("CTypeRecoverySWI", 6, "S"),      // the UTF-16 product name
    LEAD("CTypeRecoverySDR", 0, "S"),
    LEAD("CTypeRecoveryFLV", 0, "F"),
    LEAD("CTypeRecoveryPSP", 0, "P"),
    LEAD("CTypeRecoveryDAT", 0, "C"),
    LEAD("CTypeRecoveryPFX", 0, "\x30"),
    LEAD("CTypeRecoveryEMF", 0, "\x01"),
    LEAD("CTypeRecoveryOCI", 0, "O"),
    LEAD("CTypeRecoveryICC", 36, "a"),     // "acsp"
    LEAD("CTypeRecoveryPZF", 0, "P"),
    LEAD("CTypeRecoveryRIFF", 0, "R"),
    LEAD("CTypeRecoveryDEX", 0, "d"),
    LEAD("CTypeRecoveryAU", 0, "."),
    LEAD("CTypeRecoveryABR", 4, "8"),      // "8BIM" after the version words
    LEAD("CTypeRecoveryPFB", 8, "P"),      // "PS-AdobeFont" after the segment header
    LEAD("CTypeRecoveryTTF", 0, "\0"),
    LEAD("CTypeRecoveryVNT", 0, "B"),
    LEAD("CTypeRecoveryMKV", 0, "\x1A"),
    LEAD("CTypeRecoveryM4R", 4, "f"),
    LEAD("CTypeRecoveryWMF", 0, "\xD7"),
    LEAD("CTypeRecoveryVFB", 0, "\x1A"),
    LEAD("CTypeRecoveryAIF", 0, "F"),
    LEAD("CTypeRecoveryGP5", 0, "\x18"),
    LEAD("CTypeRecoveryVEG", 0, "r"),
    LEAD("CTypeRecoveryDRW", 0, "#"),
    LEAD("CTypeRecoveryX3F", 0, "F"),
    LEAD("CTypeRecoveryWRF", 0, "W"),
    LEAD("CTypeRecovery3G2", 4, "f"),
    LEAD("CTypeRecoveryM4V", 4, "f"),
    LEAD("CTypeRecoveryMMF", 0, "M"),
    LEAD("CTypeRecoveryTAR", 99, "\0"),  // the end of the name field
};

#undef LEAD

}  // namespace

const HeaderLead* FindHeaderLead(const char* className) {
  if (className == nullptr) return nullptr;
  for (const HeaderLead& lead : kLeads) {
    if (std::strcmp(lead.className, className) == 0) return &lead;
  }
  return nullptr;
}

}  // namespace typerecovery
