// The It* operations of rfclib.h on Itab.
#include <cstring>

#include "itab.h"
#include "text.h"

using rfclib::Itab;

extern "C" {

ITAB_H ItCreate(const SAP_UC* name, unsigned leng, unsigned occu, unsigned memo) {
  (void)memo;
  Itab* itab = Itab::create(rfclib::name_view(name, 0), leng, occu);
  return itab != nullptr ? itab->handle() : nullptr;
}

void* ItAppLine(ITAB_H itab) { return itab != nullptr ? Itab::from(itab)->append() : nullptr; }

void* ItGetLine(ITAB_H itab, unsigned line) {
  return itab != nullptr ? Itab::from(itab)->line(line) : nullptr;
}

void* ItGupLine(ITAB_H itab, unsigned line) {
  if (itab == nullptr) return nullptr;
  Itab* t = Itab::from(itab);
  std::uint8_t* p = t->line(line);
  if (p != nullptr) t->touch();
  return p;
}

int ItCpyLine(ITAB_H itab, unsigned line, void* dest) {
  if (itab == nullptr || dest == nullptr) return 1;
  const Itab* t = Itab::from(itab);
  const std::uint8_t* p = t->line(line);
  if (p == nullptr) return 1;
  std::memcpy(dest, p, t->leng());
  return 0;
}

unsigned ItFill(ITAB_H itab) {
  return itab != nullptr ? static_cast<unsigned>(Itab::from(itab)->rows()) : 0;
}

unsigned ItLeng(ITAB_H itab) {
  return itab != nullptr ? static_cast<unsigned>(Itab::from(itab)->leng()) : 0;
}

int ItFree(ITAB_H itab) {
  if (itab == nullptr) return 1;
  Itab::from(itab)->clear();
  return 0;
}

int ItDelete(ITAB_H itab) {
  if (itab == nullptr) return 1;
  delete Itab::from(itab);
  return 0;
}

}  // extern "C"
