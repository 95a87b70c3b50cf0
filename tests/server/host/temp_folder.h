#ifndef VURUDE_TEST_TEMP_FOLDER_H
#define VURUDE_TEST_TEMP_FOLDER_H

#include <filesystem>
#include <string>

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class Temp_Folder
{
public:
  Temp_Folder ()
  {
    std::string pattern = (std::filesystem::temp_directory_path () / "vurude-test-XXXXXX").string ();
    path_ = ::mkdtemp (pattern.data ()) ? pattern : std::string ();
  }
  ~Temp_Folder ()
  {
    std::error_code ignored;
    std::filesystem::remove_all (path_, ignored);
  }
  Temp_Folder (const Temp_Folder &) = delete;
  Temp_Folder &operator= (const Temp_Folder &) = delete;

  const std::string &path () const { return path_; }
  std::string operator/ (const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

#endif
