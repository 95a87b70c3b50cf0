#ifndef VURUDE_KEY_STORE_H
#define VURUDE_KEY_STORE_H

#include <cstddef>
#include <string>
#include <vector>

// A registry-like store of string values on the file system: a key path is a
// folder path below the root, a value is a file of UTF-8 text in its key's
// folder. Every operation returns 0 or -1 with errno set, so callers can
// report the failure with "%p".
class Key_Store
{
public:
  explicit Key_Store (std::string root);

  // Makes sure the root folder exists (creating it if needed).
  int connect ();

  // Finds the folder of an existing key path.
  int resolve_context (const std::vector<std::string> &path, std::string &folder) const;

  // Creates the key path; fails with EEXIST when its last key exists already.
  int bind_new_context (const std::vector<std::string> &path, std::string &folder) const;

  // Writes (or overwrites) a value atomically: readers see the old or the new text.
  int write_value (const std::string &folder, const std::string &name,
                   const std::u16string &value) const;

  // Reads a value into a buffer of `units` UTF-16 units including the
  // terminating NUL; a value that does not fit fails with ENOSPC.
  int read_value (const std::string &folder, const std::string &name,
                  char16_t *buffer, std::size_t units) const;

  const std::string &root () const { return root_; }

private:
  // A key or value name must stay one folder level: no "/", ".", ".." or "".
  static bool valid_component (const std::string &name);
  int folder_of (const std::vector<std::string> &path, std::string &folder) const;

  std::string root_;
};

#endif
