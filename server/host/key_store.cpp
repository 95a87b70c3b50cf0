#include "key_store.h"

#include "utf16_text.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The largest value file read; far above anything a value buffer holds.
constexpr off_t max_value_bytes = 64 * 1024;

bool is_folder (const std::string &path)
{
  struct stat st;
  if (::stat (path.c_str (), &st) != 0)
    return false;
  if (!S_ISDIR (st.st_mode))
    {
      errno = ENOTDIR;
      return false;
    }
  return true;
}

// mkdir -p: every missing folder of the path is created.
int make_folders (const std::string &path)
{
  for (std::size_t pos = 1; pos <= path.size (); ++pos)
    {
      if (pos != path.size () && path[pos] != '/')
        continue;
      const std::string prefix = path.substr (0, pos);
      if (::mkdir (prefix.c_str (), 0755) != 0 && errno != EEXIST)
        return -1;
    }
  return is_folder (path) ? 0 : -1;
}
}

Key_Store::Key_Store (std::string root)
  : root_ (std::move (root))
{
}

int Key_Store::connect ()
{
  if (root_.empty () || root_[0] != '/')
    {
      errno = EINVAL;
      return -1;
    }
  return make_folders (root_);
}

bool Key_Store::valid_component (const std::string &name)
{
  return !name.empty () && name != "." && name != ".."
    && name.find ('/') == std::string::npos;
}

int Key_Store::folder_of (const std::vector<std::string> &path, std::string &folder) const
{
  folder = root_;
  for (const auto &key : path)
    {
      if (!valid_component (key))
        {
          errno = EINVAL;
          return -1;
        }
      folder += '/';
      folder += key;
    }
  return 0;
}

int Key_Store::resolve_context (const std::vector<std::string> &path, std::string &folder) const
{
  if (folder_of (path, folder) != 0)
    return -1;
  return is_folder (folder) ? 0 : -1;
}

int Key_Store::bind_new_context (const std::vector<std::string> &path, std::string &folder) const
{
  if (path.empty () || folder_of (path, folder) != 0)
    {
      errno = EINVAL;
      return -1;
    }
  const std::string parent = folder.substr (0, folder.rfind ('/'));
  if (make_folders (parent) != 0)
    return -1;
  return ::mkdir (folder.c_str (), 0755);
}

int Key_Store::write_value (const std::string &folder, const std::string &name,
                            const std::u16string &value) const
{
  if (!valid_component (name))
    {
      errno = EINVAL;
      return -1;
    }
  const std::string target = folder + '/' + name;
  const std::string temporary = target + ".new";
  const std::string text = utf8_from_utf16 (value);

  const int fd = ::open (temporary.c_str (), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return -1;
  std::size_t written = 0;
  while (written < text.size ())
    {
      const ssize_t n = ::write (fd, text.data () + written, text.size () - written);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      written += static_cast<std::size_t> (n);
    }
  const bool complete = written == text.size () && ::fsync (fd) == 0;
  const int saved = errno;
  ::close (fd);
  if (!complete || ::rename (temporary.c_str (), target.c_str ()) != 0)
    {
      const int reason = complete ? errno : saved;
      ::unlink (temporary.c_str ());
      errno = reason;
      return -1;
    }
  return 0;
}

int Key_Store::read_value (const std::string &folder, const std::string &name,
                           char16_t *buffer, std::size_t units) const
{
  if (!valid_component (name) || units == 0)
    {
      errno = EINVAL;
      return -1;
    }
  const std::string path = folder + '/' + name;
  const int fd = ::open (path.c_str (), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  struct stat st;
  if (::fstat (fd, &st) != 0 || !S_ISREG (st.st_mode) || st.st_size > max_value_bytes)
    {
      ::close (fd);
      errno = ENOSPC;
      return -1;
    }
  std::string text (static_cast<std::size_t> (st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size ())
    {
      const ssize_t n = ::read (fd, text.data () + got, text.size () - got);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got += static_cast<std::size_t> (n);
    }
  ::close (fd);
  text.resize (got);

  const std::u16string value = utf16_from_utf8 (text);
  if (value.size () + 1 > units)
    {
      errno = ENOSPC;
      return -1;
    }
  value.copy (buffer, value.size ());
  buffer[value.size ()] = u'\0';
  return 0;
}
