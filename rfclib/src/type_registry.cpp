#include "type_registry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "text.h"

namespace rfclib {
namespace {

constexpr std::size_t kMaxStructures = 65536;

// Blank pattern of UTF-16LE text, by the parity of the byte's offset in the value.
void fill_blanks(std::uint8_t* value, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) value[i] = (i % 2 == 0) ? 0x20 : 0x00;
}

// Required byte length of fixed-size elementary types; 0 when free.
std::size_t fixed_length(RFC_TYPEHANDLE type) {
  switch (type) {
    case RFCTYPE_DATE: return 16;
    case RFCTYPE_TIME: return 12;
    case RFCTYPE_FLOAT: return 8;
    case RFCTYPE_INT: return 4;
    case RFCTYPE_INT2: return 2;
    case RFCTYPE_INT1: return 1;
    default: return 0;
  }
}

bool check_element(const RFC_UNICODE_TYPE_ELEMENT& e, std::size_t index, const TypeRegistry& reg,
                   std::string& why) {
  const std::string where = "element " + std::to_string(index + 1);
  if (e.name == nullptr || e.name[0] == 0) {
    why = where + " has no name";
    return false;
  }
  const Structure* nested = nullptr;
  if (!is_elementary(e.type)) {
    nested = reg.find(e.type);
    if (nested == nullptr) {
      why = where + " has the unknown type " + std::to_string(e.type);
      return false;
    }
  }
  if (e.c2_length == 0) {
    why = where + " has length 0";
    return false;
  }
  const std::size_t fixed = fixed_length(e.type);
  if (fixed != 0 && e.c2_length != fixed) {
    why = where + " must be " + std::to_string(fixed) + " bytes long";
    return false;
  }
  if (nested != nullptr && e.c2_length != nested->size) {
    why = where + " must have the length of its structure";
    return false;
  }
  if ((e.type == RFCTYPE_CHAR || e.type == RFCTYPE_NUM) && e.c2_length % 2 != 0) {
    why = where + " is character text of an odd byte length";
    return false;
  }
  if (e.type == RFCTYPE_BCD && (e.c2_length > 16 || e.decimals > 2 * e.c2_length - 1)) {
    why = where + " is a packed number of more than 16 bytes or too many decimals";
    return false;
  }
  return true;
}

}  // namespace

bool is_elementary(RFC_TYPEHANDLE type) {
  return type <= RFCTYPE_INT1 && type != 5;
}

bool is_character_like(RFC_TYPEHANDLE type) {
  return type == RFCTYPE_CHAR || type == RFCTYPE_DATE || type == RFCTYPE_TIME ||
         type == RFCTYPE_NUM;
}

TypeRegistry& TypeRegistry::instance() {
  static TypeRegistry registry;
  return registry;
}

bool TypeRegistry::install(std::u16string_view name, const RFC_UNICODE_TYPE_ELEMENT* elements,
                           unsigned count, RFC_TYPEHANDLE& handle, Error& error) {
  if (name.empty() || elements == nullptr || count == 0) {
    error = make_error(RFC_ERROR_PROGRAM, "a structure needs a name and at least one element");
    return false;
  }
  auto s = std::make_unique<Structure>();
  s->name = name;
  s->size = 0;
  std::set<std::u16string> names;
  std::size_t end = 0;
  for (unsigned i = 0; i < count; ++i) {
    const RFC_UNICODE_TYPE_ELEMENT& e = elements[i];
    std::string why;
    if (!check_element(e, i, *this, why)) {
      error = make_error(RFC_ERROR_PROGRAM, "structure " + to_utf8(name) + ": " + why);
      return false;
    }
    StructureElement el{std::u16string(e.name, u16_length(e.name)), e.type, e.decimals,
                        e.c2_length, e.c2_offset};
    if (el.offset < end) {
      error = make_error(RFC_ERROR_PROGRAM, "structure " + to_utf8(name) + ": element " +
                                                std::to_string(i + 1) +
                                                " overlaps the element before it");
      return false;
    }
    if (!names.insert(el.name).second) {
      error = make_error(RFC_ERROR_PROGRAM, "structure " + to_utf8(name) + ": element name " +
                                                to_utf8(el.name) + " appears twice");
      return false;
    }
    end = el.offset + el.length;
    s->elements.push_back(std::move(el));
  }
  s->size = end;
  if (s->size > (8u << 20)) {
    error = make_error(RFC_ERROR_PROGRAM, "structure " + to_utf8(name) + " is too long");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = structures_.size(); i-- > 0;) {
    const Structure& old = *structures_[i];
    if (old.name != s->name) continue;
    const bool same = old.size == s->size && old.elements.size() == s->elements.size() &&
                      std::equal(old.elements.begin(), old.elements.end(), s->elements.begin(),
                                 [](const StructureElement& a, const StructureElement& b) {
                                   return a.name == b.name && a.type == b.type &&
                                          a.decimals == b.decimals && a.length == b.length &&
                                          a.offset == b.offset;
                                 });
    if (same) {
      handle = static_cast<RFC_TYPEHANDLE>(RFCTYPE_STRUCTURE_FIRST + i);
      return true;
    }
    break;
  }
  if (structures_.size() >= kMaxStructures) {
    error = make_error(RFC_ERROR_RESOURCE, "too many structures installed");
    return false;
  }
  structures_.push_back(std::move(s));
  handle = static_cast<RFC_TYPEHANDLE>(RFCTYPE_STRUCTURE_FIRST + structures_.size() - 1);
  return true;
}

const Structure* TypeRegistry::find(RFC_TYPEHANDLE handle) const {
  if (handle < RFCTYPE_STRUCTURE_FIRST) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t i = handle - RFCTYPE_STRUCTURE_FIRST;
  return i < structures_.size() ? structures_[i].get() : nullptr;
}

void pad_value(RFC_TYPEHANDLE type, std::uint8_t* value, std::size_t from, std::size_t to) {
  if (from >= to) return;
  if (is_character_like(type)) {
    fill_blanks(value, from, to);
    return;
  }
  std::memset(value + from, 0, to - from);
  if (is_elementary(type)) return;
  const Structure* s = TypeRegistry::instance().find(type);
  if (s == nullptr) return;
  for (const StructureElement& e : s->elements) {
    const std::size_t lo = std::max(from, e.offset);
    const std::size_t hi = std::min(to, e.offset + e.length);
    if (lo < hi) pad_value(e.type, value + e.offset, lo - e.offset, hi - e.offset);
  }
}

}  // namespace rfclib
