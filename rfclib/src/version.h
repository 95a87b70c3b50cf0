// Version of this library, shown by RfcGetAllLibVersions, RfcGetPatchLevel
// and the attributes of every connection.
#ifndef RFCLIB_VERSION_H
#define RFCLIB_VERSION_H

namespace rfclib {

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 1;
inline constexpr int kVersionPatch = 0;
inline constexpr const char16_t* kRelease = u"0110";
inline constexpr const char16_t* kCodePage = u"4103";  // UTF-16 little endian

}  // namespace rfclib

#endif
