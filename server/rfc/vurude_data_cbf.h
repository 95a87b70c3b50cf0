#ifndef VURUDE_DATA_CBF_H
#define VURUDE_DATA_CBF_H

#include "vurude_base_cbf.h"
#include "vurude_itab.h"

#include <cstddef>
#include <memory>

// Z_VOK_DATA_CHUNK: one block of rows (DTAB, byte lines) with its metadata
// lines (MTAB), the handle of the connection the rows are for, the name of
// the table, the end-of-data mark and an error message.
class Vurude_Data_Cbf : public Vurude_Base_Cbf
{
public:
  // Characters of the values; each buffer holds one more for the terminator.
  static constexpr std::size_t dhandle_units = 131;
  static constexpr std::size_t emsg_units = 200;
  static constexpr std::size_t table_name_units = 30;

  explicit Vurude_Data_Cbf (const char16_t *label);

  // Sets END_OF_DATA to ' ', empties EMSG and TABLE_NAME, reads the chunk
  // and wraps its two tables. After a failed read the values stay reset and
  // there are no wrappers.
  int getdata (RFC_HANDLE handle) override;
  // Answers the chunk and drops the wrappers.
  int senddata (RFC_HANDLE handle) override;

  char16_t end_of_data () const { return end_of_data_[0]; }
  // Zero-terminated, as received (padded with blanks).
  const char16_t *emsg () const { return emsg_; }
  const char16_t *dhandle () const { return dhandle_; }
  const char16_t *table_name () const { return table_name_; }
  // The received tables, not owned by the wrappers; null before a read, after
  // a failed one and after the answer. A wrapper's handle is null when the
  // partner sent no such table.
  Vurude_Itab *dtab () { return dtab_.get (); }
  Vurude_Itab *mtab () { return mtab_.get (); }

private:
  char16_t dhandle_[dhandle_units + 1];
  char16_t emsg_[emsg_units + 1];
  char16_t end_of_data_[2];
  char16_t table_name_[table_name_units + 1];
  int dtab_index_;
  int mtab_index_;
  std::unique_ptr<Vurude_Itab> dtab_;
  std::unique_ptr<Vurude_Itab> mtab_;
};

#endif
