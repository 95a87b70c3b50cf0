// Structures installed with RfcInstallUnicodeStructure, and the padding rule
// that fills the bytes of a value a partner sent too short.
#ifndef RFCLIB_TYPE_REGISTRY_H
#define RFCLIB_TYPE_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "error.h"

namespace rfclib {

struct StructureElement {
  std::u16string name;
  RFC_TYPEHANDLE type;
  unsigned decimals;
  std::size_t length;  // bytes in the UTF-16 layout
  std::size_t offset;
};

struct Structure {
  std::u16string name;
  std::vector<StructureElement> elements;
  std::size_t size;  // end of the last element
};

class TypeRegistry {
 public:
  static TypeRegistry& instance();

  // Checks and installs; an identical structure of the same name keeps its handle.
  bool install(std::u16string_view name, const RFC_UNICODE_TYPE_ELEMENT* elements,
               unsigned count, RFC_TYPEHANDLE& handle, Error& error);
  // Null when the handle names no structure. Installed structures live as
  // long as the process, so the pointer stays valid.
  const Structure* find(RFC_TYPEHANDLE handle) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Structure>> structures_;
};

bool is_elementary(RFC_TYPEHANDLE type);
bool is_character_like(RFC_TYPEHANDLE type);

// Fills bytes [from, to) of a value of `type`: UTF-16 blanks for character
// types (and character elements of structures), zeros otherwise.
void pad_value(RFC_TYPEHANDLE type, std::uint8_t* value, std::size_t from, std::size_t to);

}  // namespace rfclib

#endif
